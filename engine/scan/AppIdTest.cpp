#include "engine/scan/AppIdTest.h"
#include "common/errors/ErrorBase.h"
#include "engine/registry/CacheTable.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/PathChecks.h"

namespace {

const int32_t kNotFound = int32_t(0x80070002);

// The data of a value; false when it does not exist.
bool ValueData(const RegKey& key, const wchar_t* name, tstring& data) {
    RegValue value(key, name);
    if (!value.Query()) return false;
    data = value.DataText();
    return true;
}

}  // namespace

void AppIdTest::Begin(ScanRule&) {
    CacheTable& table = CacheTable::Instance();
    serviceCache_ = table.Find(CacheTable::ServiceCache, false);
    appIdCache_ = table.GetOrCreate(CacheTable::AppIdCache);
}

void AppIdTest::End(ScanRule&) {
    if (appIdCache_) appIdCache_->SetReady(true);
}

bool AppIdTest::Test(const tstring&, RegValue& value, CheckResult& result) {
    result.ErrorID = 0;
    return Check(value.Key(), 0);
}

bool AppIdTest::Check(const RegKey& key, int depth) {
    // Longer chains of references are accepted unexamined.
    if (depth + 1 > 3) return true;
    tstring name = UpperText(key.Name());
    if (appIdCache_) {
        if (std::optional<bool> known = appIdCache_->Lookup(name)) return *known;
    }
    bool verdict = true;
    tstring data;
    if (ValueData(key, L"AppID", data) && !data.empty()) {
        try {
            RegKey next = RegKey::OpenPath(L"HKCR\\AppID\\" + data);
            verdict = Check(next, depth + 1);
        } catch (const ErrorBase& e) {
            if (e.Code() != kNotFound) throw;
            verdict = false;
        }
    } else if (ValueData(key, L"LocalService", data)) {
        // No service verdicts at all (the services were not walked): not judged.
        if (serviceCache_) verdict = serviceCache_->Insert(UpperText(data));
    }
    if (appIdCache_) appIdCache_->Set(name, verdict);
    return verdict;
}

#include "engine/scan/OfficeProgIdTest.h"
#include "common/errors/ErrorBase.h"
#include "common/records/CheckResultCode.h"
#include "engine/registry/CacheTable.h"
#include "engine/registry/NamedCache.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/ProgIdChecker.h"

namespace {

const int32_t kNotFound = int32_t(0x80070002);

bool KeyExists(const tstring& path) {
    try {
        RegKey::OpenPath(path);
        return true;
    } catch (const ErrorBase& e) {
        if (e.Code() != kNotFound) throw;
        return false;
    }
}

}  // namespace

OfficeProgIdTest::OfficeProgIdTest() {
    CacheTable& table = CacheTable::Instance();
    cache_ = table.Find(CacheTable::ProgIdCache, true);
    // Filled by the same checker and finished with it.
    invalid_ = table.Find(CacheTable::InvalidProgIdCache, false);
}

bool OfficeProgIdTest::Judge(const tstring& cacheKey, const tstring& hkcrPath) const {
    std::optional<bool> verdict = cache_->Lookup(cacheKey);
    if (verdict.value_or(false)) return true;
    bool markedInvalid = invalid_ && invalid_->IsReady() && invalid_->Contains(cacheKey);
    return !verdict && !markedInvalid && !cacheKey.empty() && KeyExists(hkcrPath);
}

bool OfficeProgIdTest::Test(const tstring&, RegValue& value, CheckResult& result) {
    result.ErrorID = 0;
    if (!cache_ || !cache_->WaitReady(false)) return true;
    const RegKey& key = value.Key();
    tstring progId = key.Name();
    if (Judge(progId, L"HKCR\\" + progId)) return true;
    const tstring wow64 = ProgIdChecker::CacheKey(progId, true);
    if (key.InWow64View() && Judge(wow64, L"HKCR\\" + wow64)) return true;
    result.ErrorID = int32_t(MakeErrorID(ProblemOfficeAddin, ReasonInvalidProgId));
    tstring item = progId;
    if (key.AncestorCount() >= 2) item = key.Ancestor(1).Name() + L"\\" + key.Ancestor(0).Name() + L"\\" + item;
    result.Item = item;
    result.Reason = progId;
    result.KeyPath = key.FullPath();
    result.ValueName.clear();
    return false;
}

#include "engine/scan/FileClassTest.h"
#include "common/errors/ErrorBase.h"
#include "common/records/CheckResultCode.h"
#include "engine/registry/CacheTable.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/FilePathTest.h"
#include "engine/scan/PathChecks.h"

namespace {
const int32_t kNotFound = int32_t(0x80070002);
}

void FileClassTest::Begin(ScanRule&) {
    CacheTable& table = CacheTable::Instance();
    invalidProgIds_ = table.Find(CacheTable::InvalidProgIdCache, true);
    if (!invalidProgIds_) return;
    invalidProgIds_->WaitReady(true);
    clsidCache_ = table.Find(CacheTable::InvalidClsidCache, true);
    if (clsidCache_) clsidCache_->WaitReady(true);
}

bool FileClassTest::Test(const tstring& text, RegValue& value, CheckResult& result) {
    result.ErrorID = 0;
    // An extension that names no class is not judged here.
    if (TrimBlanks(text).empty()) return true;
    tstring upper = UpperText(text);
    int references = 0;
    for (size_t at; (at = upper.find(L"CLSID\\")) != tstring::npos; ++references) upper.erase(at, 6);

    uint16_t reason = 0;
    if (references == 0) {
        try {
            RegKey progId = RegKey::OpenPath(L"HKCR\\" + text);
            if (invalidProgIds_ && invalidProgIds_->WaitReady(false) && invalidProgIds_->Contains(progId.Name()))
                reason = ReasonInvalidProgId;
        } catch (const ErrorBase& e) {
            if (e.Code() != kNotFound) throw;
            reason = ReasonProgIdNotFound;
        }
    } else {
        // Without the COM group's verdicts a class cannot be judged.
        if (!clsidCache_ || !clsidCache_->WaitReady(false)) return true;
        std::optional<bool> verdict = clsidCache_->Lookup(upper);
        if (!verdict)
            reason = ReasonClsidNotFound;
        else if (!*verdict)
            reason = ReasonInvalidClsid;
    }
    if (!reason) return true;
    FillFinding(result, MakeErrorID(ProblemFileAssociation, reason), value.Key().Name(), text, value);
    return false;
}

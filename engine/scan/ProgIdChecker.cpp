#include "engine/scan/ProgIdChecker.h"
#include "common/records/CheckResultCode.h"
#include "engine/registry/CacheTable.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/KeyReads.h"
#include "engine/scan/PathChecks.h"

namespace {

const int32_t kClassMissing = MakeErrorID(ProblemProgId, ReasonClsidNotFound);
const int32_t kClassBroken = MakeErrorID(ProblemProgId, ReasonInvalidClsid);

}  // namespace

void ProgIdChecker::Begin(ScanRule&) {
    CacheTable& table = CacheTable::Instance();
    clsidCache_ = table.Find(CacheTable::InvalidClsidCache, true);
    progIdCache_ = table.GetOrCreate(CacheTable::ProgIdCache);
    suspiciousProgIdCache_ = table.Find(CacheTable::SuspiciousProgIdCache, true);
    invalidProgIdCache_ = table.GetOrCreate(CacheTable::InvalidProgIdCache);
    reportedLinks_.clear();
}

void ProgIdChecker::End(ScanRule&) {
    // Consumers wait on the ProgID cache alone and then read the invalid list
    // too: it must be complete before they are released.
    if (invalidProgIdCache_)
        invalidProgIdCache_->SetReady(true);
    if (progIdCache_)
        progIdCache_->SetReady(true);
}

bool ProgIdChecker::Test(const tstring&, RegValue& value, CheckResult& result) {
    result.ErrorID = 0;
    // Without the class verdicts (a stopped scan) nothing can be judged.
    if (!clsidCache_ || !clsidCache_->IsReady())
        return true;
    // Only the default value names the class or the current version; a visit
    // of another value judges the ProgID by that default value.
    return JudgeProgId(value.Key().Ancestor(0), value.Name().empty() ? &value : nullptr, result, 0);
}

bool ProgIdChecker::CheckProgId(const RegKey& progId, CheckResult& result, int depth) {
    return JudgeProgId(progId, nullptr, result, depth);
}

// The walk has opened the CLSID or CurVer subkey and read its default value
// already; that subkey is not asked for a second time.
bool ProgIdChecker::JudgeProgId(const RegKey& progId, RegValue* walked, CheckResult& result, int depth) {
    result.ErrorID = 0;
    if (depth > MaxCurVerDepth)
        return true;
    if (invalidProgIdCache_ && invalidProgIdCache_->Contains(CacheKey(progId)))
        return true;
    if (walked && IsNamed(walked->Key(), L"CLSID"))
        return CheckClass(progId, walked->DataText(), result, depth);
    RegKey clsid = OpenChildOrEmpty(progId, L"CLSID");
    if (!clsid.IsEmpty())
        return CheckClass(progId, ValueTextOrEmpty(clsid), result, depth);
    if (walked && IsNamed(walked->Key(), L"CurVer"))
        return CheckCurVer(progId, walked->DataText(), result, depth);
    RegKey curVer = OpenChildOrEmpty(progId, L"CurVer");
    if (!curVer.IsEmpty())
        return CheckCurVer(progId, ValueTextOrEmpty(curVer), result, depth);
    return true;
}

bool ProgIdChecker::CheckClass(const RegKey& progId, const tstring& classText, CheckResult& result, int depth) {
    tstring name = progId.Name();
    tstring text = UpperText(classText);
    std::optional<bool> verdict = clsidCache_ ? clsidCache_->Lookup(text) : std::nullopt;
    // A class whose key exists but that has no verdict was not walked: not judged.
    if (verdict.value_or(false) || (!verdict && ClassKeyExists(text))) {
        if (progIdCache_)
            progIdCache_->Set(CacheKey(progId), true);
        return true;
    }
    result.Item = name;
    result.Reason = text;
    result.KeyPath = progId.FullPath();
    result.ValueName.clear();
    result.ErrorID = verdict ? kClassBroken : kClassMissing;
    MarkInvalid(progId, depth);
    return false;
}

bool ProgIdChecker::CheckCurVer(const RegKey& progId, const tstring& text, CheckResult& result, int depth) {
    // An empty current version, or one naming a ProgID that is not
    // registered, leaves the ProgID to its own entries: the shell still
    // opens its files through them.
    if (text.empty())
        return true;
    RegKey target = OpenChildOrEmpty(progId.Ancestor(0), text);
    if (target.IsEmpty() || CheckProgId(target, result, depth + 1))
        return true;
    // A second visit of the ProgID (another value of its CurVer key) reports nothing more.
    if (depth == 0 && !reportedLinks_.insert(CacheKey(progId)).second) {
        result.ErrorID = 0;
        return true;
    }
    // The broken link is reported at the ProgID the walk visited, with the
    // code and reason of the level that broke. It is not marked invalid: its
    // own entries may still serve, and only a broken class of its own
    // condemns a ProgID for the file types that name it.
    result.Item = progId.Name();
    result.KeyPath = progId.FullPath();
    return false;
}

void ProgIdChecker::MarkInvalid(const RegKey& progId, int depth) {
    // Only the ProgID the walk visited is marked; one reached through another's
    // CurVer is judged (and marked) on its own visit.
    if (depth == 0 && invalidProgIdCache_)
        invalidProgIdCache_->Set(CacheKey(progId), true);
}

tstring ProgIdChecker::CacheKey(const tstring& name, bool wow64View) {
    if (!wow64View)
        return name;
    return tstring(RegKey::Wow64ViewName) + L"\\" + name;
}

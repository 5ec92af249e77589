#include "engine/scan/CachedClsidTest.h"
#include "common/records/CheckResultCode.h"
#include "engine/registry/CacheTable.h"
#include "engine/registry/NamedCache.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/FilePathTest.h"
#include "engine/scan/KeyReads.h"
#include "engine/scan/PathChecks.h"
#include "engine/scan/TypeLibFileTest.h"

CachedClsidTest::CachedClsidTest(bool fallback) : fallback_(fallback) {
    CacheTable& table = CacheTable::Instance();
    clsidCache_ = table.Find(CacheTable::InvalidClsidCache, true);
    if (clsidCache_) clsidCache_->WaitReady(true);
    if (fallback_) typeLibCache_ = table.Find(CacheTable::TypeLibCache, true);
}

bool CachedClsidTest::TestClsid(const tstring& clsid, bool wow64View) const {
    if (!clsidCache_ || !clsidCache_->WaitReady(false)) return true;
    tstring key = UpperText(clsid);
    if (clsidCache_->Lookup(key).value_or(false)) return true;
    if (fallback_) {
        if (!typeLibCache_ || !typeLibCache_->WaitReady(false)) return false;
        return typeLibCache_->Lookup(TypeLibFileTest::CacheKey(key, wow64View)).value_or(false);
    }
    return false;
}

bool CachedClsidTest::Test(const tstring& text, RegValue&, CheckResult& result) {
    result.ErrorID = 0;
    return TestClsid(text);
}

bool ClsidNameTest::Test(const tstring& text, RegValue& value, CheckResult& result) {
    result.ErrorID = 0;
    tstring keyName = value.Key().Name();
    tstring clsid, item;
    switch (source_) {
    case KeyName:
        clsid = item = keyName;
        break;
    case ValueName:
        clsid = item = value.Name();
        break;
    case DataOrKeyName:
        clsid = (!text.empty() && (keyName.empty() || keyName[0] != L'{')) ? text : keyName;
        item = value.Key().FullPath();
        break;
    }
    if (TestClsid(clsid)) return true;
    // The class walk sees one registry view, but the shared file-type keys
    // also name classes a 32-bit program registered in the other view only.
    if (clsidCache_ && !clsidCache_->Contains(UpperText(clsid)) && ClassKeyExists(clsid)) return true;
    FillFinding(result, MakeErrorID(problem_, ReasonInvalidClsid), item, clsid, value);
    return false;
}

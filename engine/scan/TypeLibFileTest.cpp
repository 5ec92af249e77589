#include "engine/scan/TypeLibFileTest.h"
#include <oleauto.h>
#include <algorithm>
#include "engine/fix/CheckResultCode.h"
#include "engine/registry/CacheTable.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/KeyReads.h"
#include "engine/scan/PathChecks.h"

int32_t RemoveCharacter(tstring& text, wchar_t character) {
    size_t before = text.size();
    text.erase(std::remove(text.begin(), text.end(), character), text.end());
    return int32_t(before - text.size());
}

bool TypeLibraryLoads(const tstring& path) {
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
    if (library)
        library->Release();
    // Only a plain S_OK counts; a success code with a remark is no library.
    return hr == S_OK;
}

void TypeLibFileTest::Begin(ScanRule&) {
    CacheTable& table = CacheTable::Instance();
    typeLibCache_ = table.Find(CacheTable::TypeLibCache, false);
    if (!typeLibCache_)
        typeLibCache_ = table.GetOrCreate(CacheTable::TypeLibCache);
}

void TypeLibFileTest::End(ScanRule&) {
    if (typeLibCache_)
        typeLibCache_->SetReady(true);
}

bool TypeLibFileTest::Test(const tstring& text, RegValue& value, CheckResult& result) {
    result.ErrorID = 0;
    bool found = FindModuleFile(text, result, true);
    if (!found) {
        tstring path = text;
        if (!path.empty() && path[0] == L'"')
            RemoveCharacter(path, L'"');
        found = TypeLibraryLoads(path);
    }
    const RegKey& key = value.Key();
    RegKey library = key.Ancestor(2);
    if (typeLibCache_)
        typeLibCache_->Set(UpperText(library.Name()), found);
    if (found)
        return true;
    result.ErrorID = int32_t(MakeErrorID(ProblemTypeLib, ReasonFileNotFound));
    result.Item = library.Name();
    result.Reason = text;
    result.KeyPath = key.FullPath();
    result.ValueName = value.Name();
    return false;
}

#include "engine/scan/TypeLibFileTest.h"
#include <oleauto.h>
#include <algorithm>
#include "common/records/CheckResultCode.h"
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

tstring In32BitSystemFolder(const tstring& path) {
    wchar_t system[MAX_PATH], wow[MAX_PATH];
    UINT systemLength = GetSystemDirectoryW(system, MAX_PATH);
    UINT wowLength = GetSystemWow64DirectoryW(wow, MAX_PATH);
    if (systemLength == 0 || systemLength >= MAX_PATH || wowLength == 0 || wowLength >= MAX_PATH)
        return tstring();
    tstring prefix = tstring(system) + L"\\";
    if (path.size() <= prefix.size() ||
        CompareStringOrdinal(path.c_str(), int(prefix.size()), prefix.c_str(), int(prefix.size()), TRUE) != CSTR_EQUAL)
        return tstring();
    return tstring(wow) + L"\\" + path.substr(prefix.size());
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

tstring TypeLibFileTest::CacheKey(const tstring& guid, bool wow64View) {
    tstring key = UpperText(guid);
    return wow64View ? tstring(RegKey::Wow64ViewName) + L"\\" + key : key;
}

void TypeLibFileTest::KeepVerdict(const RegKey& entry, bool found) {
    if (!typeLibCache_)
        return;
    tstring guid = entry.Ancestor(2).Name();
    if (!IsNamed(entry, L"win64"))
        typeLibCache_->Set(CacheKey(guid, true), found);
    if (IsNamed(entry, L"win64") || OpenChildOrEmpty(entry.Ancestor(0), L"win64").IsEmpty())
        typeLibCache_->Set(CacheKey(guid, false), found);
}

bool TypeLibFileTest::Test(const tstring& text, RegValue& value, CheckResult& result) {
    result.ErrorID = 0;
    const RegKey& key = value.Key();
    bool found = FindModuleFile(text, result, true);
    if (!found) {
        tstring path = text;
        if (!path.empty() && path[0] == L'"')
            RemoveCharacter(path, L'"');
        found = TypeLibraryLoads(path);
        // A 32-bit program registers its library under the system folder it
        // sees, which a 64-bit scan finds as the 32-bit system folder.
        tstring wow = found || IsNamed(key, L"win64") ? tstring() : In32BitSystemFolder(path);
        if (!wow.empty())
            found = FindModuleFile(wow, result, true) || TypeLibraryLoads(wow);
    }
    KeepVerdict(key, found);
    if (found)
        return true;
    result.ErrorID = int32_t(MakeErrorID(ProblemTypeLib, ReasonFileNotFound));
    result.Item = key.Ancestor(2).Name();
    result.Reason = text;
    result.KeyPath = key.FullPath();
    result.ValueName = value.Name();
    return false;
}

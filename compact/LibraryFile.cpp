#include "compact/LibraryFile.h"

namespace compact {

namespace {

tstring g_fileName;

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

}  // namespace

void RememberLibraryFile(HMODULE module) {
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
    tstring full(path, n < MAX_PATH ? n : MAX_PATH - 1);
    size_t slash = full.rfind(L'\\');
    g_fileName = slash == tstring::npos ? full : full.substr(slash + 1);
}

const tstring& LibraryFileName() {
    if (g_fileName.empty())
        RememberLibraryFile(ThisModule());
    return g_fileName;
}

}  // namespace compact

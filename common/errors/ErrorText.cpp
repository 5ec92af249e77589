#include "common/errors/ErrorText.h"

namespace {

tstring FormatSystemText(DWORD flags, HMODULE source, DWORD code) {
    LPTSTR buffer = nullptr;
    DWORD n = FormatMessage(flags, source, code, 0, reinterpret_cast<LPTSTR>(&buffer), 0, nullptr);
    tstring text;
    if (buffer) {
        if (n)
            text.assign(buffer, n);
        LocalFree(buffer);
    }
    return text;
}

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleEx(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                      reinterpret_cast<LPCTSTR>(&ThisModule), &module);
    return module;
}

}  // namespace

tstring ErrorText(int32_t code, HMODULE source) {
    DWORD lookup = DWORD(code);
    if (((lookup >> 16) & 0x1FFF) == FACILITY_WIN32)
        lookup &= 0xFFFF;
    const DWORD common = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                         FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_MAX_WIDTH_MASK;
    tstring text;
    if (source)
        text = FormatSystemText(common | FORMAT_MESSAGE_FROM_HMODULE, source, lookup);
    if (text.empty())
        text = FormatSystemText(common, nullptr, lookup);
    return text;
}

tstring ModuleErrorText(int32_t code) {
    TCHAR path[520];
    DWORD n = GetModuleFileName(ThisModule(), path, 520);
    if (n == 0 || n >= 520)
        return tstring();
    HMODULE data = LoadLibraryEx(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | DONT_RESOLVE_DLL_REFERENCES);
    if (!data)
        return tstring();
    tstring text = ErrorText(code, data);
    FreeLibrary(data);
    return text;
}

#include "common/system/WebAddress.h"
#include <shellapi.h>
#include <shlwapi.h>

bool IsWebAddress(const wchar_t* address) {
    if (!address)
        return false;
    size_t scheme = 0;
    if (StrCmpNIW(address, L"http://", 7) == 0)
        scheme = 7;
    else if (StrCmpNIW(address, L"https://", 8) == 0)
        scheme = 8;
    if (scheme == 0 || address[scheme] == 0)
        return false;
    // The shell puts the address into the browser's command line: a quote or
    // a blank would let the rest of it become more arguments.
    for (const wchar_t* p = address; *p; ++p)
        if (*p <= L' ' || *p == L'"' || *p == 0x7F)
            return false;
    return true;
}

bool OpenWebAddress(const wchar_t* address) {
    if (!IsWebAddress(address))
        return false;
    HINSTANCE result = ShellExecuteW(nullptr, L"open", address, nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

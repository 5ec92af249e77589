#include "common/system/PlatformInfo.h"
#include "common/errors/CheckObjects.h"

bool IsWow64() {
    using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = GetModuleHandle(_T("kernel32"));
    if (!kernel)
        return false;
    // Bound by name: the function is missing on the oldest systems.
    auto query = reinterpret_cast<IsWow64ProcessFunction>(GetProcAddress(kernel, "IsWow64Process"));
    BOOL wow64 = FALSE;
    if (!query || !query(GetCurrentProcess(), &wow64))
        return false;
    return wow64 != FALSE;
}

namespace {

bool AskNtPlatform() {
    OSVERSIONINFO info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    BoolCheck check(_T("GetVersionEx"));
    check = GetVersionEx(&info);
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

}  // namespace

bool IsNtPlatform() {
    static const bool nt = AskNtPlatform();
    return nt;
}

// Windows XP's kernel32 has no GetTickCount64, yet the i686 toolchain's static
// thread library imports it, and the XP loader refuses a program with an
// import it cannot bind. The import slot is filled here instead, so the
// linker takes no kernel32 entry for it: the system's function where there is
// one, else the 32-bit count, which wraps only after 49 days of uptime.
#include <windows.h>

namespace {

ULONGLONG WINAPI TickCount64() {
    using Function = ULONGLONG(WINAPI*)();
    auto system = reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount64")));
    return system ? system() : GetTickCount();
}

}  // namespace

extern "C" ULONGLONG(WINAPI* const ImportedTickCount64)() __asm__("__imp__GetTickCount64@0") = TickCount64;

#pragma once
#include <windows.h>
#include <winwlx.h>

// The library's exported entry points (named in OrvaneCompact.def). None of
// them lets an exception out: they run inside Winlogon, rundll32 and the
// installer.
extern "C" {
DWORD WINAPI Register();
DWORD WINAPI Unregister();
void WINAPI WLEventLogon(PWLX_NOTIFICATION_INFO info);
void WINAPI WLEventLogoff(PWLX_NOTIFICATION_INFO info);
void WINAPI WLEventShutdown(PWLX_NOTIFICATION_INFO info);
void CALLBACK OnRunOnce(HWND window, HINSTANCE instance, LPSTR commandLine, int show);
void WINAPI FlagAll();
void WINAPI FlagCurrent();
void WINAPI UnFlag();
DWORD WINAPI CheckDeferredTasks();
}

#pragma once
#include <windows.h>

// The process-wide version record, read once through GetVersionExW. Programs
// without a compatibility manifest are told 6.2 by Windows 8.1 and later, which
// is what the Windows 6 code paths of the suite expect.
const OSVERSIONINFOW& GetOsVersion();

// True when the major version is exactly 6.
bool IsWindowsMajor6();

// True on the NT platform (VER_PLATFORM_WIN32_NT).
bool IsWindowsNT();

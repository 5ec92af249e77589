#pragma once
#include <windows.h>

// The process-wide version record, read once through GetVersionExW. Programs
// without a compatibility manifest are told 6.2 by Windows 8.1 and later; a
// host that declares Windows 10 in its manifest (rundll32, cscript) is told 10.0.
const OSVERSIONINFOW& GetOsVersion();

// True on Vista and every later Windows (major version 6 or more): the one
// test for the suite's Windows 6 paths, whatever the host's manifest declares.
bool IsWindowsMajor6();

// True on the NT platform (VER_PLATFORM_WIN32_NT).
bool IsWindowsNT();

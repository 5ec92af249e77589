#pragma once
#include <windows.h>

// True when this process runs under WOW64; false otherwise and on systems
// without IsWow64Process.
bool IsWow64();

// True on the NT family; asked once per process. Throws BoolError when the
// version cannot be read.
bool IsNtPlatform();

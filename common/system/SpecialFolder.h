#pragma once
#include <windows.h>
#include <shlobj.h>
#include "common/tstring/tstring.h"

// The shell's folder for a CSIDL value, created when missing if create is
// set; empty when the shell cannot give it. Never throws.
tstring SpecialFolderPath(int csidl, bool create = true, HWND owner = nullptr);

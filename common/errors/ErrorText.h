#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// The system's text for a code, searching the given module's message table
// first; empty when none is found. Win32 codes in HRESULT form are looked up
// by their low 16 bits.
tstring ErrorText(int32_t code, HMODULE source);

// ErrorText with the module that holds this code as the message source, so a
// deliverable's own message table is searched before the system's.
tstring ModuleErrorText(int32_t code);

#pragma once
#include <windows.h>
#include <cstdint>
#include "common/tstring/tstring.h"

// The number of keys four levels below the key (depth 0 for a root): the size
// estimate of a whole-hive walk. Keys that cannot be read count as empty.
int32_t CountSubkeys(HKEY key, int depth);

// A counted registry name as display text: each NUL unit becomes "(null)".
tstring CountedNameText(const wchar_t* chars, size_t count);

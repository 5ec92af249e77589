#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

namespace compact {

// The library's own file name without its folder ("OrvaneCompact.dll"), which
// the registration names as the notification package and message file. Read
// at process attach; until then, from the module that holds this code.
void RememberLibraryFile(HMODULE module);
const tstring& LibraryFileName();

}  // namespace compact

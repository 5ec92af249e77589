#pragma once
#include "common/tstring/tstring.h"

// The temporary-files folder with a final backslash: GetTempPathW's folder
// when it exists, else %TEMP%, else the Windows folder's "Temp".
tstring TempFolder();

// A unique name in the temporary-files folder ("<prefix>XXXX.tmp"). The file
// GetTempFileNameW makes to reserve it is deleted at once: callers create a
// file or a folder of that name themselves. Throws Win32Error.
tstring TempName(const tstring& prefix);

#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// Deletes a file or a whole folder tree silently, without the recycle bin;
// returns the SHFileOperation result (0 on success). Empty, relative, wildcard
// and root paths are refused with ERROR_INVALID_PARAMETER and nothing is deleted.
int DeletePath(const tstring& path);

// Creates every missing folder along the path; throws BoolError at the first
// folder that cannot be created.
void CreateFolderTree(const tstring& path);

bool IsAbsolutePath(const tstring& path);

// True for an existing file; false for folders and every failure.
bool FileExists(const tstring& path);

// The text after the last backslash, or the whole text.
tstring FileNamePart(const tstring& path);

// Now, in UTC.
FILETIME CurrentFileTime();

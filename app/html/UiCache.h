#pragma once
#include "common/tstring/tstring.h"

// The UI cache: this process's private folder into which the UI package
// "qnguires.qna" is unpacked, and from which every page, picture and the
// splash are read.

// The folder, made on the first call (and again when the kept one vanished);
// unless pathOnly, the package is unpacked into it the first time. Throws:
// a missing package is Win32 error 2 after the log line
// "[error] File not found: qnguires.qna"; a damaged one its FilePack error.
tstring GetUiCacheFolder(bool pathOnly);

// The package: "qnguires.qna" beside the program, never the current
// directory (scheduled starts run elsewhere, and a planted package would
// gain the trust of the program's own pages).
tstring UiPackagePath();

// Deletes the folder when this process made it; never makes one.
void DeleteUiCacheFolder();

// Unpacks a package into a folder and drops a "news.htm" below 1024 bytes.
void ExtractUiPackage(const tstring& package, const tstring& folder);

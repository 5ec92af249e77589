#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// Whole-file zlib (RFC 1950) streams: the backup files and the offline restore
// program's unpacking. Both directions stream in 256 KiB blocks, so a file of
// any size needs constant memory. None of them throws.

// 0 on success; -1 when reading or writing fails (the target is removed);
// -3 when the target cannot be created; otherwise zlib's initialisation code.
int CompressFile(const tstring& source, const tstring& target, int level);

// What DecompressFile answers when the target cannot be created or written
// (a full disk): GetLastError then holds the system's reason. Outside zlib's
// codes, so a failed write is never taken for damaged data.
const int kInflateTargetFailed = -100;

// 0 on success; -1 when reading fails; kInflateTargetFailed when the target
// cannot be created or written (the target is removed); -3 for damaged data or
// a stream that asks for a preset dictionary (the target is removed) and for a
// stream that ends early (the target keeps what was inflated so far); -4 when
// zlib runs out of memory (the target is removed).
int DecompressFile(const tstring& source, const tstring& target);

// True when the first block of the file inflates without a data, memory or
// dictionary error.
bool IsZlibFile(const tstring& path);

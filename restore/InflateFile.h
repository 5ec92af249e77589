#pragma once
#include "common/tstring/tstring.h"

// Inflates the zlib stream in source into destination (created or replaced).
// Returns 0 when the whole stream came out, Z_DATA_ERROR for damaged data,
// a dictionary request or a stream that ends early, Z_MEM_ERROR when zlib is
// out of memory, -1 when a file cannot be opened, read or written. On every
// failure the destination is removed. The source is only ever read.
int InflateFile(const tstring& source, const tstring& destination);

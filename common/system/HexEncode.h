#pragma once
#include <windows.h>
#include <cstdint>

// Upper-case hex of length bytes into narrow characters, no terminator.
// capacity holds the room of output in bytes; it must be at least
// 2 x length + 1. On success it becomes 2 x length and the result is 1;
// otherwise the result is 0 and nothing is written.
int HexEncode(const BYTE* bytes, uint32_t length, char* output, uint32_t* capacity);

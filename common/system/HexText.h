#pragma once
#include <windows.h>
#include <cstdint>
#include <vector>
#include "common/system/SharedBuffer.h"
#include "common/tstring/tstring.h"

// Two upper-case hex digits per byte, high nibble first, no separators.
tstring BytesToHexText(const BYTE* bytes, size_t length);

// The inverse: (length + 1) / 2 bytes, each from a pair of characters (a last
// single character stands alone). A pair is read like strtoul reads hex: it
// stops at the first character that is not a hex digit. Returns the byte count;
// an empty text empties the buffer and gives 0.
size_t HexTextToBytes(const tstring& text, std::vector<BYTE>& bytes);
size_t HexTextToBytes(const tstring& text, SharedBuffer& bytes);

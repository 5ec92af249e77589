#pragma once
#include <cstdint>
#include "common/tstring/tstring.h"

// "1 234 567": a blank before every third digit from the right.
tstring FormatGrouped(int64_t value);
// part × 100 / whole, 1 for a non-zero part that rounds to 0, 0 for a whole of 0.
uint32_t SharePercent(uint64_t part, uint64_t whole);
// The share icon (0-29) of a percentage 0-100.
int ShareImage(uint32_t percent);

#include "common/system/HexEncode.h"

int HexEncode(const BYTE* bytes, uint32_t length, char* output, uint32_t* capacity) {
    if (bytes == nullptr || output == nullptr || capacity == nullptr)
        return 0;
    if (uint64_t(*capacity) < 2 * uint64_t(length) + 1)
        return 0;
    static const char digits[] = "0123456789ABCDEF";
    for (uint32_t i = 0; i < length; ++i) {
        output[2 * i] = digits[bytes[i] >> 4];
        output[2 * i + 1] = digits[bytes[i] & 0x0F];
    }
    *capacity = 2 * length;
    return 1;
}

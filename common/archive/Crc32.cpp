#include "common/archive/Crc32.h"

Crc32::Crc32() {
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t value = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 0x80000000u) ? (value << 1) ^ 0x04C11DB7u : value << 1;
        table_[i] = value;
    }
}

uint32_t Crc32::Update(const void* bytes, size_t length, uint32_t previous) const {
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    uint32_t value = ~previous;
    for (size_t i = 0; i < length; ++i)
        value = (value << 8) ^ table_[(value >> 24) ^ p[i]];
    return ~value;
}

const Crc32& Crc32::Instance() {
    static const Crc32 instance;
    return instance;
}

#pragma once
#include <cstddef>
#include <cstdint>

// CRC-32/BZIP2: polynomial 0x04C11DB7, most significant bit first, initial
// value and final XOR 0xFFFFFFFF. The checksum the suite's file formats store.
class Crc32 {
public:
    Crc32();
    // The value of previous's range followed by these bytes; previous 0 starts
    // a new range, so chunks chain: Update(b, nb, Update(a, na)).
    uint32_t Update(const void* bytes, size_t length, uint32_t previous = 0) const;

    // A table built once per process.
    static const Crc32& Instance();
    static uint32_t Of(const void* bytes, size_t length) { return Instance().Update(bytes, length, 0); }

private:
    uint32_t table_[256];
};

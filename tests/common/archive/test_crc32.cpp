#include <doctest/doctest.h>
#include <cstring>
#include "common/archive/Crc32.h"

TEST_CASE("CRC-32/BZIP2 check value and chaining over chunks") {
    const char* text = "123456789";
    Crc32 crc;
    CHECK(crc.Update(text, 9) == 0xFC891918u);
    CHECK(Crc32::Of(text, 9) == 0xFC891918u);
    for (size_t split = 0; split <= 9; ++split)
        CHECK(crc.Update(text + split, 9 - split, crc.Update(text, split)) == 0xFC891918u);
    uint32_t chained = 0;
    for (size_t i = 0; i < 9; ++i)
        chained = crc.Update(text + i, 1, chained);
    CHECK(chained == 0xFC891918u);
    CHECK(crc.Update(text, 0) == 0u);
    CHECK(crc.Update(text, 0, 0x12345678u) == 0x12345678u);
}

TEST_CASE("CRC-32/BZIP2 of single bytes is not the reflected CRC-32") {
    const unsigned char zero = 0;
    // The reflected (zip) CRC-32 of one zero byte is 0xD202EF8D.
    CHECK(Crc32::Of(&zero, 1) == 0xB1F7404Bu);
    const unsigned char a = 'a';
    CHECK(Crc32::Of(&a, 1) == 0x19939B6Bu);
}

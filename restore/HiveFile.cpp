#include "restore/HiveFile.h"
#include <cstring>
#include "common/system/HandleHolder.h"

namespace HiveFile {

namespace {

uint32_t WordAt(const BYTE* bytes, DWORD offset) {
    uint32_t word;
    memcpy(&word, bytes + offset, sizeof(word));
    return word;
}

}  // namespace

uint32_t BaseBlockChecksum(const BYTE* baseBlock) {
    uint32_t sum = 0;
    for (DWORD offset = 0; offset < kChecksumOffset; offset += 4)
        sum ^= WordAt(baseBlock, offset);
    if (sum == 0xFFFFFFFFu)
        return 0xFFFFFFFEu;
    return sum == 0 ? 1 : sum;
}

bool IsHive(const tstring& path) {
    HandleHolder file(CreateFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    BYTE head[kBaseBlockSize + 4];
    DWORD got = 0;
    if (!file.IsValid() || !ReadFile(file, head, sizeof(head), &got, nullptr) || got < sizeof(head))
        return false;
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size))
        return false;
    uint32_t bins = WordAt(head, kBinsLengthOffset);
    return memcmp(head, "regf", 4) == 0 && WordAt(head, kChecksumOffset) == BaseBlockChecksum(head) && bins > 0 &&
           bins % kBaseBlockSize == 0 && size.QuadPart >= LONGLONG(kBaseBlockSize) + bins &&
           memcmp(head + kBaseBlockSize, "hbin", 4) == 0;
}

}  // namespace HiveFile

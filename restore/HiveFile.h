#pragma once
#include <windows.h>
#include <cstdint>
#include "common/tstring/tstring.h"

// The checks a file must pass before it may go over a hive file of an offline
// Windows, which will not boot from anything else: the base block's "regf"
// signature and checksum, a length that holds every hive bin the base block
// counts, and the first bin's "hbin" signature.
namespace HiveFile {

const DWORD kBaseBlockSize = 0x1000;
const DWORD kChecksumOffset = 0x1FC;
const DWORD kBinsLengthOffset = 0x28;

// The XOR of the base block's first 127 32-bit words as the system stores it:
// 0xFFFFFFFF becomes 0xFFFFFFFE and 0 becomes 1.
uint32_t BaseBlockChecksum(const BYTE* baseBlock);

// True when the file is a registry hive by the checks above. A file that
// cannot be read is no hive.
bool IsHive(const tstring& path);

}  // namespace HiveFile

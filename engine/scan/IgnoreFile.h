#pragma once
#include <vector>
#include "common/tstring/tstring.h"
#include "engine/scan/ScanRecord.h"

// The ignore file: a uint32 CRC-32/BZIP2 of everything after it, then the
// records back to back with no count. A record is a flag byte, KeyPath and
// ValueName, and for a full record Reason, Item and an int32 ErrorID. The
// engine always writes full records.
//
// Which flags mark a short record differs between the two readers of the
// format, so the reader is told.
enum class ShortRecordFlag {
    AnyNonZero,  // the engine's own lists: flag 0 is full, anything else short
    One,         // imported files: flag 1 is short, anything else full
};

// The whole file or nothing: a check value that does not match throws
// ErrorBase "Invalid CRC"; a count or length that runs past the file's end
// throws ErrorBase "Invalid ignore file" before anything is allocated for it.
// Read failures throw the file error.
std::vector<ScanRecord> ReadIgnoreFile(const tstring& path, ShortRecordFlag rule);

// What a read of a file that other processes share gave.
struct IgnoreFileRead {
    enum State { Read, Missing, Busy, Damaged, Unreadable };
    State state = Unreadable;
    // 0 when read, else the error's code and message.
    int32_t code = 0;
    tstring message;
    std::vector<ScanRecord> records;
};

// ReadIgnoreFile up to attempts times, 100 ms apart, while the file is busy
// (a sharing or lock violation). Damaged: the file fails its checks (check
// value, a record past the end). Throws nothing for the file's sake.
IgnoreFileRead ReadIgnoreFileSettled(const tstring& path, ShortRecordFlag rule, int attempts);

// Replaces the file with these records as full records; throws when the file
// cannot be written (an existing file then keeps its old content).
void WriteIgnoreFile(const tstring& path, const std::vector<ScanRecord>& records);

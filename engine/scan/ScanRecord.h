#pragma once
#include <windows.h>
#include <cstdint>
#include "common/tstring/tstring.h"
#include "engine/scan/CheckResult.h"

// A finding as the engine keeps it: in the ignore lists and in the fix
// entries. Records order by ErrorID (unsigned), KeyPath and ValueName; two
// records equal in those three are the same entry of an ignore index.
struct ScanRecord {
    int32_t ErrorID = 0;
    tstring Item;
    tstring Reason;
    tstring KeyPath;
    tstring ValueName;
    // Never filled from a finding and never stored in a file.
    tstring Extra;
    // 0 for every record made from a finding; in ignore files a non-zero flag
    // can mark a record that holds KeyPath and ValueName only.
    BYTE Flag = 0;

    ScanRecord() = default;
    explicit ScanRecord(const CheckResult& result);

    bool operator<(const ScanRecord& other) const;
    bool SameEntry(const ScanRecord& other) const;
};

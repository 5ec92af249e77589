#include "engine/scan/ScanRecord.h"

ScanRecord::ScanRecord(const CheckResult& result)
    : ErrorID(result.ErrorID),
      Item(result.Item),
      Reason(result.Reason),
      KeyPath(result.KeyPath),
      ValueName(result.ValueName) {}

bool ScanRecord::operator<(const ScanRecord& other) const {
    if (ErrorID != other.ErrorID)
        return uint32_t(ErrorID) < uint32_t(other.ErrorID);
    int keys = KeyPath.compare(other.KeyPath);
    if (keys != 0)
        return keys < 0;
    return ValueName.compare(other.ValueName) < 0;
}

bool ScanRecord::SameEntry(const ScanRecord& other) const {
    return ErrorID == other.ErrorID && KeyPath == other.KeyPath && ValueName == other.ValueName;
}

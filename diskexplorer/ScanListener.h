#pragma once
#include <cstdint>

// Told of a scan's progress on the scanning thread: a percentage 1-100, or -1
// when another listener stopped the scan. Returning false stops it.
class ScanListener {
public:
    virtual bool OnScanProgress(int32_t percent) = 0;
    // Asked before each record is read, so that a stop need not wait for the
    // next whole percent of a slow disk: true stops the scan as false above does.
    virtual bool StopRequested() { return false; }

protected:
    ~ScanListener() = default;
};

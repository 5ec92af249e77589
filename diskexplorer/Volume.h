#pragma once
#include <windows.h>
#include <winioctl.h>
#include <cstdint>
#include <vector>
#include "common/tstring/tstring.h"

class VolumeSource;

// One open NTFS volume, asked for its volume data and its FILE records through
// the driver's control codes. Closed when the object goes.
class Volume {
public:
    // Throws Win32Error when the volume cannot be opened.
    explicit Volume(const tstring& devicePath);
    ~Volume();
    Volume(const Volume&) = delete;
    Volume& operator=(const Volume&) = delete;

    // Loaded once; throws Win32Error.
    const NTFS_VOLUME_DATA_BUFFER& GetNtfsData();

    // The in-use record with the highest number not above `number`. On success
    // returns 0 and sets the delivered record number (the reference's low 48
    // bits: the high 16 are its sequence number), the record and its length
    // (never more than the bytes delivered). A failed call returns its error.
    DWORD ReadFileRecord(uint64_t number, uint64_t& delivered, const uint8_t*& record, uint32_t& length);

private:
    VolumeSource& source_;
    HANDLE handle_;
    bool loaded_ = false;
    NTFS_VOLUME_DATA_BUFFER data_{};
    std::vector<uint8_t> buffer_;
};

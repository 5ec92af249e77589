#include "diskexplorer/Volume.h"
#include <algorithm>
#include <cstring>
#include "common/errors/ErrorBase.h"
#include "diskexplorer/VolumeSource.h"

namespace {
const uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFFull;
// FileReferenceNumber and FileRecordLength in front of the record.
const DWORD kOutputHeader = 12;
}

Volume::Volume(const tstring& devicePath) : source_(VolumeSource::Current()) {
    handle_ = source_.Open(devicePath.c_str());
    if (handle_ == INVALID_HANDLE_VALUE || handle_ == nullptr) {
        DWORD error = GetLastError();
        throw Win32Error(static_cast<int32_t>(error ? error : ERROR_INVALID_HANDLE));
    }
}

Volume::~Volume() { source_.Close(handle_); }

const NTFS_VOLUME_DATA_BUFFER& Volume::GetNtfsData() {
    if (!loaded_) {
        DWORD returned = 0;
        if (!source_.Control(handle_, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, &data_, sizeof data_, &returned)) {
            DWORD error = GetLastError();
            throw Win32Error(static_cast<int32_t>(error ? error : ERROR_GEN_FAILURE));
        }
        loaded_ = true;
    }
    return data_;
}

DWORD Volume::ReadFileRecord(uint64_t number, uint64_t& delivered, const uint8_t*& record, uint32_t& length) {
    const DWORD recordSize = GetNtfsData().BytesPerFileRecordSegment;
    buffer_.resize(recordSize + 15);
    LARGE_INTEGER reference;
    reference.QuadPart = static_cast<LONGLONG>(number);
    DWORD returned = 0;
    if (!source_.Control(handle_, FSCTL_GET_NTFS_FILE_RECORD, &reference, sizeof reference, buffer_.data(),
                         static_cast<DWORD>(buffer_.size()), &returned)) {
        DWORD error = GetLastError();
        return error ? error : ERROR_GEN_FAILURE;
    }
    if (returned > buffer_.size() || returned < kOutputHeader)
        return ERROR_INVALID_DATA;
    uint64_t reference64;
    uint32_t reported;
    std::memcpy(&reference64, buffer_.data(), 8);
    std::memcpy(&reported, buffer_.data() + 8, 4);
    delivered = reference64 & kRecordNumberMask;
    record = buffer_.data() + kOutputHeader;
    length = std::min<uint32_t>({reported, returned - kOutputHeader, recordSize});
    return 0;
}

#include "tests/diskexplorer/image/ImageVolumeSource.h"
#include <winioctl.h>
#include <cstring>
#include "common/system/HandleHolder.h"

namespace {

const uint64_t kNumberMask = 0x0000FFFFFFFFFFFFull;
const uint32_t kStride = 512;

template <class T>
T Get(const uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// A file mapped whole into memory: reading a record is a copy, as it would be
// from the driver's cache, not a system call.
class FileBytes : public ImageBytes {
public:
    FileBytes(HANDLE file, HANDLE mapping, const uint8_t* view, uint64_t size)
        : file_(file), mapping_(mapping), view_(view), size_(size) {}
    ~FileBytes() override { UnmapViewOfFile(view_); }
    bool Read(uint64_t offset, void* out, size_t size) const override {
        if (offset > size_ || size > size_ - offset)
            return false;
        std::memcpy(out, view_ + offset, size);
        return true;
    }

private:
    HandleHolder file_;
    HandleHolder mapping_;
    const uint8_t* view_;
    uint64_t size_;
};

class MemoryBytes : public ImageBytes {
public:
    explicit MemoryBytes(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    bool Read(uint64_t offset, void* out, size_t size) const override {
        if (offset > bytes_.size() || size > bytes_.size() - offset)
            return false;
        std::memcpy(out, bytes_.data() + offset, size);
        return true;
    }

private:
    std::vector<uint8_t> bytes_;
};

struct Run {
    uint64_t vcn;
    int64_t lcn;  // -1: sparse
    uint64_t length;
};

// Decodes the mapping pairs of a non-resident attribute.
bool DecodeRuns(const uint8_t* attribute, uint32_t length, std::vector<Run>& runs) {
    if (length < 0x40)
        return false;
    uint64_t vcn = Get<uint64_t>(attribute + 0x10);
    uint32_t at = Get<uint16_t>(attribute + 0x20);
    int64_t lcn = 0;
    while (at < length && attribute[at] != 0) {
        uint32_t lengthBytes = attribute[at] & 0x0F, offsetBytes = attribute[at] >> 4;
        if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8 || at + 1 + lengthBytes + offsetBytes > length)
            return false;
        uint64_t count = 0;
        for (uint32_t i = 0; i < lengthBytes; ++i)
            count |= uint64_t(attribute[at + 1 + i]) << (8 * i);
        int64_t delta = 0;
        for (uint32_t i = 0; i < offsetBytes; ++i)
            delta |= int64_t(attribute[at + 1 + lengthBytes + i]) << (8 * i);
        if (offsetBytes && offsetBytes < 8 && (attribute[at + lengthBytes + offsetBytes] & 0x80))
            delta -= int64_t(1) << (8 * offsetBytes);
        lcn += delta;
        runs.push_back(Run{vcn, offsetBytes ? lcn : -1, count});
        vcn += count;
        at += 1 + lengthBytes + offsetBytes;
    }
    return true;
}

// The unnamed $DATA attribute of a record, or null.
const uint8_t* FindData(const uint8_t* record, uint32_t size, uint32_t& length) {
    uint32_t at = Get<uint16_t>(record + 0x14);
    while (at + 16 <= size) {
        uint32_t type = Get<uint32_t>(record + at);
        length = Get<uint32_t>(record + at + 4);
        if (type == 0xFFFFFFFF || length < 16 || length > size - at)
            return nullptr;
        if (type == 0x80 && record[at + 9] == 0)
            return record + at;
        at += length;
    }
    return nullptr;
}

struct Geometry {
    uint32_t bytesPerSector = 0;
    uint32_t clusterSize = 0;
    uint32_t recordSize = 0;
    uint64_t totalSectors = 0;
    uint64_t mftLcn = 0;
    uint64_t mft2Lcn = 0;
    uint64_t serial = 0;
    uint64_t validLength = 0;
    std::vector<Run> mftRuns;
};

// Reads `size` bytes at `offset` of a stream laid out by `runs`.
bool ReadStream(const ImageBytes& image, const Geometry& g, const std::vector<Run>& runs, uint64_t offset,
                uint8_t* out, size_t size) {
    while (size > 0) {
        uint64_t vcn = offset / g.clusterSize;
        const Run* run = nullptr;
        for (const Run& r : runs)
            if (vcn >= r.vcn && vcn < r.vcn + r.length)
                run = &r;
        if (!run || run->lcn < 0)
            return false;
        uint64_t within = offset - run->vcn * g.clusterSize;
        uint64_t piece = std::min<uint64_t>(size, run->length * g.clusterSize - within);
        if (!image.Read(uint64_t(run->lcn) * g.clusterSize + within, out, static_cast<size_t>(piece)))
            return false;
        out += piece;
        offset += piece;
        size -= static_cast<size_t>(piece);
    }
    return true;
}

bool ReadGeometry(const ImageBytes& image, Geometry& g) {
    uint8_t boot[512];
    if (!image.Read(0, boot, sizeof boot) || std::memcmp(boot + 3, "NTFS    ", 8) != 0)
        return false;
    g.bytesPerSector = Get<uint16_t>(boot + 0x0B);
    uint32_t sectorsPerCluster = boot[0x0D] > 0x80 ? 1u << (256 - boot[0x0D]) : boot[0x0D];
    g.clusterSize = g.bytesPerSector * sectorsPerCluster;
    int8_t perRecord = static_cast<int8_t>(boot[0x40]);
    g.recordSize = perRecord > 0 ? perRecord * g.clusterSize : 1u << -perRecord;
    g.totalSectors = Get<uint64_t>(boot + 0x28);
    g.mftLcn = Get<uint64_t>(boot + 0x30);
    g.mft2Lcn = Get<uint64_t>(boot + 0x38);
    g.serial = Get<uint64_t>(boot + 0x48);
    if (g.clusterSize == 0 || g.recordSize < 256 || g.recordSize > 65536 || g.recordSize % kStride)
        return false;
    std::vector<uint8_t> record(g.recordSize);
    if (!image.Read(g.mftLcn * g.clusterSize, record.data(), record.size()) ||
        !ApplyFixups(record.data(), g.recordSize))
        return false;
    uint32_t length = 0;
    const uint8_t* data = FindData(record.data(), g.recordSize, length);
    if (!data || !data[8] || !DecodeRuns(data, length, g.mftRuns))
        return false;
    g.validLength = Get<uint64_t>(data + 0x38);
    return true;
}

struct OpenVolume {
    std::shared_ptr<ImageBytes> image;
    Geometry geometry;
    NTFS_VOLUME_DATA_BUFFER data{};
};

// Reads record `number` as stored (fix-ups not applied).
bool ReadRawRecord(const OpenVolume& v, uint64_t number, uint8_t* out) {
    return ReadStream(*v.image, v.geometry, v.geometry.mftRuns, number * v.geometry.recordSize, out,
                      v.geometry.recordSize);
}

uint64_t CountFreeClusters(const OpenVolume& v, uint64_t totalClusters) {
    const Geometry& g = v.geometry;
    std::vector<uint8_t> record(g.recordSize);
    uint32_t length = 0;
    const uint8_t* data;
    std::vector<Run> runs;
    if (!ReadRawRecord(v, 6, record.data()) || !ApplyFixups(record.data(), g.recordSize) ||
        !(data = FindData(record.data(), g.recordSize, length)) || !data[8] || !DecodeRuns(data, length, runs))
        return 0;
    std::vector<uint8_t> bits(static_cast<size_t>((totalClusters + 7) / 8));
    if (!ReadStream(*v.image, g, runs, 0, bits.data(), bits.size()))
        return 0;
    uint64_t used = 0;
    for (uint64_t c = 0; c < totalClusters; ++c)
        used += (bits[c / 8] >> (c % 8)) & 1;
    return totalClusters - used;
}

}  // namespace

std::shared_ptr<ImageBytes> ImageBytes::FromFile(const tstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    LARGE_INTEGER size{};
    HANDLE mapping = GetFileSizeEx(file, &size) && size.QuadPart > 0
                         ? CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr)
                         : nullptr;
    const void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (!view) {
        DWORD error = GetLastError();
        if (mapping)
            CloseHandle(mapping);
        CloseHandle(file);
        SetLastError(error ? error : ERROR_INVALID_DATA);
        return nullptr;
    }
    return std::make_shared<FileBytes>(file, mapping, static_cast<const uint8_t*>(view),
                                       static_cast<uint64_t>(size.QuadPart));
}

std::shared_ptr<ImageBytes> ImageBytes::FromMemory(std::vector<uint8_t> bytes) {
    return std::make_shared<MemoryBytes>(std::move(bytes));
}

bool ApplyFixups(uint8_t* record, uint32_t size) {
    uint32_t arrayOffset = Get<uint16_t>(record + 4), entries = Get<uint16_t>(record + 6);
    if (entries != size / kStride + 1 || arrayOffset + 2 * entries > size)
        return false;
    uint16_t sequence = Get<uint16_t>(record + arrayOffset);
    for (uint32_t i = 1; i < entries; ++i) {
        uint8_t* end = record + i * kStride - 2;
        if (Get<uint16_t>(end) != sequence)
            return false;
        std::memcpy(end, record + arrayOffset + 2 * i, 2);
    }
    return true;
}

bool StoreFixups(uint8_t* record, uint32_t size) {
    uint32_t arrayOffset = Get<uint16_t>(record + 4), entries = Get<uint16_t>(record + 6);
    if (entries != size / kStride + 1 || arrayOffset + 2 * entries > size)
        return false;
    for (uint32_t i = 1; i < entries; ++i) {
        uint8_t* end = record + i * kStride - 2;
        std::memcpy(record + arrayOffset + 2 * i, end, 2);
        std::memcpy(end, record + arrayOffset, 2);
    }
    return true;
}

ImageVolumeSource::ImageVolumeSource(std::shared_ptr<ImageBytes> image) : image_(std::move(image)) {}

void ImageVolumeSource::AddDevice(const tstring& devicePath, std::shared_ptr<ImageBytes> image) {
    devices_[devicePath] = std::move(image);
}

HANDLE ImageVolumeSource::Open(const wchar_t* devicePath) {
    ++opens_;
    auto device = devices_.find(devicePath);
    std::shared_ptr<ImageBytes> image = device != devices_.end() ? device->second : image_;
    if (!image) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    auto volume = std::make_unique<OpenVolume>();
    volume->image = image;
    if (!ReadGeometry(*image, volume->geometry)) {
        SetLastError(ERROR_UNRECOGNIZED_VOLUME);
        return INVALID_HANDLE_VALUE;
    }
    const Geometry& g = volume->geometry;
    NTFS_VOLUME_DATA_BUFFER& d = volume->data;
    d.VolumeSerialNumber.QuadPart = static_cast<LONGLONG>(g.serial);
    d.NumberSectors.QuadPart = static_cast<LONGLONG>(g.totalSectors);
    d.TotalClusters.QuadPart = static_cast<LONGLONG>(g.totalSectors * g.bytesPerSector / g.clusterSize);
    d.FreeClusters.QuadPart = static_cast<LONGLONG>(CountFreeClusters(*volume, d.TotalClusters.QuadPart));
    d.BytesPerSector = g.bytesPerSector;
    d.BytesPerCluster = g.clusterSize;
    d.BytesPerFileRecordSegment = g.recordSize;
    d.ClustersPerFileRecordSegment = g.recordSize / g.clusterSize;
    d.MftValidDataLength.QuadPart = static_cast<LONGLONG>(g.validLength);
    d.MftStartLcn.QuadPart = static_cast<LONGLONG>(g.mftLcn);
    d.Mft2StartLcn.QuadPart = static_cast<LONGLONG>(g.mft2Lcn);
    return reinterpret_cast<HANDLE>(volume.release());
}

BOOL ImageVolumeSource::Control(HANDLE handle, DWORD code, const void* in, DWORD inSize, void* out,
                                DWORD outSize, DWORD* returned) {
    const OpenVolume& v = *reinterpret_cast<OpenVolume*>(handle);
    *returned = 0;
    if (code == FSCTL_GET_NTFS_VOLUME_DATA) {
        ++volumeDataCalls_;
        if (outSize < sizeof v.data) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::memcpy(out, &v.data, sizeof v.data);
        *returned = sizeof v.data;
        return TRUE;
    }
    if (code != FSCTL_GET_NTFS_FILE_RECORD) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    ++recordCalls_;
    for (ULONGLONG start = GetTickCount64(); GetTickCount64() - start < delay_;)
        Sleep(5);
    const uint32_t size = v.geometry.recordSize;
    if (inSize < 8 || outSize < 12 + size) {
        SetLastError(inSize < 8 ? ERROR_INVALID_PARAMETER : ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const uint64_t count = v.geometry.validLength / size;
    uint64_t number = Get<uint64_t>(static_cast<const uint8_t*>(in)) & kNumberMask;
    if (count == 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (number >= count)
        number = count - 1;
    uint8_t* record = static_cast<uint8_t*>(out) + 12;
    for (;; --number) {
        if (!ReadRawRecord(v, number, record)) {
            SetLastError(ERROR_HANDLE_EOF);
            return FALSE;
        }
        if (std::memcmp(record, "FILE", 4) == 0 && (record[0x16] & 1))
            break;
        if (number == 0) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return FALSE;
        }
    }
    if (!ApplyFixups(record, size)) {
        SetLastError(ERROR_FILE_CORRUPT);
        return FALSE;
    }
    uint64_t reference = (uint64_t(Get<uint16_t>(record + 0x10)) << 48) | Get<uint32_t>(record + 0x2C);
    std::memcpy(out, &reference, 8);
    std::memcpy(static_cast<uint8_t*>(out) + 8, &size, 4);
    *returned = 12 + size;
    return TRUE;
}

void ImageVolumeSource::Close(HANDLE handle) { delete reinterpret_cast<OpenVolume*>(handle); }

bool ImageVolumeSource::LocateRecord(const ImageBytes& image, uint64_t number, uint64_t& offset,
                                     uint32_t& recordSize) {
    Geometry g;
    if (!ReadGeometry(image, g))
        return false;
    recordSize = g.recordSize;
    uint64_t start = number * g.recordSize;
    for (const Run& r : g.mftRuns) {
        uint64_t from = r.vcn * g.clusterSize, to = (r.vcn + r.length) * g.clusterSize;
        if (start >= from && start + g.recordSize <= to && r.lcn >= 0) {
            offset = uint64_t(r.lcn) * g.clusterSize + (start - from);
            return true;
        }
    }
    return false;
}

bool ImageVolumeSource::MftPieces(const ImageBytes& image, std::vector<std::pair<uint64_t, uint64_t>>& pieces) {
    Geometry g;
    if (!ReadGeometry(image, g))
        return false;
    for (const Run& r : g.mftRuns)
        if (r.lcn >= 0)
            pieces.emplace_back(uint64_t(r.lcn) * g.clusterSize, r.length * g.clusterSize);
    return true;
}

#pragma once
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>
#include "common/tstring/tstring.h"
#include "diskexplorer/VolumeSource.h"

// The bytes of an NTFS image, from a file or from memory.
class ImageBytes {
public:
    virtual ~ImageBytes() = default;
    // False when the range is not wholly inside the image.
    virtual bool Read(uint64_t offset, void* out, size_t size) const = 0;

    static std::shared_ptr<ImageBytes> FromFile(const tstring& path);
    static std::shared_ptr<ImageBytes> FromMemory(std::vector<uint8_t> bytes);
};

// Answers the NTFS driver's volume control codes from an image, as the driver
// does from a disk: the volume data come from the boot sector, $MFT and
// $Bitmap; a file-record request delivers the in-use record with the highest
// number not above the one asked, with its fix-ups applied (a mismatch is a
// read error) and its sequence number in bits 48-63 of the delivered reference.
// The delivered record number is the one the record states for itself.
class ImageVolumeSource : public VolumeSource {
public:
    // The image every device path opens.
    explicit ImageVolumeSource(std::shared_ptr<ImageBytes> image);
    // Device paths ("\\.\C:") with an image of their own.
    void AddDevice(const tstring& devicePath, std::shared_ptr<ImageBytes> image);
    // Each file-record answer waits this long first (to keep a scan running,
    // or stuck in one read); a lower delay also ends the waits under way.
    void SetRecordDelay(DWORD milliseconds) { delay_ = milliseconds; }

    HANDLE Open(const wchar_t* devicePath) override;
    BOOL Control(HANDLE volume, DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize,
                 DWORD* returned) override;
    void Close(HANDLE volume) override;

    uint64_t RecordCalls() const { return recordCalls_; }
    uint64_t VolumeDataCalls() const { return volumeDataCalls_; }
    uint64_t Opens() const { return opens_; }
    void ResetCounts() { recordCalls_ = volumeDataCalls_ = opens_ = 0; }

    // Where record `number` of the image's $MFT lies, when it lies in one piece.
    static bool LocateRecord(const ImageBytes& image, uint64_t number, uint64_t& offset, uint32_t& recordSize);

    // The image ranges (offset, bytes) that hold the $MFT, in order.
    static bool MftPieces(const ImageBytes& image, std::vector<std::pair<uint64_t, uint64_t>>& pieces);

private:
    std::shared_ptr<ImageBytes> image_;
    std::map<tstring, std::shared_ptr<ImageBytes>> devices_;
    std::atomic<DWORD> delay_{0};
    std::atomic<uint64_t> recordCalls_{0};
    std::atomic<uint64_t> volumeDataCalls_{0};
    std::atomic<uint64_t> opens_{0};
};

// Applies a record's update sequence fix-ups in place; false on a mismatch or
// a sequence array that does not fit the record.
bool ApplyFixups(uint8_t* record, uint32_t size);
// The reverse, for tests that edit a record: moves the last two bytes of each
// 512-byte stride into the sequence array and puts the sequence number there.
bool StoreFixups(uint8_t* record, uint32_t size);

#pragma once
#include <windows.h>
#include <cstdint>
#include <cstring>
#include <vector>
#include "common/tstring/tstring.h"
#include "tests/diskexplorer/image/ImageVolumeSource.h"

// The images the CTest fixture makes, in the folder ORVANE_NTFS_IMAGES names
// (a Unix path: the prefix reaches it through Z:).
inline tstring TestImagePath(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"ORVANE_NTFS_IMAGES", folder, MAX_PATH);
    tstring path = tstring(L"Z:") + folder + L"\\" + name;
    for (auto& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

inline std::vector<uint8_t> LoadTestImage(const wchar_t* name) {
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(TestImagePath(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    LARGE_INTEGER size;
    GetFileSizeEx(file, &size);
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    bytes.resize(read);
    return bytes;
}

// An image in memory with byte ranges written over it and an optional end
// before its real one: many variants of one image without copying it.
class PatchedImage : public ImageBytes {
public:
    explicit PatchedImage(const std::vector<uint8_t>& base) : base_(base), length_(base.size()) {}
    void Patch(uint64_t offset, const void* bytes, size_t size) {
        patches_.push_back({offset, std::vector<uint8_t>(static_cast<const uint8_t*>(bytes),
                                                         static_cast<const uint8_t*>(bytes) + size)});
    }
    void Truncate(uint64_t length) { length_ = length < length_ ? length : length_; }
    bool Read(uint64_t offset, void* out, size_t size) const override {
        if (offset > length_ || size > length_ - offset)
            return false;
        std::memcpy(out, base_.data() + offset, size);
        for (const auto& p : patches_) {
            uint64_t from = p.offset > offset ? p.offset : offset;
            uint64_t to = p.offset + p.bytes.size() < offset + size ? p.offset + p.bytes.size() : offset + size;
            if (from < to)
                std::memcpy(static_cast<uint8_t*>(out) + (from - offset), p.bytes.data() + (from - p.offset),
                            static_cast<size_t>(to - from));
        }
        return true;
    }

private:
    struct Piece {
        uint64_t offset;
        std::vector<uint8_t> bytes;
    };
    const std::vector<uint8_t>& base_;
    uint64_t length_;
    std::vector<Piece> patches_;
};

#pragma once
#include <windows.h>
#include <cstdint>
#include <vector>
#include "common/system/HandleHolder.h"

// The bytes of a whole file, kept in pages that are anonymous sections backed
// by the paging file, one page mapped at a time, so a large file never needs
// one large heap block. Positions and sizes are 32-bit: anything that would
// pass 4 GiB throws instead of wrapping.
class MemoryBuffer {
public:
    static constexpr uint32_t DefaultPageSize = 0x100000;

    // Starts with one page (throws BoolError when no section can be created).
    explicit MemoryBuffer(uint32_t pageSize = DefaultPageSize);
    ~MemoryBuffer();
    MemoryBuffer(const MemoryBuffer&) = delete;
    MemoryBuffer& operator=(const MemoryBuffer&) = delete;

    // Writes at the position and advances it; a gap between the size and the
    // position reads as zeros. Size = max(size, position).
    void Write(const void* bytes, uint32_t n);
    // Throws HRError 0x80070103 when fewer than n bytes lie between the
    // position and the size; then nothing is read and the position stays.
    void Read(void* bytes, uint32_t n);

    // origin 0: from the start, 1: from the position, 2: from the size. A
    // position past the size is allowed; one below 0 or past 4 GiB throws.
    uint32_t Seek(int64_t offset, int origin);
    uint32_t Position() const { return position_; }
    uint32_t Size() const { return size_; }
    // Bytes between the position and the size (0 when the position is past it).
    uint32_t Remaining() const { return position_ < size_ ? size_ - position_ : 0; }
    uint32_t PageSize() const { return pageSize_; }
    size_t PageCount() const { return pages_.size(); }

    // Growing zero-fills; shrinking closes the pages after the one holding
    // offset n. The position does not change.
    void SetSize(uint32_t n);
    // Closes every page and starts again with one: position = size = 0.
    void Reset();
    // Resets and uses a new page size from now on.
    void SetPageSize(uint32_t pageSize);

    // Replaces the content with the rest of the file from its pointer.
    void ReadFromFile(HANDLE file);
    // Writes all bytes to the file at its pointer; throws Win32Error on failure.
    void WriteToFile(HANDLE file);

    // CRC-32/BZIP2 of length bytes from offset (throws 0x80070103 past the size).
    uint32_t Checksum(uint32_t offset, uint32_t length, uint32_t previous = 0);

    // The write function WriteToFile uses: ::WriteFile unless a test replaces it
    // to provoke a failing disk. Pass nullptr to restore the real one.
    using WriteFileFunction = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    static void SetWriteFileFunction(WriteFileFunction function);

private:
    void AddPage();
    void EnsurePages(uint64_t end);
    BYTE* MapPage(size_t index);
    void Unmap();
    void Fill(uint32_t from, uint32_t to);
    template <class Step> void ForEachPage(uint32_t position, uint32_t n, Step step);

    std::vector<HandleHolder> pages_;
    int32_t mapped_ = -1;
    BYTE* view_ = nullptr;
    uint32_t position_ = 0;
    uint32_t size_ = 0;
    uint32_t pageSize_;
};

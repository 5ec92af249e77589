#include "common/archive/MemoryBuffer.h"
#include <algorithm>
#include <cstring>
#include "common/archive/Crc32.h"
#include "common/errors/CheckObjects.h"

namespace {

const uint64_t kLimit = 0xFFFFFFFFu;

MemoryBuffer::WriteFileFunction g_writeFile = ::WriteFile;

[[noreturn]] void ThrowNoMoreData() {
    throw HRError(HRESULT(0x80070103));
}

[[noreturn]] void ThrowTooLarge() {
    throw HRError(HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW));
}

}  // namespace

MemoryBuffer::MemoryBuffer(uint32_t pageSize) : pageSize_(pageSize ? pageSize : DefaultPageSize) {}

MemoryBuffer::~MemoryBuffer() {
    if (view_ != nullptr)
        UnmapViewOfFile(view_);
}

void MemoryBuffer::SetWriteFileFunction(WriteFileFunction function) {
    g_writeFile = function ? function : ::WriteFile;
}

void MemoryBuffer::AddPage() {
    HANDLE section = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT, 0,
                                       pageSize_, nullptr);
    if (section == nullptr)
        throw BoolError();
    pages_.emplace_back(section);
}

void MemoryBuffer::EnsurePages(uint64_t end) {
    while (pages_.size() < end / pageSize_ + 1)
        AddPage();
}

void MemoryBuffer::Unmap() {
    if (view_ == nullptr)
        return;
    void* view = view_;
    view_ = nullptr;
    mapped_ = -1;
    BoolCheck ck;
    ck = UnmapViewOfFile(view);
}

BYTE* MemoryBuffer::MapPage(size_t index) {
    if (mapped_ == int32_t(index) && view_ != nullptr)
        return view_;
    Unmap();
    void* view = MapViewOfFile(pages_[index].Get(), FILE_MAP_WRITE, 0, 0, pageSize_);
    if (view == nullptr)
        throw BoolError();
    view_ = static_cast<BYTE*>(view);
    mapped_ = int32_t(index);
    return view_;
}

template <class Step>
void MemoryBuffer::ForEachPage(uint32_t position, uint32_t n, Step step) {
    uint32_t done = 0;
    while (done < n) {
        uint64_t at = uint64_t(position) + done;
        uint32_t offset = uint32_t(at % pageSize_);
        uint32_t count = std::min(n - done, pageSize_ - offset);
        BYTE* view = MapPage(size_t(at / pageSize_));
        step(view + offset, count, done);
        done += count;
    }
}

void MemoryBuffer::Fill(uint32_t from, uint32_t to) {
    if (to > from)
        ForEachPage(from, to - from, [](BYTE* p, uint32_t count, uint32_t) { std::memset(p, 0, count); });
}

void MemoryBuffer::Write(const void* bytes, uint32_t n) {
    if (n == 0)
        return;
    uint64_t end = uint64_t(position_) + n;
    if (end > kLimit)
        ThrowTooLarge();
    EnsurePages(end);
    // Bytes between the old end and a position sought past it must read as
    // zeros, not as what a page held before the buffer shrank.
    Fill(size_, position_);
    const BYTE* source = static_cast<const BYTE*>(bytes);
    ForEachPage(position_, n, [source](BYTE* p, uint32_t count, uint32_t done) {
        std::memcpy(p, source + done, count);
    });
    position_ = uint32_t(end);
    size_ = std::max(size_, position_);
}

void MemoryBuffer::Read(void* bytes, uint32_t n) {
    if (position_ > size_ || size_ - position_ < n)
        ThrowNoMoreData();
    BYTE* target = static_cast<BYTE*>(bytes);
    ForEachPage(position_, n, [target](BYTE* p, uint32_t count, uint32_t done) {
        std::memcpy(target + done, p, count);
    });
    position_ += n;
}

uint32_t MemoryBuffer::Seek(int64_t offset, int origin) {
    int64_t base;
    switch (origin) {
    case 0: base = 0; break;
    case 1: base = position_; break;
    case 2: base = size_; break;
    default: throw HRError(E_INVALIDARG);
    }
    if (offset > int64_t(kLimit) || offset < -int64_t(kLimit))
        ThrowTooLarge();
    int64_t target = base + offset;
    if (target < 0)
        throw HRError(HRESULT_FROM_WIN32(ERROR_NEGATIVE_SEEK));
    if (target > int64_t(kLimit))
        ThrowTooLarge();
    position_ = uint32_t(target);
    return position_;
}

void MemoryBuffer::SetSize(uint32_t n) {
    if (n > size_) {
        EnsurePages(n);
        Fill(size_, n);
    } else {
        size_t keep = n / pageSize_ + 1;
        if (mapped_ >= 0 && size_t(mapped_) >= keep)
            Unmap();
        if (pages_.size() > keep)
            pages_.resize(keep);
    }
    size_ = n;
}

void MemoryBuffer::Reset() {
    Unmap();
    pages_.clear();
    position_ = size_ = 0;
}

void MemoryBuffer::SetPageSize(uint32_t pageSize) {
    if (pageSize == 0)
        throw HRError(E_INVALIDARG);
    Reset();
    pageSize_ = pageSize;
}

void MemoryBuffer::ReadFromFile(HANDLE file) {
    Reset();
    for (;;) {
        size_t index = size_ / pageSize_;
        if (pages_.size() <= index)
            AddPage();
        BYTE* view = MapPage(index);
        DWORD got = 0;
        BoolCheck ck;
        ck = ReadFile(file, view, pageSize_, &got, nullptr);
        if (uint64_t(size_) + got > kLimit) {
            Reset();
            throw HRError(HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE));
        }
        size_ += got;
        if (got < pageSize_)
            break;
    }
}

void MemoryBuffer::WriteToFile(HANDLE file) {
    size_t full = size_ / pageSize_;
    for (size_t i = 0; i <= full; ++i) {
        DWORD count = i < full ? pageSize_ : size_ % pageSize_;
        if (count == 0)
            continue;
        BYTE* view = MapPage(i);
        DWORD written = 0;
        if (!g_writeFile(file, view, count, &written, nullptr))
            throw Win32Error(int32_t(GetLastError()));
        // A short write without an error is a full disk by another name.
        if (written != count)
            throw Win32Error(ERROR_HANDLE_DISK_FULL);
    }
}

uint32_t MemoryBuffer::Checksum(uint32_t offset, uint32_t length, uint32_t previous) {
    if (offset > size_ || size_ - offset < length)
        ThrowNoMoreData();
    const Crc32& crc = Crc32::Instance();
    uint32_t value = previous;
    ForEachPage(offset, length, [&](BYTE* p, uint32_t count, uint32_t) { value = crc.Update(p, count, value); });
    return value;
}

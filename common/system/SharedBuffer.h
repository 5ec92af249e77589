#pragma once
#include <windows.h>
#include <cstdint>

// A reference-counted byte buffer: copies share one heap block (a count word
// followed by the data) until one of them writes. Count changes are serialised
// by the block's named lock, so sharing copies may live on different threads.
//
// Writing: the non-const Data() gives the caller a private block first (copy
// on write), so other owners never see the change. Reading through a const
// buffer never copies.
class SharedBuffer {
public:
    SharedBuffer() noexcept = default;
    // n = 0 gives an empty buffer; otherwise n zero bytes.
    explicit SharedBuffer(uint32_t n);
    SharedBuffer(const void* bytes, uint32_t n);
    SharedBuffer(const SharedBuffer& other);
    SharedBuffer(SharedBuffer&& other) noexcept;
    SharedBuffer& operator=(const SharedBuffer& other);
    SharedBuffer& operator=(SharedBuffer&& other) noexcept;
    ~SharedBuffer();

    // Drops this owner's share; the buffer becomes empty.
    void Release();
    // Shares other's block (and takes its size).
    void Assign(const SharedBuffer& other);
    // Grows the capacity to at least n; growing copies into a private block.
    // Never shrinks (a capacity below the size would lose bytes).
    void Reserve(uint32_t n);
    // Reserve n, then size = n. Bytes beyond the old capacity are not cleared.
    void Resize(uint32_t n);
    // Gives this owner a private block when the block is shared.
    void MakePrivate();

    const BYTE* Data() const { return block_ ? block_ + sizeof(LONG) : nullptr; }
    BYTE* Data();  // copy on write: private before the caller may write
    uint32_t Size() const { return size_; }
    uint32_t Capacity() const { return capacity_; }
    bool Empty() const { return size_ == 0; }
    // Owners of the block (0 when empty); a snapshot for diagnostics and tests.
    LONG RefCount() const;

private:
    void AddRef();
    LONG volatile* Count() const { return reinterpret_cast<LONG volatile*>(block_); }
    static BYTE* AllocateBlock(uint32_t capacity);

    BYTE* block_ = nullptr;
    uint32_t size_ = 0;
    uint32_t capacity_ = 0;
};

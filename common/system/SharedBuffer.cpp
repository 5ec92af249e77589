#include "common/system/SharedBuffer.h"
#include <cstdlib>
#include <cstring>
#include "common/errors/ErrorBase.h"
#include "common/system/NamedLock.h"

namespace {

// Holds the block's named lock for one count change. The count itself is also
// changed with interlocked operations, so a lock that could not be created
// does not make the count unsafe.
class BlockLock {
public:
    explicit BlockLock(const void* block) { lock_.Open(block, NamedLock::WaitOwned); }

private:
    NamedLock lock_;
};

}  // namespace

BYTE* SharedBuffer::AllocateBlock(uint32_t capacity) {
    void* block = std::malloc(size_t(capacity) + sizeof(LONG));
    if (block == nullptr)
        throw HRError(E_OUTOFMEMORY);
    return static_cast<BYTE*>(block);
}

SharedBuffer::SharedBuffer(uint32_t n) {
    if (n == 0)
        return;
    block_ = AllocateBlock(n);
    *Count() = 1;
    std::memset(block_ + sizeof(LONG), 0, n);
    size_ = capacity_ = n;
}

SharedBuffer::SharedBuffer(const void* bytes, uint32_t n) {
    Reserve(n);
    size_ = n;
    if (n != 0)
        std::memcpy(block_ + sizeof(LONG), bytes, n);
}

SharedBuffer::SharedBuffer(const SharedBuffer& other) {
    Assign(other);
}

SharedBuffer::SharedBuffer(SharedBuffer&& other) noexcept
    : block_(other.block_), size_(other.size_), capacity_(other.capacity_) {
    other.block_ = nullptr;
    other.size_ = other.capacity_ = 0;
}

SharedBuffer& SharedBuffer::operator=(const SharedBuffer& other) {
    Assign(other);
    return *this;
}

SharedBuffer& SharedBuffer::operator=(SharedBuffer&& other) noexcept {
    if (this != &other) {
        Release();
        block_ = other.block_;
        size_ = other.size_;
        capacity_ = other.capacity_;
        other.block_ = nullptr;
        other.size_ = other.capacity_ = 0;
    }
    return *this;
}

SharedBuffer::~SharedBuffer() {
    Release();
}

void SharedBuffer::AddRef() {
    if (block_ == nullptr)
        return;
    BlockLock lock(block_);
    InterlockedIncrement(Count());
}

void SharedBuffer::Release() {
    if (block_ == nullptr) {
        size_ = capacity_ = 0;
        return;
    }
    BYTE* block = block_;
    {
        BlockLock lock(block);
        if (InterlockedDecrement(Count()) == 0)
            std::free(block);
    }
    block_ = nullptr;
    size_ = capacity_ = 0;
}

void SharedBuffer::Assign(const SharedBuffer& other) {
    if (other.block_ == nullptr) {
        Release();
        return;
    }
    if (other.block_ == block_) {
        size_ = other.size_;
        return;
    }
    Release();
    // The source's lock is held across AddRef, which takes it again; the
    // mutex is recursive for its owner.
    BlockLock lock(other.block_);
    block_ = other.block_;
    size_ = other.size_;
    capacity_ = other.capacity_;
    AddRef();
}

void SharedBuffer::Reserve(uint32_t n) {
    if (n <= capacity_)
        return;
    BYTE* block = AllocateBlock(n);
    if (block_ != nullptr)
        std::memcpy(block + sizeof(LONG), block_ + sizeof(LONG), capacity_);
    uint32_t size = size_;
    Release();
    block_ = block;
    *Count() = 1;
    size_ = size;
    capacity_ = n;
}

void SharedBuffer::Resize(uint32_t n) {
    if (capacity_ < n)
        Reserve(n);
    size_ = n;
}

void SharedBuffer::MakePrivate() {
    // A count of 1 cannot grow behind this owner's back: only an owner can
    // hand out a share.
    if (block_ == nullptr || RefCount() == 1)
        return;
    BYTE* block = AllocateBlock(capacity_);
    std::memcpy(block + sizeof(LONG), block_ + sizeof(LONG), capacity_);
    uint32_t size = size_, capacity = capacity_;
    Release();
    block_ = block;
    *Count() = 1;
    size_ = size;
    capacity_ = capacity;
}

BYTE* SharedBuffer::Data() {
    MakePrivate();
    return block_ ? block_ + sizeof(LONG) : nullptr;
}

LONG SharedBuffer::RefCount() const {
    return block_ ? InterlockedCompareExchange(Count(), 0, 0) : 0;
}

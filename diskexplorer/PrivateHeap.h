#pragma once
#include <windows.h>
#include <cstddef>
#include <new>

// The one heap that holds all of a folder-size model's memory. Millions of
// small names are allocated from it without locking and never freed one by
// one: dropping the model throws the whole heap away in a single call, so
// only one model may live at a time and only one thread may use it at once.
class PrivateHeap {
public:
    // Creates the heap on first use; throws std::bad_alloc when it cannot.
    static void* Allocate(size_t bytes);
    // Destroys the heap; the next allocation makes a new one.
    static void Destroy();
    // Bytes handed out since the heap was made (for the benchmark's figures).
    static size_t AllocatedBytes();
};

// Standard allocator over the private heap. Deallocation does nothing: the
// memory goes with the heap.
template <class T>
class HeapAllocator {
public:
    using value_type = T;
    HeapAllocator() = default;
    template <class U>
    HeapAllocator(const HeapAllocator<U>&) {}
    T* allocate(size_t n) {
        if (n > static_cast<size_t>(-1) / sizeof(T))
            throw std::bad_alloc();
        return static_cast<T*>(PrivateHeap::Allocate(n * sizeof(T)));
    }
    void deallocate(T*, size_t) {}
    template <class U>
    bool operator==(const HeapAllocator<U>&) const { return true; }
    template <class U>
    bool operator!=(const HeapAllocator<U>&) const { return false; }
};

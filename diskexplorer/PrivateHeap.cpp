#include "diskexplorer/PrivateHeap.h"

namespace {
HANDLE g_heap = nullptr;
size_t g_allocated = 0;
const SIZE_T kInitialSize = 0x400000;
}

void* PrivateHeap::Allocate(size_t bytes) {
    if (!g_heap) {
        g_heap = HeapCreate(HEAP_NO_SERIALIZE, kInitialSize, 0);
        if (!g_heap)
            throw std::bad_alloc();
        g_allocated = 0;
    }
    void* block = HeapAlloc(g_heap, HEAP_NO_SERIALIZE, bytes ? bytes : 1);
    if (!block)
        throw std::bad_alloc();
    g_allocated += bytes;
    return block;
}

void PrivateHeap::Destroy() {
    if (g_heap)
        HeapDestroy(g_heap);
    g_heap = nullptr;
    g_allocated = 0;
}

size_t PrivateHeap::AllocatedBytes() { return g_allocated; }

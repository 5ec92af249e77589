#include "common/system/LocalMemory.h"
#include "common/errors/CheckObjects.h"

LocalMemory::~LocalMemory() {
    try {
        Release();
    } catch (...) {
    }
}

void LocalMemory::Release() {
    if (!block_)
        return;
    void* block = block_;
    block_ = nullptr;
    BoolCheck ck(_T("LocalFree"));
    ck = LocalFree(block) == nullptr;
}

void** LocalMemory::Receive() {
    Release();
    return &block_;
}

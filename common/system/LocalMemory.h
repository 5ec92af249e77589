#pragma once
#include <windows.h>

// Owns one block that a system function allocated with LocalAlloc (security
// descriptors, SDDL texts). Release raises BoolError when LocalFree fails; the
// destructor swallows it.
class LocalMemory {
public:
    LocalMemory() = default;
    explicit LocalMemory(void* block) : block_(block) {}
    ~LocalMemory();
    LocalMemory(const LocalMemory&) = delete;
    LocalMemory& operator=(const LocalMemory&) = delete;

    void Release();
    void* Get() const { return block_; }
    template <class T>
    T* As() const { return static_cast<T*>(block_); }

    // For out parameters: frees the held block first.
    void** Receive();

private:
    void* block_ = nullptr;
};

#pragma once
#include <windows.h>

// Owner of a handle that Closer::Close gives back to the system; NULL and
// INVALID_HANDLE_VALUE both mean none. The handle is closed exactly once:
// Close forgets it even when the close reports a failure, so the destructor
// never closes it a second time.
template <class Closer>
class BasicHandleHolder {
public:
    BasicHandleHolder() = default;
    explicit BasicHandleHolder(HANDLE handle) : handle_(handle) {}
    ~BasicHandleHolder() { CloseNoThrow(); }
    BasicHandleHolder(const BasicHandleHolder&) = delete;
    BasicHandleHolder& operator=(const BasicHandleHolder&) = delete;
    BasicHandleHolder(BasicHandleHolder&& other) noexcept : handle_(other.Detach()) {}
    BasicHandleHolder& operator=(BasicHandleHolder&& other) noexcept;

    // Throws BoolError when the close fails.
    void Close();
    // 1 when closed (or nothing to close), 0 when closing failed.
    int CloseNoThrow() noexcept;
    // Closes the current handle, then takes the new one.
    void Attach(HANDLE handle);
    HANDLE Detach() noexcept;

    HANDLE Get() const { return handle_; }
    operator HANDLE() const { return handle_; }
    bool IsValid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_ = nullptr;
};

struct KernelHandleCloser {
    static BOOL Close(HANDLE handle) { return ::CloseHandle(handle); }
};

struct FindHandleCloser {
    static BOOL Close(HANDLE handle) { return ::FindClose(handle); }
};

// Owner of a kernel handle, closed with CloseHandle.
using HandleHolder = BasicHandleHolder<KernelHandleCloser>;
// Owner of a search handle from FindFirstFile, closed with FindClose.
using FindHandleHolder = BasicHandleHolder<FindHandleCloser>;

extern template class BasicHandleHolder<KernelHandleCloser>;
extern template class BasicHandleHolder<FindHandleCloser>;

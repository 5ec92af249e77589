#pragma once
#include <windows.h>

// Owner of a kernel handle; NULL and INVALID_HANDLE_VALUE both mean none.
// The handle is closed exactly once: Close forgets it even when CloseHandle
// reports a failure, so the destructor never closes it a second time.
class HandleHolder {
public:
    HandleHolder() = default;
    explicit HandleHolder(HANDLE handle) : handle_(handle) {}
    ~HandleHolder() { CloseNoThrow(); }
    HandleHolder(const HandleHolder&) = delete;
    HandleHolder& operator=(const HandleHolder&) = delete;
    HandleHolder(HandleHolder&& other) noexcept : handle_(other.Detach()) {}
    HandleHolder& operator=(HandleHolder&& other) noexcept;

    // Throws BoolError when CloseHandle fails.
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

// Owner of a search handle from FindFirstFile, closed with FindClose.
class FindHandleHolder {
public:
    FindHandleHolder() = default;
    explicit FindHandleHolder(HANDLE handle) : handle_(handle) {}
    ~FindHandleHolder() { CloseNoThrow(); }
    FindHandleHolder(const FindHandleHolder&) = delete;
    FindHandleHolder& operator=(const FindHandleHolder&) = delete;
    FindHandleHolder(FindHandleHolder&& other) noexcept : handle_(other.Detach()) {}
    FindHandleHolder& operator=(FindHandleHolder&& other) noexcept;

    void Close();
    int CloseNoThrow() noexcept;
    void Attach(HANDLE handle);
    HANDLE Detach() noexcept;

    HANDLE Get() const { return handle_; }
    operator HANDLE() const { return handle_; }
    bool IsValid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_ = nullptr;
};

#include "common/system/HandleHolder.h"
#include "common/errors/CheckObjects.h"

namespace {

bool IsHandle(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

// The handle is forgotten before the close is checked: a handle whose close
// failed is not valid any more, and closing it again could hit a handle value
// the system has since given to someone else.
template <class CloseFunction>
void CloseOnce(HANDLE& handle, CloseFunction close) {
    if (!IsHandle(handle))
        return;
    HANDLE h = handle;
    handle = nullptr;
    BoolCheck ck;
    ck = close(h);
}

}  // namespace

HandleHolder& HandleHolder::operator=(HandleHolder&& other) noexcept {
    if (this != &other) {
        CloseNoThrow();
        handle_ = other.Detach();
    }
    return *this;
}

void HandleHolder::Close() {
    CloseOnce(handle_, ::CloseHandle);
}

int HandleHolder::CloseNoThrow() noexcept {
    try {
        Close();
        return 1;
    } catch (...) {
        return 0;
    }
}

void HandleHolder::Attach(HANDLE handle) {
    if (handle == handle_)
        return;
    Close();
    handle_ = handle;
}

HANDLE HandleHolder::Detach() noexcept {
    HANDLE h = handle_;
    handle_ = nullptr;
    return h;
}

FindHandleHolder& FindHandleHolder::operator=(FindHandleHolder&& other) noexcept {
    if (this != &other) {
        CloseNoThrow();
        handle_ = other.Detach();
    }
    return *this;
}

void FindHandleHolder::Close() {
    CloseOnce(handle_, ::FindClose);
}

int FindHandleHolder::CloseNoThrow() noexcept {
    try {
        Close();
        return 1;
    } catch (...) {
        return 0;
    }
}

void FindHandleHolder::Attach(HANDLE handle) {
    if (handle == handle_)
        return;
    Close();
    handle_ = handle;
}

HANDLE FindHandleHolder::Detach() noexcept {
    HANDLE h = handle_;
    handle_ = nullptr;
    return h;
}

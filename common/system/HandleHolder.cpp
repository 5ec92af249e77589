#include "common/system/HandleHolder.h"
#include "common/errors/CheckObjects.h"

template <class Closer>
BasicHandleHolder<Closer>& BasicHandleHolder<Closer>::operator=(BasicHandleHolder&& other) noexcept {
    if (this != &other) {
        CloseNoThrow();
        handle_ = other.Detach();
    }
    return *this;
}

// The handle is forgotten before the close is checked: a handle whose close
// failed is not valid any more, and closing it again could hit a handle value
// the system has since given to someone else.
template <class Closer>
void BasicHandleHolder<Closer>::Close() {
    if (!IsValid())
        return;
    HANDLE h = handle_;
    handle_ = nullptr;
    BoolCheck ck;
    ck = Closer::Close(h);
}

template <class Closer>
int BasicHandleHolder<Closer>::CloseNoThrow() noexcept {
    try {
        Close();
        return 1;
    } catch (...) {
        return 0;
    }
}

template <class Closer>
void BasicHandleHolder<Closer>::Attach(HANDLE handle) {
    if (handle == handle_)
        return;
    Close();
    handle_ = handle;
}

template <class Closer>
HANDLE BasicHandleHolder<Closer>::Detach() noexcept {
    HANDLE h = handle_;
    handle_ = nullptr;
    return h;
}

template class BasicHandleHolder<KernelHandleCloser>;
template class BasicHandleHolder<FindHandleCloser>;

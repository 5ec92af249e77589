#pragma once
#include <windows.h>
#include <unknwn.h>

// Owner of one COM reference; releases it when it goes or is replaced.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(T* p) : p_(p) { if (p_) p_->AddRef(); }
    ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(other.Detach()) {}
    ~ComPtr() { Release(); }

    ComPtr& operator=(T* p) {
        if (p) p->AddRef();
        Release();
        p_ = p;
        return *this;
    }
    ComPtr& operator=(const ComPtr& other) { return *this = other.p_; }
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            Release();
            p_ = other.Detach();
        }
        return *this;
    }

    void Release() {
        T* p = p_;
        p_ = nullptr;
        if (p) p->Release();
    }
    // Takes over a reference the caller already owns.
    void Attach(T* p) {
        Release();
        p_ = p;
    }
    T* Detach() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    // For out parameters: releases what is held and hands out the slot.
    T** Receive() {
        Release();
        return &p_;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

    template <class Q>
    HRESULT QueryInto(REFIID iid, ComPtr<Q>& target) const {
        if (!p_) return E_POINTER;
        return p_->QueryInterface(iid, target.ReceiveVoid());
    }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    operator T*() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

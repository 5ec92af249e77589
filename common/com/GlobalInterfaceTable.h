#pragma once
#include <windows.h>
#include <objidl.h>
#include "common/com/ComPtr.h"

// The process's Global Interface Table: an interface registered from one
// apartment can be fetched, marshaled as needed, from any other.
class GlobalInterfaceTable {
public:
    // Throws HRError when COM is not initialised on the thread or registration fails.
    static DWORD Register(IUnknown* object, REFIID iid);
    static void Revoke(DWORD cookie) noexcept;
    static HRESULT Get(DWORD cookie, REFIID iid, void** result) noexcept;

    template <class T>
    static HRESULT Get(DWORD cookie, REFIID iid, ComPtr<T>& result) noexcept {
        return Get(cookie, iid, result.ReceiveVoid());
    }
};

// Keeps the calling thread in the multithreaded apartment for a scope when it
// has not joined an apartment of its own yet (worker threads raise events).
class MtaScope {
public:
    MtaScope();
    ~MtaScope();
    MtaScope(const MtaScope&) = delete;
    MtaScope& operator=(const MtaScope&) = delete;

private:
    bool joined_ = false;
};

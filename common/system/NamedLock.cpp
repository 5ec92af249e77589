#include "common/system/NamedLock.h"

NamedLock::~NamedLock() {
    Close();
}

bool NamedLock::Acquire(const TCHAR* name, int kind) {
    Close();
    handle_ = CreateMutex(nullptr, kind == CreateOwned, name);
    if (handle_ == nullptr)
        return false;
    existed_ = GetLastError() == ERROR_ALREADY_EXISTS;
    if (kind == CreateOwned) {
        // An existing mutex is opened without ownership even when it was asked
        // for: this object owns it only after waiting for the holder.
        owned_ = existed_ ? Wait(INFINITE) : true;
    } else if (kind == WaitOwned) {
        Wait(INFINITE);
    }
    return owned_;
}

bool NamedLock::Open(const void* block, int kind) {
    owned_ = false;
    return Acquire(BlockLockName(block).c_str(), kind);
}

bool NamedLock::Wait(DWORD milliseconds) {
    if (handle_ == nullptr)
        return false;
    DWORD result = WaitForSingleObject(handle_, milliseconds);
    owned_ = result != WAIT_FAILED && result != WAIT_TIMEOUT;
    return owned_;
}

void NamedLock::Release() {
    if (owned_ && handle_ != nullptr)
        ReleaseMutex(handle_);
    owned_ = false;
}

void NamedLock::Close() {
    if (handle_ == nullptr)
        return;
    Release();
    CloseHandle(handle_);
    handle_ = nullptr;
    existed_ = false;
}

tstring NamedLock::BlockLockName(const void* block) {
    TCHAR name[64];
    _sntprintf(name, 63, _T("%s-%X-%I64X"), _T("MEMLCK"), unsigned(GetCurrentProcessId()),
               static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(block)));
    name[63] = 0;
    return name;
}

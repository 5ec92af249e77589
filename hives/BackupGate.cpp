#include "hives/BackupGate.h"
#include <process.h>
#include <algorithm>
#include <memory>
#include "common/errors/ErrorBase.h"
#include "common/system/FileSystem.h"

namespace {

struct Drop {
    std::vector<tstring> paths;
    BackupGate::Remover remover;
};

unsigned __stdcall DropProc(void* argument) {
    std::unique_ptr<Drop> drop(static_cast<Drop*>(argument));
    for (const tstring& path : drop->paths)
        drop->remover(path);
    return 0;
}

}  // namespace

BackupGate::BackupGate() : remover_([](const tstring& path) { return DeletePath(path); }) {}

void BackupGate::Track(const tstring& path) {
    CriticalSectionLock hold(lock_);
    paths_.push_back(path);
}

void BackupGate::Forget(const tstring& path) {
    CriticalSectionLock hold(lock_);
    paths_.erase(std::remove(paths_.begin(), paths_.end(), path), paths_.end());
}

bool BackupGate::Commit() {
    return InterlockedCompareExchange(&state_, Committed, Open) != Abandoned;
}

void BackupGate::ThrowIfGivenUp() const {
    if (GivenUp())
        throw ErrorBase(HRESULT_FROM_WIN32(ERROR_CANCELLED), _T("The backup was given up at its limit"));
}

bool BackupGate::Owns(const tstring& path) const {
    CriticalSectionLock hold(lock_);
    return std::find(paths_.begin(), paths_.end(), path) != paths_.end();
}

bool BackupGate::GiveUp() {
    return InterlockedCompareExchange(&state_, Abandoned, Open) != Committed;
}

bool BackupGate::GivenUp() const {
    return InterlockedCompareExchange(const_cast<volatile LONG*>(&state_), Open, Open) == Abandoned;
}

void BackupGate::DropFiles() {
    if (!GivenUp())
        return;
    auto drop = std::make_unique<Drop>();
    {
        CriticalSectionLock hold(lock_);
        drop->paths.swap(paths_);
        drop->remover = remover_;
    }
    if (drop->paths.empty())
        return;
    uintptr_t thread = _beginthreadex(nullptr, 0, DropProc, drop.get(), 0, nullptr);
    if (!thread) {
        // Left to the worker, which removes its own files when it returns.
        CriticalSectionLock hold(lock_);
        paths_.swap(drop->paths);
        return;
    }
    drop.release();
    CloseHandle(reinterpret_cast<HANDLE>(thread));
}

void BackupGate::SetRemover(Remover remover) {
    CriticalSectionLock hold(lock_);
    remover_ = std::move(remover);
}

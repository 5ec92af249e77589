#pragma once
#include <windows.h>
#include <cstdio>
#include <string>
#include <thread>
#include "TestLimits.h"

// A file held open without sharing, as a backup tool or virus scanner holds
// one for a moment: from construction until Release, or until forMs have
// passed (let go by a thread of its own, while the caller is busy with
// whatever meets the file).
class HeldFile {
public:
    explicit HeldFile(const std::wstring& path, DWORD forMs = INFINITE)
        : file_(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)),
          release_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        if (forMs != INFINITE && Held())
            timer_ = std::thread([this, forMs] {
                WaitForSingleObject(release_, forMs);
                CloseHandle(file_);
                letGoAt_ = GetTickCount64();
            });
    }
    ~HeldFile() {
        Release();
        CloseHandle(release_);
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    bool Held() const { return file_ != INVALID_HANDLE_VALUE; }
    void Release() {
        if (timer_.joinable()) {
            SetEvent(release_);
            testlimit::Join(timer_, testlimit::kStep, "the file holder letting go");
        } else if (Held()) {
            CloseHandle(file_);
            letGoAt_ = GetTickCount64();
        }
        file_ = INVALID_HANDLE_VALUE;
    }
    // When the file was let go (GetTickCount64), once Release has returned.
    ULONGLONG LetGoAt() const { return letGoAt_; }

private:
    HANDLE file_;
    HANDLE release_;
    std::thread timer_;
    ULONGLONG letGoAt_ = 0;
};

// Runs attempt() (which makes the object under test anew) while the file is
// held without sharing and let go after holdMs, until a run in which the
// holder was let go early enough that the retries must get past it: the
// object's last try comes at least lastTryAfterMs after its first (5 tries
// 100 ms apart: 400 ms), and the holder must be let go 50 ms before that.
// On a busy machine the holder's thread may run too late, and such a run
// proves nothing either way. False when none of `runs` was early enough.
template <class Attempt>
bool WhileHeldForAMoment(const std::wstring& path, DWORD holdMs, DWORD lastTryAfterMs, Attempt attempt,
                         int runs = 10) {
    for (int run = 0; run < runs; ++run) {
        ULONGLONG start = GetTickCount64();
        HeldFile held(path, holdMs);
        if (!held.Held())
            return false;
        attempt();
        held.Release();
        ULONGLONG took = held.LetGoAt() - start;
        if (took + 50 <= lastTryAfterMs)
            return true;
        fprintf(stderr, "the holder of %ls let go only after %llu ms (%lu ms asked); run again\n", path.c_str(), took,
                holdMs);
    }
    return false;
}

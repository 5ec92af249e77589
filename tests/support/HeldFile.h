#pragma once
#include <windows.h>
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
        }
        file_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE file_;
    HANDLE release_;
    std::thread timer_;
};

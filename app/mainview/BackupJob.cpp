#include "app/mainview/BackupJob.h"
#include "app/resource.h"
#include "common/log/Log.h"

void ProgressRelay::Connect(RLog* sink) {
    CriticalSectionLock hold(lock_);
    sink_ = sink;
}

int ProgressRelay::AddEntry(int level, const tstring& text, const tstring& name) {
    CriticalSectionLock hold(lock_);
    return sink_ ? sink_->AddEntry(level, text, name) : 0;
}

void ProgressRelay::MarkDone(int row) {
    CriticalSectionLock hold(lock_);
    if (sink_)
        sink_->MarkDone(row);
}

BackupJob::BackupJob() : ended_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

void BackupJob::SetFile(const tstring& file) {
    CriticalSectionLock hold(fileLock_);
    file_ = file;
}

tstring BackupJob::File() {
    CriticalSectionLock hold(fileLock_);
    return file_;
}

bool BackupJob::End(LONG how) {
    if (InterlockedCompareExchange(&state_, how, Running) != Running)
        return false;
    if (ended_.IsValid())
        SetEvent(ended_);
    return true;
}

bool BackupJob::EndWith(const tstring& error) {
    workerError_ = error;
    return End(EndedByWorker);
}

bool BackupJob::EndAtLimit(DWORD limit) {
    // Decided at once; the files wait until the job has ended, and then go on
    // a thread of their own: the disk that hangs the write may hang them too.
    bool givenUp = gate.GiveUp();
    tstring file = File();
    if (file.empty())
        file = folder;
    tstring duration = DurationText(limit);
    if (givenUp) {
        limitError_ = FormatText(L"The backup did not finish within %s and was given up: %s", duration.c_str(),
                                 file.c_str());
    } else {
        // Committed, but not in the list yet: nobody may count on it.
        limitError_ = FormatText(tstring(MAKEINTRESOURCEW(IDS_BACKUP_NOT_LISTED)).c_str(), duration.c_str(),
                                 file.c_str());
        if (limitError_.empty())
            limitError_ = L"The backup was made but not listed: " + file;
    }
    givenUp_ = givenUp;
    if (!End(EndedAtLimit))
        return false;
    // Whoever showed the steps may go now; the worker may still come back.
    progress.Connect(nullptr);
    if (givenUp)
        Log::Instance().Print(LogError, L"[error] The backup %s did not finish within %s; given up.", file.c_str(),
                              duration.c_str());
    else
        Log::Instance().Print(LogError, L"[error] The backup %s was made but not listed within %s.", file.c_str(),
                              duration.c_str());
    gate.DropFiles();
    return true;
}

tstring DurationText(DWORD milliseconds) {
    static const struct {
        DWORD size;
        const wchar_t* name;
    } units[] = {{3600000, L"hours"}, {60000, L"minutes"}, {1000, L"seconds"}};
    for (const auto& unit : units)
        if (milliseconds >= unit.size && milliseconds % unit.size == 0)
            return FormatText(L"%lu %s", static_cast<unsigned long>(milliseconds / unit.size), unit.name);
    return FormatText(L"%lu ms", static_cast<unsigned long>(milliseconds));
}

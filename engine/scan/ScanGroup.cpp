#include "engine/scan/ScanGroup.h"
#include <cmath>
#include <exception>
#include "common/errors/CheckObjects.h"
#include "common/log/Log.h"
#include "engine/registry/CacheTable.h"
#include "engine/registry/RegValue.h"

ScanGroup::ScanGroup(ScanSink* sink, uint32_t groupBit, GroupProcedure procedure)
    : sink_(sink), groupBit_(groupBit), procedure_(std::move(procedure)) {
    runEvent_ = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

ScanGroup::~ScanGroup() {
    // The thread works on this object: it must be gone before the object is.
    if (IsRunning()) {
        RequestStop();
        try {
            Wait(5000);
        } catch (...) {
        }
    }
    progress_.clear();
    if (thread_) CloseHandle(thread_);
    if (runEvent_) CloseHandle(runEvent_);
    if (stopEvent_) CloseHandle(stopEvent_);
}

int32_t ScanGroup::Start() {
    if (IsRunning()) return StillRunning;
    {
        std::lock_guard<std::mutex> lock(pauseMutex_);
        paused_ = false;
        SetEvent(runEvent_);
    }
    stop_ = false;
    ResetEvent(stopEvent_);
    progress_.clear();
    if (!procedure_) return Started;
    return StartThread(procedure_);
}

bool ScanGroup::IsRunning() const {
    return thread_ && WaitForSingleObject(thread_, 0) == WAIT_TIMEOUT;
}

DWORD ScanGroup::ExitCode() const {
    DWORD code = ExitDone;
    if (thread_) GetExitCodeThread(thread_, &code);
    return code;
}

int32_t ScanGroup::StartThread(const GroupProcedure& procedure) {
    if (IsRunning()) return StillRunning;
    if (thread_) {
        HANDLE old = thread_;
        thread_ = nullptr;
        BoolCheck ck;
        ck = CloseHandle(old);
    }
    running_ = procedure;
    finishReported_ = false;
    // Suspended until its priority is set, so no part of the scan runs at
    // the caller's priority.
    thread_ = CreateThread(nullptr, 0, &ScanGroup::ThreadEntry, this, CREATE_SUSPENDED, nullptr);
    if (!thread_) return NotStarted;
    SetThreadPriority(thread_, THREAD_PRIORITY_BELOW_NORMAL);
    ResumeThread(thread_);
    return Started;
}

void ScanGroup::Wait(DWORD milliseconds) {
    if (!thread_) return;
    if (WaitForSingleObject(thread_, milliseconds) != WAIT_TIMEOUT) return;
    // Said before the thread is ended: a walk stuck in a look-up (a drive that
    // does not answer) is otherwise lost without a trace. Within a limit of its
    // own: a log that another process holds must not double the wait.
    Log::Instance().PrintWithin(kEndLineLimit, LogError,
                                L"[error] Scan group %u did not stop within %lu ms; its thread is ended.",
                                unsigned(groupBit_), static_cast<unsigned long>(milliseconds));
    BoolCheck ck;
    ck = TerminateThread(thread_, ExitTerminated);
    // Termination is asynchronous; the caller relies on the thread being gone.
    WaitForSingleObject(thread_, 5000);
}

DWORD WINAPI ScanGroup::ThreadEntry(LPVOID param) {
    return static_cast<ScanGroup*>(param)->RunProcedure();
}

// Nothing may leave a thread procedure: a failure is logged and the group
// still reports its end, so that the engine does not wait for it.
DWORD ScanGroup::RunProcedure() {
    DWORD code = ExitFailed;
    try {
        code = running_ ? running_(*this) : ExitDone;
    } catch (const ErrorBase& e) {
        LogFailure(e.Message());
    } catch (const std::exception& e) {
        LogFailure(tstring::FromNarrow(e.what()));
    } catch (...) {
        LogFailure(L"unknown exception");
    }
    try {
        // Consumers of a cache this group left unfinished must not wait for it.
        CacheTable::Instance().ReleaseProducer(groupBit_);
    } catch (...) {
    }
    try {
        ReportFinish();
    } catch (...) {
    }
    return code;
}

void ScanGroup::LogFailure(const tstring& text) {
    Log::Instance().Print(LogError, L"[error] Scan group %u failed: %s", unsigned(groupBit_), text.c_str());
    if (!sink_) return;
    try {
        sink_->GroupFailed(groupBit_, text);
    } catch (...) {
    }
}

void ScanGroup::RequestStop() {
    stop_ = true;
    SetEvent(stopEvent_);
}

void ScanGroup::SetPause(bool paused) {
    std::lock_guard<std::mutex> lock(pauseMutex_);
    if (paused) {
        ResetEvent(runEvent_);
        paused_ = true;
    } else {
        paused_ = false;
        SetEvent(runEvent_);
    }
}

bool ScanGroup::ContinueWalk() {
    while (paused_ && !stop_) {
        HANDLE handles[2] = {runEvent_, stopEvent_};
        WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    }
    return !stop_;
}

uint32_t ScanGroup::RegisterSubtask() {
    uint32_t id = ++subtaskCounter_;
    progress_[id] = 0.0;
    return id;
}

void ScanGroup::RemoveSubtask(uint32_t id) { progress_.erase(id); }

void ScanGroup::ReportProgress(uint32_t id, double percent) {
    auto it = progress_.find(id);
    if (it == progress_.end()) return;
    it->second = percent > 100.01 ? 100.0 : percent;
    double sum = 0.0;
    for (const auto& p : progress_) sum += p.second;
    double mean = sum / double(progress_.size());
    double f = std::floor(mean);
    int32_t result = int32_t(mean - f < 0.5 ? f : f + 1);
    if (sink_) sink_->ForwardProgress(groupBit_, result);
}

void ScanGroup::ReportFound(const tstring& keyPath, const tstring& valueName, const CheckResult& result) {
    if (sink_) sink_->HandleFound(keyPath, valueName, result, groupBit_);
}

void ScanGroup::ReportFinish() {
    if (finishReported_.exchange(true)) return;
    if (sink_) sink_->GroupFinished(groupBit_);
}

void ScanGroup::ReportValueFinding(const RegValue& value, const CheckResult& result) {
    ReportFound(value.FullPath(), value.Name(), result);
}

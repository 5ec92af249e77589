#pragma once
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include "common/tstring/tstring.h"
#include "engine/scan/CheckResult.h"
#include "engine/scan/ScanSink.h"

class ScanGroup;
class RegValue;

// The work of one group, run on the group's own thread; returns the thread's
// exit code (ScanGroup::ExitDone or ScanGroup::ExitStopped).
using GroupProcedure = std::function<DWORD(ScanGroup& group)>;

// One category of the scan on a worker thread of its own, with the flags a
// running walk obeys (stop, pause) and the reporting of its findings,
// progress and end to the engine object.
class ScanGroup {
public:
    static constexpr DWORD ExitDone = 0;
    static constexpr DWORD ExitStopped = 11;
    static constexpr DWORD ExitTerminated = 12;
    static constexpr DWORD ExitFailed = 13;

    // Start results.
    static constexpr int32_t Started = 0;
    static constexpr int32_t StillRunning = 1;
    static constexpr int32_t NotStarted = 2;

    // sink: not owned, may be null (nothing is reported then). A group
    // without a procedure starts nothing.
    explicit ScanGroup(ScanSink* sink, uint32_t groupBit = 0, GroupProcedure procedure = nullptr);
    virtual ~ScanGroup();
    ScanGroup(const ScanGroup&) = delete;
    ScanGroup& operator=(const ScanGroup&) = delete;

    // Starts the group's procedure on a new thread, unless the previous run
    // is still going (StillRunning, nothing changed).
    virtual int32_t Start();
    int32_t StartThread(const GroupProcedure& procedure);
    // Waits for the thread; one still running after the time is terminated
    // with ExitTerminated, after a log line that takes at most kEndLineLimit.
    void Wait(DWORD milliseconds);
    static constexpr DWORD kEndLineLimit = 1000;
    bool IsRunning() const;
    // The exit code of the last run; STILL_ACTIVE while it runs, ExitDone
    // before any run.
    DWORD ExitCode() const;

    // Stop and pause come from the engine's threads while the walk runs.
    void RequestStop();
    void SetPause(bool paused);
    bool StopRequested() const { return stop_; }
    bool Paused() const { return paused_; }
    // The walk's check between entries: waits while paused (a stop ends the
    // wait) and returns false when the walk is to end.
    bool ContinueWalk();

    // Progress: the group's figure is the unweighted mean of its sub-tasks.
    uint32_t RegisterSubtask();
    void RemoveSubtask(uint32_t id);
    void ReportProgress(uint32_t id, double percent);
    size_t SubtaskCount() const { return progress_.size(); }

    void ReportFound(const tstring& keyPath, const tstring& valueName, const CheckResult& result);
    // The finding of a walked value: its key's full path and its name.
    void ReportValueFinding(const RegValue& value, const CheckResult& result);
    // Reports the end once per run; later calls in the same run do nothing.
    void ReportFinish();

    uint32_t GroupBit() const { return groupBit_; }
    ScanSink* Sink() const { return sink_; }

private:
    static DWORD WINAPI ThreadEntry(LPVOID param);
    DWORD RunProcedure();
    void LogFailure(const tstring& text);

    std::atomic<bool> paused_{false};
    std::atomic<bool> stop_{false};
    std::atomic<bool> finishReported_{false};
    std::mutex pauseMutex_;
    HANDLE runEvent_ = nullptr;   // set while the group may run
    HANDLE stopEvent_ = nullptr;  // set by a stop, so that a paused walk wakes
    HANDLE thread_ = nullptr;
    std::map<uint32_t, double> progress_;
    ScanSink* sink_;
    uint32_t subtaskCounter_ = 0;
    uint32_t groupBit_;
    GroupProcedure procedure_;
    GroupProcedure running_;
};

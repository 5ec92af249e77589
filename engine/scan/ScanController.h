#pragma once
#include <windows.h>
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include "common/system/HandleHolder.h"
#include "common/tstring/tstring.h"
#include "engine/fix/FixMap.h"
#include "engine/scan/GroupProcedures.h"
#include "engine/scan/IgnoreList.h"
#include "engine/scan/ScanGroup.h"
#include "engine/scan/ScanSink.h"

// A kept finding as the found list shows it.
struct FoundRecord {
    tstring Item;  // the display text
    tstring Reason;
    uint32_t RegUnion = 0;
    int32_t ErrorID = 0;
    int32_t FixID = 0;
    tstring KeyPath;
    tstring ValueName;
};

// Where a running scan's results go: the engine object's found list and its
// events. Calls come from the scan group threads.
class ScanEvents {
public:
    virtual ~ScanEvents() = default;
    // Called with the found-list mutex held.
    virtual void AppendRecord(const FoundRecord& record) = 0;
    virtual void RaiseFound(const tstring& text, uint32_t groupBit, int32_t errorId, int32_t fixId) = 0;
    virtual void RaiseProgress(uint32_t groupBit, int32_t percent) = 0;
    virtual void RaiseFinish(uint32_t groupBit) = 0;
};

using ProcedureSource = std::function<GroupProcedure(uint32_t groupBit)>;

// Scan control of the engine object: the eight scan groups, their start,
// pause and stop, and the found handler through which every finding passes
// the ignore lists, gets its fix plan and is announced.
class ScanController : public ScanSink {
public:
    static const int GroupCount = 8;
    static const DWORD StopWaitMs = 5000;
    static const DWORD ListWaitMs = 10000;

    // foundMutex: the engine object's found-list mutex (not owned); ignores
    // may be null (nothing is ignored). procedures is asked once per group.
    ScanController(ScanEvents& events, HANDLE foundMutex, FixMap& fixes, const IgnoreList* ignores,
                   const ProcedureSource& procedures = GroupProcedureFor);
    // Stops a running scan: no group thread outlives what it reports into.
    ~ScanController() override;
    ScanController(const ScanController&) = delete;
    ScanController& operator=(const ScanController&) = delete;

    // Stops a running scan, empties the fix map, resets the named caches and
    // starts the groups of the set bits of the low byte.
    void Scan(uint32_t unionsMask);
    // Pauses or resumes the groups of bits 1 to 64; the embedded-NUL walk
    // has no pause point and runs on.
    void Pause(bool paused);
    // Ends every group, waiting at most 5000 ms for each. No finding is
    // recorded or announced after it returns.
    void Stop();
    bool IsRunning() const;

    // Whether findings on keys that cannot be opened for writing are dropped
    // (set on Windows 6, where such keys are common and cannot be fixed).
    void SetDropUnwritable(bool drop) { dropUnwritable_ = drop; }

    ScanGroup& Group(int index) { return *groups_[size_t(index)]; }

    void HandleFound(const tstring& keyPath, const tstring& valueName, const CheckResult& result,
                     uint32_t groupBit) override;
    void ForwardProgress(uint32_t groupBit, int32_t percent) override;
    void GroupFinished(uint32_t groupBit) override;
    void GroupFailed(uint32_t groupBit, const tstring& text) override;

    // The text a finding is announced with: its Item, or "key:value" with
    // "(Default)" for the unnamed value.
    static tstring DisplayText(const tstring& keyPath, const tstring& valueName, const CheckResult& result);
    // What an ignored finding tells the named caches: its item is settled.
    static void SettleCaches(const CheckResult& result);

private:
    bool Dropping(uint32_t groupBit) const;
    // Under the found-list mutex: the ignore test, the fix plan and the
    // record; false when the finding is dropped.
    bool Record(const tstring& keyPath, const tstring& valueName, const CheckResult& result, uint32_t groupBit,
                FoundRecord& record);
    void StopLocked();

    ScanEvents& events_;
    HANDLE foundMutex_;
    // Serialises the found events. They are raised after the found-list
    // mutex is released: a sink that reads the found list while handling an
    // event (through a proxy, on another thread) would otherwise wait for
    // the mutex that the raising thread holds until the sink returns.
    HandleHolder announceMutex_;
    FixMap& fixes_;
    const IgnoreList* ignores_;
    std::atomic<bool> stopping_{false};
    bool dropUnwritable_ = false;
    std::mutex control_;
    std::array<std::unique_ptr<ScanGroup>, GroupCount> groups_;
};

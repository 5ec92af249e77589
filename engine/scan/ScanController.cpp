#include "engine/scan/ScanController.h"
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/settings/Settings.h"
#include "engine/fix/FixPlannerRegistry.h"
#include "engine/registry/CacheTable.h"
#include "engine/registry/RegKey.h"
#include "engine/scan/PathChecks.h"
#include "engine/scan/ProgIdChecker.h"
#include "engine/scan/TypeLibFileTest.h"

namespace {

// Holds the found-list mutex for at most the list wait. A mutex left by a
// terminated group thread comes back abandoned; the list it guards is whole
// (the thread was only ever inside an event call), so it is taken.
class FoundLock {
public:
    FoundLock(HANDLE mutex, DWORD waitMs) : mutex_(mutex) {
        DWORD status = WaitForSingleObject(mutex_, waitMs);
        held_ = status == WAIT_OBJECT_0 || status == WAIT_ABANDONED;
    }
    ~FoundLock() {
        if (held_)
            ReleaseMutex(mutex_);
    }
    FoundLock(const FoundLock&) = delete;
    FoundLock& operator=(const FoundLock&) = delete;
    bool Held() const { return held_; }

private:
    HANDLE mutex_;
    bool held_ = false;
};

tstring Upper(const tstring& text) {
    tstring upper = text;
    if (!upper.empty())
        CharUpperBuffW(&upper[0], DWORD(upper.size()));
    return upper;
}

void SetWhenPresent(const wchar_t* cache, const tstring& key) {
    NamedCache* found = CacheTable::Instance().Find(cache, false);
    if (found && found->Contains(key))
        found->Set(key, true);
}

// A finding's key path lies in the 32-bit view when one of its levels is that view's key.
bool InWow64View(const tstring& keyPath) {
    size_t start = 0;
    while (start <= keyPath.size()) {
        size_t end = keyPath.find(L'\\', start);
        if (end == tstring::npos) end = keyPath.size();
        if (RegKey::IsWow64ViewName(keyPath.substr(start, end - start))) return true;
        start = end + 1;
    }
    return false;
}

void EraseWhenPresent(const wchar_t* cache, const tstring& key) {
    NamedCache* found = CacheTable::Instance().Find(cache, false);
    if (found)
        found->Erase(key);
}

int IndexOfBit(uint32_t groupBit) {
    for (int i = 0; i < ScanController::GroupCount; ++i)
        if (groupBit == (1u << i))
            return i;
    return -1;
}

}  // namespace

ScanController::ScanController(ScanEvents& events, HANDLE foundMutex, FixMap& fixes, const IgnoreList* ignores,
                               const ProcedureSource& procedures)
    : events_(events),
      foundMutex_(foundMutex),
      announceMutex_(CreateMutexW(nullptr, FALSE, nullptr)),
      fixes_(fixes),
      ignores_(ignores) {
    if (!announceMutex_.Get())
        throw BoolError();
    for (int i = 0; i < GroupCount; ++i) {
        uint32_t bit = 1u << i;
        groups_[size_t(i)].reset(new ScanGroup(this, bit, procedures ? procedures(bit) : nullptr));
    }
}

ScanController::~ScanController() {
    try {
        Stop();
    } catch (...) {
    }
    // Groups go last-built first; each still waits for a thread that outlived the stop.
    for (int i = GroupCount - 1; i >= 0; --i)
        groups_[size_t(i)].reset();
}

void ScanController::Scan(uint32_t unionsMask) {
    std::lock_guard<std::mutex> hold(control_);
    stopping_ = false;
    StopLocked();
    fixes_.Clear();
    uint32_t starting = unionsMask & 0xFFu;
    CacheTable::Instance().ResetAll(starting);
    ForgetDriveTypes();
    // Here, on the caller's thread, the settings are built and a busy file
    // read if it is free now: the groups only read the mask as it stands.
    Settings::GetSkipScanDrives();
    for (int i = 0; i < GroupCount; ++i)
        if (starting & (1u << i))
            groups_[size_t(i)]->Start();
}

void ScanController::Pause(bool paused) {
    std::lock_guard<std::mutex> hold(control_);
    for (int i = 0; i < GroupCount - 1; ++i)
        groups_[size_t(i)]->SetPause(paused);
}

void ScanController::Stop() {
    std::lock_guard<std::mutex> hold(control_);
    StopLocked();
}

void ScanController::StopLocked() {
    stopping_ = true;
    for (auto& group : groups_)
        group->RequestStop();
    try {
        CacheTable::Instance().SignalAll();
    } catch (...) {
    }
    for (auto& group : groups_) {
        try {
            group->Wait(StopWaitMs);
        } catch (const ErrorBase& e) {
            Log::Instance().Print(LogError, L"[error] Scan group %u did not stop: %s", unsigned(group->GroupBit()),
                                  e.Message().c_str());
        }
    }
    // A found handler that passed its stop test before the stop began has
    // recorded and announced its finding before Stop returns.
    {
        FoundLock recorded(foundMutex_, ListWaitMs);
        FoundLock announced(announceMutex_, ListWaitMs);
    }
    stopping_ = false;
}

bool ScanController::IsRunning() const {
    for (const auto& group : groups_)
        if (group->IsRunning())
            return true;
    return false;
}

// A group asked to stop keeps its flag until its next start, so that a thread
// that outlives Stop announces nothing more.
bool ScanController::Dropping(uint32_t groupBit) const {
    if (stopping_)
        return true;
    int index = IndexOfBit(groupBit);
    return index >= 0 && groups_[size_t(index)]->StopRequested();
}

tstring ScanController::DisplayText(const tstring& keyPath, const tstring& valueName, const CheckResult& result) {
    if (!result.Item.empty())
        return result.Item;
    return keyPath + L":" + (valueName.empty() ? tstring(L"(Default)") : valueName);
}

void ScanController::SettleCaches(const CheckResult& result) {
    const tstring& item = result.Item;
    tstring upper = Upper(item);
    SetWhenPresent(CacheTable::InvalidClsidCache, upper);
    EraseWhenPresent(CacheTable::SuspiciousProgIdCache, item);
    // ProgIDs of the 32-bit view keep their verdicts apart from the native ones.
    EraseWhenPresent(CacheTable::InvalidProgIdCache, ProgIdChecker::CacheKey(item, InWow64View(result.KeyPath)));
    SetWhenPresent(CacheTable::TypeLibCache, upper);
    SetWhenPresent(CacheTable::TypeLibCache, TypeLibFileTest::CacheKey(upper, true));
    SetWhenPresent(CacheTable::ServiceCache, upper);
    SetWhenPresent(CacheTable::AppIdCache, upper);
}

void ScanController::HandleFound(const tstring& keyPath, const tstring& valueName, const CheckResult& result,
                                 uint32_t groupBit) {
    if (Dropping(groupBit))
        return;
    FoundRecord record;
    if (!Record(keyPath, valueName, result, groupBit, record))
        return;
    FoundLock turn(announceMutex_, ListWaitMs);
    if (!turn.Held()) {
        Log::Instance().Print(LogError, L"[error] Finding not announced, the events are blocked: %s",
                              keyPath.c_str());
        return;
    }
    events_.RaiseFound(record.Item, groupBit, record.ErrorID, record.FixID);
}

bool ScanController::Record(const tstring& keyPath, const tstring& valueName, const CheckResult& result,
                            uint32_t groupBit, FoundRecord& record) {
    FoundLock hold(foundMutex_, ListWaitMs);
    if (!hold.Held()) {
        Log::Instance().Print(LogError, L"[error] Finding dropped, the found list is locked: %s", keyPath.c_str());
        return false;
    }
    int32_t fixId = 0;
    std::unique_ptr<FixEntry> entry;
    if (result.ErrorID != 0) {
        if (ignores_ && ignores_->Covers(result.KeyPath, result.ValueName)) {
            SettleCaches(result);
            return false;
        }
        if (dropUnwritable_ && OpenKeyByPath(keyPath) == ERROR_ACCESS_DENIED)
            return false;
        entry.reset(new FixEntry);
        entry->SetError(result);
        fixId = FixPlannerRegistry::Instance().Plan(keyPath, valueName, result, entry.get());
    }
    // Tested under the found-list mutex, which Stop passes through before it
    // returns: a finding dropped here leaves no record, no event and no fix.
    if (Dropping(groupBit))
        return false;
    record.Item = DisplayText(keyPath, valueName, result);
    record.Reason = result.Reason;
    record.RegUnion = groupBit;
    record.ErrorID = result.ErrorID;
    record.FixID = fixId;
    record.KeyPath = result.KeyPath;
    record.ValueName = result.ValueName;
    events_.AppendRecord(record);
    if (entry)
        fixes_.Store(fixId, std::move(entry));
    return true;
}

void ScanController::ForwardProgress(uint32_t groupBit, int32_t percent) {
    if (!Dropping(groupBit))
        events_.RaiseProgress(groupBit, percent);
}

void ScanController::GroupFinished(uint32_t groupBit) {
    events_.RaiseFinish(groupBit);
}

void ScanController::GroupFailed(uint32_t, const tstring&) {
    // The group has written the failure to the program log; its end follows.
}

#include "engine/scan/IgnoreList.h"
#include <algorithm>
#include <new>
#include <set>
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/settings/AppFolders.h"
#include "common/system/BusyFile.h"
#include "common/system/FileSaveLock.h"
#include "engine/scan/IgnoreFile.h"

namespace {

const TCHAR kSaveLockPrefix[] = _T("OrvaneIgnores-");
// A save or load waits for another saver's read-merge-write, which is short.
const DWORD kSaveLockWait = 10000;
// A listing or scan that catches up does not wait long: it tries again later.
const DWORD kCatchUpLockWait = 1000;

bool StartsWith(const tstring& text, const tstring& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

tstring Upper(tstring text) {
    if (!text.empty())
        CharUpperBuff(&text[0], DWORD(text.size()));
    return text;
}

bool ValueCovered(const tstring& valueName, const ScanRecord& record) {
    return record.ValueName.empty() || StartsWith(valueName, record.ValueName);
}

bool SameRecord(const ScanRecord& a, const ScanRecord& b) {
    return a.SameEntry(b) && a.Item == b.Item && a.Reason == b.Reason;
}

// The copy that was removed when it is still there, else another of its entry.
void RemoveOne(std::vector<ScanRecord>& records, const ScanRecord& record) {
    auto at = std::find_if(records.begin(), records.end(), [&](const ScanRecord& r) { return SameRecord(r, record); });
    if (at == records.end())
        at = std::find_if(records.begin(), records.end(), [&](const ScanRecord& r) { return r.SameEntry(record); });
    if (at != records.end())
        records.erase(at);
}

bool HoldsEntry(const std::vector<ScanRecord>& records, const ScanRecord& record) {
    return std::any_of(records.begin(), records.end(), [&](const ScanRecord& r) { return r.SameEntry(record); });
}

void LogNotLoaded(int which, const tstring& message, const TCHAR* after = _T("")) {
    Log::Instance().Print(LogError, _T("[error] Ignore list %d not loaded: %s%s"), which, message.c_str(), after);
}

}  // namespace

IgnoreList::IgnoreList(const tstring& userPath, const tstring& systemPath)
    : userPath_(userPath), systemPath_(systemPath) {}

tstring IgnoreList::Path(Which which) const {
    const tstring& given = which == User ? userPath_ : systemPath_;
    if (!given.empty())
        return given;
    tstring path = GetIgnoreFilePath(which == System, which == System);
    if (path.empty())
        throw Win32Error(ERROR_PATH_NOT_FOUND);
    return path;
}

void IgnoreList::ResetUser() {
    user_.clear();
    index_.clear();
    base_.clear();
    changes_.clear();
    loaded_ = false;
    unread_ = false;
}

void IgnoreList::AddLocked(const ScanRecord& record, Change::Kind kind) {
    user_.push_back(record);
    index_.emplace(record, BYTE(1));
    changes_.push_back(Change{kind, record});
}

// Removals take one copy each, as the list lost one; an addition of an entry
// that another saver put in since this object last read the file would only
// list it twice.
std::vector<ScanRecord> IgnoreList::Replay(std::vector<ScanRecord> records, const std::vector<ScanRecord>& base,
                                           const std::vector<Change>& changes) {
    std::set<ScanRecord> known(base.begin(), base.end()), theirs;
    for (const ScanRecord& record : records)
        if (!known.count(record))
            theirs.insert(record);
    for (const Change& change : changes) {
        if (change.kind == Change::Removal)
            RemoveOne(records, change.record);
        else if (!theirs.count(change.record) &&
                 !(change.kind == Change::AdditionIfAbsent && HoldsEntry(records, change.record)))
            records.push_back(change.record);
    }
    return records;
}

// The file's records with this object's changes still to be saved on top.
void IgnoreList::Adopt(const std::vector<ScanRecord>& records) {
    CriticalSectionLock hold(lock_);
    base_ = records;
    user_ = Replay(records, records, changes_);
    index_.clear();
    for (const ScanRecord& record : user_)
        index_.emplace(record, BYTE(1));
    loaded_ = true;
    unread_ = false;
}

bool IgnoreList::ReadUserFile(const tstring& path, int attempts, bool create) {
    IgnoreFileRead read = ReadIgnoreFileSettled(path, ShortRecordFlag::AnyNonZero, attempts);
    switch (read.state) {
    case IgnoreFileRead::Read: {
        std::vector<ScanRecord> full;
        for (const ScanRecord& record : read.records)
            if (record.Flag == 0)
                full.push_back(record);
        Adopt(full);
        return true;
    }
    case IgnoreFileRead::Missing:
        if (!create)
            return false;
        WriteIgnoreFile(path, std::vector<ScanRecord>());
        Adopt(std::vector<ScanRecord>());
        return true;
    case IgnoreFileRead::Damaged: {
        // Every later save would have to refuse it; the user's list is kept
        // for whoever wants to look at it, and an empty one takes its place.
        int32_t moved = SetDamagedFileAside(path);
        if (moved != 0) {
            Log::Instance().Print(LogError,
                                  _T("[error] The ignore list %s is damaged (%s) and cannot be set aside (0x%08X)"),
                                  path.c_str(), read.message.c_str(), unsigned(moved));
            break;
        }
        WriteIgnoreFile(path, std::vector<ScanRecord>());
        Adopt(std::vector<ScanRecord>());
        Log::Instance().Print(LogError,
                              _T("[error] The ignore list %s was damaged (%s); kept as %s, a new one written"),
                              path.c_str(), read.message.c_str(), DamagedFileCopy(path).c_str());
        return false;
    }
    default:
        LogNotLoaded(int(User), read.message,
                     read.state == IgnoreFileRead::Busy ? _T("; it is read again before the next save") : _T(""));
        break;
    }
    CriticalSectionLock hold(lock_);
    unread_ = true;
    return false;
}

int32_t IgnoreList::Load(Which which) {
    {
        CriticalSectionLock hold(lock_);
        if (which == User)
            ResetUser();
        else
            system_.clear();
    }
    try {
        tstring path = Path(which);
        if (which == User) {
            FileSaveLock saving(kSaveLockPrefix, path, kSaveLockWait);
            if (!saving.Owned())
                throw Win32Error(ERROR_TIMEOUT);
            return ReadUserFile(path, kBusyFileAttempts, true) ? 0 : -1;
        }
        IgnoreFileRead read = ReadIgnoreFileSettled(path, ShortRecordFlag::AnyNonZero, kBusyFileAttempts);
        // Most installations have no system list.
        if (read.state == IgnoreFileRead::Missing)
            return -1;
        if (read.state != IgnoreFileRead::Read)
            throw ErrorBase(read.code, read.message);
        CriticalSectionLock hold(lock_);
        // A full record here is the installation's wish that the user's file
        // holds it too, once.
        for (ScanRecord& record : read.records) {
            if (record.Flag != 0)
                system_.push_back(record);
            else
                AddLocked(record, Change::AdditionIfAbsent);
        }
        return 0;
    } catch (const ErrorBase& e) {
        LogNotLoaded(int(which), e.Message());
        if (which == User && e.Code() != FoldWin32(ERROR_PATH_NOT_FOUND)) {
            CriticalSectionLock hold(lock_);
            unread_ = true;
        }
    } catch (const std::bad_alloc&) {
        LogNotLoaded(int(which), _T("out of memory"));
    }
    return -1;
}

bool IgnoreList::Loaded() const {
    CriticalSectionLock hold(lock_);
    return loaded_;
}

bool IgnoreList::Unread() const {
    CriticalSectionLock hold(lock_);
    return unread_;
}

// A file still out of reach is tried again at the next use; its failure is
// no failure of the listing or scan that asked.
void IgnoreList::CatchUp() {
    if (!Unread())
        return;
    try {
        tstring path = Path(User);
        FileSaveLock saving(kSaveLockPrefix, path, kCatchUpLockWait);
        if (saving.Owned())
            ReadUserFile(path, 1, false);
    } catch (const ErrorBase& e) {
        LogNotLoaded(int(User), e.Message());
    } catch (const std::bad_alloc&) {
    }
}

void IgnoreList::Save() {
    tstring path = Path(User);
    FileSaveLock saving(kSaveLockPrefix, path, kSaveLockWait);
    if (!saving.Owned())
        throw Win32Error(ERROR_TIMEOUT);
    IgnoreFileRead read = ReadIgnoreFileSettled(path, ShortRecordFlag::AnyNonZero, kBusyFileAttempts);
    std::vector<ScanRecord> base;
    std::vector<Change> changes;
    {
        CriticalSectionLock hold(lock_);
        base = base_;
        changes = changes_;
    }
    std::vector<ScanRecord> records;
    if (read.state == IgnoreFileRead::Read) {
        for (const ScanRecord& record : read.records)
            if (record.Flag == 0)
                records.push_back(record);
    } else if (read.state == IgnoreFileRead::Damaged) {
        int32_t moved = SetDamagedFileAside(path);
        if (moved != 0)
            throw ErrorBase(read.code, read.message);
        Log::Instance().Print(LogError, _T("[error] The ignore list %s was damaged (%s); kept as %s"), path.c_str(),
                              read.message.c_str(), DamagedFileCopy(path).c_str());
        // What this object last had from the file is all that is left of it.
        records = base;
    } else if (read.state != IgnoreFileRead::Missing) {
        // Writing now would replace records this object never saw.
        Log::Instance().Print(LogError, _T("[error] Ignore list not saved: %s; the file is left as it is"),
                              read.message.c_str());
        CriticalSectionLock hold(lock_);
        unread_ = true;
        throw ErrorBase(read.code, read.message);
    }
    std::vector<ScanRecord> merged = Replay(records, base, changes);
    WriteIgnoreFile(path, merged);
    CriticalSectionLock hold(lock_);
    // Changes made while the file was written wait for the next save.
    changes_.erase(changes_.begin(), changes_.begin() + std::min(changes.size(), changes_.size()));
    base_ = merged;
    user_ = Replay(merged, merged, changes_);
    index_.clear();
    for (const ScanRecord& record : user_)
        index_.emplace(record, BYTE(1));
    loaded_ = true;
    unread_ = false;
}

void IgnoreList::Export(const tstring& path) {
    CatchUp();
    WriteIgnoreFile(path, UserRecords());
}

void IgnoreList::Import(const tstring& path) {
    std::vector<ScanRecord> records = ReadIgnoreFile(path, ShortRecordFlag::One);
    // The index must know what the file holds now.
    CatchUp();
    {
        CriticalSectionLock hold(lock_);
        for (ScanRecord& record : records) {
            if (record.Flag == 1 || index_.count(record))
                continue;
            // Imported records become the engine's own full records.
            record.Flag = 0;
            AddLocked(record, Change::Addition);
        }
    }
    Save();
}

void IgnoreList::Add(const ScanRecord& record) {
    CriticalSectionLock hold(lock_);
    AddLocked(record, Change::Addition);
}

bool IgnoreList::Remove(int32_t position) {
    CriticalSectionLock hold(lock_);
    if (position < 1 || size_t(position) > user_.size())
        return false;
    auto at = user_.begin() + (position - 1);
    changes_.push_back(Change{Change::Removal, *at});
    index_.erase(*at);
    user_.erase(at);
    return true;
}

// The records this object lists go; another saver's new ones, which the user
// has not seen, stay.
void IgnoreList::Dismiss() {
    CriticalSectionLock hold(lock_);
    for (const ScanRecord& record : user_)
        changes_.push_back(Change{Change::Removal, record});
    user_.clear();
    index_.clear();
}

bool IgnoreList::Covers(const tstring& keyPath, const tstring& valueName) const {
    CriticalSectionLock hold(lock_);
    for (const ScanRecord& record : user_)
        if (StartsWith(keyPath, record.KeyPath) && ValueCovered(valueName, record))
            return true;
    if (system_.empty())
        return false;
    tstring upperKey = Upper(keyPath);
    for (const ScanRecord& record : system_)
        if (StartsWith(upperKey, Upper(record.KeyPath)) && ValueCovered(valueName, record))
            return true;
    return false;
}

std::vector<ScanRecord> IgnoreList::UserRecords() const {
    CriticalSectionLock hold(lock_);
    return user_;
}

std::vector<ScanRecord> IgnoreList::SystemRecords() const {
    CriticalSectionLock hold(lock_);
    return system_;
}

bool IgnoreList::Knows(const ScanRecord& record) const {
    CriticalSectionLock hold(lock_);
    return index_.count(record) != 0;
}

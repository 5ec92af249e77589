#include "engine/scan/IgnoreList.h"
#include <new>
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/settings/AppFolders.h"
#include "engine/scan/IgnoreFile.h"

namespace {

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

bool FileExists(const tstring& path) {
    return GetFileAttributes(path.c_str()) != INVALID_FILE_ATTRIBUTES;
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
    loaded_ = false;
}

void IgnoreList::AddLocked(const ScanRecord& record) {
    user_.push_back(record);
    index_.emplace(record, BYTE(1));
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
        std::vector<ScanRecord> records;
        if (which == User && !FileExists(path))
            WriteIgnoreFile(path, records);
        else
            records = ReadIgnoreFile(path, ShortRecordFlag::AnyNonZero);
        CriticalSectionLock hold(lock_);
        for (ScanRecord& record : records) {
            if (record.Flag == 0)
                AddLocked(record);
            else if (which == System)
                system_.push_back(record);
        }
        if (which == User)
            loaded_ = true;
        return 0;
    } catch (const ErrorBase& e) {
        // Most installations have no system list.
        bool missing = e.Code() == int32_t(0x80070002) || e.Code() == int32_t(0x80070003);
        if (which == User || !missing)
            Log::Instance().Print(LogError, _T("[error] Ignore list %d not loaded: %s"), int(which),
                                  e.Message().c_str());
    } catch (const std::bad_alloc&) {
        Log::Instance().Print(LogError, _T("[error] Ignore list %d not loaded: out of memory"), int(which));
    }
    return -1;
}

bool IgnoreList::Loaded() const {
    CriticalSectionLock hold(lock_);
    return loaded_;
}

void IgnoreList::Save() const {
    WriteIgnoreFile(Path(User), UserRecords());
}

void IgnoreList::Export(const tstring& path) const {
    WriteIgnoreFile(path, UserRecords());
}

void IgnoreList::Import(const tstring& path) {
    std::vector<ScanRecord> records = ReadIgnoreFile(path, ShortRecordFlag::One);
    {
        CriticalSectionLock hold(lock_);
        for (ScanRecord& record : records) {
            if (record.Flag == 1 || index_.count(record))
                continue;
            // Imported records become the engine's own full records.
            record.Flag = 0;
            AddLocked(record);
        }
    }
    Save();
}

void IgnoreList::Add(const ScanRecord& record) {
    CriticalSectionLock hold(lock_);
    AddLocked(record);
}

bool IgnoreList::Remove(int32_t position) {
    CriticalSectionLock hold(lock_);
    if (position < 1 || size_t(position) > user_.size())
        return false;
    auto at = user_.begin() + (position - 1);
    index_.erase(*at);
    user_.erase(at);
    return true;
}

void IgnoreList::Dismiss() {
    CriticalSectionLock hold(lock_);
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

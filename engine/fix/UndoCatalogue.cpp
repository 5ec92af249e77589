#include "engine/fix/UndoCatalogue.h"
#include <algorithm>
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/system/FileSystem.h"
#include "common/system/HandleHolder.h"
#include "common/system/TimeText.h"
#include "engine/fix/UndoFile.h"

namespace {

SYSTEMTIME ToSystemTime(const FILETIME& time) {
    SYSTEMTIME result;
    if (!FileTimeToSystemTime(&time, &result))
        throw HRError(E_INVALIDARG);
    return result;
}

SYSTEMTIME ToLocalTime(const FILETIME& utc) {
    FILETIME local;
    if (!FileTimeToLocalFileTime(&utc, &local))
        throw HRError(E_INVALIDARG);
    return ToSystemTime(local);
}

FILETIME ToFileTime(const SYSTEMTIME& time) {
    FILETIME result = {};
    SystemTimeToFileTime(&time, &result);
    return result;
}

// Ties (files of the same time) are ordered by name, so a listing is the same
// every time.
bool Earlier(const UndoFileInfo& a, const UndoFileInfo& b) {
    FILETIME ta = ToFileTime(a.Time), tb = ToFileTime(b.Time);
    LONG order = CompareFileTime(&ta, &tb);
    return order != 0 ? order < 0 : a.FileName.CompareNoCase(b.FileName.c_str()) < 0;
}

int MonthIndex(const SYSTEMTIME& time) {
    return int(time.wYear) * 12 + int(time.wMonth) - 1;
}

}  // namespace

FILETIME UndoClock::Now() const {
    return CurrentFileTime();
}

FILETIME UndoClock::CreationTime(const tstring& path, const WIN32_FIND_DATAW& found) const {
    return found.ftCreationTime;
}

const UndoClock& UndoClock::System() {
    static const UndoClock clock;
    return clock;
}

UndoCatalogue::UndoCatalogue(const tstring& folder, const UndoClock& clock) : folder_(folder), clock_(clock) {
    if (!folder_.empty() && folder_[folder_.size() - 1] != L'\\' && folder_[folder_.size() - 1] != L'/')
        folder_ += L"\\";
}

std::vector<UndoFileInfo> UndoCatalogue::List() const {
    std::vector<UndoFileInfo> list;
    // Without a folder the search would run in the current directory.
    if (folder_.empty())
        return list;
    WIN32_FIND_DATAW found;
    FindHandleHolder search(FindFirstFileW((folder_ + L"*.dat").c_str(), &found));
    if (!search.IsValid())
        return list;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        tstring path = folder_ + found.cFileName;
        FILETIME created = clock_.CreationTime(path, found);
        SYSTEMTIME local = ToLocalTime(created);
        UndoFileInfo info;
        info.FileName = found.cFileName;
        info.DateText = TimeText(local);
        info.Time = ToSystemTime(created);
        info.FixesCount = 0;
        switch (CheckUndoFile(path, info.FixesCount)) {
        case UndoFileListable:
            list.push_back(info);
            break;
        case UndoFileUsedUp:
            DeleteFileW(path.c_str());
            break;
        case UndoFileSuspect:
            // Kept: a damaged file may still be the only record of fixes
            // someone wants back, and one in use belongs to a running session.
            Log::Instance().Print(LogError, L"[error] Undo file skipped (damaged, newer or in use): %s", path.c_str());
            break;
        default:
            break;
        }
    } while (FindNextFileW(search, &found));
    search.CloseNoThrow();
    std::sort(list.begin(), list.end(), Earlier);
    return list;
}

void UndoCatalogue::Purge() const {
    std::vector<UndoFileInfo> list = List();
    if (list.size() <= KeptFiles)
        return;
    // Entry times are UTC, so the month they are compared with is too.
    int current = MonthIndex(ToSystemTime(clock_.Now()));
    std::sort(list.begin(), list.end(), [](const UndoFileInfo& a, const UndoFileInfo& b) { return Earlier(b, a); });
    for (size_t i = KeptFiles; i < list.size(); ++i)
        if (MonthIndex(list[i].Time) < current)
            DeleteFileW((folder_ + list[i].FileName).c_str());
}

tstring UndoCatalogue::FormatFileName(const SYSTEMTIME& t, DWORD processId) {
    return FormatText(L"%.2u%.2u%.4u%.2u%.2u%.2u%.3u%u%u.dat", unsigned(t.wMonth), unsigned(t.wDay),
                      unsigned(t.wYear), unsigned(t.wHour), unsigned(t.wMinute), unsigned(t.wSecond),
                      unsigned(t.wMilliseconds), unsigned(processId), unsigned(processId));
}

tstring UndoCatalogue::NewFileName() const {
    if (folder_.empty())
        throw ErrorBase(E_FAIL, L"No undo folder");
    Purge();
    tstring name = FormatFileName(ToLocalTime(clock_.Now()), GetCurrentProcessId());
    tstring path = folder_ + name;
    tstring stem = path.substr(0, path.size() - 4);
    for (int n = 2; GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; ++n)
        path = FormatText(L"%s-%d.dat", stem.c_str(), n);
    return path;
}

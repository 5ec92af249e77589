#include "jobs/JobKind.h"
#include <vector>
#include "jobs/SchedulerStrings.h"

const JobKind kAllJobKinds[3] = {CompactJob, BackupJob, ScanFixJob};

const TCHAR* KindText(JobKind kind) {
    switch (kind) {
    case BackupJob:
        return _T(" backup");
    case CompactJob:
        return _T(" compact");
    default:
        return _T(" scan and fix");
    }
}

tstring TaskName(int kind) {
    switch (kind) {
    case BackupJob:
        return _T("-BACKUP");
    case CompactJob:
        return _T("-COMPACT");
    case ScanFixJob:
        return _T("-SCANFIX");
    default:
        return tstring();
    }
}

UINT KindCommentId(JobKind kind) {
    switch (kind) {
    case BackupJob:
        return IDS_BACKUP_TASK_COMMENT;
    case CompactJob:
        return IDS_COMPACT_TASK_COMMENT;
    default:
        return IDS_SCAN_TASK_COMMENT;
    }
}

const TCHAR* StateFileName(JobKind kind) {
    switch (kind) {
    case BackupJob:
        return _T("backup");
    case CompactJob:
        return _T("compact");
    default:
        return _T("scanfix");
    }
}

tstring JobKey(const tstring& sidText, JobKind kind) {
    return sidText + KindText(kind);
}

tstring JobNameForUser(const tstring& userName, JobKind kind) {
    tstring name = userName;
    for (TCHAR& c : name) {
        if (c < 0x20 || _tcschr(_T(".<>:\"/\\|?*"), c))
            c = _T('_');
    }
    return name + KindText(kind);
}

TASK_TRIGGER DefaultTrigger(JobKind kind) {
    TASK_TRIGGER trigger = {};
    trigger.cbTriggerSize = sizeof(TASK_TRIGGER);
    trigger.TriggerType = TASK_TIME_TRIGGER_WEEKLY;
    trigger.Type.Weekly.rgfDaysOfTheWeek = TASK_SATURDAY;
    trigger.wStartHour = 1;
    switch (kind) {
    case BackupJob:
        trigger.Type.Weekly.WeeksInterval = 2;
        trigger.wStartMinute = 0;
        break;
    case CompactJob:
        trigger.Type.Weekly.WeeksInterval = 4;
        trigger.wStartMinute = 40;
        break;
    default:
        trigger.Type.Weekly.WeeksInterval = 1;
        trigger.wStartMinute = 20;
        break;
    }
    return trigger;
}

std::string KeyWorkItemData(const tstring& key) {
    std::string data(key.size() * 2, '\0');
    if (!key.empty())
        WideCharToMultiByte(CP_ACP, 0, key.c_str(), int(key.size()), &data[0], int(data.size()), nullptr, nullptr);
    return data;
}

bool WorkItemDataHoldsKey(const BYTE* data, WORD count, const tstring& key) {
    if (!data || key.empty())
        return false;
    WORD length = 0;
    while (length < count && data[length])
        ++length;
    int wide = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(data), length, nullptr, 0);
    if (wide <= 0)
        return false;
    std::vector<wchar_t> text(wide);
    MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(data), length, text.data(), wide);
    return size_t(wide) >= key.size() && std::equal(key.begin(), key.end(), text.begin());
}

#pragma once
#include <windows.h>
#include <mstask.h>
#include "common/tstring/tstring.h"

// The three unattended operations a user schedules; the number is the
// operation code of the command line.
enum JobKind {
    BackupJob = 1,
    CompactJob = 2,
    ScanFixJob = 3,
};

// Every kind, in the order the scheduler page and the compaction library read them.
extern const JobKind kAllJobKinds[3];

// " backup", " compact", " scan and fix": the tail of a job's name and key.
const TCHAR* KindText(JobKind kind);
// "-BACKUP", "-COMPACT", "-SCANFIX"; empty for any other number.
tstring TaskName(int kind);
// String-table id of the job's comment.
UINT KindCommentId(JobKind kind);
// The job state file in the data folder: "backup", "compact", "scanfix".
const TCHAR* StateFileName(JobKind kind);

// The key a job is found by: the user's SID text and the kind text.
tstring JobKey(const tstring& sidText, JobKind kind);

// A user name made fit for a work-item name: the Task Scheduler refuses names
// with '.', and characters no file name may hold would name no job file.
tstring JobNameForUser(const tstring& userName, JobKind kind);

// Weekly on Saturdays: scan and fix every week at 01:20, backup every 2 weeks
// at 01:00, compaction every 4 weeks at 01:40. Begin date and the rest zero.
TASK_TRIGGER DefaultTrigger(JobKind kind);

// The work-item data of a key: the key in the ANSI code page, its NUL and
// zeros up to twice the key's length in bytes.
std::string KeyWorkItemData(const tstring& key);
// Whether work-item data of count bytes holds the key: its text, read no
// further than its byte count, begins with the key.
bool WorkItemDataHoldsKey(const BYTE* data, WORD count, const tstring& key);

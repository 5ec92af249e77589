#pragma once
#include <windows.h>
#include <memory>
#include "app/mainview/BackupJob.h"
#include "common/tstring/tstring.h"

struct ICrawler;

// What a scheduled run needs of the main view: its background page, its
// flags, and a scan started the way the view starts one.
class ScheduledRunnerView {
public:
    virtual ~ScheduledRunnerView() = default;
    // Remembers the current page and shows the background-operation page
    // with the operation's number as its query.
    virtual void ShowBackgroundPage(int operation) = 0;
    virtual void RestorePage() = 0;
    virtual void SetRunning(bool running) = 0;
    // While quiet, engine events make no script calls.
    virtual void SetQuiet(bool quiet) = 0;
    // A fresh engine connection scanning mask; null when the scan did not start.
    virtual ICrawler* StartScan(LONG mask) = 0;
    // The categories whose finish the engine has reported since StartScan.
    virtual LONG FinishedMask() = 0;
    // Stops a scan that ran out of time.
    virtual void StopScan(ICrawler* crawler);
};

// Carries out one queued operation without a person in front of it:
// 1 backup, 2 compaction request, 3 scan and fix. Called with the operation
// lock taken; ends it itself, once, when the outermost run is done (a scan
// and fix may run a backup first, as a run of its own).
class ScheduledRunner {
public:
    enum { Backup = 1, Compact = 2, ScanFix = 3 };
    // Every category but names with embedded NULs (128).
    static constexpr LONG kScanMask = 0xFF & ~128L;
    explicit ScheduledRunner(ScheduledRunnerView& view) : view_(view) {}
    void Run(int operation);

    // A scan whose categories have not all finished after this long is
    // stopped and reported as not fixed: nobody watches a scheduled run.
    void SetScanWaitLimit(DWORD milliseconds) { scanWaitLimit_ = milliseconds; }
    static constexpr DWORD kScanWaitLimit = 4 * 60 * 60 * 1000;

    // A backup that has not ended after this long is given up: a write to a
    // disk that stopped answering must not hold the program, its lock and
    // every later run for ever. The fix's automatic backup has the same limit.
    void SetBackupWaitLimit(DWORD milliseconds) { backupWaitLimit_ = milliseconds; }
    static constexpr DWORD kBackupWaitLimit = 3 * 60 * 60 * 1000;

    // The automatic backup's file: "registry_backup_<date>.bkp" in folder,
    // then " (2)", " (3)"... while the name is taken.
    static tstring BackupFileName(const tstring& folder, const SYSTEMTIME& date);
    // Runs a backup on a worker thread while the messages are pumped, for at
    // most limit; the error text, empty on success.
    static tstring RunBackup(DWORD limit);
    // Starts the backup worker on the job. A job that posts its end is given
    // up by a thread of its own once limit has passed, and that end posted.
    // False when no thread could start; the job has then ended with that error.
    static bool StartBackup(const std::shared_ptr<BackupJob>& job, DWORD limit);
    // Pumps messages until the job is done or limit has passed; then the job
    // is given up, unless it has committed meanwhile.
    static void WaitForBackup(BackupJob& job, DWORD limit);
    // On Windows 6 the compaction library's RunOnce value, elsewhere the
    // shared request "CompactAll"; never both.
    static void RequestCompaction(bool windows6);

private:
    void RunBackupJob();
    void RunCompactJob();
    void RunScanFixJob();
    // Running flag off, the close command and the remembered page back.
    void GiveBackView();
    ScheduledRunnerView& view_;
    DWORD scanWaitLimit_ = kScanWaitLimit;
    DWORD backupWaitLimit_ = kBackupWaitLimit;
    int depth_ = 0;
};

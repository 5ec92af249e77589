#include "app/mainview/ScheduledRunner.h"
#include <process.h>
#include <exception>
#include <functional>
#include "app/AppUtilities.h"
#include "app/html/HtmlPage.h"
#include "app/OperationLock.h"
#include "app/resource.h"
#include "common/com/ComPtr.h"
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/settings/AppFolders.h"
#include "common/settings/Settings.h"
#include "common/system/FileSystem.h"
#include "common/system/OsVersion.h"
#include "common/tstring/tstring.h"
#include "engine/engine.h"
#include "hives/BackupManager.h"
#include "hives/CompactFlags.h"
#include "hives/SystemRestart.h"
#include "mail/MailNotifier.h"

namespace {

void MakeBackup(BackupJob& job) {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    job.SetFile(ScheduledRunner::BackupFileName(job.folder, now));
    BackupManager manager;
    manager.SetProgress(&job.progress);
    manager.SetGate(&job.gate);
    // No one answers a box here: a damaged list is set aside (logged) and
    // the backup goes into a new one; a list in use fails the backup, since
    // the new entry could only be written over the user's list.
    tstring unread;
    if (manager.LoadKeepingDamaged(GetBackupListPath(), &unread) == BackupCatalogue::ListUnreadable)
        throw ErrorBase(HRESULT_FROM_WIN32(ERROR_BUSY), L"The backup files list cannot be read: " + unread);
    manager.Create(1, job.File(), L"Queued automatic backup", job.retention);
}

void PostEnd(BackupJob& job) {
    if (!job.notify || job.eventName.empty()) return;
    VARIANT param;
    VariantInit(&param);
    param.vt = VT_BSTR;
    param.bstrVal = SysAllocStringLen(job.param.c_str(), UINT(job.param.size()));
    if (!job.notify->PostEvent(job.eventName.c_str(), &param))
        Log::Instance().Print(LogError, L"[error] The end of the backup could not be posted.");
    VariantClear(&param);
}

// Each thread's own reference: the job outlives whoever started it.
struct JobStart {
    std::shared_ptr<BackupJob> job;
    DWORD limit;
};

unsigned __stdcall BackupWorker(void* argument) {
    std::unique_ptr<JobStart> start(static_cast<JobStart*>(argument));
    BackupJob& job = *start->job;
    HRESULT init = CoInitialize(nullptr);
    // Every failure must carry a text: an empty one reads as success.
    tstring error;
    try {
        MakeBackup(job);
    } catch (const ErrorBase& e) {
        error = e.Message().empty() ? tstring(L"The backup failed.") : e.Message();
    } catch (const std::exception& e) {
        error = FormatText(L"The backup failed: %hs", e.what());
    } catch (...) {
        error = L"The backup failed.";
    }
    if (SUCCEEDED(init)) CoUninitialize();
    if (job.EndWith(error))
        PostEnd(job);
    else
        // Given up long ago and reported so: its end is nobody's news.
        Log::Instance().Print(LogInfo, L"[info] The backup given up at its limit has returned: %s",
                              error.empty() ? L"made" : error.c_str());
    return 0;
}

// Nobody may wait for the worker's post for ever: at the limit this thread
// gives the backup up and posts the end in its place.
unsigned __stdcall BackupLimit(void* argument) {
    std::unique_ptr<JobStart> start(static_cast<JobStart*>(argument));
    BackupJob& job = *start->job;
    if (WaitForSingleObject(job.EndedEvent(), start->limit) == WAIT_TIMEOUT && job.EndAtLimit(start->limit))
        PostEnd(job);
    return 0;
}

bool StartThread(unsigned(__stdcall* procedure)(void*), const std::shared_ptr<BackupJob>& job, DWORD limit) {
    auto* start = new JobStart{job, limit};
    uintptr_t thread = _beginthreadex(nullptr, 0, procedure, start, 0, nullptr);
    if (!thread) {
        delete start;
        return false;
    }
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

// Polls every 100 ms, but wakes for every message meanwhile: the engine's
// events reach this apartment as calls that wait until it pumps.
void WaitPolling(DWORD limit, const std::function<bool()>& done) {
    DWORD start = GetTickCount();
    while (!done() && GetTickCount() - start < limit) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
        PumpMessages();
    }
}

}  // namespace

tstring ScheduledRunner::BackupFileName(const tstring& folder, const SYSTEMTIME& date) {
    tstring day = FormatText(L"%.4d-%.2d-%.2d", date.wYear, date.wMonth, date.wDay);
    tstring base = FormatText(tstring(MAKEINTRESOURCEW(IDS_BACKUP_NAME)).c_str(), day.c_str());
    tstring prefix = folder;
    if (prefix.empty() || (prefix.back() != L'\\' && prefix.back() != L'/')) prefix += L"\\";
    tstring file = prefix + base + L".bkp";
    for (unsigned n = 2; FileExists(file); ++n)
        file = prefix + FormatText(L"%s (%u)", base.c_str(), n) + L".bkp";
    return file;
}

bool ScheduledRunner::StartBackup(const std::shared_ptr<BackupJob>& job, DWORD limit) {
    // The limit's thread first: a backup must not run without one.
    bool posts = job->notify && !job->eventName.empty();
    if ((!posts || StartThread(BackupLimit, job, limit)) && StartThread(BackupWorker, job, limit)) return true;
    // Ends the limit's thread too, should it have started.
    job->EndWith(L"The backup could not be started.");
    return false;
}

void ScheduledRunner::WaitForBackup(BackupJob& job, DWORD limit) {
    WaitPolling(limit, [&job] { return job.Done(); });
    if (!job.Done()) job.EndAtLimit(limit);
}

tstring ScheduledRunner::RunBackup(DWORD limit) {
    Settings& settings = GetSettings();
    auto job = std::make_shared<BackupJob>();
    job->folder = settings.BackupFolder();
    job->retention = settings.GetBackupRetentionSwitch();
    if (StartBackup(job, limit)) WaitForBackup(*job, limit);
    return job->Error();
}

void ScheduledRunner::RequestCompaction(bool windows6) {
    if (windows6) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", 0, nullptr, 0,
                            KEY_READ | KEY_WOW64_64KEY | KEY_CREATE_SUB_KEY | KEY_SET_VALUE, nullptr, &key,
                            nullptr) == ERROR_SUCCESS) {
            static const char command[] = "rundll32.exe OrvaneCompact.dll,OnRunOnce";
            RegSetValueExA(key, "QUARN OrvaneCompact", 0, REG_SZ, reinterpret_cast<const BYTE*>(command),
                           sizeof(command));
            RegCloseKey(key);
        }
        return;
    }
    try {
        CompactFlags flags;
        flags.Open(false);
        flags.SetAll();
    } catch (const ErrorBase& e) {
        Log::Instance().Print(LogError, L"[error] Scheduled compaction request: %s", e.Message().c_str());
    }
}

void ScheduledRunner::Run(int operation) {
    // The program's settings were read when it started; the pages have
    // changed them since through the engine, which stores them at once.
    if (depth_ == 0) {
        int32_t code = GetSettings().Reload();
        if (code != 0)
            Log::Instance().Print(LogError, L"[error] The settings could not be read again (0x%08X); the run uses those read before.",
                                  static_cast<unsigned>(code));
    }
    // The backup ahead of a scan and fix is a whole run of its own, shown on
    // its own background page and quiet; only the lock and the quiet mode stay
    // with the outer run, so that nothing queued or clicked starts between the
    // backup and the scan.
    if (operation == ScanFix && depth_ == 0 && GetSettings().GetAutoFix() && GetSettings().GetAutoBackupSwitch()) {
        ++depth_;
        try {
            Run(Backup);
        } catch (...) {
            --depth_;
            throw;
        }
        --depth_;
    }
    view_.ShowBackgroundPage(operation);
    view_.SetRunning(true);
    EnableMenuItem(GetSystemMenu(GetMainWindow(), FALSE), SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
    PumpMessages();
    view_.SetQuiet(true);
    try {
        switch (operation) {
            case Backup: RunBackupJob(); break;
            case Compact: RunCompactJob(); break;
            case ScanFix: RunScanFixJob(); break;
        }
    } catch (...) {
        // The frame ends the lock and the quiet mode; the window must not
        // stay on the background page with its close command gray.
        GiveBackView();
        throw;
    }
    PumpMessages();
    GiveBackView();
    PumpMessages();
    if (depth_ > 0) return;
    EndOperation();
    view_.SetQuiet(false);
}

void ScheduledRunner::GiveBackView() {
    view_.SetRunning(false);
    EnableMenuItem(GetSystemMenu(GetMainWindow(), FALSE), SC_CLOSE, MF_BYCOMMAND | MF_ENABLED);
    view_.RestorePage();
}

void ScheduledRunner::RunBackupJob() {
    // A backup given up at its limit is failed like any other, and the run
    // ends: the lock goes back and the next queued run may start.
    tstring error = RunBackup(backupWaitLimit_);
    // Logged in every case: with mail off the log is the only trace.
    if (error.empty())
        Log::Instance().Print(LogInfo, L"[info] Scheduled backup created.");
    else
        Log::Instance().Print(LogError, L"[error] Scheduled backup failed: %s", error.c_str());
    Settings& settings = GetSettings();
    if (settings.GetReportMailSwitch())
        MailNotifier(settings.GetReportMail(), settings.GetReportMailServer()).SendBackupMail(error);
}

void ScheduledRunner::RunCompactJob() {
    RequestCompaction(IsWindowsMajor6());
    Settings& settings = GetSettings();
    if (settings.GetReportMailSwitch())
        MailNotifier(settings.GetReportMail(), settings.GetReportMailServer()).SendCompactMail();
    if (settings.GetAutoReboot())
        GetSystemRestart().InitiateShutdown(
            L"QUARN Orvane is going to reboot your system to complete registry compact.", 30, false, true,
            0x80040001);
}

void ScheduledRunnerView::StopScan(ICrawler* crawler) { crawler->Stop(); }

void ScheduledRunner::RunScanFixJob() {
    // Held for the run: the view may connect another engine meanwhile.
    ComPtr<ICrawler> crawler = view_.StartScan(kScanMask);
    Settings& settings = GetSettings();
    if (!crawler) {
        Log::Instance().Print(LogError, L"[error] Scheduled scan did not start.");
        // Mailed all the same: a report that never comes reads as no news.
        if (settings.GetReportMailSwitch())
            MailNotifier(settings.GetReportMail(), settings.GetReportMailServer())
                .SendScanFixMail(0, false, tstring(), false);
        return;
    }
    WaitPolling(scanWaitLimit_, [this] { return (view_.FinishedMask() & kScanMask) == kScanMask; });
    bool stopped = (view_.FinishedMask() & kScanMask) != kScanMask;
    if (stopped) {
        view_.StopScan(crawler);
        Log::Instance().Print(LogError, L"[error] Scheduled scan did not finish within %lu ms; stopped.",
                              static_cast<unsigned long>(scanWaitLimit_));
    }
    LONG count = 0;
    crawler->get_Count(&count);
    bool fixed = false;
    tstring report;
    if (!stopped && settings.GetAutoFix() && count > 0) {
        HRESULT hr = crawler->BeginFixSession();
        if (FAILED(hr)) throw HRError(hr);
        BSTR text = nullptr;
        HRESULT fix = crawler->FixAllErrors(&text);
        if (text) {
            report = text;
            SysFreeString(text);
        }
        HRESULT end = crawler->FinalizeFixSession();
        fixed = SUCCEEDED(fix) && SUCCEEDED(end);
    }
    Log::Instance().Print(LogInfo, L"[info] Scheduled scan found %ld problems; %s.", static_cast<long>(count),
                          fixed ? L"fixed" : L"not fixed");
    if (settings.GetReportMailSwitch())
        MailNotifier(settings.GetReportMail(), settings.GetReportMailServer())
            .SendScanFixMail(count, fixed, report, !stopped);
}

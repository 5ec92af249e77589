#pragma once
#include <windows.h>
#include "app/html/HtmlPage.h"
#include "common/com/ComPtr.h"
#include "hives/BackupManager.h"

class ProgressWindow;

// The page "regBackup.htm": the known backups, a new backup, adding an
// existing file, comments, deleting and restoring. A new backup and a restore
// run on worker threads that report back through posted events; the page
// stays disabled meanwhile.
class BackupPage : public HtmlPage {
public:
    BackupPage();
    ~BackupPage() override;

    const wchar_t* PageName() const override { return L"regBackup.htm"; }
    DWORD HelpContextId() const override { return 5; }
    int OnHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) override;

    // What the main view sets each time it shows the page.
    void SetOptions(bool retention, const tstring& backupFolder, IUnknown* engine);

    BackupManager& Manager() { return manager_; }
    // The local time new backups are named after (GetLocalTime unless set).
    void SetClock(void (*clock)(SYSTEMTIME*)) { clock_ = clock; }
    // The backup file a "RBackupNew" text names: '/' as '\', ".bkp" added when
    // there is no '.', a relative name placed in the backup folder (or the
    // current folder).
    tstring ResolveBackupPath(const tstring& text) const;
    // Runs the workers on the calling thread (tests).
    void SetWorkersInline(bool inline_) { workersInline_ = inline_; }

    // The new-backup worker: Create, catalogue, progress and result.
    static unsigned __stdcall BackupWorker(void* page);
    // The restore worker.
    static unsigned __stdcall RestoreWorker(void* page);

private:
    void LoadCatalogue();
    bool ReadCatalogue();
    bool ListWritable();
    void ShowAgain();
    void FillList();
    void ProposeName();
    void Browse();
    void StartNewBackup(const tstring& param);
    void FinishNewBackup();
    void Delete(VARIANT* param);
    void AddExisting();
    void UpdateComment(const tstring& param);
    void SaveCatalogue();
    void StartRestore(const tstring& param);
    void FinishRestore();
    void Reload();
    // Runs the worker on a thread of its own; false when none could be made.
    bool Start(unsigned(__stdcall* worker)(void*));
    void RunBackup();
    void RunRestore();

    tstring newPath_;
    tstring comment_;
    bool full_ = false;
    int selected_ = -1;
    bool reboot_ = false;
    bool retention_ = true;
    tstring backupFolder_;
    BackupManager manager_;
    ProgressWindow* progress_ = nullptr;
    ComPtr<IUnknown> engine_;

    // A damaged list set aside, and why, until the user has been told.
    bool damaged_ = false;
    tstring damage_;
    bool loadedBefore_ = false;
    tstring lastPath_;
    void (*clock_)(SYSTEMTIME*) = nullptr;
    bool workersInline_ = false;
};

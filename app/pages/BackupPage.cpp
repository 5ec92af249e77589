#include "app/pages/BackupPage.h"
#include <objbase.h>
#include <commdlg.h>
#include <process.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <vector>
#include "app/AppUtilities.h"
#include "app/frame/UiServices.h"
#include "app/html/ScriptText.h"
#include "app/OperationLock.h"
#include "app/pages/ProgressWindow.h"
#include "app/resource.h"
#include "common/errors/ErrorBase.h"
#include "common/errors/ErrorText.h"
#include "common/log/Log.h"
#include "common/log/ThreadErrorLog.h"
#include "common/settings/AppFolders.h"
#include "common/system/FileSystem.h"
#include "common/system/OsVersion.h"
#include "hives/SystemRestart.h"

namespace {

const wchar_t kFilter[] = L"Backup files (*.bkp)\0*.bkp\0\0";
const wchar_t kRebootText[] = L"QUARN Orvane is going to reboot your system to complete registry backup restore.";
const DWORD kRebootReason = 0x80040001;
const wchar_t kNoWorker[] = L"The backup could not be started: the system could not create a thread for it.";

// "Error: text" after a message, as every failure box of the page shows it.
tstring WithReason(UINT messageId, const tstring& reason) {
    tstring text(MAKEINTRESOURCEW(messageId));
    if (!reason.empty())
        text += L"\n\n" + tstring(MAKEINTRESOURCEW(IDS_ERROR)) + L": " + reason;
    return text;
}

tstring Trimmed(const tstring& text) {
    size_t first = text.find_first_not_of(L" \t\r\n");
    if (first == tstring::npos)
        return tstring();
    size_t last = text.find_last_not_of(L" \t\r\n");
    return text.substr(first, last - first + 1);
}

// A decimal index with nothing else; -1 otherwise.
int ParseIndex(const tstring& text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of(L"0123456789") != tstring::npos)
        return -1;
    return _wtoi(text.c_str());
}

void DumpThreadLog() {
    try {
        ThreadErrorLog::Instance().DumpThread(GetCurrentThreadId());
    } catch (const ErrorBase&) {
        // The failure was shown; its trail is lost.
    }
}

HWND OwnerOf(const HtmlPage& page) {
    ComPtr<IUnknown> control = page.GetControl();
    if (control) {
        ComPtr<IOleWindow> window;
        HWND handle = nullptr;
        if (SUCCEEDED(control->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(window.Receive()))) &&
            window && SUCCEEDED(window->GetWindow(&handle)) && handle)
            return handle;
    }
    return GetMainWindow();
}

}  // namespace

BackupPage::BackupPage() {
    LoadCatalogue();
}

BackupPage::~BackupPage() {
    manager_.SetProgress(nullptr);
    if (progress_) {
        if (progress_->Handle())
            DestroyWindow(progress_->Handle());
        delete progress_;
    }
}

void BackupPage::SetOptions(bool retention, const tstring& backupFolder, IUnknown* engine) {
    retention_ = retention;
    backupFolder_ = backupFolder;
    engine_ = engine;
}

// The page is made before the main window, and in a hidden scheduled start
// too, where no one could answer a box: what the load found is told when the
// page is shown.
void BackupPage::LoadCatalogue() {
    damaged_ = manager_.LoadKeepingDamaged(GetBackupListPath(), &damage_) == BackupCatalogue::ListSetAside;
}

// A list in use stays as it is, and the page with no entries until it can be
// read; a damaged one has been set aside, which the user hears of once.
bool BackupPage::ReadCatalogue() {
    tstring path = GetBackupListPath(), reason;
    BackupCatalogue::LoadOutcome outcome = manager_.LoadKeepingDamaged(path, &reason);
    if (outcome == BackupCatalogue::ListSetAside) {
        damaged_ = true;
        damage_ = reason;
    }
    if (damaged_) {
        damaged_ = false;
        tstring kept = FormatText(tstring(MAKEINTRESOURCEW(IDS_BACKUP_LIST_KEPT)).c_str(),
                                  BackupCatalogue::DamagedCopyPath(path).c_str());
        tstring text = tstring(MAKEINTRESOURCEW(IDS_BACKUP_LIST_CORRUPTED)) + L"\n" + kept;
        if (!damage_.empty())
            text += L"\n\n" + tstring(MAKEINTRESOURCEW(IDS_ERROR)) + L": " + damage_;
        ShowMessageBox(OwnerOf(*this), text.c_str(), MAKEINTRESOURCEW(IDS_ERROR), MB_ICONERROR);
    }
    if (outcome != BackupCatalogue::ListUnreadable)
        return true;
    ShowMessageBox(OwnerOf(*this), WithReason(IDS_BACKUP_LIST_IN_USE, reason).c_str(), MAKEINTRESOURCEW(IDS_WARNING),
                   MB_ICONWARNING);
    return false;
}

// A list this page could not read is never written over: it is read again
// first, and a change waits until it can be.
bool BackupPage::ListWritable() {
    return !manager_.Unread() || ReadCatalogue();
}

int BackupPage::OnHTMLEvent(IDispatch*, BSTR eventName, BSTR, VARIANT* param) {
    tstring text = param ? tstring::FromVariant(*param) : tstring();
    try {
        if (IsEvent(eventName, L"RBackupNew_Click"))
            ProposeName();
        else if (IsEvent(eventName, L"RBackupNew"))
            StartNewBackup(text);
        else if (IsEvent(eventName, L"RBackupDelete"))
            Delete(param);
        else if (IsEvent(eventName, L"RBackupFinish"))
            FinishNewBackup();
        else if (IsEvent(eventName, L"Backup_OnLoad"))
            FillList();
        else if (IsEvent(eventName, L"RBackupBrowse"))
            Browse();
        else if (IsEvent(eventName, L"RBackupRestore"))
            StartRestore(text);
        else if (IsEvent(eventName, L"RBackupRestoreFinish"))
            FinishRestore();
        else if (IsEvent(eventName, L"RAddBackup"))
            AddExisting();
        else if (IsEvent(eventName, L"RUpdateComments"))
            UpdateComment(text);
        else
            return 1;
    } catch (const ErrorBase& e) {
        Log::Instance().Print(LogError, L"[error] Backup page: %s", e.Message().c_str());
    } catch (...) {
        Log::Instance().Print(LogError, L"[error] Backup page: unexpected failure");
    }
    return 0;
}

void BackupPage::FillList() {
    // Before the window is disabled: what the load tells is a box of its own.
    ReadCatalogue();
    HWND main = GetMainWindow();
    EnableWindow(main, FALSE);
    EnableControl(false);
    struct Reenable {
        BackupPage* page;
        HWND main;
        ~Reenable() {
            page->EnableControl(true);
            EnableWindow(main, TRUE);
        }
    } reenable{this, main};
    tstring script;
    int count = manager_.Count();
    for (int i = 0; i < count; ++i) {
        const BackupEntry& entry = manager_.Entry(i);
        tstring path = entry.path;
        if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            path = L"*" + path;
        tstring comment = Trimmed(entry.comment);
        comment.Replace(L"\r\n", L"<BR>");
        bool isNew = i == count - 1 && loadedBefore_ && entry.path.CompareNoCase(lastPath_.c_str()) != 0;
        script += FormatText(L"AddBackupItem(%d,'%s','%s','%s',%d,%s); ", int(entry.kind),
                             EscapeScriptString(manager_.TimeText(i)).c_str(), EscapeScriptString(path).c_str(),
                             EscapeScriptString(comment).c_str(), i, isNew ? L"true" : L"false");
    }
    lastPath_ = count > 0 ? manager_.Entry(count - 1).path : tstring();
    loadedBefore_ = true;
    script += L" NewBackup();";
    ExecScript(script);
}

void BackupPage::ProposeName() {
    SYSTEMTIME now = {};
    if (clock_)
        clock_(&now);
    else
        GetLocalTime(&now);
    tstring date = FormatText(L"%.4d-%.2d-%.2d", now.wYear, now.wMonth, now.wDay);
    tstring base = FormatText(tstring(MAKEINTRESOURCEW(IDS_BACKUP_NAME)).c_str(), date.c_str());
    tstring name = base;
    for (unsigned n = 2;; ++n) {
        tstring candidate = backupFolder_ + L"\\" + name + L".bkp";
        if (manager_.Find(candidate) < 0 && !FileExists(candidate))
            break;
        name = FormatText(L"%s (%u)", base.c_str(), n);
    }
    ExecScript(L"SetBkpFile('" + EscapeScriptString(name + L".bkp") + L"');");
}

void BackupPage::Browse() {
    wchar_t file[MAX_PATH * 2] = {};
    OPENFILENAMEW request = {};
    request.lStructSize = sizeof(request);
    request.hwndOwner = OwnerOf(*this);
    request.lpstrFilter = kFilter;
    request.lpstrFile = file;
    request.nMaxFile = MAX_PATH * 2;
    request.lpstrDefExt = L"bkp";
    request.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
    if (!backupFolder_.empty())
        request.lpstrInitialDir = backupFolder_.c_str();
    if (GetUiServices().SaveFileDialog(&request))
        ExecScript(L"SetBkpFile('" + EscapeScriptString(file) + L"');");
}

tstring BackupPage::ResolveBackupPath(const tstring& text) const {
    tstring path = text;
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    if (path.find(L'.') == tstring::npos)
        path += L".bkp";
    if (PathIsRelativeW(path.c_str())) {
        if (!backupFolder_.empty()) {
            path = backupFolder_ + L"\\" + path;
        } else {
            wchar_t current[780] = {};
            GetCurrentDirectoryW(780, current);
            tstring folder = current;
            if (!folder.empty() && folder.back() == L'\\')
                folder.pop_back();
            path = folder + L"\\" + path;
        }
    }
    return path;
}

void BackupPage::StartNewBackup(const tstring& param) {
    if (param.empty() || !ListWritable())
        return;
    full_ = param[0] == L'1';
    tstring rest = param.Mid(1);
    size_t newline = rest.find(L'\n');
    tstring path = ResolveBackupPath(newline == tstring::npos ? rest : rest.Left(int(newline)));
    comment_ = newline == tstring::npos ? tstring() : rest.Mid(int(newline) + 1);
    size_t slash = path.rfind(L'\\');
    tstring folder = slash == tstring::npos ? path : path.Left(int(slash));
    if (FAILED(SHPathPrepareForWriteW(GetMainWindow(), nullptr, folder.c_str(), SHPPFW_ASKDIRCREATE)))
        return;
    if (PathIsDirectoryW(path.c_str()) || !PathIsDirectoryW(folder.c_str())) {
        ShowMessageBox(GetMainWindow(), MAKEINTRESOURCEW(IDS_INVALID_BACKUP_NAME), nullptr, MB_ICONWARNING);
        return;
    }
    if (FileExists(path)) {
        tstring question = FormatText(tstring(MAKEINTRESOURCEW(IDS_FILE_EXISTS)).c_str(), path.c_str());
        if (ShowMessageBox(OwnerOf(*this), question.c_str(), MAKEINTRESOURCEW(IDS_WARNING), MB_YESNO | MB_ICONQUESTION) !=
            IDYES)
            return;
    }
    if (path.size() >= 261) {
        ShowMessageBox(GetMainWindow(), ModuleErrorText(int32_t(0x800700CE)).c_str(), nullptr, MB_ICONERROR);
        return;
    }
    // A backup takes the operation lock like every long operation: no
    // scheduled job may write the catalogue meanwhile. Until the worker has
    // it, every way out gives it back.
    OperationScope lock;
    if (!lock.Held()) {
        ShowMessageBox(GetMainWindow(), IDS_OPERATION_BUSY, 0, MB_ICONINFORMATION);
        return;
    }
    newPath_ = path;
    ExecScript(L"DisableToolbars();");
    EnablePage(false);
    if (full_) {
        if (!progress_)
            progress_ = new ProgressWindow();
        progress_->CreateFor(OwnerOf(*this));
        manager_.SetProgress(progress_);
    }
    lock.HandOver();
    // The progress window holds the worker until the user confirms, a click
    // the UI thread could not take while it did the work itself.
    if (!Start(BackupWorker)) {
        EndOperation();
        FinishNewBackup();
        ShowMessageBox(GetMainWindow(), kNoWorker, MAKEINTRESOURCEW(IDS_ERROR), MB_ICONERROR);
    }
}

bool BackupPage::Start(unsigned(__stdcall* worker)(void*)) {
    if (workersInline_) {
        worker(this);
        return true;
    }
    uintptr_t thread = _beginthreadex(nullptr, 0, worker, this, 0, nullptr);
    if (!thread)
        return false;
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

unsigned __stdcall BackupPage::BackupWorker(void* page) {
    static_cast<BackupPage*>(page)->RunBackup();
    return 0;
}

// Every failure is shown; the progress window, when there is one, holds the
// worker until the user confirmed the result.
void BackupPage::RunBackup() {
    HWND main = GetMainWindow();
    EnableWindow(main, FALSE);
    DisableCloseMenu();
    HRESULT com = CoInitialize(nullptr);
    bool failed = true;
    tstring reason;
    try {
        selected_ = manager_.Create(full_ ? 1 : 0, newPath_, comment_, retention_);
        manager_.Save(GetBackupListPath());
        failed = false;
    } catch (const ErrorBase& e) {
        reason = e.Code() == int32_t(0x8007007B) ? tstring(MAKEINTRESOURCEW(IDS_INVALID_BACKUP_NAME)) : e.Message();
    } catch (...) {
        reason = ModuleErrorText(E_UNEXPECTED);
    }
    if (failed) {
        DumpThreadLog();
        ShowMessageBox(OwnerOf(*this), reason.c_str(), MAKEINTRESOURCEW(IDS_ERROR), MB_ICONERROR);
    }
    if (progress_)
        progress_->WaitForConfirmation(failed, newPath_);
    // Posted while the lock is still held: the end is handled before the
    // frame's timer (a low-priority message) can start a queued job.
    PostEvent(L"RBackupFinish", nullptr);
    EndOperation();
    EnableCloseMenu();
    EnableWindow(main, TRUE);
    if (SUCCEEDED(com))
        CoUninitialize();
}

void BackupPage::FinishNewBackup() {
    EnablePage(true);
    if (progress_) {
        manager_.SetProgress(nullptr);
        if (progress_->Handle())
            DestroyWindow(progress_->Handle());
        delete progress_;
        progress_ = nullptr;
        SetForegroundWindow(GetMainWindow());
    }
    ExecScript(L"NewFinish(); ");
}

void BackupPage::Delete(VARIANT* param) {
    VARIANT number;
    VariantInit(&number);
    int index = -1;
    if (param && SUCCEEDED(VariantChangeType(&number, param, 0, VT_I4)))
        index = number.lVal;
    VariantClear(&number);
    if (manager_.Unread()) {
        // Its index belongs to a list the page could not show.
        ShowAgain();
        return;
    }
    if (!manager_.IsIndex(index)) {
        Log::Instance().Print(LogError, L"[error] No backup to delete at %d.", index);
        return;
    }
    tstring path = manager_.Entry(index).path;
    int answer = IDYES;
    if (FileExists(path))
        answer = ShowMessageBox(OwnerOf(*this), MAKEINTRESOURCEW(IDS_DELETE_BACKUP), nullptr, MB_YESNOCANCEL);
    if (answer == IDCANCEL)
        return;
    if (answer == IDYES)
        DeleteFileW(path.c_str());
    manager_.Remove(index, false);
    SaveCatalogue();
    Reload();
}

// The list on disk is what the next start shows: a change that did not
// reach it must not pass for done.
void BackupPage::SaveCatalogue() {
    try {
        manager_.Save(GetBackupListPath());
    } catch (const ErrorBase& e) {
        Log::Instance().Print(LogError, L"[error] Backup page: %s", e.Message().c_str());
        ShowMessageBox(OwnerOf(*this), e.Message().c_str(), MAKEINTRESOURCEW(IDS_ERROR), MB_ICONERROR);
    }
}

void BackupPage::AddExisting() {
    if (!ListWritable())
        return;
    wchar_t file[MAX_PATH * 2] = {};
    OPENFILENAMEW request = {};
    request.lStructSize = sizeof(request);
    request.hwndOwner = GetActiveWindow();
    request.lpstrFilter = kFilter;
    request.lpstrFile = file;
    request.nMaxFile = MAX_PATH * 2;
    request.lpstrDefExt = L"bkp";
    request.Flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    if (!backupFolder_.empty())
        request.lpstrInitialDir = backupFolder_.c_str();
    if (!GetUiServices().OpenFileDialog(&request))
        return;
    try {
        if (manager_.AddExisting(file, tstring()))
            Reload();
    } catch (const ErrorBase& e) {
        tstring text =
            e.Code() == int32_t(0x8007007B) ? tstring(MAKEINTRESOURCEW(IDS_INVALID_BACKUP_NAME)) : e.Message();
        ShowMessageBox(OwnerOf(*this), text.c_str(), MAKEINTRESOURCEW(IDS_ERROR), MB_ICONERROR);
    } catch (...) {
        DumpThreadLog();
    }
}

void BackupPage::UpdateComment(const tstring& param) {
    if (manager_.Unread()) {
        ShowAgain();
        return;
    }
    size_t newline = param.find(L'\n');
    int index = ParseIndex(newline == tstring::npos ? param : param.Left(int(newline)));
    if (newline == tstring::npos || !manager_.IsIndex(index)) {
        Log::Instance().Print(LogError, L"[error] No backup comment to change: %s", param.c_str());
        return;
    }
    tstring comment = param.Mid(int(newline) + 1);
    comment.Replace(L"<BR>", L"\r\n");
    manager_.SetComment(index, comment);
    SaveCatalogue();
    Reload();
}

void BackupPage::StartRestore(const tstring& param) {
    int index = param.size() >= 4 ? ParseIndex(param.Mid(3)) : -1;
    if (!manager_.IsIndex(index)) {
        Log::Instance().Print(LogError, L"[error] No backup to restore: %s", param.c_str());
        return;
    }
    if (!TryBeginOperation()) {
        ShowMessageBox(GetMainWindow(), IDS_OPERATION_BUSY, 0, MB_ICONINFORMATION);
        return;
    }
    full_ = param[1] == L'1';
    selected_ = index;
    EnablePage(false);
    // Without a thread the restore runs here: its end gives the lock back.
    if (!Start(RestoreWorker))
        RestoreWorker(this);
}

unsigned __stdcall BackupPage::RestoreWorker(void* page) {
    static_cast<BackupPage*>(page)->RunRestore();
    return 0;
}

// Holds the operation lock StartRestore took until its end.
void BackupPage::RunRestore() {
    HRESULT com = CoInitialize(nullptr);
    try {
        tstring flag = GetRestoreFlagPath();
        DWORD attributes = GetFileAttributesW(flag.c_str());
        if (!IsWindowsMajor6() && attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            reboot_ = ShowMessageBox(GetMainWindow(), MAKEINTRESOURCEW(IDS_RESTART_PENDING),
                                     MAKEINTRESOURCEW(IDS_WARNING), MB_ICONQUESTION | MB_YESNO) == IDYES;
        } else if (ShowMessageBox(GetMainWindow(), MAKEINTRESOURCEW(IDS_RESTORE_QUESTION), MAKEINTRESOURCEW(IDS_WARNING),
                                  MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2) == IDOK) {
            manager_.Restore(selected_, full_);
            manager_.Save(GetBackupListPath());
            reboot_ = true;
            if (!IsWindowsMajor6()) {
                HANDLE file = CreateFileW(flag.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN,
                                          nullptr);
                if (file != INVALID_HANDLE_VALUE)
                    CloseHandle(file);
            }
        }
    } catch (...) {
        tstring reason;
        try {
            throw;
        } catch (const ErrorBase& e) {
            reason = e.Message();
        } catch (...) {
            reason = tstring(MAKEINTRESOURCEW(IDS_BACKUP_CORRUPTED));
        }
        DumpThreadLog();
        ShowMessageBox(OwnerOf(*this), WithReason(IDS_CANNOT_RESTORE, reason).c_str(), MAKEINTRESOURCEW(IDS_ERROR),
                       MB_ICONERROR);
    }
    if (ControlMessage())
        PostEvent(L"RBackupRestoreFinish", nullptr);
    if (SUCCEEDED(com))
        CoUninitialize();
    EndOperation();
}

void BackupPage::FinishRestore() {
    EnablePage(true);
    ExecScript(L"restoreFinish(); ");
    if (reboot_) {
        SystemRestart& restart = GetSystemRestart();
        restart.InitiateShutdown(kRebootText, 30, false, true, kRebootReason);
        restart.ExitProcess(0);
    }
}

// Read again (telling the user while it stays in use) and shown again.
void BackupPage::ShowAgain() {
    if (ReadCatalogue())
        Reload();
}

void BackupPage::Reload() {
    VARIANT item;
    VariantInit(&item);
    item.vt = VT_BSTR;
    item.bstrVal = SysAllocString(L"RegistryBackup");
    PostEvent(L"OutBarItemClicked", &item);
    VariantClear(&item);
}

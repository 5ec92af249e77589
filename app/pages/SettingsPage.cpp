#include "app/pages/SettingsPage.h"
#include <oleauto.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <cwctype>
#include "app/AppUtilities.h"
#include "app/frame/UiServices.h"
#include "app/html/ScriptText.h"
#include "app/html/VariantText.h"
#include "app/OperationLock.h"
#include "app/pages/FolderPicker.h"
#include "app/pages/ReportPrinter.h"
#include "app/pages/ScanReport.h"
#include "app/pages/ScanResultsPage.h"
#include "app/records/GroupTable.h"
#include "app/records/ListedRecord.h"
#include "app/records/RecordTexts.h"
#include "app/resource.h"
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/settings/Settings.h"

namespace {

const UINT kProductTitle = 208;
const UINT kAskIgnoreList = 335;
const UINT kAskSettings = 255;
const UINT kAskMoveUndoFiles = 350;
const UINT kWrongIgnoreFile = 347;
const wchar_t kCaption[] = L"QUARN Orvane";
const wchar_t kIgnoreFilter[] = L"Ignore files (*.dat)\0*.dat\0All files(*.*)\0*.*\0";

bool ParamIsTrue(const VARIANT* param) {
    return param && param->vt == VT_BOOL && param->boolVal == VARIANT_TRUE;
}

bool HasParam(const VARIANT* param) {
    return param && param->vt != VT_EMPTY && param->vt != VT_ERROR && param->vt != VT_NULL;
}

struct Bstr {
    explicit Bstr(const tstring& text) : value(SysAllocString(text.c_str())) {}
    ~Bstr() { SysFreeString(value); }
    BSTR value;
};

tstring Checked(const wchar_t* id, bool checked) {
    return tstring(L"document.getElementById('") + id + L"').checked = " + (checked ? L"true; " : L"false; ");
}

tstring TrimmedFolder(const tstring& folder) {
    tstring result = folder;
    while (result.size() > 1 && (result.back() == L'\\' || result.back() == L'/'))
        result.pop_back();
    return result;
}

}  // namespace

tstring FullFolderPath(const tstring& folder) {
    tstring expanded = folder;
    DWORD size = ExpandEnvironmentStringsW(folder.c_str(), nullptr, 0);
    if (size) {
        std::wstring buffer(size, L'\0');
        if (ExpandEnvironmentStringsW(folder.c_str(), &buffer[0], size))
            expanded = tstring(buffer.c_str());
    }
    if (!expanded.empty() && expanded.back() != L'\\')
        expanded += L'\\';
    return expanded;
}

bool SameFolder(const tstring& a, const tstring& b) {
    return lstrcmpiW(TrimmedFolder(a).c_str(), TrimmedFolder(b).c_str()) == 0;
}

void SettingsPage::SetModified(bool modified) {
    modified_ = modified;
    EnableElement(L"apply", modified);
}

void SettingsPage::Script(const tstring& code) {
    ExecScript(code);
}

void SettingsPage::Pump() {
    PumpMessages();
}

int SettingsPage::OnHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) {
    try {
        if (IsEvent(eventName, L"BrowseForFolder")) {
            BrowseForFolder(ParamText(param));
        } else if (IsEvent(eventName, L"SkipParams")) {
            if (engine_) {
                // The page knows the two drive boxes only: other bits stay.
                // No bit at all would read back as the default mask: a bit
                // that names no drive class keeps "skip nothing".
                long boxes = ParamText(param).empty() ? 0 : _wtol(ParamText(param).c_str());
                skipMask_ = (skipMask_ & ~(kSkipNetwork | kSkipRemovable)) | (boxes & (kSkipNetwork | kSkipRemovable));
                if (skipMask_ == 0)
                    skipMask_ = 1;
                SetModified(true);
            }
        } else if (IsEvent(eventName, L"DeleteSelected")) {
            DeleteSelected(ParamText(param));
        } else if (IsEvent(eventName, L"DeleteAll")) {
            DeleteAll();
        } else if (IsEvent(eventName, L"configurationChanged")) {
            if (!HasParam(param))
                return 0;
            if (ParamText(param) == L"apply" && modified_) {
                if (!Apply())
                    return 0;
            }
            ClearPending();
            if (document)
                Render();
        } else if (IsEvent(eventName, L"configurationReset")) {
            Reset();
        } else if (IsEvent(eventName, L"pageLoaded")) {
            Render();
        } else if (IsEvent(eventName, L"AutoBackSwitch")) {
            autoBackup_ = ParamIsTrue(param) ? 1 : 0;
            SetModified(true);
        } else if (IsEvent(eventName, L"BackupRetentionSwitch")) {
            retention_ = ParamIsTrue(param) ? 1 : 0;
            SetModified(true);
        } else if (IsEvent(eventName, L"ExportIgnoreList")) {
            TransferIgnoreList(false);
        } else if (IsEvent(eventName, L"ImportIgnoreList")) {
            TransferIgnoreList(true);
        } else if (IsEvent(eventName, L"WebInfo")) {
            long index = ParamText(param).empty() ? 0 : _wtol(ParamText(param).c_str());
            long count = 0;
            ComPtr<IqnRegRecord> record;
            if (engine_ && SUCCEEDED(engine_->get_IgnoreCount(&count)) && index >= 1 && index <= count &&
                SUCCEEDED(engine_->IgnoreRecord(index, record.Receive())))
                ScanResultsPage::OpenRecordWebInfo(record.Get());
        } else if (IsEvent(eventName, L"CONTROL_C") || IsEvent(eventName, L"SaveReport") ||
                   IsEvent(eventName, L"PrintReport")) {
            if (!engine_ || !SettleChanges())
                return 0;
            tstring report = BuildRecordReport(engine_.Get(), ReportList::Ignore, ParamText(param));
            if (IsEvent(eventName, L"CONTROL_C"))
                CopyReportToClipboard(GetMainWindow(), report);
            else if (IsEvent(eventName, L"SaveReport"))
                SaveReportAs(GetMainWindow(), report);
            else
                PrintReportText(report, tstring());
        } else {
            return 1;
        }
    } catch (const ErrorBase& e) {
        Log::Instance().Print(LogError, L"[error] Settings page: %s", e.Message().c_str());
    }
    return 0;
}

void SettingsPage::ClearPending() {
    marks_.clear();
    dismissAll_ = false;
    SetModified(false);
}

void SettingsPage::Render() {
    // Without the engine there are no stored values to show; blank fields
    // would read as settings that are empty.
    if (!engine_) {
        Log::Instance().Print(LogError, L"[error] Settings page: the scan engine could not be started.");
        Script(L"DisableToolbars();");
        Script(L"EnableControls(false);");
        Script(L"view.innerHTML=\"<H3 style='color: red'>The scan engine could not be started.</H3>\";");
        return;
    }
    if (!modified_)
        marks_.clear();
    Script(L"DelAllIgnore();");
    Pump();
    Script(L"DisableToolbars();");
    Pump();
    Script(L"EnableControls(false);");
    Pump();
    Script(L"view.innerHTML=\"<H3>Loading ignore file...&nbsp;&nbsp;&nbsp;</H3><BR>\";");
    Pump();
    RenderIgnoreList();
    RenderSettings();
    SetModified(modified_);
}

void SettingsPage::RenderIgnoreList() {
    dismissAll_ = dismissAll_ && modified_;
    long count = 0;
    if (!dismissAll_ && FAILED(engine_->get_IgnoreCount(&count)))
        count = 0;
    Script(L"view.innerHTML+=\"<H3>Generating list...&nbsp;&nbsp;&nbsp;</H3><br>\";");
    Pump();
    GroupTable table;
    for (long i = 1; i <= count; ++i) {
        if (!modified_) {
            if (marks_.size() < size_t(i))
                marks_.resize(i, false);
        } else if (Marked(i)) {
            continue;
        }
        ComPtr<IqnRegRecord> record;
        if (FAILED(engine_->IgnoreRecord(i, record.Receive())) || !record)
            continue;
        ListedRecord fields = ReadListedRecord(record.Get());
        if (fields.reason.empty() && LOWORD(fields.errorId) != 100)
            fields.reason = L"[empty value]";
        table.AddListRow(i, fields.errorId, fields.item, fields.reason, false, L"");
    }
    Script(table.ViewScript(L"view"));
    Pump();
    Script(table.MenuScript());
    Pump();
    Script(L"EnableControls();");
    Script(L"Init();");
}

void SettingsPage::RenderSettings() {
    bool haveBackup = true, haveUndo = true, haveSkip = true, haveAuto = true, haveRetention = true;
    if (!modified_) {
        // Each value read is both the pending one and the one shown.
        BSTR text = nullptr;
        if ((haveBackup = SUCCEEDED(engine_->get_BackupDirectory(&text))))
            backupFolder_ = shown_.backupFolder = tstring::FromWide(text);
        SysFreeString(text);
        text = nullptr;
        if ((haveUndo = SUCCEEDED(engine_->get_UndoDirectory(&text))))
            undoFolder_ = shown_.undoFolder = tstring::FromWide(text);
        SysFreeString(text);
        long value = 0;
        if ((haveSkip = SUCCEEDED(engine_->get_SkipScanDrives(&value))))
            skipMask_ = shown_.skipMask = value;
        if ((haveAuto = SUCCEEDED(engine_->get_AutoBackupSwitch(&value))))
            autoBackup_ = shown_.autoBackup = value;
        if ((haveRetention = SUCCEEDED(engine_->get_BackupRetentionSwitch(&value))))
            retention_ = shown_.retention = value;
    }
    if (haveBackup)
        Script(L"document.getElementById('bkpPath').value='" + EscapeScriptString(backupFolder_) + L"';");
    if (haveUndo)
        Script(L"document.getElementById('undoPath').value='" + EscapeScriptString(undoFolder_) + L"';");
    Script(L"EnableToolbarsEx();");
    if (haveSkip)
        Script(Checked(L"netshares", (skipMask_ & kSkipNetwork) != 0) +
               Checked(L"removable", (skipMask_ & kSkipRemovable) != 0));
    if (haveAuto)
        Script(tstring(L"document.getElementById('backupSwitch').checked=") + (autoBackup_ == 1 ? L"true;" : L"false;"));
    if (haveRetention)
        Script(tstring(L"document.getElementById('delOldBackups').checked=") + (retention_ == 1 ? L"true;" : L"false;"));
}

bool SettingsPage::Apply() {
    if (!engine_)
        return false;
    // Moving the undo folder while a fix writes its undo file there would
    // cut that fix off from its undo; nothing is applied beside another
    // operation.
    OperationScope lock;
    if (!lock.Held()) {
        ShowMessageBox(GetMainWindow(), IDS_OPERATION_BUSY, 0, MB_ICONINFORMATION);
        return false;
    }
    // An undo folder left alone is neither moved to nor put back.
    bool undoChanged = !SameFolder(shown_.undoFolder, undoFolder_);
    BSTR current = nullptr;
    tstring stored;
    if (undoChanged && SUCCEEDED(engine_->get_UndoDirectory(&current)))
        stored = tstring::FromWide(current);
    SysFreeString(current);
    if (undoChanged && !SameFolder(stored, undoFolder_)) {
        int answer = ShowMessageBox(GetMainWindow(), kAskMoveUndoFiles, kProductTitle, MB_YESNOCANCEL | MB_ICONQUESTION);
        if (answer == IDCANCEL)
            return false;
        if (answer == IDYES) {
            Bstr folder(undoFolder_);
            HRESULT moved = engine_->MoveUndoFiles(folder.value);
            if (FAILED(moved)) {
                // The files stay where they were and so does the setting.
                ShowMessageBox(GetMainWindow(), (L"Moving undo files: " + HRError(moved).Message()).c_str(), kCaption,
                               MB_ICONERROR);
                return false;
            }
            ShowMessageBox(GetMainWindow(), L"All files were moved successfully", kCaption, MB_ICONINFORMATION);
        }
    }
    HRESULT result = S_OK;
    if (undoChanged) {
        Bstr undo(undoFolder_);
        result = engine_->put_UndoDirectory(undo.value);
        if (SUCCEEDED(result))
            shown_.undoFolder = undoFolder_;
    }
    ApplyIgnoreList();
    PutChangedSettings();
    return SUCCEEDED(result);
}

// A list left alone is not saved: a save of this engine object's list is a
// write of the user's file, which is not this page's to make for a setting.
void SettingsPage::ApplyIgnoreList() {
    bool marked = false;
    for (bool mark : marks_)
        marked = marked || mark;
    if (!dismissAll_ && !marked)
        return;
    if (dismissAll_) {
        engine_->DismissIgnoreList();
    } else {
        for (size_t i = marks_.size(); i >= 1; --i)
            if (marks_[i - 1])
                engine_->RemoveFromIgnoreList(long(i));
    }
    // The engine keeps the removals for its next save when this one is refused.
    HRESULT saved = engine_->SaveIgnore();
    if (FAILED(saved))
        Log::Instance().Print(LogError, L"[error] Settings page: the ignore list was not saved: %s",
                              HRError(saved).Message().c_str());
}

void SettingsPage::PutChangedSettings() {
    if (skipMask_ != shown_.skipMask && SUCCEEDED(engine_->put_SkipScanDrives(skipMask_)))
        shown_.skipMask = skipMask_;
    if (!SameFolder(backupFolder_, shown_.backupFolder)) {
        Bstr backup(backupFolder_);
        if (SUCCEEDED(engine_->put_BackupDirectory(backup.value)))
            shown_.backupFolder = backupFolder_;
    }
    if (autoBackup_ != shown_.autoBackup && SUCCEEDED(engine_->put_AutoBackupSwitch(autoBackup_)))
        shown_.autoBackup = autoBackup_;
    if (retention_ != shown_.retention && SUCCEEDED(engine_->put_BackupRetentionSwitch(retention_)))
        shown_.retention = retention_;
}

int SettingsPage::AskSaveChanges(HWND owner) {
    if (!modified_)
        return IDNO;
    int answer = ShowMessageBox(owner, ignoreMode_ ? kAskIgnoreList : kAskSettings, kProductTitle,
                                MB_YESNOCANCEL | MB_ICONQUESTION);
    if (answer == IDYES) {
        if (!Apply())
            return IDCANCEL;
        marks_.clear();
        dismissAll_ = false;
        modified_ = false;
    } else if (answer == IDNO) {
        modified_ = false;
    }
    return answer;
}

void SettingsPage::Reset() {
    Settings& defaults = GetDefaultSettings();
    long skip = kDefaultSkipMask;
    tstring backup = defaults.BackupFolder(), undo = defaults.UndoFolder();
    long autoBackup = defaults.GetAutoBackupSwitch() ? 1 : 0;
    long retention = defaults.GetBackupRetentionSwitch() ? 1 : 0;
    bool changed = skip != skipMask_ || backup != backupFolder_ || undo != undoFolder_ || autoBackup != autoBackup_ ||
                   retention != retention_;
    skipMask_ = skip;
    backupFolder_ = backup;
    undoFolder_ = undo;
    autoBackup_ = autoBackup;
    retention_ = retention;
    SetModified(modified_ || changed);
    Render();
}

void SettingsPage::BrowseForFolder(const tstring& id) {
    bool backup = id == L"bkpPath";
    tstring path = PickFolder(GetMainWindow(), backup ? backupFolder_ : undoFolder_);
    if (path.empty())
        return;
    // The engine expands nothing: it gets the full path.
    tstring folder = FullFolderPath(path);
    Script(L"document.getElementById('" + EscapeScriptString(id) + L"').value='" + EscapeScriptString(folder) + L"';");
    (backup ? backupFolder_ : undoFolder_) = folder;
    SetModified(true);
}

void SettingsPage::DeleteSelected(const tstring& numbers) {
    if (!engine_)
        return;
    long count = 0;
    if (FAILED(engine_->get_IgnoreCount(&count)))
        return;
    if (marks_.size() < size_t(count))
        marks_.resize(count, false);
    const wchar_t* p = numbers.c_str();
    while (*p) {
        wchar_t* end = nullptr;
        long n = wcstol(p, &end, 10);
        if (end == p) {
            ++p;
            continue;
        }
        p = end;
        if (n >= 1 && n <= count) {
            marks_[n - 1] = true;
            modified_ = true;
        }
    }
    Render();
    if (modified_)
        SetModified(true);
}

void SettingsPage::DeleteAll() {
    if (!engine_)
        return;
    dismissAll_ = true;
    SetModified(true);
    marks_.clear();
    Script(L"DelAllIgnore();");
}

bool SettingsPage::SettleChanges() {
    if (!modified_)
        return true;
    int answer = AskSaveChanges(GetMainWindow());
    if (answer == IDCANCEL)
        return false;
    if (answer == IDNO) {
        ClearPending();
        Render();
    }
    return true;
}

void SettingsPage::TransferIgnoreList(bool import) {
    if (!engine_ || !SettleChanges())
        return;
    wchar_t path[MAX_PATH * 2] = {};
    OPENFILENAMEW request = {};
    request.lStructSize = sizeof(request);
    request.hwndOwner = GetMainWindow();
    request.lpstrFilter = kIgnoreFilter;
    request.lpstrFile = path;
    request.nMaxFile = MAX_PATH * 2;
    request.lpstrDefExt = L"dat";
    request.Flags = import ? 0x800 : 0x806;
    if (!(import ? GetUiServices().OpenFileDialog(&request) : GetUiServices().SaveFileDialog(&request)))
        return;
    Bstr file{tstring(path)};
    if (!import) {
        HRESULT result = engine_->ExportIgnoreList(file.value);
        if (FAILED(result))
            ShowMessageBox(GetMainWindow(), (L"Exporting ignore records: " + HRError(result).Message()).c_str(), kCaption,
                           MB_ICONERROR);
        else
            ShowMessageBox(GetMainWindow(), (L"Ignore records were successfully exported to " + tstring(path)).c_str(),
                           kCaption, MB_ICONINFORMATION);
        return;
    }
    HRESULT result = engine_->ImportIgnoreList(file.value);
    if (result == S_FALSE || FAILED(result)) {
        ShowMessageBox(GetMainWindow(), kWrongIgnoreFile, kProductTitle, MB_ICONINFORMATION);
        return;
    }
    ShowMessageBox(GetMainWindow(), (L"Ignore records were successfully imported from " + tstring(path)).c_str(),
                   kCaption, MB_ICONINFORMATION);
    Render();
}

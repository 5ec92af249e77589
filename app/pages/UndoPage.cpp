#include "app/pages/UndoPage.h"
#include <oleauto.h>
#include <shlwapi.h>
#include "app/AppUtilities.h"
#include "app/frame/UiServices.h"
#include "app/html/ScriptText.h"
#include "app/html/VariantText.h"
#include "app/OperationLock.h"
#include "app/pages/ReportPrinter.h"
#include "app/pages/ScanReport.h"
#include "app/pages/ScanResultsPage.h"
#include "app/records/GroupTable.h"
#include "app/records/ListedRecord.h"
#include "app/records/RecordTexts.h"
#include "app/resource.h"
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"

namespace {

const wchar_t kCaption[] = L"QUARN Orvane";

long ParamNumber(const VARIANT* param) {
    VARIANT number;
    VariantInit(&number);
    long result = -1;
    if (param && SUCCEEDED(VariantChangeType(&number, const_cast<VARIANT*>(param), 0, VT_I4)))
        result = number.lVal;
    return result;
}

tstring DateText(DATE date, ULONG flags) {
    BSTR text = nullptr;
    if (FAILED(VarBstrFromDate(date, LOCALE_USER_DEFAULT, flags, &text)))
        return tstring();
    return TakeBstr(text);
}

// The catalogue's UTC date as local time.
DATE LocalDate(DATE utc) {
    SYSTEMTIME system = {};
    FILETIME file = {}, local = {};
    if (!VariantTimeToSystemTime(utc, &system) || !SystemTimeToFileTime(&system, &file) ||
        !FileTimeToLocalFileTime(&file, &local) || !FileTimeToSystemTime(&local, &system))
        return utc;
    DATE result = utc;
    SystemTimeToVariantTime(&system, &result);
    return result;
}

void Check(HRESULT result, const wchar_t* context) {
    if (FAILED(result)) {
        HRError error(result);
        error.SetMessage(tstring(context) + L": " + error.Message());
        throw error;
    }
}

}  // namespace

std::set<long> ParseExcluded(const tstring& text) {
    std::set<long> numbers;
    size_t position = 0;
    while ((position = text.find(L' ', position)) != tstring::npos) {
        ++position;
        numbers.insert(StrToIntW(text.c_str() + position));
    }
    return numbers;
}

void UndoPage::Script(const tstring& code) {
    ExecScript(code);
}

int UndoPage::OnHTMLEvent(IDispatch*, BSTR eventName, BSTR, VARIANT* param) {
    try {
        if (IsEvent(eventName, L"ShowUndoData")) {
            ShowSession(ParamNumber(param));
        } else if (IsEvent(eventName, L"UndoFixes")) {
            UndoFixes(ParamText(param));
        } else if (IsEvent(eventName, L"HandsOff")) {
            DisableCloseMenu();
            EnableControl(false);
        } else if (IsEvent(eventName, L"HandsOn")) {
            PumpMessages();
            EnableControl(true);
            EnableCloseMenu();
        } else if (IsEvent(eventName, L"pageLoaded")) {
            selected_ = -1;
            ListSessions();
        } else if (IsEvent(eventName, L"DeleteSession")) {
            DeleteSession();
        } else if (IsEvent(eventName, L"WebInfo")) {
            ComPtr<IqnRegRecord> record;
            long n = ParamNumber(param), count = 0;
            if (engine_ && SUCCEEDED(engine_->get_UndoCount(&count)) && n >= 1 && n <= count &&
                SUCCEEDED(engine_->UndoRecord(n, record.Receive())))
                ScanResultsPage::OpenRecordWebInfo(record.Get());
        } else if (IsEvent(eventName, L"CONTROL_C")) {
            CopyReportToClipboard(GetMainWindow(), BuildRecordReport(engine_.Get(), ReportList::Undo, ParamText(param)));
        } else if (IsEvent(eventName, L"SaveReport")) {
            SaveReportAs(GetMainWindow(), BuildRecordReport(engine_.Get(), ReportList::Undo, ParamText(param)));
        } else if (IsEvent(eventName, L"PrintReport")) {
            tstring report = BuildRecordReport(engine_.Get(), ReportList::Undo, ParamText(param));
            if (selected_ >= 0 && size_t(selected_) < titles_.size())
                PrintReportText(report, titles_[selected_]);
        } else {
            return 1;
        }
    } catch (const ErrorBase& e) {
        Log::Instance().Print(LogError, L"[error] Undo page: %s", e.Message().c_str());
    }
    return 0;
}

void UndoPage::Refresh(ICrawler* engine) {
    engine_ = engine;
    if (!engine_)
        return;
    long count = 0;
    Check(engine_->GetUndoFilesCount(&count), L"Listing undo files");
    titles_.clear();
    tstring script;
    for (long i = 0; i < count; ++i) {
        DATE date = 0;
        long fixes = 0;
        Check(engine_->GetUndoFileInfo(i, &date, &fixes), L"Listing undo files");
        DATE local = LocalDate(date);
        tstring day = DateText(local, VAR_DATEVALUEONLY), time = DateText(local, VAR_TIMEVALUEONLY);
        titles_.push_back(day + L", " + time);
        script += FormatText(L"AddUndoItem(%ld,'%s','%s',%ld); ", i, EscapeScriptString(day).c_str(),
                             EscapeScriptString(time).c_str(), fixes);
    }
    Script(script);
    PumpMessages();
    Script(FormatText(L"SelectUndoItem(%d);", selected_ == -1 ? int(count - 1) : selected_));
    PumpMessages();
}

void UndoPage::ListSessions() {
    // An empty list would read as "nothing to undo".
    try {
        if (!engine_) throw ErrorBase(E_FAIL, L"Listing undo files: the scan engine could not be started.");
        Refresh(engine_);
    } catch (const ErrorBase& e) {
        Log::Instance().Print(LogError, L"[error] Undo page: %s", e.Message().c_str());
        ShowError(e.Message());
    }
}

void UndoPage::ShowError(const tstring& message) {
    Script(L"itemsList.innerHTML=\"<H3 style='color: red'>" + EscapeScriptString(message) +
           L"&nbsp;&nbsp;&nbsp;</H3><br>\"; ShowUndoDataError = true;");
    Script(L"handsOn();");
}

void UndoPage::ShowSession(long index) {
    // Whatever fails, the page says so in red and is usable again, and the
    // operation lock goes back: scans, backups and closing wait on it.
    try {
        LoadSession(index);
    } catch (const ErrorBase& e) {
        ShowError(e.Message());
    }
}

void UndoPage::LoadSession(long index) {
    Script(L"Init();");
    Script(L"itemsList.innerHTML=\"<H3>Loading undo file...&nbsp;&nbsp;&nbsp;</H3><BR>\";");
    PumpMessages();
    if (!engine_)
        throw ErrorBase(E_FAIL, L"Loading undo file: no engine");
    Check(engine_->ReadUndoFile(index), L"Loading undo file");
    selected_ = int(index);
    long n = 0;
    Check(engine_->get_UndoCount(&n), L"Loading undo file");
    OperationScope lock;
    Script(L"itemsList.innerHTML+=\"<H3>Generating list...&nbsp;&nbsp;&nbsp;</H3><br>\";");
    PumpMessages();
    GroupTable table;
    for (long i = 1; i <= n; ++i) {
        ComPtr<IqnRegRecord> record;
        Check(engine_->UndoRecord(i, record.Receive()), L"Loading undo file");
        ListedRecord fields = ReadListedRecord(record.Get());
        table.AddListRow(i, fields.errorId, fields.item, fields.reason, true, L"[empty value]");
    }
    Script(L"itemsList.innerHTML+=\"<H3>Displaying list...</H3><br>\";");
    PumpMessages();
    Script(FormatText(L"setCounter(%d);", int(n)));
    Script(L"Init();");
    Script(table.ViewScript(L"itemsList"));
    Script(table.MenuScript());
    Script(L"handsOn();");
}

void UndoPage::UndoFixes(const tstring& unchecked) {
    if (!engine_)
        return;
    // Undo changes the registry like a fix: never beside one.
    OperationScope lock;
    if (!lock.Held()) {
        ShowMessageBox(GetMainWindow(), IDS_OPERATION_BUSY, 0, MB_ICONINFORMATION);
        return;
    }
    std::set<long> excluded = ParseExcluded(unchecked);
    long n = 0;
    Check(engine_->get_UndoCount(&n), L"Undoing fixes");
    int failures = 0, tried = 0;
    PumpMessages();
    // Newest first: a later fix may have touched what an earlier one made
    // (a value, then its key), so it has to be taken back first.
    for (long i = n; i >= 1; --i) {
        if (excluded.count(i))
            continue;
        ++tried;
        try {
            HRESULT result = engine_->UndoFix(i);
            if (result != S_OK) {
                Log::Instance().Print(LogError, L"[error] Undo failed due to error (0x%x).", unsigned(result));
                ++failures;
            }
        } catch (const ErrorBase& e) {
            Log::Instance().Print(LogError, L"[error] Undo failed due to exception (%s).", e.Message().c_str());
            ++failures;
        } catch (...) {
            ++failures;
        }
    }
    if (unchecked.empty()) {
        long count = 0;
        if (SUCCEEDED(engine_->GetUndoFilesCount(&count)) && selected_ >= count)
            selected_ = int(count - 1);
    }
    Script(L"undoList.innerHTML=''; Init();");
    Refresh(engine_);
    Script(L"handsOn();");
    HWND owner = GetMainWindow();
    if (failures == 1)
        ShowMessageBox(owner, IDS_UNDO_ONE_FAILED, IDS_WARNING, MB_ICONWARNING);
    else if (failures > 1)
        ShowMessageBox(owner, FormatText(tstring(MAKEINTRESOURCEW(IDS_UNDO_FAILED)).c_str(), failures).c_str(),
                       MAKEINTRESOURCEW(IDS_WARNING), MB_ICONWARNING);
    else
        ShowMessageBox(owner, tried ? IDS_UNDO_DONE : IDS_UNDO_NOTHING, 0, MB_ICONINFORMATION);
}

void UndoPage::DeleteSession() {
    if (!engine_)
        return;
    int answer = ShowMessageBox(GetMainWindow(),
                                L"Are you sure you want to delete session?\nYou can't undo operations from the selected "
                                L"session after deleting it.",
                                kCaption, MB_OKCANCEL | MB_ICONWARNING | MB_DEFBUTTON2);
    if (answer != IDOK)
        return;
    if (FAILED(engine_->DeleteUndoFile(selected_))) {
        ShowMessageBox(GetMainWindow(), L"Can't delete UNDO session", kCaption, MB_ICONERROR);
        return;
    }
    long count = 0;
    Check(engine_->GetUndoFilesCount(&count), L"Listing undo files");
    // The listing also drops files damaged since the last one, so the list
    // may have shrunk by more than the deleted session.
    if (selected_ >= count)
        selected_ = int(count - 1);
    Script(L"undoList.innerHTML=''; Init();");
    Refresh(engine_);
}

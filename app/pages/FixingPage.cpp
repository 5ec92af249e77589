#include "app/pages/FixingPage.h"
#include <oleauto.h>
#include <process.h>
#include <shlwapi.h>
#include "app/AppUtilities.h"
#include "app/frame/UiServices.h"
#include "app/html/ScriptText.h"
#include "app/mainview/UpdateCheck.h"
#include "app/OperationLock.h"
#include "app/records/RegEditJump.h"
#include "common/com/ComPtr.h"
#include "common/com/GlobalInterfaceTable.h"
#include "common/errors/CheckObjects.h"
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"

namespace {

const wchar_t kFatalError[] = L"Fatal Error";
const wchar_t kError[] = L"Error";
const wchar_t kGoTo[] = L"Go to";
const wchar_t kIssue[] = L"issue";
const wchar_t kUndoFileFailed[] = L"Cannot create UNDO-file because of an error: %s";
const wchar_t kNoUndoSpace[] =
    L"There is not enough space to save Undo data. Free up disk space or change Undo storage path through Settings "
    L"dialog.";
const HRESULT kDiskFull = HRESULT(0x80070070);

tstring Replaced(tstring text, const tstring& from, const tstring& to) {
    for (size_t at = text.find(from); at != tstring::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

tstring ReadText(IqnRegRecord* record, HRESULT (STDMETHODCALLTYPE IqnRegRecord::*get)(BSTR*)) {
    BSTR text = nullptr;
    tstring result;
    if (SUCCEEDED((record->*get)(&text)) && text) result = tstring::FromWide(text, SysStringLen(text));
    SysFreeString(text);
    return result;
}

class ComScope {
public:
    ComScope() : ok_(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComScope() {
        if (ok_) CoUninitialize();
    }

private:
    bool ok_;
};

}  // namespace

FixingPage::FixingPage() : fixEvent_(CreateEventW(nullptr, FALSE, TRUE, L"FixEvent")) {}

FixingPage::~FixingPage() { ReleaseEngine(); }

void FixingPage::ReleaseEngine() {
    if (Running()) return;
    if (gitCookie_) GlobalInterfaceTable::Revoke(gitCookie_);
    gitCookie_ = 0;
}

std::vector<long> FixingPage::ParseExcluded(const tstring& text) {
    std::vector<long> ids;
    if (text.size() < 2) return ids;
    size_t start = 1;
    while (start <= text.size()) {
        size_t end = text.find(L' ', start);
        tstring piece = text.substr(start, end == tstring::npos ? tstring::npos : end - start);
        if (!piece.empty()) ids.push_back(StrToIntW(piece.c_str()));
        if (end == tstring::npos) break;
        start = end + 1;
    }
    return ids;
}

tstring FixingPage::FailureRow(const tstring& message, const tstring& keyPath, const tstring& valueName) {
    // Key and value come from installed software: HTML-encoded inside the
    // attributes, script-escaped inside the onclick call, so neither can end
    // the attribute or the string it stands in.
    tstring title =
        L"'" + HtmlEncode(ShowLineBreaks(keyPath + (valueName.empty() ? tstring() : L"\\" + valueName))) + L"'";
    tstring onclick = L"'" +
                      HtmlEncode(L"extEvent(\"Res_OpenLink\", \"" + HtmlScriptLiteral(Replaced(keyPath, L"'", L"-=squot=-")) +
                                 L"\", \"" + HtmlScriptLiteral(Replaced(valueName, L"'", L"-=squot=-")) + L"\");") +
                      L"'";
    tstring link = L"<A HREF=# title=" + title + L" onclick=" + onclick + L">" + kGoTo + L" " + kIssue + L"</A>";
    tstring row = L"<b>" + tstring(kError) + L":</b>&nbsp;" + HtmlEncode(message) + L"&nbsp;&nbsp;" + link;
    return HtmlScriptLiteral(row);
}

bool FixingPage::StartFix(ICrawler* engine, const tstring& excluded) {
    // The worker reads the engine's entry and the excluded list for its whole
    // run: a second request meanwhile changes neither.
    if (Running() || !TryBeginOperation()) return false;
    return StartFixHolding(engine, excluded);
}

bool FixingPage::StartFixHolding(ICrawler* engine, const tstring& excluded) {
    OperationScope lock{OperationScope::Adopt()};
    reserved_ = false;
    if (Running()) return false;
    ReleaseEngine();
    gitCookie_ = GlobalInterfaceTable::Register(engine, IID_ICrawler);
    // Each run takes the rows unchecked for it alone: a row unchecked once
    // and checked again later is fixed.
    excluded_ = ParseExcluded(excluded);
    stop_ = false;
    InterlockedExchange(&running_, 1);
    if (workerInline_) {
        lock.HandOver();
        FixWorker(this);
        return true;
    }
    uintptr_t thread = _beginthreadex(nullptr, 0, FixWorker, this, 0, nullptr);
    if (!thread) {
        InterlockedExchange(&running_, 0);
        throw HRError(E_FAIL);
    }
    lock.HandOver();
    CloseHandle(reinterpret_cast<HANDLE>(thread));
    return true;
}

unsigned __stdcall FixingPage::FixWorker(void* argument) {
    auto* page = static_cast<FixingPage*>(argument);
    try {
        page->RunFix();
    } catch (...) {
        Log::Instance().Print(LogError, L"[error] Fix worker: unexpected failure");
    }
    InterlockedExchange(&page->running_, 0);
    return 0;
}

bool FixingPage::IsExcluded(long fixId) const {
    for (long id : excluded_)
        if (id == fixId) return true;
    return false;
}

bool FixingPage::Post(const wchar_t* name, const VARIANT* param) {
    return PostEvent(name, param);
}

void FixingPage::RunFix() {
    // The operation lock StartFix took for the worker.
    OperationScope lock{OperationScope::Adopt()};
    ComScope com;
    ComPtr<ICrawler> engine;
    bool session = false, viewResults = false, finished = false;
    try {
        HRCheck ck(L"engine from the interface table");
        ck = GlobalInterfaceTable::Get(gitCookie_, IID_ICrawler, engine);
        long counter = 0, n = 0;
        ck = engine->get_Count(&n);
        for (long i = 1; i <= n && !stop_; ++i) {
            ComPtr<IqnRegRecord> record;
            ck = engine->Record(i, record.Receive());
            if (!record) continue;
            tstring keyPath = ReadText(record.Get(), &IqnRegRecord::get_KeyPath);
            tstring valueName = ReadText(record.Get(), &IqnRegRecord::get_ValueName);
            long fixId = 0;
            ck = record->get_FixID(&fixId);
            if (fixId == 0 || IsExcluded(fixId)) continue;
            ResetEvent(fixEvent_);
            VARIANT progress;
            VariantInit(&progress);
            progress.vt = VT_I4;
            progress.lVal = counter++;
            Post(L"FixingError", &progress);
            if (!session) {
                HRESULT hr = engine->BeginFixSession();
                if (FAILED(hr)) {
                    if (IsWindowVisible(GetMainWindow())) {
                        tstring text;
                        text.Format(kUndoFileFailed, HRError(hr).Message().c_str());
                        ShowMessageBox(GetMainWindow(), text.c_str(), kError, MB_ICONERROR);
                    }
                    viewResults = true;
                    break;
                }
                session = true;
            }
            HRESULT code = S_OK;
            tstring message;
            try {
                HRCheck fix(L"ICrawler::FixError");
                fix = engine->FixError(fixId);
                fix = engine->DelRecord(i);
                --i;
                ck = engine->get_Count(&n);
                WaitForSingleObject(fixEvent_, 200);
            } catch (const ErrorBase& e) {
                // Its message begins with the check's own name, which tells
                // the user nothing: the reason comes from the code below.
                code = e.Code();
            } catch (...) {
                code = E_FAIL;
                message = kFatalError;
            }
            if (code == kDiskFull) {
                ShowMessageBox(GetMainWindow(), kNoUndoSpace, kError, MB_ICONWARNING);
                viewResults = true;
                break;
            }
            if (FAILED(code)) {
                // A row without a reason tells the user nothing.
                if (message.empty()) message = HRError(code).Message();
                if (message.empty()) message = FormatText(L"%s (0x%08lX)", kFatalError, static_cast<unsigned long>(code));
                VARIANT row;
                VariantInit(&row);
                row.vt = VT_BSTR;
                tstring text = FailureRow(message, keyPath, valueName);
                row.bstrVal = SysAllocStringLen(text.c_str(), UINT(text.size()));
                Post(L"FixFail", &row);
                VariantClear(&row);
                Sleep(50);
            }
        }
    } catch (const ErrorBase& e) {
        tstring text = tstring(kFatalError) + L":\n" + e.Message();
        ShowMessageBox(GetMainWindow(), text.c_str(), kFatalError, MB_ICONERROR);
    } catch (...) {
        ShowMessageBox(GetMainWindow(), kFatalError, kFatalError, MB_ICONERROR);
    }
    if (session && engine) {
        engine->FinalizeFixSession();
        finished = ControlMessage() != 0;
    }
    // The page may start the next operation as soon as it hears of the end.
    if (viewResults || finished) InterlockedExchange(&endPending_, 1);
    InterlockedExchange(&running_, 0);
    lock.Release();
    bool posted = false;
    if (viewResults) posted = Post(L"Scan_ViewResult", nullptr);
    if (finished) posted = Post(L"FixFinish", nullptr) || posted;
    if (!posted) InterlockedExchange(&endPending_, 0);
}

int FixingPage::OnHTMLEvent(IDispatch*, BSTR eventName, BSTR element, VARIANT* param) {
    try {
        if (IsEvent(eventName, L"FixFail")) {
            if (param && param->vt == VT_BSTR && param->bstrVal && SysStringLen(param->bstrVal) > 0) {
                ExecScript(L"OnFixFail('" + tstring::FromWide(param->bstrVal, SysStringLen(param->bstrVal)) + L"');");
                PumpMessages();
            }
        } else if (IsEvent(eventName, L"FixingError")) {
            long counter = 0;
            VARIANT number;
            VariantInit(&number);
            if (param && SUCCEEDED(VariantChangeType(&number, param, 0, VT_I4))) counter = number.lVal;
            VariantClear(&number);
            tstring script;
            script.Format(L"OnFixProgress(%ld);", counter);
            ExecScript(script);
            PumpMessages();
            SetEvent(fixEvent_);
        } else if (IsEvent(eventName, L"FixFinish")) {
            InterlockedExchange(&endPending_, 0);
            ExecScript(L"OnFixFinish(0);");
        } else if (IsEvent(eventName, L"Scan_ViewResult")) {
            // The worker's end: the view shows the results.
            InterlockedExchange(&endPending_, 0);
            return 1;
        } else if (IsEvent(eventName, L"Res_OpenLink")) {
            tstring key = element ? tstring::FromWide(element, SysStringLen(element)) : tstring();
            tstring value = param ? tstring::FromVariant(*param) : tstring();
            RegEditJump(Replaced(key, L"-=squot=-", L"'"), Replaced(value, L"-=squot=-", L"'"));
        } else if (IsEvent(eventName, L"ErrorWebInfo")) {
            tstring address = InfoPageAddress(param ? tstring::FromVariant(*param) : tstring());
            GetUiServices().ShellExecuteFile(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        } else {
            return 1;
        }
    } catch (const ErrorBase& e) {
        Log::Instance().Print(LogError, L"[error] Fixing page: %s", e.Message().c_str());
    } catch (...) {
        Log::Instance().Print(LogError, L"[error] Fixing page: unexpected failure");
    }
    return 0;
}

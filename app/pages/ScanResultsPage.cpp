#include "app/pages/ScanResultsPage.h"
#include "app/html/VariantText.h"
#include "app/mainview/UpdateCheck.h"
#include "app/records/ListedRecord.h"
#include <oleauto.h>
#include <process.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <initializer_list>
#include <string_view>
#include <vector>
#include "app/AppUtilities.h"
#include "app/frame/UiServices.h"
#include "app/html/ScriptText.h"
#include "app/OperationLock.h"
#include "app/pages/ScanReport.h"
#include "app/records/RecordTexts.h"
#include "app/records/RegEditJump.h"
#include "common/com/GlobalInterfaceTable.h"
#include "common/errors/CheckObjects.h"
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"

namespace {

struct RecordFields {
    long fixId = 0;
    long errorId = 0;
    long unionBit = 0;
    tstring item, reason, keyPath, valueName;
};

tstring Text(BSTR text) {
    tstring result = text ? tstring::FromWide(text, SysStringLen(text)) : tstring();
    SysFreeString(text);
    return result;
}

// Reads a record; false when there is none.
bool ReadRecord(IqnRegRecord* record, RecordFields& out, bool paths) {
    if (!record) return false;
    HRCheck ck(L"record property");
    ck = record->get_FixID(&out.fixId);
    if (out.fixId == 0) return true;
    BSTR text = nullptr;
    ck = record->get_Item(&text);
    out.item = Text(text);
    text = nullptr;
    ck = record->get_Reason(&text);
    out.reason = Text(text);
    ck = record->get_ErrorID(&out.errorId);
    ck = record->get_RegUnion(&out.unionBit);
    if (paths) {
        text = nullptr;
        ck = record->get_KeyPath(&text);
        out.keyPath = Text(text);
        text = nullptr;
        ck = record->get_ValueName(&text);
        out.valueName = Text(text);
    }
    return true;
}

long NumberParam(VARIANT* param) {
    if (!param) return 0;
    VARIANT copy;
    VariantInit(&copy);
    long value = 0;
    if (SUCCEEDED(VariantChangeType(&copy, param, 0, VT_I4))) value = copy.lVal;
    VariantClear(&copy);
    return value;
}

tstring Decimal(long value) {
    tstring text;
    text.Format(L"%ld", value);
    return text;
}

tstring SegmentText(tstring text, bool topic) {
    CharLowerBuffW(&text[0], DWORD(text.size()));
    if (topic && text.compare(0, 7, L"errors_") == 0) text.erase(0, 7);
    for (wchar_t& c : text)
        if (c == L' ' || c == L'_') c = L'-';
    return text;
}

// UrlEscapeW says how much room it needs when the first buffer is short; the
// escaped text is then made again in a buffer of that size.
bool Escape(tstring text, size_t limit, tstring& out) {
    if (text.size() > limit) text.resize(limit);
    DWORD size = DWORD(limit + 1);
    for (int attempt = 0; attempt < 2; ++attempt) {
        tstring buffer(size, L'\0');
        DWORD length = size;
        HRESULT hr = UrlEscapeW(text.c_str(), &buffer[0], &length, URL_ESCAPE_PERCENT | URL_ESCAPE_SEGMENT_ONLY);
        if (SUCCEEDED(hr)) {
            buffer.resize(wcsnlen(buffer.c_str(), size));
            out = buffer;
            return true;
        }
        if (hr != E_POINTER || length <= size) return false;
        size = length + 1;
    }
    return false;
}

// The fixed HTML of one row and its group's caption, about.
const size_t kRowChars = 2600;

// Rows run to megabytes: pieces go straight onto the list, without the
// temporaries a chain of + makes.
void Append(tstring& out, std::initializer_list<std::wstring_view> pieces) {
    for (std::wstring_view piece : pieces) out.append(piece.data(), piece.size());
}

// The fixable records of a list and the room each group's HTML will take.
struct Rows {
    std::vector<RecordFields> fields;
    size_t sizes[GroupTable::Groups] = {};
};

void ReadRows(ICrawler* engine, long n, Rows& rows) {
    rows.fields.reserve(size_t(n > 0 ? n : 0));
    for (long i = 1; i <= n; ++i) {
        ComPtr<IqnRegRecord> record;
        HRCheck(L"ICrawler::Record") = engine->Record(i, record.Receive());
        RecordFields fields;
        if (!ReadRecord(record.Get(), fields, false) || fields.fixId == 0) continue;
        // Unknown categories are left to AddRow, which logs them once each.
        long bit = fields.unionBit;
        if (bit > 0 && bit <= 128 && (bit & (bit - 1)) == 0)
            rows.sizes[UnionToGroup(bit)] += kRowChars + 2 * (fields.item.size() + fields.reason.size());
        rows.fields.push_back(std::move(fields));
    }
}

struct ReadJob {
    DWORD cookie;
    long n;
    Rows* rows;
    bool failed;
    ErrorBase error;
};

unsigned __stdcall ReadWorker(void* argument) {
    ReadJob& job = *static_cast<ReadJob*>(argument);
    try {
        MtaScope mta;
        ComPtr<ICrawler> engine;
        HRCheck(L"engine from the interface table") = GlobalInterfaceTable::Get(job.cookie, IID_ICrawler, engine);
        ReadRows(engine.Get(), job.n, *job.rows);
    } catch (const ErrorBase& e) {
        job.failed = true;
        job.error = ErrorBase(e.Code(), e.Message());
    } catch (...) {
        job.failed = true;
        job.error = ErrorBase(E_FAIL, L"unexpected failure reading the records");
    }
    return 0;
}

// The engine's objects are free-threaded: from the UI thread's apartment each
// property read is a round trip to the other apartment, which for thousands
// of records takes many seconds. A thread of the multithreaded apartment
// reads them directly while this one keeps pumping; where the engine cannot
// be handed over, they are read here.
void ReadRowsApart(ICrawler* engine, long n, Rows& rows) {
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    if (FAILED(CoGetApartmentType(&type, &qualifier)) || (type != APTTYPE_STA && type != APTTYPE_MAINSTA))
        return ReadRows(engine, n, rows);
    DWORD cookie = 0;
    try {
        cookie = GlobalInterfaceTable::Register(engine, IID_ICrawler);
    } catch (const ErrorBase&) {
        return ReadRows(engine, n, rows);
    }
    ReadJob job{cookie, n, &rows, false, ErrorBase()};
    HANDLE thread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ReadWorker, &job, 0, nullptr));
    if (!thread) {
        GlobalInterfaceTable::Revoke(cookie);
        return ReadRows(engine, n, rows);
    }
    // The worker always ends: every engine call is bounded by the engine's own waits.
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) PumpMessages();
    CloseHandle(thread);
    GlobalInterfaceTable::Revoke(cookie);
    if (job.failed) throw job.error;
}

class LockScope {
public:
    LockScope() : held_(TryBeginOperation()) {}
    ~LockScope() {
        if (held_) EndOperation();
    }

private:
    bool held_;
};

class EnableScope {
public:
    explicit EnableScope(HtmlPage& page) : page_(page) { page_.EnablePage(false); }
    ~EnableScope() { page_.EnablePage(true); }

private:
    HtmlPage& page_;
};

HWND ControlWindowOf(const HtmlPage& page) {
    ComPtr<IQNHTMLControl> control = page.GetHtmlControl();
    LONG handle = 0;
    if (!control || FAILED(control->get_HWND(&handle))) return nullptr;
    return HWND(LONG_PTR(handle));
}

}  // namespace

int ScanResultsPage::OnHTMLEvent(IDispatch*, BSTR eventName, BSTR, VARIANT* param) {
    try {
        if (IsEvent(eventName, L"Scan_InitResult"))
            InitResult();
        else if (IsEvent(eventName, L"Scan_SkipItem"))
            SkipItem(NumberParam(param));
        else if (IsEvent(eventName, L"Res_OpenLink"))
            OpenLink(NumberParam(param));
        else if (IsEvent(eventName, L"WebInfo"))
            WebInfo(NumberParam(param));
        else if (IsEvent(eventName, L"ErrorWebInfo"))
            ErrorWebInfo(param ? tstring::FromVariant(*param) : tstring());
        else if (IsEvent(eventName, L"CONTROL_C"))
            CopyReport(param ? tstring::FromVariant(*param) : tstring());
        else if (IsEvent(eventName, L"SaveReport"))
            SaveReport(param ? tstring::FromVariant(*param) : tstring());
        else if (IsEvent(eventName, L"SaveIgnore")) {
            if (engine_) HRCheck(L"ICrawler::SaveIgnore") = engine_->SaveIgnore();
        } else if (IsEvent(eventName, L"IgnoreSelected"))
            IgnoreSelected();
        else
            return 1;
    } catch (const ErrorBase& e) {
        Log::Instance().Print(LogError, L"[error] Scan results page: %s", e.Message().c_str());
    } catch (...) {
        Log::Instance().Print(LogError, L"[error] Scan results page: unexpected failure");
    }
    return 0;
}

void ScanResultsPage::AddRow(GroupTable& table, long fixId, const tstring& itemText, const tstring& valueText,
                             long errorId, long unionBit) {
    int g = UnionToGroup(unionBit);
    tstring caption = EscapeScriptString(CategoryText(unionBit));
    tstring problem = EscapeScriptString(ErrorIdText(HIWORD(errorId)));
    tstring detail = EscapeScriptString(ReasonText(LOWORD(errorId)));
    tstring item = RecordHtmlText(itemText);
    tstring value = RecordHtmlText(valueText);
    tstring topic = HelpTopic(HIWORD(errorId));
    tstring N = Decimal(fixId);
    if (table.html[g].empty()) table.OpenGroup(g, caption);
    tstring& out = table.html[g];
    Append(out, {L"<TABLE class=elem id=chk_", N, L"_table tabIndex=-1 width=\\\"100%\\\" border=0 m_chkID=\\\"chk_", N});
    Append(out, {L"\\\">\\n<TBODY>\\n<TR>\\n<TD vAlign=top width=5>\\n<TABLE class=QNCHECKBOX onkeypress=OnKeyPressHandler() id=chk_", N, L"_parent style=\\\"CURSOR: hand\\\" onclick=OnCBClick() tabIndex=-1 cellSpacing=0 cellPadding=2 border=0 ONCLICKEVENT=\\\"OnCheck(", N});
    Append(out, {L");\\\">\\n<TBODY>\\n<TR validn=\\\"middle\\\">\\n<TD align=right><IMG hspace=0 src=\\\"check_filled.gif\\\" border=0></TD>\\n<TD align=left><INPUT id=chk_", N, L" alt=\\\"", caption, L"\\\""});
    Append(out, {L" style=\\\"DISPLAY: none\\\" onpropertychange=OnCBPropChange() tabIndex=-1 type=checkbox CHECKED></TD></TR></TBODY></TABLE></TD>\\n<TD align=left valign=top>\\n<DIV style=\\\"OVERFLOW: hidden; WORD-BREAK: break-all; TEXT-OVERFLOW: ellipsis; WORD-WRAP: break-word\\\">", problem, L": "});
    Append(out, {L"<a title='Learn more online' href=\\'#\\' onclick=\\'window.external.OnHTMLEvent(document, \\\"WebInfo\\\", \\\"\\\",", N, L")\\'>", item, L"</a>"});
    Append(out, {L"</DIV>\\n<DIV class=details id=text style=\\\"OVERFLOW: hidden; WORD-BREAK: break-all; TEXT-OVERFLOW: ellipsis; WORD-WRAP: break-word\\\">"});
    if (!detail.empty()) Append(out, {L"<BR>&nbsp;", detail, L": ", value.empty() ? L"[empty value]" : value});
    Append(out, {L"</DIV></TD>\\n<TD width=18><DIV class=\\\"details\\\"><A style=\\\"COLOR: red\\\" tabIndex=0 href=\\'#\\' onclick=\\'window.external.OnHTMLEvent(document, \\\"Res_OpenLink\\\", \\\"\\\",", N});
    Append(out, {L");\\'><IMG title=\\\"Open issue item in Registry Editor\\\" alt=\\\"Open issue item in Registry Editor\\\" src=\\\"regopen.gif\\\" border=0></A><BR><BR><SPAN id=hh_", N, L" onclick=\\'helpButtonClick(\\\"", topic});
    Append(out, {L"\\\",this)\\'><A onfocus=\\\"this.blur()\\\" id=help_dummy style=\\\"CURSOR: help\\\" tabIndex=259 href=\\\"scanResults.htm#\\\"><IMG hspace=0 src=\\\"question_icon.gif\\\" border=0></A></SPAN></DIV></TD>\\n<TD width=60><DIV  class=\\\"details\\\">\\n<TABLE class=ambtn onactivate=OnMouseOverHandler() onkeypress=OnKeyPressHandler() onmousedown=OnMouseDownHandler() id=ignore_btn_", N});
    Append(out, {L" onmouseover=OnMouseOverHandler() title=\\\"Add to Ignore List\\\" style=\\\"CURSOR: hand; COLOR: black\\\" ondeactivate=OnMouseOutHandler() onclick=OnMouseUpHandler() onmouseout=OnMouseOutHandler() cellSpacing=0 cellPadding=0 border=0 ONCLICKEVENT=\\\"AddToIgnore(", N});
    Append(out, {L")\\\">\\n<TBODY tabIndex=0>\\n<TR>\\n<TD style=\\\"BACKGROUND-IMAGE: url(_buttons/button_normal_first.gif); BACKGROUND-REPEAT: no-repeat\\\" width=8 height=21></TD>\\n<TD style=\\\"BACKGROUND-IMAGE: url(_buttons/button_normal_1px.gif); BACKGROUND-REPEAT: repeat-x\\\" align=middle validn=\\\"middle\\\"><SPAN UNSELECTABLE=\\\"on\\\">Ignore</SPAN></TD>\\n<TD style=\\\"BACKGROUND-IMAGE: url(_buttons/button_normal_last.gif); BACKGROUND-REPEAT: no-repeat\\\" width=8 height=21></TD></TR></TBODY></TABLE></DIV></TD></TR></TBODY></TABLE>\\n"});
    ++table.count[g];
}

void ScanResultsPage::BuildList(GroupTable& table) {
    long n = 0;
    HRCheck ck(L"ICrawler::Count");
    ck = engine_->get_Count(&n);
    Log::Instance().Print(LogInfo, L"[info] Scan results: %d issue(s) found.", int(n));
    ExecScript(L"Init(); document.body.style.cursor='wait'; view.innerHTML = \"<B id='GenList'>Generating list...&nbsp;&nbsp;&nbsp;</B><br>\";");
    PumpMessages();
    // The records first, so that each group's HTML is sized once: regrowing
    // lists of tens of megabytes costs more than writing them.
    Rows rows;
    ReadRowsApart(engine_.Get(), n, rows);
    for (int32_t g = 0; g < GroupTable::Groups; ++g)
        if (rows.sizes[g]) table.html[g].reserve(rows.sizes[g]);
    for (const RecordFields& row : rows.fields)
        AddRow(table, row.fixId, row.item, row.reason, row.errorId, row.unionBit);
    tstring view = table.ViewScript(L"view");
    ExecScript(L"view.innerHTML += \"<H3 id='DispList'>Displaying list...</H3><br>\";");
    PumpMessages();
    ExecScript(view);
    ExecScript(table.MenuScript());
    ExecScript(L"InitCounters(" + Decimal(table.Count(-1)) + L", 0);");
    ExecScript(L"EnableToolbars();");
}

void ScanResultsPage::InitResult() {
    GroupTable table;
    EnableScope enable(*this);
    LockScope lock;
    if (engine_) {
        try {
            BuildList(table);
        } catch (const ErrorBase& e) {
            // The list stops where the engine failed; the page says so and
            // stays usable for another scan.
            Log::Instance().Print(LogError, L"[error] Scan results page: %s", e.Message().c_str());
            ExecScript(L"view.innerHTML = \"<B id='ListError'>" + EscapeScriptString(e.Message()) + L"</B>\";");
            ExecScript(L"document.getElementById('againButton').disabled = false;");
        }
    }
    if (HWND window = ControlWindowOf(*this)) {
        PostMessageW(window, WM_KEYDOWN, VK_HOME, 0);
        PostMessageW(window, WM_KEYUP, VK_HOME, 0);
    }
    ExecScript(L"document.getElementById('view').setActive();");
    ExecScript(L"document.getElementById('FixButton').setActive();");
}

void ScanResultsPage::SkipItem(long fixId) {
    if (!engine_) return;
    HRCheck(L"ICrawler::AddToIgnoreList") = engine_->AddToIgnoreList(fixId);
    PumpMessages();
}

void ScanResultsPage::OpenLink(long fixId) {
    if (!engine_) return;
    ComPtr<IqnRegRecord> record;
    HRCheck(L"ICrawler::RecordByFixID") = engine_->RecordByFixID(fixId, record.Receive());
    RecordFields fields;
    // A finding fixed or ignored meanwhile has no record any more: nothing to open.
    if (!ReadRecord(record.Get(), fields, true)) return;
    RegEditJump(fields.keyPath, fields.valueName);
}

tstring ScanResultsPage::WebInfoAddress(const tstring& item, const tstring& value, long errorId, long unionBit) {
    tstring subject = item + L"\x0087" + value + L"\x0087";
    tstring low;
    low.Format(L"%x", unsigned(LOWORD(errorId)));
    subject += low;
    for (wchar_t& c : subject) {
        if (c == L'/') c = L'\x0086';
        else if (c == L'\\') c = L'|';
    }
    tstring category, topic, escapedSubject;
    if (!Escape(SegmentText(CategoryText(unionBit, true), false), 255, category) ||
        !Escape(SegmentText(HelpTopic(HIWORD(errorId)), true), 255, topic) ||
        !Escape(subject, 4096, escapedSubject))
        return tstring();
    return InfoPageAddress(category + L"/" + topic + L"/" + escapedSubject);
}

void ScanResultsPage::WebInfo(long fixId) {
    if (!engine_) return;
    ComPtr<IqnRegRecord> record;
    HRCheck(L"ICrawler::RecordByFixID") = engine_->RecordByFixID(fixId, record.Receive());
    RecordFields fields;
    if (!ReadRecord(record.Get(), fields, false) || fields.fixId == 0) return;
    tstring address = WebInfoAddress(fields.item, fields.reason, fields.errorId, fields.unionBit);
    if (!address.empty())
        GetUiServices().ShellExecuteFile(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void ScanResultsPage::ErrorWebInfo(const tstring& text) {
    if (!engine_) return;
    tstring address = InfoPageAddress(text);
    GetUiServices().ShellExecuteFile(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void ScanResultsPage::CopyReport(const tstring& running) {
    CopyReportToClipboard(GetMainWindow(), BuildScanReport(engine_.Get(), running));
}

void ScanResultsPage::SaveReport(const tstring& running) {
    SaveReportAs(ControlWindowOf(*this), BuildScanReport(engine_.Get(), running));
}

void ScanResultsPage::IgnoreSelected() {
    if (ShowMessageBox(GetMainWindow(), L"Are you sure you want to add all selected items to ignore list?",
                       L"QUARN Orvane", MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2) != IDOK)
        return;
    struct Restore {
        HtmlPage& page;
        ~Restore() {
            EnableWindow(GetMainWindow(), TRUE);
            PumpMessages();
            page.EnableCloseMenu();
        }
    };
    DisableCloseMenu();
    Restore restore{*this};
    EnableWindow(GetMainWindow(), FALSE);
    PumpMessages();
    ExecScript(L"AddAllSelectedToIgnore()");
    PumpMessages();
}

void ScanResultsPage::OpenRecordWebInfo(IqnRegRecord* record) {
    if (!record)
        return;
    ListedRecord fields = ReadListedRecord(record);
    tstring address = ScanResultsPage::WebInfoAddress(fields.item, fields.reason, fields.errorId,
                                                      FixerTypeToUnion(HIWORD(fields.errorId)));
    if (!address.empty())
        GetUiServices().ShellExecuteFile(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

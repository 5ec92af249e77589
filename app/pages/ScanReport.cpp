#include "app/pages/ScanReport.h"
#include <oleauto.h>
#include "app/AppUtilities.h"
#include "app/frame/UiServices.h"
#include "app/mainview/UpdateCheck.h"
#include "app/records/RecordTexts.h"
#include <shlobj.h>
#include "common/com/ComPtr.h"
#include "common/errors/CheckObjects.h"
#include "common/system/HandleHolder.h"

namespace {

tstring ReadText(IqnRegRecord* record, HRESULT (STDMETHODCALLTYPE IqnRegRecord::*get)(BSTR*)) {
    BSTR text = nullptr;
    HRCheck ck(L"record text");
    ck = (record->*get)(&text);
    tstring result = text ? tstring::FromWide(text, SysStringLen(text)) : tstring();
    SysFreeString(text);
    return result;
}

long ReadNumber(IqnRegRecord* record, HRESULT (STDMETHODCALLTYPE IqnRegRecord::*get)(long*)) {
    long value = 0;
    HRCheck ck(L"record number");
    ck = (record->*get)(&value);
    return value;
}

}  // namespace

tstring BuildScanReport(ICrawler* engine, const tstring& running) {
    return BuildRecordReport(engine, ReportList::Found, running);
}

tstring BuildRecordReport(ICrawler* engine, ReportList list, const tstring& running) {
    if (!engine) return tstring();
    tstring byGroup[8];
    bool any = false;
    long count = 0;
    HRCheck ck(L"ICrawler::Count");
    if (list == ReportList::Found)
        ck = engine->get_Count(&count);
    else if (list == ReportList::Undo)
        ck = engine->get_UndoCount(&count);
    else
        ck = engine->get_IgnoreCount(&count);
    for (long i = 1; i <= count; ++i) {
        ComPtr<IqnRegRecord> record;
        if (list == ReportList::Found)
            ck = engine->Record(i, record.Receive());
        else if (list == ReportList::Undo)
            ck = engine->UndoRecord(i, record.Receive());
        else
            ck = engine->IgnoreRecord(i, record.Receive());
        if (!record || (list == ReportList::Found && ReadNumber(record.Get(), &IqnRegRecord::get_FixID) == 0)) continue;
        long errorId = ReadNumber(record.Get(), &IqnRegRecord::get_ErrorID);
        long bit = list == ReportList::Found ? ReadNumber(record.Get(), &IqnRegRecord::get_RegUnion)
                                             : long(FixerTypeToUnion(HIWORD(errorId)));
        int group = UnionToGroup(bit);
        if (group < 0 || group >= 8) continue;
        tstring& out = byGroup[group];
        out += ErrorIdText(HIWORD(errorId)) + L": " + ReadText(record.Get(), &IqnRegRecord::get_Item) + L"\r\n\t";
        tstring reason = ReasonText(LOWORD(errorId));
        if (!reason.empty())
            out += L"(" + reason + L": " + ReadText(record.Get(), &IqnRegRecord::get_Reason) + L")\r\n\t";
        tstring value = ReadText(record.Get(), &IqnRegRecord::get_ValueName);
        out += L"KEY: " + ReadText(record.Get(), &IqnRegRecord::get_KeyPath) + L"\r\n\tVALUE: " +
               (value.empty() ? tstring(L"(Default)") : value) + L"\r\n\r\n";
        any = true;
    }
    if (!any) return tstring();
    tstring report = L"QUARN Orvane 4.0 (" + ProductSite() + L")\r\n";
    if (!running.empty()) report += L"Running on " + running;
    report += L"\r\n\r\n";
    for (int g = 0; g < 8; ++g) {
        if (byGroup[g].empty()) continue;
        report += CategoryText(1 << g) + L"\r\n-----------------------------------\r\n" + byGroup[g];
    }
    return report;
}

bool SaveReportAs(HWND owner, const tstring& report) {
    wchar_t desktop[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_DESKTOP, nullptr, 0, desktop);
    wchar_t file[MAX_PATH] = {};
    OPENFILENAMEW request = {};
    request.lStructSize = sizeof(request);
    request.hwndOwner = owner;
    request.lpstrFilter = L"Text files (*.txt)\0*.txt\0All files(*.*)\0*.*\0\0";
    request.lpstrFile = file;
    request.nMaxFile = MAX_PATH;
    request.lpstrDefExt = L"txt";
    request.lpstrInitialDir = desktop;
    request.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOREADONLYRETURN;
    return GetUiServices().SaveFileDialog(&request) && WriteReportFile(file, report);
}

bool WriteReportFile(const tstring& path, const tstring& report) {
    HandleHolder file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return false;
    DWORD bytes = DWORD(report.size() * sizeof(wchar_t)), written = 0;
    return bytes == 0 || (WriteFile(file, report.c_str(), bytes, &written, nullptr) && written == bytes);
}

bool CopyReportToClipboard(HWND owner, const tstring& report) {
    if (!OpenClipboard(owner)) return false;
    struct Closer {
        ~Closer() { CloseClipboard(); }
    } closer;
    SIZE_T bytes = (report.size() + 1) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!block) return false;
    void* data = GlobalLock(block);
    if (!data) {
        GlobalFree(block);
        return false;
    }
    memcpy(data, report.c_str(), bytes);
    GlobalUnlock(block);
    EmptyClipboard();
    if (!SetClipboardData(CF_UNICODETEXT, block)) {
        GlobalFree(block);
        return false;
    }
    return true;
}

#include <doctest/doctest.h>
#include <windows.h>
#include <oleauto.h>
#include <string>
#include <vector>
#include "PageTestSupport.h"
#include "PlantedFaults.h"
#include "RecordingScriptSink.h"
#include "RecordingUiServices.h"
#include "app/pages/BackgroundOperPage.h"
#include "app/pages/FixingPage.h"
#include "app/pages/ScanReport.h"
#include "app/pages/ScanResultsPage.h"
#include "app/pages/SelectUnionsPage.h"
#include "app/records/GroupTable.h"
#include "common/com/ComPtr.h"

namespace {

// Names an installed program may leave in the registry, all to be shown as text.
const std::vector<std::wstring> kHostile = {
    L"C:\\missing\\it's \"q\" <b>.dll",
    L"C:\\missing\\</script>&quot;&#39;.dll",
    L"C:\\missing\\line\r\nbreak\x2028\x2029.dll",
    L"C:\\missing\\%s%n.dll",
};

void Fire(ScanResultsPage& page, const wchar_t* name, long number) { SendEvent(page, name, L"", Number(number)); }

long CountOf(ICrawler* engine) {
    long n = 0;
    engine->get_Count(&n);
    return n;
}

}  // namespace

TEST_CASE("rows escape the texts of one finding exactly") {
    GroupTable table;
    ScanResultsPage::AddRow(table, 7, L"C:\\a'b", L"", (309 << 16) | 104, 4);
    ScanResultsPage::AddRow(table, 8, L"x", L"y", (309 << 16) | 100, 4);
    CHECK(table.Count(2) == 2);
    const tstring& html = table.html[2];
    CHECK(html.find(L"\\\",this)\\'>") != tstring::npos);
    CHECK(html.find(L"Cannot find registered shared DLL: <a title='Learn more online' href=\\'#\\' onclick=\\'window."
                    L"external.OnHTMLEvent(document, \\\"WebInfo\\\", \\\"\\\",7)\\'>C:\\\\a\\'b</a></DIV>") != tstring::npos);
    CHECK(html.find(L"<BR>&nbsp;File not found: [empty value]</DIV>") != tstring::npos);
    // Without a reason text the second line stays empty.
    CHECK(html.find(L"WORD-WRAP: break-word\\\"></DIV></TD>\\n<TD width=18>") != tstring::npos);
    CHECK(html.find(L"helpButtonClick(\\\"errors_shared_dlls\\\",this)") != tstring::npos);

    RecordingScriptSink sink;
    sink.ExecScript(L"Init();", L"JavaScript");
    sink.ExecScript(table.ViewScript(L"view").c_str(), L"JavaScript");
    sink.ExecScript(table.MenuScript().c_str(), L"JavaScript");
    sink.ExecScript(L"InitCounters(2, 0);", L"JavaScript");
    for (const auto& script : sink.scripts) CHECK(JScriptParseError(script.text) == L"");
    CHECK(sink.CompareWithGolden("scanResults", "two_rows") == "");
}

TEST_CASE("findings of the real engine become rows, reports and ignores") {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    PlantSharedDlls(kHostile);
    {
        ComPtr<ICrawler> engine = LoadEngine();
        REQUIRE(engine);
        REQUIRE(ScanToFinish(engine.Get(), 4));
        long found = CountOf(engine.Get());
        REQUIRE(found >= 4);

        RecordingUiServices ui;
        RecordingScriptSink sink;
        ScanResultsPage page;
        page.AttachControl(nullptr, 0, nullptr, &sink);
        page.SetEngine(engine.Get());
        Fire(page, L"Scan_InitResult", 0);
        tstring all;
        for (const auto& script : sink.scripts) {
            CHECK(JScriptParseError(script.text) == L"");
            all += script.text;
        }
        CHECK(all.find(L"it\\'s \\\"q\\\" &lt;b&gt;.dll") != tstring::npos);
        CHECK(all.find(L"&lt;/script&gt;&amp;quot;&amp;#39;.dll") != tstring::npos);
        CHECK(all.find(L"line[CR][LF]break\\u2028\\u2029.dll") != tstring::npos);
        CHECK(all.find(L"\x2028") == tstring::npos);
        CHECK(all.find(L"</script>") == tstring::npos);
        CHECK(sink.controlEnabled);
        CHECK(sink.scripts.back().text == L"document.body.style.cursor = 'auto';");

        // The report names every finding; nothing fixable gives an empty file.
        tstring report = BuildScanReport(engine.Get(), L"Test OS");
        CHECK(report.find(L"QUARN Orvane 4.0 (") == 0);
        CHECK(report.find(L"Running on Test OS\r\n\r\nShared Components\r\n-----------------------------------\r\n") !=
              tstring::npos);
        CHECK(report.find(L"KEY: HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls\r\n\tVALUE: "
                          L"C:\\missing\\%s%n.dll\r\n\r\n") != tstring::npos);
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        tstring file = tstring(temp) + L"orvane-report.txt";
        REQUIRE(WriteReportFile(file, report));
        HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        CHECK(GetFileSize(h, nullptr) == report.size() * 2);
        CloseHandle(h);
        REQUIRE(CopyReportToClipboard(nullptr, report));
        OpenClipboard(nullptr);
        HANDLE data = GetClipboardData(CF_UNICODETEXT);
        CHECK(data != nullptr);
        if (data) CHECK(tstring(static_cast<const wchar_t*>(GlobalLock(data))) == report);
        if (data) GlobalUnlock(data);
        CloseClipboard();

        // Web information of a finding: the segments of its address are escaped.
        ComPtr<IqnRegRecord> first;
        engine->Record(1, first.Receive());
        long fixId = 0;
        first->get_FixID(&fixId);
        Fire(page, L"WebInfo", fixId);
        REQUIRE(ui.executes.size() == 1);
        CHECK(ui.executes[0].verb == L"open");
        CHECK(ui.executes[0].file.find(L"https://www.quarn.com/shared-components/") != tstring::npos);
        CHECK(ui.executes[0].file.find(L"\\") == tstring::npos);
        // A finding that left the list opens nothing.
        Fire(page, L"WebInfo", 999999);
        Fire(page, L"Res_OpenLink", 999999);
        CHECK(ui.executes.size() == 1);

        Fire(page, L"Scan_SkipItem", fixId);
        CHECK(CountOf(engine.Get()) == found - 1);
        engine->DismissIgnoreList();
        DeleteFileW(file.c_str());
        CHECK(WriteReportFile(file, BuildScanReport(nullptr, L"")));
        h = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        CHECK(GetFileSize(h, nullptr) == 0);
        CloseHandle(h);
        DeleteFileW(file.c_str());
    }
    RemoveSharedDlls(kHostile);
    CoUninitialize();
}

TEST_CASE("the category and fixing pages keep the chosen mask and open pages of the one product site") {
    RecordingUiServices ui;
    SelectUnionsPage page;
    BSTR name = SysAllocString(L"RefreshSelectedUnions");
    BSTR element = SysAllocString(L"");
    VARIANT text;
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"5");
    CHECK(page.OnHTMLEvent(nullptr, name, element, &text) == 0);
    CHECK(page.SelectedUnions() == 5);
    VARIANT number;
    number.vt = VT_I4;
    number.lVal = 130;
    page.OnHTMLEvent(nullptr, name, element, &number);
    CHECK(page.SelectedUnions() == 130);
    SysFreeString(name);
    name = SysAllocString(L"UnionWebInfo");
    SysFreeString(text.bstrVal);
    text.bstrVal = SysAllocString(L"shared components/a&b");
    page.OnHTMLEvent(nullptr, name, element, &text);
    REQUIRE(ui.executes.size() == 1);
    CHECK(ui.executes[0].file.find(L"https://www.quarn.com/shared%20components/a") == 0);
    CHECK(ui.executes[0].file.find(L"/info.html") == ui.executes[0].file.size() - 10);
    BackgroundOperPage background;
    CHECK(background.OnHTMLEvent(nullptr, name, element, &text) == 1);
    // The user's site override holds for every information page.
    const wchar_t site[] = L"http://127.0.0.1:9/mirror/";
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\QUARN\\Orvane", L"SiteBase", REG_SZ, site, sizeof(site));
    page.OnHTMLEvent(nullptr, name, element, &text);
    FixingPage fixing;
    SendEvent(fixing, L"ErrorWebInfo", L"", Text(L"errors_programs"));
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\QUARN\\Orvane", L"SiteBase");
    REQUIRE(ui.executes.size() == 3);
    CHECK(ui.executes[1].file.find(L"http://127.0.0.1:9/mirror/shared%20components/a") == 0);
    CHECK(ui.executes[2].file == L"http://127.0.0.1:9/mirror/errors_programs/info.html");
    VariantClear(&text);
    SysFreeString(name);
    SysFreeString(element);
}

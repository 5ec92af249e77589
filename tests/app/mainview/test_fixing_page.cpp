#include <doctest/doctest.h>
#include <windows.h>
#include <oleauto.h>
#include <sddl.h>
#include <string>
#include <vector>
#include "RecordingScriptSink.h"
#include "RecordingUiServices.h"
#include "EngineTestSupport.h"
#include "PageTestSupport.h"
#include "PlantedFaults.h"
#include "TestLimits.h"
#include "app/pages/FixingPage.h"
#include "common/com/ComPtr.h"
#include "common/errors/ErrorBase.h"

namespace {

const UINT kEventMessage = WM_APP + 7;

// FixIDs of the planted findings and an excluded text naming every other one.
std::vector<long> Planted(ICrawler* engine, const std::vector<std::wstring>& names, std::wstring& others) {
    std::vector<long> ids(names.size(), 0);
    long n = 0;
    engine->get_Count(&n);
    for (long i = 1; i <= n; ++i) {
        ComPtr<IqnRegRecord> record;
        engine->Record(i, record.Receive());
        BSTR value = nullptr;
        long fixId = 0;
        record->get_ValueName(&value);
        record->get_FixID(&fixId);
        bool mine = false;
        for (size_t k = 0; k < names.size(); ++k)
            if (value && names[k] == value) ids[k] = fixId, mine = true;
        if (!mine && fixId) others += L" " + std::to_wstring(fixId);
        SysFreeString(value);
    }
    return ids;
}

// The view's event window: hands posted events to the page, also from the
// nested pumps of the page's own handlers.
FixingPage* g_page = nullptr;
std::vector<std::wstring> g_events;

LRESULT CALLBACK EventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kEventMessage) return DefWindowProcW(window, message, wParam, lParam);
    ReceivePostedEvent(wParam, lParam, [&](BSTR name, VARIANT* param) {
        g_events.push_back(name);
        BSTR element = SysAllocString(L"");
        g_page->OnHTMLEvent(nullptr, name, element, param);
        SysFreeString(element);
    });
    return 0;
}

std::vector<std::wstring> Deliver() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    std::vector<std::wstring> events;
    events.swap(g_events);
    return events;
}

bool ValueExists(const wchar_t* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    bool exists = RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return exists;
}

// A registered engine that scanned the shared DLLs, with the planted
// findings' FixIDs and an excluded text naming every other finding.
struct ScannedEngine {
    explicit ScannedEngine(const std::vector<std::wstring>& names) {
        CoCreateInstance(CLSID_CCrawler, nullptr, CLSCTX_INPROC_SERVER, IID_ICrawler, engine.ReceiveVoid());
        REQUIRE(engine);
        REQUIRE(ScanToFinish(engine.Get(), 4));
        ids = Planted(engine.Get(), names, others);
    }
    // The worker reaches the engine through the interface table, which
    // marshals it by the registered type library.
    RegisteredEngine registered;
    ComPtr<ICrawler> engine;
    std::vector<long> ids;
    std::wstring others;
};

// The page on the view's event window, its scripts and boxes recorded.
struct ShownPage {
    ShownPage() {
        g_page = &page;
        page.AttachControl(nullptr, kEventMessage, window, &sink);
    }
    ~ShownPage() { DestroyWindow(window); }
    RecordingUiServices ui;
    RecordingScriptSink sink;
    HWND window = EventWindow(L"FixingPageTestEvents", EventWindowProc);
    FixingPage page;
};

}  // namespace

TEST_CASE("excluded texts and failure rows") {
    CHECK(FixingPage::ParseExcluded(L"").empty());
    CHECK(FixingPage::ParseExcluded(L" 12 34") == std::vector<long>{12, 34});
    CHECK(FixingPage::ParseExcluded(L" 7") == std::vector<long>{7});

    RecordingScriptSink sink;
    const wchar_t* hostile = L"it's \"q\" </script>&quot;&#39;\r\n\x2028\x2029%s%n";
    tstring row = FixingPage::FailureRow(L"Access <denied>", L"HKLM\\SOFTWARE\\x'y", hostile);
    CHECK(row.find(L"\x2028") == tstring::npos);
    CHECK(row.find(L"\r") == tstring::npos);
    sink.ExecScript((L"OnFixFail('" + row + L"');").c_str(), L"JavaScript");
    sink.ExecScript(L"OnFixFinish(0);", L"JavaScript");
    CHECK(JScriptParseError(sink.scripts[0].text) == L"");
    CHECK(sink.CompareWithGolden("Fixing", "hostile_failure") == "");
}

TEST_CASE("the worker fixes the planted findings but the excluded one") {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::vector<std::wstring> names = {L"C:\\gone\\one.dll", L"C:\\gone\\two.dll", L"C:\\gone\\it's kept.dll"};
    PlantSharedDlls(names);
    {
        ScannedEngine scanned(names);
        ComPtr<ICrawler>& engine = scanned.engine;
        REQUIRE(scanned.ids[0] != 0);
        REQUIRE(scanned.ids[2] != 0);
        std::wstring excluded = scanned.others + L" " + std::to_wstring(scanned.ids[2]);

        ShownPage shown;
        FixingPage& page = shown.page;
        RecordingScriptSink& sink = shown.sink;
        page.SetWorkerInline(true);
        try {
            page.StartFix(engine.Get(), excluded);
        } catch (const ErrorBase& e) {
            FAIL(std::string(e.Message().begin(), e.Message().end()));
        }
        std::vector<std::wstring> events = Deliver();
        CHECK(events == std::vector<std::wstring>{L"FixingError", L"FixingError", L"FixFinish"});
        std::vector<std::wstring> texts;
        for (const auto& s : sink.scripts) texts.push_back(s.text);
        CHECK(texts == std::vector<std::wstring>{L"OnFixProgress(0);", L"OnFixProgress(1);", L"OnFixFinish(0);"});
        CHECK(!ValueExists(names[0].c_str()));
        CHECK(!ValueExists(names[1].c_str()));
        CHECK(ValueExists(names[2].c_str()));
        CHECK(shown.ui.boxes.empty());

        // Everything excluded: no session, no undo file, no finish.
        sink.scripts.clear();
        page.StartFix(engine.Get(), excluded);
        CHECK(Deliver().empty());
    }
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSharedDlls, names[2].c_str());
    CoUninitialize();
}

TEST_CASE("records a scheduled fix has fixed fail again with a reason in every row") {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::vector<std::wstring> names = {L"C:\\gone\\fixed twice.dll"};
    PlantSharedDlls(names);
    {
        ScannedEngine scanned(names);
        ComPtr<ICrawler>& engine = scanned.engine;
        REQUIRE(scanned.ids[0] != 0);
        // As the scheduled run fixes, the list kept. Only the planted record:
        // the prefix is shared, and the scan also finds the prefix's own
        // entries and those other tests plant.
        REQUIRE(engine->BeginFixSession() == S_OK);
        REQUIRE(engine->FixError(scanned.ids[0]) == S_OK);
        REQUIRE(engine->FinalizeFixSession() == S_OK);
        REQUIRE_FALSE(ValueExists(names[0].c_str()));

        ShownPage shown;
        FixingPage& page = shown.page;
        // On a thread of its own, as in the program: the engine reaches the
        // worker through the interface table's proxy, failures included.
        page.StartFix(engine.Get(), scanned.others);
        for (DWORD start = GetTickCount(); page.Busy() && GetTickCount() - start < testlimit::kStep;) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            Deliver();
        }
        REQUIRE_MESSAGE(!page.Busy(), "waited in vain for the fix worker's end");
        int rows = 0;
        for (const auto& script : shown.sink.scripts) {
            if (script.text.compare(0, 10, L"OnFixFail(") != 0) continue;
            ++rows;
            // The engine's "unknown fix" code has no system text: the row
            // names the code itself, not the name of the failing call.
            CHECK(script.text.find(L"\\x3E&nbsp;Fatal Error (0x80040227)&nbsp;") != std::wstring::npos);
            CHECK(script.text.find(L"ICrawler::FixError") == std::wstring::npos);
        }
        CHECK(rows == 1);
    }
    CoUninitialize();
}

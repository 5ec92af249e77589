#include <doctest/doctest.h>
#include <windows.h>
#include <oleauto.h>
#include <algorithm>
#include <string>
#include <thread>
#include <vector>
#include "EngineTestSupport.h"
#include "RecordingScriptSink.h"
#include "RecordingUiServices.h"
#include "app/BrowserVersion.h"
#include "app/MainView.h"
#include "app/OperationLock.h"
#include "app/PageNavigator.h"
#include "app/ScriptText.h"
#include "common/com/ComPtr.h"

namespace {

const UINT kEventMessage = WM_APP + 9;
const wchar_t kSharedDlls[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";

// Records the thread every script runs on.
class ThreadRecordingSink : public RecordingScriptSink {
public:
    HRESULT ExecScript(const wchar_t* code, const wchar_t* language) override {
        threads.push_back(GetCurrentThreadId());
        return RecordingScriptSink::ExecScript(code, language);
    }
    std::unique_ptr<PageDocument> Document() override {
        threads.push_back(GetCurrentThreadId());
        return RecordingScriptSink::Document();
    }
    std::vector<DWORD> threads;
};

class TestPage : public HtmlPage {
public:
    explicit TestPage(const wchar_t* name) : name_(name) {}
    const wchar_t* PageName() const override { return name_; }

private:
    const wchar_t* name_;
};

class TestPages : public PageNavigator {
public:
    int AskToLeave(HtmlPage*, const wchar_t*) override { return IDOK; }
    bool ShowItem(PageDisplay&, const wchar_t*) override { return false; }
    HtmlPage* ScanPage(ScanPageKind kind, ICrawler*) override {
        switch (kind) {
        case ScanPageKind::SelectUnions: return &select;
        case ScanPageKind::Progress: return &progress;
        case ScanPageKind::Results: return &results;
        default: return &fixing;
        }
    }
    long SelectedUnions() override { return 4; }
    void StartFix(ICrawler*, const wchar_t* excluded) override { fixes.push_back(excluded); }
    void SetEngine(ICrawler* engine) override { engines.push_back(engine); }

    TestPage select{L"scanSelectUnions.htm"}, progress{L"ScanProgress.htm"}, results{L"scanResults.htm"},
        fixing{L"Fixing.htm"};
    std::vector<std::wstring> fixes;
    std::vector<ICrawler*> engines;
};

// The view with its HTML view replaced by the recording sink.
class TestView : public MainView {
public:
    ThreadRecordingSink sink;
    HWND events = nullptr;
    std::vector<std::wstring> shown;

protected:
    bool DisplayPage(HtmlPage* page, const wchar_t* query) override {
        page->AttachControl(nullptr, kEventMessage, events, &sink);
        shown.push_back(std::wstring(page->PageName()) + L"#" + query);
        return true;
    }
};

TestView* g_view = nullptr;

LRESULT CALLBACK EventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kEventMessage) return DefWindowProcW(window, message, wParam, lParam);
    ReceivePostedEvent(wParam, lParam, [&](BSTR name, VARIANT* param) {
        BSTR element = SysAllocString(L"");
        g_view->OnHTMLEvent(nullptr, name, element, param);
        SysFreeString(element);
    });
    return 0;
}

HWND EventWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = EventWindowProc;
    wc.lpszClassName = L"MainViewTestEvents";
    RegisterClassW(&wc);
    return CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

int Dispatch(MainView& view, IDispatch* document, const wchar_t* name, const wchar_t* element, VARIANT* param) {
    BSTR event = SysAllocString(name);
    BSTR from = SysAllocString(element);
    int result = view.OnHTMLEvent(document, event, from, param);
    SysFreeString(event);
    SysFreeString(from);
    return result;
}

std::vector<std::wstring> Texts(const RecordingScriptSink& sink) {
    std::vector<std::wstring> texts;
    for (const auto& script : sink.scripts) texts.push_back(script.text);
    return texts;
}

size_t CountOf(const std::vector<std::wstring>& texts, const std::wstring& text) {
    return std::count(texts.begin(), texts.end(), text);
}

// Pumps (bounded) until the page was told to go on to the results.
void PumpUntilWaitAndGo(const RecordingScriptSink& sink) {
    for (int i = 0; i < 6000 && !CountOf(Texts(sink), L"WaitAndGo();"); ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

void Pump() {
    MSG msg;
    for (int i = 0; i < 20; ++i) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        Sleep(5);
    }
}

}  // namespace

TEST_CASE("a custom scan shows each planted fault once, escaped, and ends its lock once") {
    const std::wstring plain = L"C:\\gone\\main view.dll";
    const std::wstring hostile = L"C:\\gone\\it's \"q\" </script>&quot;\r\n\x2028%s.dll";
    HKEY key = nullptr;
    REQUIRE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
            ERROR_SUCCESS);
    DWORD one = 1;
    for (const auto& name : {plain, hostile})
        RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof(one));
    RegCloseKey(key);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        RegisteredEngine registered;
        REQUIRE(registered.ExitCode() == 0);
        // Direct handling (older browser) and the posted copy (7.0 and later).
        for (int major : {6, 7}) {
            CAPTURE(major);
            SetIEVersion(BrowserVersion{major, 0});
            TestPages pages;
            SetPageNavigator(&pages);
            {
                TestView view;
                g_view = &view;
                view.events = EventWindow();
                IDispatch* document = reinterpret_cast<IDispatch*>(&view);
                CHECK(Dispatch(view, nullptr, L"Scan_Again", L"", nullptr) == 0);
                VARIANT mask;
                VariantInit(&mask);
                mask.vt = VT_I4;
                mask.lVal = 4;
                CHECK(Dispatch(view, document, L"Scan_ScanCustomStart", L"", &mask) == 0);
                PumpUntilWaitAndGo(view.sink);
                CHECK(view.shown == std::vector<std::wstring>{L"scanStart.htm#", L"ScanProgress.htm#unions=4"});

                std::vector<std::wstring> texts = Texts(view.sink);
                for (const auto& name : {plain, hostile}) {
                    std::wstring tail = L", '" + EscapeScriptString(ShowLineBreaks(name)) + L"');";
                    size_t found = 0;
                    for (const auto& text : texts)
                        if (text.rfind(L"OnRecordFound(4, ", 0) == 0 && text.size() > tail.size() &&
                            text.compare(text.size() - tail.size(), tail.size(), tail) == 0) {
                            ++found;
                            CHECK(JScriptParseError(text) == L"");
                            CHECK(text.find_first_of(L"\r\n\x2028") == std::wstring::npos);
                        }
                    CHECK(found == 1);
                }
                CHECK(CountOf(texts, L"OnScanFinish(4);") == 1);
                CHECK(CountOf(texts, L"WaitAndGo();") == 1);
                CHECK(texts.back() == L"WaitAndGo();");
                for (DWORD thread : view.sink.threads) CHECK(thread == GetCurrentThreadId());
                CHECK(!IsOperationRunning());
                CHECK(!view.IsScanRunning());

                // A finish for no group after the masks were cleared, then a
                // late second one of the same group: no second step, and the
                // lock someone else holds now stays theirs.
                REQUIRE(TryBeginOperation());
                IDispatch* events = view.EventSink();
                REQUIRE(events);
                std::thread engineThread([events] {
                    for (long bit : {-1L, 4L}) {
                        VARIANT unionBit;
                        VariantInit(&unionBit);
                        unionBit.vt = VT_I4;
                        unionBit.lVal = bit;
                        DISPPARAMS params = {&unionBit, nullptr, 1, 0};
                        events->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
                    }
                });
                engineThread.join();
                Pump();
                CHECK(CountOf(Texts(view.sink), L"WaitAndGo();") == 1);
                CHECK(IsOperationRunning());
                EndOperation();

                // On to the results, then fixing all but the plain fault.
                CHECK(Dispatch(view, document, L"Scan_ViewResult", L"", nullptr) == 0);
                Pump();
                CHECK(view.shown.back() == L"scanResults.htm#");
                long count = 0, fixable = 0, plainId = 0;
                REQUIRE(SUCCEEDED(view.Engine()->get_Count(&count)));
                for (long i = 1; i <= count; ++i) {
                    ComPtr<IqnRegRecord> record;
                    long fixId = 0;
                    BSTR item = nullptr;
                    REQUIRE(SUCCEEDED(view.Engine()->Record(i, record.Receive())));
                    record->get_FixID(&fixId);
                    record->get_Item(&item);
                    if (fixId) ++fixable;
                    if (item && plain == item) plainId = fixId;
                    SysFreeString(item);
                }
                REQUIRE(plainId != 0);
                std::wstring excluded = L" " + std::to_wstring(plainId);
                VARIANT param;
                VariantInit(&param);
                param.vt = VT_BSTR;
                param.bstrVal = SysAllocString(excluded.c_str());
                CHECK(Dispatch(view, document, L"Fix", L"", &param) == 0);
                Pump();
                VariantClear(&param);
                CHECK(view.shown.back() == L"Fixing.htm#" + std::to_wstring(fixable - 1));
                CHECK(pages.fixes == std::vector<std::wstring>{excluded});

                // A user's stop right after the start: the page shows it, the
                // lock is free and the finish of the stopped scan goes nowhere.
                view.sink.scripts.clear();
                CHECK(Dispatch(view, document, L"Scan_ScanCustomStart", L"", &mask) == 0);
                CHECK(Dispatch(view, document, L"Scan_ScanStop", L"", nullptr) == 0);
                Pump();
                texts = Texts(view.sink);
                CHECK(CountOf(texts, L"stopping.style.display = 'inline';") == 1);
                CHECK(CountOf(texts, L"WaitAndGo();") == 0);
                CHECK(view.shown.back() == L"scanStart.htm#");
                CHECK(!IsOperationRunning());
                CHECK(!view.IsScanRunning());
                DestroyWindow(view.events);
            }
            SetPageNavigator(nullptr);
        }
        SetIEVersion(BrowserVersion{});
    }
    CoUninitialize();
    for (const auto& name : {plain, hostile}) RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSharedDlls, name.c_str());
}

TEST_CASE("the category selection opens with the last categories and returns the box's state only") {
    SetIEVersion(BrowserVersion{6, 0});
    TestPages pages;
    SetPageNavigator(&pages);
    {
        TestView view;
        g_view = &view;
        CHECK(Dispatch(view, nullptr, L"Scan_Custom", L"", nullptr) == 0);
        CHECK(view.shown == std::vector<std::wstring>{L"scanSelectUnions.htm#unions=4"});
        CHECK(Texts(view.sink) == std::vector<std::wstring>{L"autofixbox.checked = false", L"auto_fix = 'false'"});

        VARIANT param;
        VariantInit(&param);
        param.vt = VT_BSTR;
        param.bstrVal = SysAllocString(L"true; external.OnHTMLEvent('GoWWW')");
        view.sink.scripts.clear();
        CHECK(Dispatch(view, nullptr, L"Scan_SelectUnionCancel", L"", &param) == 0);
        CHECK(Texts(view.sink).empty());
        VariantClear(&param);
        param.vt = VT_BSTR;
        param.bstrVal = SysAllocString(L"true");
        CHECK(Dispatch(view, nullptr, L"Scan_SelectUnionCancel", L"", &param) == 0);
        VariantClear(&param);
        CHECK(view.shown.back() == L"scanStart.htm#");
        CHECK(Texts(view.sink) == std::vector<std::wstring>{L"autofixbox.checked = true"});
        view.sink.scripts.clear();
        CHECK(Dispatch(view, nullptr, L"Scan_Again", L"", nullptr) == 0);
        CHECK(Texts(view.sink) == std::vector<std::wstring>{L"autofixbox.checked = true;"});
    }
    SetPageNavigator(nullptr);
    SetIEVersion(BrowserVersion{});
}

TEST_CASE("the pages follow the engine connection; the support link carries the engine's report address") {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        RegisteredEngine registered;
        REQUIRE(registered.ExitCode() == 0);
        RecordingUiServices ui;
        TestPages pages;
        SetPageNavigator(&pages);
        TestView view;
        REQUIRE(view.ConnectEngine() == S_OK);
        REQUIRE(pages.engines.size() >= 1);
        CHECK(pages.engines.back() == view.Engine());
        BSTR old = nullptr;
        view.Engine()->get_ReportMail(&old);
        BSTR mail = SysAllocString(L"O'Brien&co@example.test");
        view.Engine()->put_ReportMail(mail);
        SysFreeString(mail);

        auto support = [&] {
            VARIANT base;
            base.vt = VT_BSTR;
            base.bstrVal = SysAllocString(L"http://127.0.0.1/support");
            BSTR name = SysAllocString(L"SubmitTicketOnline"), element = SysAllocString(L"");
            view.StartPage().OnHTMLEvent(nullptr, name, element, &base);
            SysFreeString(name);
            SysFreeString(element);
            VariantClear(&base);
            REQUIRE_FALSE(ui.executes.empty());
            return ui.executes.back().file;
        };
        CHECK(support().find(L"&email=O%27Brien%26co%40example.test&") != std::wstring::npos);
        view.DisconnectEngine();
        CHECK(pages.engines.back() == nullptr);
        CHECK(view.Engine() == nullptr);
        // Without a connected engine the address is read all the same.
        CHECK(support().find(L"&email=O%27Brien%26co%40example.test&") != std::wstring::npos);

        REQUIRE(view.ConnectEngine() == S_OK);
        view.Engine()->put_ReportMail(old);
        SysFreeString(old);
        view.DisconnectEngine();
        SetPageNavigator(nullptr);
    }
    CoUninitialize();
}

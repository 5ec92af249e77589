#include <doctest/doctest.h>
#include <set>
#include <winsock2.h>  // before windows.h: the pages reach the mail client
#include <windows.h>
#include <oleauto.h>
#include <sddl.h>
#include <winternl.h>
#include <algorithm>
#include <fstream>
#include <string>
#include <thread>
#include <vector>
#include "EngineTestSupport.h"
#include "PageTestSupport.h"
#include "PlantedFaults.h"
#include "RecordingScriptSink.h"
#include "RecordingUiServices.h"
#include "app/html/BrowserVersion.h"
#include "app/html/PageNavigator.h"
#include "app/html/ScriptText.h"
#include "app/mainview/MainView.h"
#include "app/mainview/MainViewRunnerHost.h"
#include "app/OperationLock.h"
#include "app/pages/MaintenancePages.h"
#include "common/com/ComPtr.h"
#include "common/system/FileSystem.h"
#include "TestLimits.h"

namespace {

const UINT kEventMessage = WM_APP + 9;

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
    // The lock the view handed over is the fix's to give back.
    void StartFix(ICrawler*, const wchar_t* excluded) override {
        fixes.push_back(excluded);
        EndOperation();
    }
    void SetEngine(ICrawler* engine) override { engines.push_back(engine); }

    TestPage select{L"scanSelectUnions.htm"}, progress{L"ScanProgress.htm"}, results{L"scanResults.htm"},
        fixing{L"Fixing.htm"};
    std::vector<std::wstring> fixes;
    std::vector<ICrawler*> engines;
};

// Pages without a fix of their own: the navigator's StartFix.
class NoFixPages : public PageNavigator {
public:
    int AskToLeave(HtmlPage*, const wchar_t*) override { return IDOK; }
    bool ShowItem(PageDisplay&, const wchar_t*) override { return false; }
    HtmlPage* ScanPage(ScanPageKind, ICrawler*) override { return &fixing; }
    TestPage fixing{L"Fixing.htm"};
};

// The view with its HTML view replaced by the recording sink.
class TestView : public MainView {
public:
    ThreadRecordingSink sink;
    HWND events = nullptr;
    std::vector<std::wstring> shown;
    HtmlPage* current = nullptr;
    // Where each shown page's scripts begin in the sink.
    std::vector<std::pair<size_t, std::wstring>> marks;

    // The scripts run while the page was last shown.
    std::vector<RecordedScript> ScriptsOf(const std::wstring& page) const {
        for (size_t m = marks.size(); m-- > 0;) {
            if (marks[m].second != page) continue;
            size_t end = m + 1 < marks.size() ? marks[m + 1].first : sink.scripts.size();
            return std::vector<RecordedScript>(sink.scripts.begin() + marks[m].first, sink.scripts.begin() + end);
        }
        return {};
    }

protected:
    bool DisplayPage(HtmlPage* page, const wchar_t* query) override {
        page->AttachControl(nullptr, kEventMessage, events, &sink);
        shown.push_back(std::wstring(page->PageName()) + L"#" + query);
        marks.push_back({sink.scripts.size(), page->PageName()});
        current = page;
        return true;
    }
};

TestView* g_view = nullptr;

LRESULT CALLBACK EventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kEventMessage) return DefWindowProcW(window, message, wParam, lParam);
    // As the control does: the shown page first, then the view.
    ReceivePostedEvent(wParam, lParam, [&](BSTR name, VARIANT* param) {
        BSTR element = SysAllocString(L"");
        DispatchHtmlEvent(g_view->current, g_view, nullptr, name, element, param);
        SysFreeString(element);
    });
    return 0;
}

int Dispatch(TestView& view, IDispatch* document, const wchar_t* name, const wchar_t* element, VARIANT* param) {
    BSTR event = SysAllocString(name);
    BSTR from = SysAllocString(element);
    int result = DispatchHtmlEvent(view.current, &view, document, event, from, param);
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

// Pumps (bounded) until the page has run the script text.
void PumpUntilScript(const RecordingScriptSink& sink, const wchar_t* text) {
    for (int i = 0; i < 3000 && !CountOf(Texts(sink), text); ++i) {
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

// Pumps (bounded) until the view's scan has ended, then what its end posted.
void PumpUntilScanEnds(TestView& view) {
    for (int i = 0; i < 3000 && view.IsScanRunning(); ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    REQUIRE_MESSAGE(!view.IsScanRunning(), "waited in vain for the scan's end");
    Pump();
}

}  // namespace

TEST_CASE("a custom scan shows each planted fault once, escaped, and ends its lock once") {
    const std::wstring plain = L"C:\\gone\\main view.dll";
    const std::wstring hostile = L"C:\\gone\\it's \"q\" </script>&quot;\r\n\x2028%s.dll";
    PlantSharedDlls({plain, hostile});
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
                view.events = EventWindow(L"MainViewTestEvents", EventWindowProc);
                IDispatch* document = reinterpret_cast<IDispatch*>(&view);
                CHECK(Dispatch(view, nullptr, L"Scan_Again", L"", nullptr) == 0);
                VARIANT mask;
                VariantInit(&mask);
                mask.vt = VT_I4;
                // A bit that no group answers would never finish: refused like none.
                for (long refused : {0L, -1L, 256L}) {
                    mask.lVal = refused;
                    CHECK(Dispatch(view, nullptr, L"Scan_ScanCustomStart", L"", &mask) == E_INVALIDARG);
                    CHECK(!IsOperationRunning());
                }
                mask.lVal = 4;
                CHECK(Dispatch(view, document, L"Scan_ScanCustomStart", L"", &mask) == 0);
                PumpUntilScript(view.sink, L"WaitAndGo();");
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
                testlimit::Join(engineThread, testlimit::kStep, "the engine thread's late finish events");
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

                // The results again, then a scheduled scan: its engine's
                // records are not listed from the side bar's Registry Scan.
                CHECK(Dispatch(view, document, L"Scan_ViewResult", L"", nullptr) == 0);
                Pump();
                REQUIRE(view.shown.back() == L"scanResults.htm#");
                {
                    MainViewRunnerHost host(view);
                    host.ShowBackgroundPage(3);
                    host.SetQuiet(true);
                    REQUIRE(host.StartScan(4));
                    PumpUntilScanEnds(view);
                    host.SetQuiet(false);
                    host.RestorePage();
                }
                CHECK(view.shown.back() == L"scanStart.htm#");
                VARIANT item = Text(L"RegistryScan");
                CHECK(Dispatch(view, document, L"OutBarItemClicked", L"", &item) == 0);
                VariantClear(&item);
                CHECK(view.shown.back() == L"scanStart.htm#");

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

                // Second starts while a scan runs, a plain express one and a
                // custom one without the box, leave it its automatic fix.
                // (Handled directly: posted copies would race the scan's end.)
                if (major == 6) {
                    pages.fixes.clear();
                    CHECK(Dispatch(view, document, L"Scan_ScanCustomStart", L"autofix", &mask) == 0);
                    VARIANT plain = Text(L"");
                    CHECK(Dispatch(view, document, L"Scan_Express", L"", &plain) == 0);
                    VariantClear(&plain);
                    CHECK(Dispatch(view, document, L"Scan_ScanCustomStart", L"", &mask) == 0);
                    PumpUntilScanEnds(view);
                    CHECK(pages.fixes == std::vector<std::wstring>{L"EXPRESS"});
                    CHECK(!IsOperationRunning());
                }
                DestroyWindow(view.events);
            }
            SetPageNavigator(nullptr);
        }
        SetIEVersion(BrowserVersion{});
    }
    CoUninitialize();
    RemoveSharedDlls({plain, hostile});
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

        // Pages without a fix of their own give the fix's lock back.
        NoFixPages noFix;
        SetPageNavigator(&noFix);
        CHECK(Dispatch(view, nullptr, L"Fix", L"", nullptr) == 0);
        CHECK(view.current == &noFix.fixing);
        CHECK(!IsOperationRunning());
        SetPageNavigator(&pages);
        view.DisconnectEngine();
        SetPageNavigator(nullptr);
    }
    CoUninitialize();
}

namespace {

typedef LONG(NTAPI* NtCreateKeyFn)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, ULONG, PUNICODE_STRING, ULONG, PULONG);
typedef LONG(NTAPI* NtSetValueKeyFn)(HANDLE, PUNICODE_STRING, ULONG, ULONG, PVOID, ULONG);
typedef LONG(NTAPI* NtDeleteKeyFn)(HANDLE);
typedef LONG(NTAPI* NtDeleteValueKeyFn)(HANDLE, PUNICODE_STRING);

template <class F>
F Native(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

UNICODE_STRING Counted(const std::wstring& text) {
    UNICODE_STRING name;
    name.Buffer = const_cast<wchar_t*>(text.data());
    name.Length = USHORT(text.size() * sizeof(wchar_t));
    name.MaximumLength = name.Length;
    return name;
}

const std::wstring kVersion = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
// What installed software may put into a name (a key name cannot hold a
// backslash; the paths below add theirs). None of it may act in a page.
const std::wstring kHostile =
    L"it's \"q\" </a><img src=x onerror=window.external.OnHTMLEvent(document,'GoWWW','','x')> &quot;&#39; "
    L"</script>\r\n\x2028\x2029%s%n";

// A planted fault: a value or a subkey of parent, named by the native API so
// that names may hold NULs. Each name carries a tag "orvE2E<n>-" that finds
// its record again.
struct Fault {
    HKEY root;
    std::wstring parent, name;
    bool isKey;
    bool readOnly;
    HANDLE key = nullptr;
    long fixId = 0;
    std::wstring item, keyPath, valueName;
};

void SetNativeValue(HANDLE key, const std::wstring& name, DWORD type, const void* data, DWORD size) {
    UNICODE_STRING counted = Counted(name);
    REQUIRE(Native<NtSetValueKeyFn>("NtSetValueKey")(key, &counted, 0, type, const_cast<void*>(data), size) == 0);
}

void SetText(HANDLE key, const wchar_t* name, const std::wstring& text) {
    SetNativeValue(key, name, REG_SZ, text.c_str(), DWORD((text.size() + 1) * sizeof(wchar_t)));
}

void Plant(Fault& fault) {
    HKEY parent = nullptr;
    REQUIRE(RegCreateKeyExW(fault.root, fault.parent.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &parent,
                            nullptr) == ERROR_SUCCESS);
    if (!fault.isKey) {
        const DWORD one = 1;
        SetNativeValue(parent, fault.name, REG_DWORD, &one, sizeof one);
    } else {
        UNICODE_STRING counted = Counted(fault.name);
        OBJECT_ATTRIBUTES attributes;
        InitializeObjectAttributes(&attributes, &counted, OBJ_CASE_INSENSITIVE, parent, nullptr);
        ULONG disposition = 0;
        Native<NtCreateKeyFn>("NtCreateKey")(&fault.key, KEY_ALL_ACCESS, &attributes, 0, nullptr, 0, &disposition);
        REQUIRE(fault.key != nullptr);
        if (fault.parent.find(L"App Paths") != std::wstring::npos) SetText(fault.key, L"", L"C:\\gone\\orvane-e2e.exe");
        if (fault.parent.find(L"Uninstall") != std::wstring::npos) {
            SetText(fault.key, L"DisplayName", L"Orvane end-to-end entry");
            SetText(fault.key, L"UninstallString", L"\"C:\\gone\\uninst.exe\" /remove");
        }
    }
    RegCloseKey(parent);
}

// Whether the fault's value or key is still there, compared by its counted name.
bool Present(const Fault& fault) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(fault.root, fault.parent.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    std::vector<wchar_t> name(16384);
    bool found = false;
    for (DWORD i = 0; !found && i < 100000; ++i) {
        DWORD length = DWORD(name.size());
        LONG rc = fault.isKey ? RegEnumKeyExW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr)
                              : RegEnumValueW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        found = rc == ERROR_SUCCESS && std::wstring(name.data(), length) == fault.name;
    }
    RegCloseKey(key);
    // An application path's fix takes its program value and leaves the key.
    if (found && fault.parent.find(L"App Paths") != std::wstring::npos) {
        found = RegGetValueW(fault.root, (fault.parent + L"\\" + fault.name).c_str(), L"", RRF_RT_ANY, nullptr,
                             nullptr, nullptr) == ERROR_SUCCESS;
    }
    return found;
}

void SetDacl(HANDLE key, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    REQUIRE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
    CHECK(RegSetKeySecurity(static_cast<HKEY>(key), DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS);
    LocalFree(descriptor);
}

void Remove(Fault& fault) {
    if (fault.key) {
        SetDacl(fault.key, L"D:(A;;KA;;;WD)");
        Native<NtDeleteKeyFn>("NtDeleteKey")(fault.key);
        CloseHandle(fault.key);
        fault.key = nullptr;
        return;
    }
    HKEY parent = nullptr;
    if (RegOpenKeyExW(fault.root, fault.parent.c_str(), 0, KEY_ALL_ACCESS, &parent) != ERROR_SUCCESS) return;
    // The native deletion names what RegDeleteValue cannot (a NUL inside).
    UNICODE_STRING counted = Counted(fault.name);
    Native<NtDeleteValueKeyFn>("NtDeleteValueKey")(parent, &counted);
    RegCloseKey(parent);
}

// Takes every fault out again, also when a check ends the test early: a NUL
// name left behind would show in other tests' whole-hive walks.
struct FaultsCleanup {
    std::vector<Fault>& faults;
    std::wstring nulParent;
    ~FaultsCleanup() {
        for (Fault& fault : faults) Remove(fault);
        RegDeleteTreeW(HKEY_CURRENT_USER, nulParent.c_str());
    }
};

std::wstring Tag(size_t n) { return L"orvE2E" + std::to_wstring(n) + L"-"; }

size_t Occurrences(const std::wstring& text, const std::wstring& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

std::set<std::wstring> FilesIn(const std::wstring& folder) {
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.insert(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

// The recorded texts go beside the page tests' build output, where the
// Chromium suite replays them in the real pages.
void WriteRecorded(const char* file, const std::string& json) {
    std::string path = "Z:" + std::string(ORVANE_RECORDED_DIR) + "/" + file;
    for (char& c : path)
        if (c == '/') c = '\\';
    CreateFolderTree(tstring::FromNarrow(path.substr(0, path.find_last_of('\\')).c_str()));
    std::ofstream(path, std::ios::binary) << json;
}

std::string RecordedJson(const std::vector<RecordedScript>& scripts) {
    RecordingScriptSink sink;
    sink.scripts = scripts;
    return sink.ToJson();
}

std::string Utf8(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

}  // namespace

TEST_CASE("scan to fix: hostile names stay text, read-only keys fail into rows, one undo file") {
    const std::wstring sharedDlls = kVersion + L"\\SharedDlls";
    const std::wstring nulParent = L"Software\\OrvaneTest\\mainview";
    std::vector<Fault> faults = {
        {HKEY_LOCAL_MACHINE, sharedDlls, L"C:\\gone\\" + Tag(0) + L"plain.dll", false, false},
        {HKEY_LOCAL_MACHINE, sharedDlls, L"C:\\gone\\" + Tag(1) + kHostile + L"\\x.dll", false, false},
        {HKEY_LOCAL_MACHINE, sharedDlls, L"C:\\gone\\" + Tag(2) + std::wstring(15980, L'x') + L".dll", false, false},
        {HKEY_LOCAL_MACHINE, kVersion + L"\\App Paths", Tag(3) + L"plain.exe", true, false},
        {HKEY_LOCAL_MACHINE, kVersion + L"\\App Paths", Tag(4) + kHostile + L".exe", true, true},
        {HKEY_LOCAL_MACHINE, kVersion + L"\\Uninstall", Tag(5) + L"plain", true, false},
        {HKEY_LOCAL_MACHINE, kVersion + L"\\Uninstall", Tag(6) + kHostile, true, true},
        {HKEY_CURRENT_USER, nulParent, Tag(7) + std::wstring(1, L'\0') + kHostile, false, false},
        // Wine lets the native delete through a read-only DACL: this one is fixed.
        {HKEY_CURRENT_USER, nulParent, Tag(8) + std::wstring(1, L'\0') + kHostile, true, false},
    };
    FaultsCleanup cleanup{faults, nulParent};
    for (Fault& fault : faults) Plant(fault);
    const size_t excludedFault = 0;

    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        RegisteredEngine registered;
        REQUIRE(registered.ExitCode() == 0);
        SetIEVersion(BrowserVersion{7, 0});
        RecordingUiServices ui;
        MaintenancePages pages;
        SetPageNavigator(&pages);
        {
            TestView view;
            g_view = &view;
            view.events = EventWindow(L"MainViewTestEvents", EventWindowProc);
            IDispatch* document = reinterpret_cast<IDispatch*>(&view);
            CHECK(Dispatch(view, nullptr, L"Scan_Again", L"", nullptr) == 0);
            VARIANT mask;
            VariantInit(&mask);
            mask.vt = VT_I4;
            mask.lVal = 4 | 8 | 32 | 128;
            CHECK(Dispatch(view, document, L"Scan_ScanCustomStart", L"", &mask) == 0);
            PumpUntilScript(view.sink, L"WaitAndGo();");
            REQUIRE(CountOf(Texts(view.sink), L"WaitAndGo();") == 1);
            CHECK(view.shown.back() == L"ScanProgress.htm#unions=172");
            // Four groups finish on their own threads, close together: each
            // shows its end once and the scan completes once, its lock freed.
            for (const wchar_t* finish :
                 {L"OnScanFinish(4);", L"OnScanFinish(8);", L"OnScanFinish(32);", L"OnScanFinish(128);"})
                CHECK(CountOf(Texts(view.sink), finish) == 1);
            CHECK(Texts(view.sink).back() == L"WaitAndGo();");
            CHECK(!IsOperationRunning());

            // Each fault's record, and every other finding of the prefix,
            // which the user leaves unchecked along with the first fault.
            ICrawler* engine = view.Engine();
            REQUIRE(engine);
            long count = 0;
            REQUIRE(SUCCEEDED(engine->get_Count(&count)));
            std::wstring excluded;
            for (long i = 1; i <= count; ++i) {
                ComPtr<IqnRegRecord> record;
                REQUIRE(SUCCEEDED(engine->Record(i, record.Receive())));
                BSTR keyPath = nullptr, valueName = nullptr, item = nullptr;
                long fixId = 0;
                record->get_KeyPath(&keyPath);
                record->get_ValueName(&valueName);
                record->get_Item(&item);
                record->get_FixID(&fixId);
                std::wstring where = std::wstring(keyPath ? keyPath : L"") + L"\\" + (valueName ? valueName : L"");
                bool mine = false;
                for (size_t n = 0; n < faults.size(); ++n) {
                    if (where.find(Tag(n)) == std::wstring::npos) continue;
                    CHECK(faults[n].fixId == 0);
                    faults[n].fixId = fixId;
                    faults[n].item = item ? item : L"";
                    faults[n].keyPath = keyPath ? keyPath : L"";
                    faults[n].valueName = valueName ? valueName : L"";
                    mine = true;
                }
                if (!mine && fixId) excluded += L" " + std::to_wstring(fixId);
                SysFreeString(keyPath);
                SysFreeString(valueName);
                SysFreeString(item);
            }
            for (size_t n = 0; n < faults.size(); ++n) {
                CAPTURE(n);
                REQUIRE(faults[n].fixId != 0);
            }
            excluded = L" " + std::to_wstring(faults[excludedFault].fixId) + excluded;

            // One found call per fault, its item escaped, nothing raw in it.
            std::vector<RecordedScript> progress = view.ScriptsOf(L"ScanProgress.htm");
            for (const Fault& fault : faults) {
                std::wstring tail = L", '" + EscapeScriptString(ShowLineBreaks(fault.item)) + L"');";
                size_t found = 0;
                for (const auto& script : progress)
                    if (script.text.rfind(L"OnRecordFound(", 0) == 0 && script.text.size() > tail.size() &&
                        script.text.compare(script.text.size() - tail.size(), tail.size(), tail) == 0)
                        ++found;
                CHECK(found == 1);
            }

            // The results: one row per fault in scripts that parse and hold
            // no raw line break.
            CHECK(Dispatch(view, document, L"Scan_ViewResult", L"", nullptr) == 0);
            Pump();
            REQUIRE(view.shown.back() == L"scanResults.htm#");
            CHECK(Dispatch(view, document, L"Scan_InitResult", L"", nullptr) == 0);
            std::vector<RecordedScript> results = view.ScriptsOf(L"scanResults.htm");
            std::wstring list;
            for (const auto& script : results) {
                CHECK(JScriptParseError(script.text) == L"");
                CHECK(script.text.find_first_of(L"\r\n\x2028\x2029") == std::wstring::npos);
                if (script.text.rfind(L"view.innerHTML=\"", 0) == 0) list = script.text;
            }
            for (const Fault& fault : faults)
                CHECK(Occurrences(list, L"id=chk_" + std::to_wstring(fault.fixId) + L"_table ") == 1);
            CHECK(!IsOperationRunning());

            // The hostile-named keys turn read-only; fixing all but the
            // unchecked rows fails for them and goes on.
            for (const Fault& fault : faults)
                if (fault.readOnly) SetDacl(fault.key, L"D:P(A;;KR;;;WD)");

            BSTR undoFolder = nullptr;
            REQUIRE(SUCCEEDED(engine->get_UndoDirectory(&undoFolder)));
            std::wstring undo = undoFolder ? undoFolder : L"";
            SysFreeString(undoFolder);
            std::set<std::wstring> undoFiles = FilesIn(undo);
            VARIANT param;
            VariantInit(&param);
            param.vt = VT_BSTR;
            param.bstrVal = SysAllocString(excluded.c_str());
            // A double click: the second request finds the fix running and
            // starts nothing.
            CHECK(Dispatch(view, document, L"Fix", L"", &param) == 0);
            CHECK(Dispatch(view, document, L"Fix", L"", &param) == 0);
            VariantClear(&param);
            PumpUntilScript(view.sink, L"OnFixFinish(0);");
            std::wstring fixQuery = std::to_wstring(faults.size() - 1);
            CHECK(view.shown.back() == L"Fixing.htm#" + fixQuery);
            CHECK(CountOf(view.shown, L"Fixing.htm#" + fixQuery) == 1);
            std::vector<RecordedScript> fixing = view.ScriptsOf(L"Fixing.htm");
            std::vector<std::wstring> progressTexts;
            size_t failures = 0, readOnly = 0;
            for (const auto& script : fixing) {
                CHECK(JScriptParseError(script.text) == L"");
                CHECK(script.text.find_first_of(L"\r\n\x2028\x2029") == std::wstring::npos);
                if (script.text.rfind(L"OnFixProgress(", 0) == 0) progressTexts.push_back(script.text);
                if (script.text.rfind(L"OnFixFail(", 0) == 0) ++failures;
            }
            for (size_t n = 0; n + 1 < faults.size(); ++n)
                CHECK(CountOf(progressTexts, L"OnFixProgress(" + std::to_wstring(n) + L");") == 1);
            CHECK(progressTexts.size() == faults.size() - 1);
            for (size_t n = 0; n < faults.size(); ++n) {
                CAPTURE(n);
                CHECK(Present(faults[n]) == (n == excludedFault || faults[n].readOnly));
                if (faults[n].readOnly) ++readOnly;
            }
            CHECK(failures == readOnly);
            // The session's file is the one new name; closing the session may also
            // drop files whose fixes were all undone, by this or an earlier test.
            size_t newFiles = 0;
            for (const std::wstring& name : FilesIn(undo)) newFiles += undoFiles.count(name) == 0;
            CHECK(newFiles == 1);
            for (DWORD thread : view.sink.threads) CHECK(thread == GetCurrentThreadId());
            CHECK(!IsOperationRunning());
            CHECK(ui.boxes.empty());
            CHECK(ui.executes.empty());

            WriteRecorded("ScanProgress.json", RecordedJson(progress));
            WriteRecorded("scanResults.json", RecordedJson(results));
            WriteRecorded("Fixing.json", RecordedJson(fixing));
            std::string expected = "{\n  \"fixingQuery\": \"" + Utf8(fixQuery) + "\",\n  \"faults\": [\n";
            for (size_t n = 0; n < faults.size(); ++n)
                expected += "    {\"fixId\": " + std::to_string(faults[n].fixId) + ", \"item\": " +
                            Utf8(JsonLiteral(faults[n].item)) + ", \"key\": " + Utf8(JsonLiteral(faults[n].keyPath)) +
                            ", \"value\": " + Utf8(JsonLiteral(faults[n].valueName)) +
                            ", \"failed\": " + (faults[n].readOnly ? "true" : "false") + "}" +
                            (n + 1 < faults.size() ? ",\n" : "\n");
            WriteRecorded("expected.json", expected + "  ]\n}\n");
            DestroyWindow(view.events);
        }
        SetPageNavigator(nullptr);
        SetIEVersion(BrowserVersion{});
    }
    CoUninitialize();
}

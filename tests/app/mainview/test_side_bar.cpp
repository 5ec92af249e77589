#include <doctest/doctest.h>
#include <windows.h>
#include <oleauto.h>
#include <algorithm>
#include <string>
#include <thread>
#include <vector>
#include "FakeCrawler.h"
#include "PageTestSupport.h"
#include "RecordingScriptSink.h"
#include "RecordingUiServices.h"
#include "TempFolder.h"
#include "app/frame/AboutBox.h"
#include "app/html/BrowserVersion.h"
#include "app/html/UiCache.h"
#include "app/mainview/MainView.h"
#include "app/OperationLock.h"
#include "app/pages/MaintenancePages.h"
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/system/Security.h"
#include "hives/CompactFlags.h"
#include "TestLimits.h"

namespace {

const wchar_t kRunOnce[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

int Dispatch(MainView& view, const wchar_t* name, const wchar_t* text) {
    BSTR event = SysAllocString(name);
    BSTR element = SysAllocString(L"");
    VARIANT param;
    VariantInit(&param);
    param.vt = VT_BSTR;
    param.bstrVal = SysAllocString(text);
    int result = view.OnHTMLEvent(reinterpret_cast<IDispatch*>(&view), event, element, &param);
    VariantClear(&param);
    SysFreeString(event);
    SysFreeString(element);
    return result;
}

// An engine the interface table can hold without a registered proxy.
class SharedFakeCrawler : public FakeCrawler {
public:
    SharedFakeCrawler() { CoCreateFreeThreadedMarshaler(this, &marshaler_); }
    ~SharedFakeCrawler() {
        if (marshaler_) marshaler_->Release();
    }
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IMarshal && marshaler_) return marshaler_->QueryInterface(iid, object);
        return FakeCrawler::QueryInterface(iid, object);
    }

private:
    IUnknown* marshaler_ = nullptr;
};

std::wstring ReadLog(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return L"";
    std::wstring content(GetFileSize(file, nullptr) / sizeof(wchar_t), L'\0');
    DWORD read = 0;
    ReadFile(file, &content[0], DWORD(content.size() * sizeof(wchar_t)), &read, nullptr);
    CloseHandle(file);
    return content;
}

size_t Occurrences(const std::wstring& text, const std::wstring& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::wstring::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

}  // namespace

TEST_CASE("the side bar opens the backup and compaction pages and the About box; GoWWW opens web pages only") {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CompactFlags shared;
    shared.Open(true);  // the program makes it at start
    CompactFlags requests;
    requests.Open(false);
    requests.Clear();
    requests.SetAll();
    // Windows 6 keeps a request for all users in RunOnce instead.
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kRunOnce, L"QUARN OrvaneCompact", REG_SZ, L"x", 4);
    RecordingUiServices ui;
    MaintenancePages pages;
    SetPageNavigator(&pages);
    {
        ListingView view;
        CHECK(Dispatch(view, L"OutBarItemClicked", L"RegistryBackup") == 0);
        CHECK(Dispatch(view, L"OutBarItemClicked", L"RegistryCompact") == 0);
        std::wstring privileged = IsAdministrator() || IsPowerUser() ? L"1" : L"0";
        CHECK(view.shown ==
              std::vector<std::wstring>{L"regBackup.htm#", L"orvaneCompact.htm#-" + privileged + L"-0-1-1"});

        // The About box leaves the page as it is. (The cache folder is kept
        // even when its first call finds no package, as here.)
        try {
            GetUiCacheFolder(true);
        } catch (const ErrorBase&) {
        }
        CHECK(Dispatch(view, L"OutBarItemClicked", L"RegisterAbout") == 0);
        CHECK(ui.aboutBoxes == std::vector<std::wstring>{GetUiCacheFolder(true) + L"\\splash.jpg"});
        CHECK(view.shown.size() == 2);

        for (const wchar_t* address :
             {L"http://example.com/a?b=1", L"HTTPS://example.com/", L"file:///C:/windows/notepad.exe",
              L"C:\\windows\\notepad.exe", L"javascript:alert(1)", L"mailto:a@b.c", L"http://a \"b\"", L""})
            CHECK(Dispatch(view, L"GoWWW", address) == 0);
        REQUIRE(ui.executes.size() == 2);
        CHECK(ui.executes[0].verb == L"open");
        CHECK(ui.executes[0].file == L"http://example.com/a?b=1");
        CHECK(ui.executes[1].file == L"HTTPS://example.com/");
    }
    SetPageNavigator(nullptr);
    requests.Clear();
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kRunOnce, L"QUARN OrvaneCompact");
    CoUninitialize();
}

TEST_CASE("the backup page for a user without the backup privilege: the rights box, the page where it was") {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    RecordingUiServices ui;
    MaintenancePages pages;
    SetPageNavigator(&pages);
    HANDLE process = nullptr, restricted = nullptr, impersonation = nullptr;
    LUID_AND_ATTRIBUTES backup = {};
    REQUIRE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &process));
    REQUIRE(LookupPrivilegeValueW(nullptr, SE_BACKUP_NAME, &backup.Luid));
    REQUIRE(CreateRestrictedToken(process, 0, 0, nullptr, 1, &backup, 0, nullptr, &restricted));
    REQUIRE(DuplicateToken(restricted, SecurityImpersonation, &impersonation));
    REQUIRE(SetThreadToken(nullptr, impersonation));
    {
        ListingView view;
        CHECK(Dispatch(view, L"OutBarItemClicked", L"RegistryScan") == 0);
        CHECK(Dispatch(view, L"OutBarItemClicked", L"RegistryBackup") == 0);
        CHECK(view.shown == std::vector<std::wstring>{L"scanStart.htm#"});
        REQUIRE(ui.boxes.size() == 1);
        CHECK(ui.boxes[0].type == MB_ICONERROR);
        CHECK(view.sink.controlEnabled);
    }
    RevertToSelf();
    for (HANDLE handle : {impersonation, restricted, process}) CloseHandle(handle);
    SetPageNavigator(nullptr);
    CoUninitialize();
}

TEST_CASE("while a fix is on its way the scan pages' events keep its page, each with the busy box") {
    SetIEVersion(BrowserVersion{6, 0});
    RecordingUiServices ui;
    MaintenancePages pages;
    SetPageNavigator(&pages);
    {
        ListingView view;
        pages.ReserveFix(true);
        for (const wchar_t* event : {L"Scan_ViewResult", L"Scan_Again", L"Scan_Custom", L"Scan_SelectUnionCancel"}) {
            CAPTURE(std::string(event, event + wcslen(event)));
            size_t shown = view.shown.size(), boxes = ui.boxes.size();
            CHECK(Dispatch(view, event, L"true") == 0);
            CHECK(view.shown.size() == shown);
            CHECK(ui.boxes.size() == boxes + 1);
            CHECK((!ui.boxes.empty() && ui.boxes.back().type == MB_ICONINFORMATION));
        }
        pages.ReserveFix(false);
    }
    SetPageNavigator(nullptr);
    SetIEVersion(BrowserVersion{});
}

TEST_CASE("the About box shows the splash picture above its button") {
    TempFolder folder(L"aboutbox");
    std::wstring picture = folder.Path() + L"\\splash.jpg";
    REQUIRE(CopyFileA(("Z:" + std::string(ORVANE_SPLASH_PICTURE)).c_str(), std::string(picture.begin(), picture.end()).c_str(), FALSE));
    SIZE image = {}, client = {};
    std::thread closer([&] {
        HWND box = nullptr;
        for (int i = 0; i < 500 && !box; ++i) {
            Sleep(20);
            box = FindWindowW(nullptr, L"About QUARN Orvane");
        }
        // Its picture comes in WM_INITDIALOG, and the box shows only after it.
        for (int i = 0; i < 500 && box && !IsWindowVisible(box); ++i) Sleep(20);
        if (!box) return;
        auto bitmap = reinterpret_cast<HBITMAP>(SendDlgItemMessageW(box, AboutBox::kPictureId, STM_GETIMAGE, IMAGE_BITMAP, 0));
        BITMAP size = {};
        if (bitmap && GetObjectW(bitmap, sizeof(size), &size)) image = {size.bmWidth, size.bmHeight};
        RECT area = {};
        GetClientRect(box, &area);
        client = {area.right, area.bottom};
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    UiServices system;
    CHECK(system.ShowAboutBox(nullptr, picture.c_str()) == IDOK);
    testlimit::Join(closer, testlimit::kStep, "the About box to close");
    CHECK(image.cx == 400);
    CHECK(image.cy == 300);
    CHECK(client.cx == 400);
    CHECK(client.cy > 300);
}

TEST_CASE("a disconnected engine leaves no entry in the interface table") {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    SharedFakeCrawler engine;
    MaintenancePages pages;
    SetPageNavigator(&pages);
    {
        ListingView view;
        auto* fixing = static_cast<FixingPage*>(pages.ScanPage(ScanPageKind::Fixing, nullptr));
        fixing->SetWorkerInline(true);
        fixing->StartFix(&engine, L"");
        CHECK(fixing->EngineCookie() != 0);
        CHECK(engine.refs > 1);
        view.DisconnectEngine();
        CHECK(fixing->EngineCookie() == 0);
        CHECK(engine.refs == 1);
    }
    SetPageNavigator(nullptr);
    CoUninitialize();
}

TEST_CASE("a results list whose engine fails part-way says so and leaves the page usable") {
    TempFolder logs(L"resultsfail");
    Log& log = Log::Instance();
    tstring oldLog = log.FileName();
    log.SetFileName(logs.Path() + L"\\run.log");
    FakeCrawler engine;
    engine.count = 5;
    engine.failAt = 3;
    ScanResultsPage page;
    page.SetEngine(&engine);
    RecordingScriptSink sink;
    page.AttachControl(nullptr, 0, nullptr, &sink);
    BSTR event = SysAllocString(L"Scan_InitResult");
    BSTR element = SysAllocString(L"");
    CHECK(page.OnHTMLEvent(nullptr, event, element, nullptr) == 0);
    SysFreeString(event);
    SysFreeString(element);
    log.SetFileName(oldLog);
    page.SetEngine(nullptr);

    std::vector<std::wstring> texts;
    for (const auto& script : sink.scripts) texts.push_back(script.text);
    size_t shown = 0;
    for (const auto& text : texts)
        if (text.rfind(L"view.innerHTML = \"<B id='ListError'>ICrawler::Record", 0) == 0) {
            ++shown;
            CHECK(JScriptParseError(text) == L"");
        }
    CHECK(shown == 1);
    CHECK(std::count(texts.begin(), texts.end(), L"document.getElementById('againButton').disabled = false;") == 1);
    CHECK(std::count(texts.begin(), texts.end(), L"EnableToolbars();") == 0);
    CHECK(sink.controlEnabled);
    CHECK_FALSE(IsOperationRunning());
    std::wstring written = ReadLog(logs.Path() + L"\\run.log");
    CHECK(Occurrences(written, L"[error]") == 1);
    CHECK(Occurrences(written, L"ICrawler::Record") == 1);
}

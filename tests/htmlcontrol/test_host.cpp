#include "HtmlTestSupport.h"
#include "PlantedBrowser.h"
#include <doctest/doctest.h>
#include <exdispid.h>
#include <mshtmhst.h>
#include <fstream>
#include "common/log/Log.h"
#include "common/settings/UiCacheFolder.h"
#include "htmlcontrol/ScriptRunner.h"
#include "htmlcontrol/UrlPolicy.h"

namespace {
template <class Interface>
ComPtr<Interface> SiteAs(IQNHTMLControl* control, REFIID iid) {
    ComPtr<Interface> result;
    Impl(control)->BrowserClientSite()->QueryInterface(iid, result.ReceiveVoid());
    return result;
}

std::wstring Slashed(std::wstring path) {
    for (auto& c : path)
        if (c == L'\\')
            c = L'/';
    return path;
}

// A window object that records how execScript is looked up and called.
struct FakeWindow : IDispatch {
    HRESULT invokeAnswer = S_OK;
    std::vector<std::wstring> names;
    std::vector<LCID> locales;
    std::vector<WORD> flags;
    std::vector<std::wstring> arguments;
    STDMETHODIMP QueryInterface(REFIID iid, void** result) override {
        *result = this;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* n, UINT, LCID locale, DISPID* ids) override {
        names.push_back(n[0]);
        locales.push_back(locale);
        ids[0] = 77;
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID locale, WORD f, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT*) override {
        locales.push_back(locale);
        flags.push_back(f);
        for (UINT i = params->cArgs; i-- > 0;)
            arguments.push_back(params->rgvarg[i].bstrVal);
        if (invokeAnswer == DISP_E_EXCEPTION) {
            exception->bstrDescription = SysAllocString(L"boom");
            return invokeAnswer;
        }
        result->vt = VT_I4;
        result->lVal = id;
        return invokeAnswer;
    }
};

HRESULT Navigate(IWebBrowser2* browser, const std::wstring& url) {
    VARIANT target, empty;
    VariantInit(&empty);
    target.vt = VT_BSTR;
    target.bstrVal = SysAllocString(url.c_str());
    HRESULT hr = browser->Navigate2(&target, &empty, &empty, &empty, &empty);
    VariantClear(&target);
    return hr;
}

DWORD WINAPI CloseMessageBox(void* caption) {
    for (int i = 0; i < 200; ++i) {
        HWND box = FindWindowW(nullptr, static_cast<const wchar_t*>(caption));
        if (box) {
            PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
            return 1;
        }
        Sleep(50);
    }
    return 0;
}
}

TEST_CASE("the document host keeps the browser a part of the program") {
    OleApartment ole;
    ComPtr<IQNHTMLControl> control = NewControl();
    auto ui = SiteAs<IDocHostUIHandler>(control, IID_IDocHostUIHandler);
    REQUIRE(ui);
    POINT point = {};
    for (DWORD id : {0u, 1u, 3u, 5u, 6u, 9u, 10u})
        CHECK(ui->ShowContextMenu(id, &point, nullptr, nullptr) == S_OK);
    for (DWORD id : {2u, 4u, 8u, 16u})
        CHECK(ui->ShowContextMenu(id, &point, nullptr, nullptr) == S_FALSE);
    DOCHOSTUIINFO info = {};
    REQUIRE(ui->GetHostInfo(&info) == S_OK);
    CHECK(info.cbSize == sizeof(DOCHOSTUIINFO));
    CHECK(info.dwFlags == 0x250015);
    IDispatch* external = reinterpret_cast<IDispatch*>(1);
    CHECK(ui->GetExternal(&external) == S_FALSE);
    CHECK(external == nullptr);
    // The browser reads its download flags as an ambient property of its site.
    auto ambient = SiteAs<IDispatch>(control, IID_IDispatch);
    DISPPARAMS none = {};
    VARIANT flags;
    VariantInit(&flags);
    CHECK(ambient->Invoke(-5512, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &flags, nullptr, nullptr) == S_OK);
    CHECK(flags.vt == VT_I4);
    CHECK(flags.lVal == 0x40044070);

    auto commands = SiteAs<IOleCommandTarget>(control, IID_IOleCommandTarget);
    REQUIRE(commands);
    CHECK(commands->Exec(&CGID_DocHostCommandHandler, 40, 0, nullptr, nullptr) == OLECMDERR_E_DISABLED);
    CHECK(commands->Exec(&CGID_DocHostCommandHandler, 41, 0, nullptr, nullptr) == OLECMDERR_E_NOTSUPPORTED);
    CHECK(commands->Exec(nullptr, 40, 0, nullptr, nullptr) == OLECMDERR_E_NOTSUPPORTED);

    auto services = SiteAs<IServiceProvider>(control, IID_IServiceProvider);
    REQUIRE(services);
    IUnknown* served = nullptr;
    CHECK(services->QueryService(SID_SInternetSecurityManager, IID_IInternetSecurityManager,
                                 reinterpret_cast<void**>(&served)) == S_OK);
    CHECK(served);
    if (served)
        served->Release();
    CHECK(services->QueryService(SID_SInternetSecurityManager, IID_IInternetHostSecurityManager,
                                 reinterpret_cast<void**>(&served)) == E_NOINTERFACE);
    CHECK(services->QueryService(IID_IWebBrowserApp, IID_IInternetHostSecurityManager,
                                 reinterpret_cast<void**>(&served)) == S_OK);
    if (served)
        served->Release();
    CHECK(services->QueryService(IID_IWebBrowserApp, IID_IInternetSecurityManager,
                                 reinterpret_cast<void**>(&served)) == E_NOINTERFACE);

    // Only a question with an icon and Yes/No buttons is answered unseen.
    auto show = SiteAs<IDocHostShowUI>(control, IID_IDocHostShowUI);
    REQUIRE(show);
    LRESULT answer = 0;
    wchar_t text[] = L"Continue?", caption[] = L"qncontrol-test-box";
    CHECK(show->ShowMessage(nullptr, text, caption, MB_YESNO | MB_ICONWARNING, nullptr, 0, &answer) == S_OK);
    CHECK(answer == IDNO);
    for (DWORD type : {DWORD(MB_RETRYCANCEL | MB_ICONWARNING), DWORD(MB_OKCANCEL)}) {
        CAPTURE(type);
        HANDLE closer = CreateThread(nullptr, 0, CloseMessageBox, caption, 0, nullptr);
        answer = 0;
        CHECK(show->ShowMessage(nullptr, text, caption, type, nullptr, 0, &answer) == S_OK);
        CHECK(answer == IDCANCEL);
        WaitForSingleObject(closer, 20000);
        DWORD closed = 0;
        GetExitCodeThread(closer, &closed);
        CloseHandle(closer);
        CHECK(closed == 1);
    }
}

TEST_CASE("only this process's cache pages and about:blank get the local machine zone and the allowed actions") {
    OleApartment ole;
    ComPtr<IQNHTMLControl> control = NewControl();
    auto services = SiteAs<IServiceProvider>(control, IID_IServiceProvider);
    ComPtr<IInternetSecurityManager> security;
    REQUIRE(services->QueryService(SID_SInternetSecurityManager, IID_IInternetSecurityManager,
                                   security.ReceiveVoid()) == S_OK);
    const std::wstring page = CachePagePath(L"zone.htm");
    const std::wstring folder = page.substr(0, page.rfind(L'\\'));
    const std::wstring root = GetUiCacheRoot();
    const std::wstring pid = FormatText(L"%X", unsigned(GetCurrentProcessId()));
    const std::wstring trusted[] = {
        L"file:///" + Slashed(page),
        L"file://" + page,
        page + L"?query=1#fragment",
        L"FILE:///" + Slashed(page) + L"?a#b",
        L"about:blank",
    };
    const std::wstring refused[] = {
        L"http://example.com/",
        L"https://example.com/zone.htm",
        root + L"\\QNHTML" + FormatText(L"%X", unsigned(GetCurrentProcessId() + 1)) + L"-1\\zone.htm",
        root + L"\\QNHTML" + pid + L"-1x\\zone.htm",
        root + L"\\QNHTML" + pid + L"-01\\zone.htm",
        folder + L"\\..\\other.htm",
        L"file:///" + Slashed(folder) + L"/%2e%2e/other.htm",
        L"file:///" + Slashed(folder) + L"/%23/../other.htm",
        L"file:///" + Slashed(folder) + L"/a%2523b.htm",
        L"\\\\server\\share\\QNHTML" + pid + L"-1\\zone.htm",
        L"\\\\?\\" + page,
        L"file://server/share/zone.htm",
        L"about:blank<b>",
        L"about:blank#x",
        L"C:\\windows\\win.ini",
        folder,
        L"",
    };
    DWORD policy = 0xFFFF;
    for (const std::wstring& url : trusted) {
        CAPTURE(std::string(url.begin(), url.end()));
        DWORD zone = 0xFF;
        CHECK(security->MapUrlToZone(url.c_str(), &zone, 0) == S_OK);
        CHECK(zone == 0);
        policy = 0xFFFF;
        CHECK(security->ProcessUrlAction(url.c_str(), 0x1400, reinterpret_cast<BYTE*>(&policy), sizeof policy,
                                         nullptr, 0, 0, 0) == S_OK);
        CHECK(policy == 0);
        CHECK(security->ProcessUrlAction(url.c_str(), 0x1200, reinterpret_cast<BYTE*>(&policy), sizeof policy,
                                         nullptr, 0, 0, 0) == INET_E_DEFAULT_ACTION);
    }
    for (const std::wstring& url : refused) {
        CAPTURE(std::string(url.begin(), url.end()));
        DWORD zone = 0xFF;
        CHECK(security->MapUrlToZone(url.c_str(), &zone, 0) == INET_E_DEFAULT_ACTION);
        policy = 0xFFFF;
        CHECK(security->ProcessUrlAction(url.c_str(), 0x1400, reinterpret_cast<BYTE*>(&policy), sizeof policy,
                                         nullptr, 0, 0, 0) == INET_E_DEFAULT_ACTION);
        CHECK(policy == 0xFFFF);
    }
    // The action rule itself.
    for (DWORD action : {0x1000u, 0x11FFu, 0x1201u, 0x1203u, 0x1400u, 0x15FFu, 0x1600u, 0x17FFu})
        CHECK(IsAllowedUrlAction(action));
    for (DWORD action : {0x0FFFu, 0x1200u, 0x1202u, 0x1204u, 0x1300u, 0x1800u, 0x1A00u, 0x2000u})
        CHECK_FALSE(IsAllowedUrlAction(action));
}

TEST_CASE("navigation: web addresses go to the user's browser, program pages load, the rest is refused") {
    OleApartment ole;
    PlantedBrowser planted(ORVANE_URL_RECORDER, L"qncontrol-urls.txt");
    ComPtr<IQNHTMLControl> control = NewControl();
    ControlContainer container;
    REQUIRE(container.Activate(control) == S_OK);
    ComPtr<IWebBrowser2> browser = BrowserOf(control);
    REQUIRE(browser);
    BrowserEventLog log;
    REQUIRE(log.Connect(browser));
    auto ui = SiteAs<IDocHostUIHandler>(control, IID_IDocHostUIHandler);
    auto services = SiteAs<IServiceProvider>(control, IID_IServiceProvider);
    ComPtr<IInternetHostSecurityManager> hostSecurity;
    REQUIRE(services->QueryService(IID_IWebBrowserApp, IID_IInternetHostSecurityManager,
                                   hostSecurity.ReceiveVoid()) == S_OK);

    const std::wstring web[] = {L"http://example.com/a?b=1", L"https://example.com/"};
    for (const std::wstring& url : web) {
        log.events.clear();
        REQUIRE(Navigate(browser, url) == S_OK);
        std::vector<std::wstring> opened;
        CHECK(PumpUntil([&] { return (opened = planted.Opened()).size() == size_t(&url - web + 1); }));
        PumpUntil([] { return false; }, 500);
        CHECK(planted.Opened().size() == size_t(&url - web + 1));
        CHECK(opened.back() == url);
        CHECK(log.events.size() == 1);
        CHECK(log.Count(DISPID_BEFORENAVIGATE2) == 1);
    }
    const std::wstring page = CachePagePath(L"nav.htm");
    const std::wstring others[] = {L"ftp://example.com/", L"mailto:someone@example.com", L"C:\\windows\\win.ini"};
    for (const std::wstring& url : others) {
        log.events.clear();
        Navigate(browser, url);
        PumpUntil([] { return false; }, 1000);
        CHECK(planted.Opened().size() == 2);
        CHECK(log.Count(DISPID_NAVIGATECOMPLETE2) == 0);
        CHECK(log.Count(DISPID_NAVIGATEERROR) == 0);
    }
    IDispatch* external = nullptr;
    CHECK(ui->GetExternal(&external) == S_FALSE);
    DWORD policy = 0xFFFF;
    CHECK(hostSecurity->ProcessUrlAction(0x1400, reinterpret_cast<BYTE*>(&policy), sizeof policy, nullptr, 0, 0, 0) ==
          INET_E_DEFAULT_ACTION);

    log.events.clear();
    REQUIRE(Navigate(browser, L"file:///" + Slashed(page)) == S_OK);
    // Without Gecko the page never renders: the browser ends in NavigateError.
    CHECK(PumpUntil([&] { return log.Count(DISPID_NAVIGATEERROR) == 1; }));
    REQUIRE(log.errors.size() == 1);
    CHECK(log.errors[0] == HRESULT(0x800C0010));
    CHECK(ui->GetExternal(&external) == S_OK);
    CHECK(external == static_cast<IDispatch*>(control.Get()));
    if (external)
        external->Release();
    CHECK(hostSecurity->ProcessUrlAction(0x1400, reinterpret_cast<BYTE*>(&policy), sizeof policy, nullptr, 0, 0, 0) ==
          S_OK);
    CHECK(policy == 0);
    log.Disconnect();
}

TEST_CASE("script runs through the window's execScript with the code first and JScript by default") {
    OleApartment ole;
    ComPtr<IQNHTMLControl> control = NewControl();  // opens the program's log
    FakeWindow window;
    VARIANT result;
    result.vt = VT_I4;  // taken as uninitialised: never cleared
    result.lVal = 5;
    CHECK(RunScript(&window, L"f(1)", nullptr, &result) == S_OK);
    CHECK(window.names == std::vector<std::wstring>{L"execScript"});
    CHECK(window.locales == std::vector<LCID>{0x800, 0x800});
    CHECK(window.flags == std::vector<WORD>{DISPATCH_METHOD});
    CHECK(window.arguments == std::vector<std::wstring>{L"f(1)", L"JScript"});
    CHECK(result.vt == VT_I4);
    CHECK(result.lVal == 77);

    window.arguments.clear();
    CHECK(RunScript(&window, L"g()", L"JavaScript", nullptr) == S_OK);
    CHECK(window.arguments == std::vector<std::wstring>{L"g()", L"JavaScript"});

    window.names.clear();
    CHECK(RunScript(&window, L"", L"JavaScript", &result) == S_OK);
    CHECK(RunScript(&window, nullptr, nullptr, &result) == S_OK);
    CHECK(result.vt == VT_EMPTY);
    CHECK(window.names.empty());

    window.invokeAnswer = DISP_E_EXCEPTION;
    CHECK(RunScript(&window, L"throw 'x-unique-42'", nullptr, &result) == DISP_E_EXCEPTION);
    CHECK(result.vt == VT_EMPTY);
    std::wstring logPath = Log::Instance().FileName();
    REQUIRE_FALSE(logPath.empty());
    HANDLE file = CreateFileW(logPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    std::wstring text(1 << 20, L'\0');
    DWORD read = 0;
    ReadFile(file, &text[0], DWORD(text.size() * sizeof(wchar_t)), &read, nullptr);
    CloseHandle(file);
    text.resize(read / sizeof(wchar_t));
    CHECK(text.find(L"[error] Error in script: throw 'x-unique-42'") != std::wstring::npos);
}

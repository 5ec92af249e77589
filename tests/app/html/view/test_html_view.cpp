#include <doctest/doctest.h>
#include <windows.h>
#include <exdisp.h>
#include <exdispid.h>
#include <string>
#include <vector>
#include "FileBytes.h"
#include "RegExport.h"
#include "TempFolder.h"
#include "app/html/HtmlView.h"
#include "app/html/UiCache.h"
#include "app/mainview/ScanStartPage.h"
#include "app/OperationLock.h"
#include "common/errors/ErrorBase.h"
#include "common/ui/MessageLoop.h"

namespace {

const wchar_t kMain[] = L"Software\\Microsoft\\Internet Explorer\\Main";

std::wstring ReadDebuggerSetting() {
    wchar_t text[64] = {};
    DWORD size = sizeof(text) - 2;
    if (RegGetValueW(HKEY_CURRENT_USER, kMain, L"Disable Script Debugger", RRF_RT_ANY | RRF_NOEXPAND, nullptr, text,
                     &size) != ERROR_SUCCESS)
        return L"(none)";
    return text;
}

// Watches the browser's navigations: the address, and the settings seen then.
struct NavigationSpy : IDispatch {
    std::vector<std::wstring> addresses;
    std::vector<std::wstring> debuggerSettings;
    bool lockHeld = false;
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == DIID_DWebBrowserEvents2) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        if (id != DISPID_BEFORENAVIGATE2 || parameters->cArgs < 7) return S_OK;
        const VARIANT& url = parameters->rgvarg[5];
        const VARIANT* value = (url.vt == (VT_VARIANT | VT_BYREF)) ? url.pvarVal : &url;
        addresses.push_back(value->vt == VT_BSTR && value->bstrVal ? value->bstrVal : L"?");
        debuggerSettings.push_back(ReadDebuggerSetting());
        lockHeld = IsOperationRunning();
        return S_OK;
    }
};

struct Fallback : HtmlEventHandler {
    std::vector<std::wstring> events;
    int OnHTMLEvent(IDispatch*, BSTR name, BSTR element, VARIANT* param) override {
        std::wstring text = std::wstring(name ? name : L"") + L"|" + (element ? element : L"(null)");
        if (param && param->vt == VT_BSTR) text += L"|" + std::wstring(param->bstrVal);
        if (param && param->vt == VT_I4) text += L"|" + std::to_wstring(param->lVal);
        events.push_back(text);
        return 0;
    }
};

// The start page handles nothing of its own: everything reaches the fallback.
struct CountingStartPage : ScanStartPage {
    int seen = 0;
    int OnHTMLEvent(IDispatch* document, BSTR name, BSTR element, VARIANT* param) override {
        ++seen;
        return ScanStartPage::OnHTMLEvent(document, name, element, param);
    }
};

class Host : public WindowImpl {
protected:
    const TCHAR* ClassName() const override { return TEXT("OrvaneViewTestHost"); }
};

}  // namespace

TEST_CASE("showing a page: its address, the first navigation's settings, the lock, and a missing package") {
    OleInitialize(nullptr);
    {
        MessageLoop loop;
        MessageLoopScope scope(loop);
        REQUIRE(SUCCEEDED(HtmlView::RegisterServer(L"" ORVANE_QNCONTROL_DLL)));

        TempFolder scratch(L"view");
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kMain, L"Disable Script Debugger");
        HKEY key;
        RegCreateKeyExW(HKEY_CURRENT_USER, kMain, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        RegCloseKey(key);
        std::string before = RegExportTo(L"HKCU\\Software\\Microsoft\\Internet Explorer", scratch / L"before.reg");

        Host host;
        RECT rect = {0, 0, 640, 480};
        REQUIRE(host.Create(nullptr, &rect, L"host", WS_OVERLAPPEDWINDOW));
        Fallback fallback;
        HtmlView view(&fallback);
        REQUIRE(view.Create(host, &rect, nullptr, WS_CHILD | WS_VISIBLE));
        REQUIRE(view.Control() != nullptr);
        CHECK(view.ControlMessage() != 0);
        ComPtr<IWebBrowser2> browser = view.Browser();
        REQUIRE(browser);
        NavigationSpy spy;
        EventConnection connection;
        REQUIRE(connection.Connect(browser, DIID_DWebBrowserEvents2, &spy) == S_OK);

        // The package is looked for beside the program: none there yet.
        tstring package = UiPackagePath();
        DeleteFileW(package.c_str());
        CountingStartPage page;
        CHECK_THROWS_AS(view.ShowPage(&page, L"x=1"), ErrorBase);
        CHECK_FALSE(IsOperationRunning());
        CHECK(RegExportTo(L"HKCU\\Software\\Microsoft\\Internet Explorer", scratch / L"after.reg") == before);

        tstring built = L"Z:" ORVANE_UI_PACKAGE;
        built.Replace(L"/", L"\\");
        REQUIRE(CopyFileW(built.c_str(), package.c_str(), FALSE));
        CHECK(view.ShowPage(&page, L"x=1"));
        // The failed show had made the page current already: a blank page comes first.
        REQUIRE(spy.addresses.size() == 2);
        CHECK(spy.addresses[0] == L"about:blank");
        CHECK(spy.addresses[1].find(GetUiCacheFolder(true) + L"\\scanStart.htm#x=1") != std::wstring::npos);
        CHECK(spy.debuggerSettings[1] == L"yes");
        CHECK(spy.lockHeld);
        CHECK_FALSE(IsOperationRunning());
        CHECK(RegExportTo(L"HKCU\\Software\\Microsoft\\Internet Explorer", scratch / L"after.reg") == before);
        CHECK(page.ControlMessage() == view.ControlMessage());
        CHECK(page.EventWindow() == view.EventWindow());

        // The same page again goes through a blank page; later navigations override nothing.
        CHECK(view.ShowPage(&page, nullptr));
        REQUIRE(spy.addresses.size() == 4);
        CHECK(spy.addresses[2] == L"about:blank");
        CHECK(spy.debuggerSettings[3] == L"(none)");

        // Page script's events come through the control's event; workers' through the event window.
        BSTR name = SysAllocString(L"GoSomewhere");
        BSTR element = SysAllocString(L"link");
        VARIANT param;
        param.vt = VT_BSTR;
        param.bstrVal = SysAllocString(L"there");
        CHECK(SUCCEEDED(view.Control()->OnHTMLEvent(nullptr, name, element, &param)));
        REQUIRE(fallback.events.size() == 1);
        CHECK(fallback.events[0] == L"GoSomewhere|link|there");
        CHECK(page.seen == 1);
        VariantClear(&param);
        param.vt = VT_I4;
        param.lVal = 42;
        CHECK(page.PostEvent(L"WorkerDone", &param));
        for (int i = 0; i < 20 && fallback.events.size() < 2; ++i) {
            MessageLoop::PumpThread();
            Sleep(10);
        }
        REQUIRE(fallback.events.size() == 2);
        CHECK(fallback.events[1] == L"WorkerDone||42");
        SysFreeString(name);
        SysFreeString(element);

        connection.Disconnect();
        view.Destroy();
        host.Destroy();
        DeleteUiCacheFolder();
        DeleteFileW(package.c_str());
    }
    OleUninitialize();
}

#include "ControlTestSupport.h"
#include "HtmlTestSupport.h"
#include <doctest/doctest.h>
#include <olectl.h>
#include <urlmon.h>
#include "common/tstring/tstring.h"

namespace {
bool LockdownOn() {
    return CoInternetIsFeatureEnabled(FEATURE_LOCALMACHINE_LOCKDOWN, SET_FEATURE_ON_PROCESS) == S_OK;
}

void SetLockdown(bool on) {
    CoInternetSetFeatureEnabled(FEATURE_LOCALMACHINE_LOCKDOWN, SET_FEATURE_ON_PROCESS, on ? TRUE : FALSE);
}

ULONG ControlMessageOf(IQNHTMLControl* control) {
    ULONG message = 0xFFFFFFFF;
    control->get_ControlMessage(&message);
    return message;
}

// Answers OnRequestEdit as told and records the changes it hears of.
struct NotifySink : IPropertyNotifySink {
    HRESULT answer = S_OK;
    std::vector<DISPID> requests, changes;
    STDMETHODIMP QueryInterface(REFIID iid, void** result) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPropertyNotifySink)) {
            *result = this;
            return S_OK;
        }
        *result = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP OnChanged(DISPID id) override {
        changes.push_back(id);
        return S_OK;
    }
    STDMETHODIMP OnRequestEdit(DISPID id) override {
        requests.push_back(id);
        return answer;
    }
};
}

TEST_CASE("activation gives each control its browser, message and window; closing restores the lockdown") {
    OleApartment ole;
    for (bool initiallyOn : {true, false}) {
        CAPTURE(initiallyOn);
        SetLockdown(initiallyOn);
        ComPtr<IQNHTMLControl> a = NewControl(), b = NewControl();
        REQUIRE(a);
        CHECK(ControlMessageOf(a) == 0);
        VARIANT result;
        CHECK(a->ExecScript(nullptr, nullptr, &result) == E_FAIL);
        IUnknown* untouched = reinterpret_cast<IUnknown*>(1);
        CHECK(a->get_Browser(&untouched) == S_FALSE);
        CHECK(untouched == reinterpret_cast<IUnknown*>(1));

        ControlContainer first, second;
        REQUIRE(first.Activate(a) == S_OK);
        REQUIRE(second.Activate(b) == S_OK);
        CHECK(first.InPlaceActive());
        CHECK_FALSE(LockdownOn());
        for (IQNHTMLControl* control : {a.Get(), b.Get()}) {
            LONG window = 0;
            control->get_HWND(&window);
            HWND handle = reinterpret_cast<HWND>(LONG_PTR(window));
            REQUIRE(IsWindow(handle));
            tstring name = FormatText(L"QNHTML_CONTROL_MSG_%X", unsigned(window));
            CHECK(ControlMessageOf(control) == RegisterWindowMessageW(name.c_str()));
            CHECK(BrowserOf(control));
        }
        CHECK(ControlMessageOf(a) != ControlMessageOf(b));
        // A new size reaches the browser through the control's window.
        ComPtr<IOleInPlaceObject> inPlace;
        REQUIRE(a.QueryInto(IID_IOleInPlaceObject, inPlace) == S_OK);
        RECT smaller = {10, 10, 310, 210};
        CHECK(inPlace->SetObjectRects(&smaller, &smaller) == S_OK);
        ComPtr<IOleWindow> browserWindow;
        REQUIRE(BrowserOf(a).QueryInto(IID_IOleWindow, browserWindow) == S_OK);
        HWND shown = nullptr;
        REQUIRE(browserWindow->GetWindow(&shown) == S_OK);
        RECT client = {};
        GetClientRect(shown, &client);
        CHECK(client.right == 300);
        CHECK(client.bottom == 200);
        // No page yet: there is no document to run script in.
        CHECK(a->ExecScript(nullptr, nullptr, &result) == E_NOINTERFACE);

        first.Close();
        CHECK_FALSE(LockdownOn());  // the second control still shows pages
        CHECK(first.Deactivations() == 1);
        second.Close();
        CHECK(LockdownOn() == initiallyOn);
    }
    SetLockdown(false);
}

TEST_CASE("qnControl.dll: activation by ProgID, aggregation, and unloading between controls") {
    OleApartment ole;
    RegisteredControl registered;
    CLSID clsid;
    REQUIRE(CLSIDFromProgID(L"qnControl.QNHTMLControl", &clsid) == S_OK);
    CHECK(IsEqualCLSID(clsid, CLSID_CQNHTMLControl));

    for (int round = 0; round < 2; ++round) {
        CAPTURE(round);
        {
            ComPtr<IQNHTMLControl> control;
            REQUIRE(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IQNHTMLControl,
                                     control.ReceiveVoid()) == S_OK);
            ControlContainer container;
            REQUIRE(container.Activate(control) == S_OK);
            CHECK(ControlMessageOf(control) != 0);
            DWORD status = 0;
            ComPtr<IOleObject> object;
            REQUIRE(control.QueryInto(IID_IOleObject, object) == S_OK);
            CHECK(object->GetMiscStatus(DVASPECT_CONTENT, &status) == S_OK);
            CHECK(status == 0x20191);
            ComPtr<IProvideClassInfo2> info;
            REQUIRE(control.QueryInto(IID_IProvideClassInfo2, info) == S_OK);
            GUID source = GUID_NULL;
            CHECK(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source) == S_OK);
            CHECK(IsEqualGUID(source, DIID__IQNHTMLControlEvents));
        }
        HMODULE module = GetModuleHandleW(L"qnControl.dll");
        REQUIRE(module);
        auto canUnload = reinterpret_cast<HRESULT(WINAPI*)()>(GetProcAddress(module, "DllCanUnloadNow"));
        REQUIRE(bool(canUnload));
        CHECK(canUnload() == S_OK);
        CoFreeUnusedLibrariesEx(0, 0);
    }

    // Aggregated, the control answers through its outer object.
    struct Outer : IUnknown {
        IUnknown* inner = nullptr;
        STDMETHODIMP QueryInterface(REFIID iid, void** result) override {
            if (IsEqualIID(iid, IID_IUnknown)) {
                *result = this;
                return S_OK;
            }
            return inner->QueryInterface(iid, result);
        }
        STDMETHODIMP_(ULONG) AddRef() override { return 2; }
        STDMETHODIMP_(ULONG) Release() override { return 1; }
    } outer;
    IQNHTMLControl* refused = nullptr;
    CHECK(CoCreateInstance(clsid, &outer, CLSCTX_INPROC_SERVER, IID_IQNHTMLControl,
                           reinterpret_cast<void**>(&refused)) == CLASS_E_NOAGGREGATION);
    REQUIRE(CoCreateInstance(clsid, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&outer.inner)) == S_OK);
    IQNHTMLControl* control = nullptr;
    REQUIRE(outer.QueryInterface(IID_IQNHTMLControl, reinterpret_cast<void**>(&control)) == S_OK);
    IUnknown* identity = nullptr;
    control->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    CHECK(identity == static_cast<IUnknown*>(&outer));
    CHECK(outer.inner->Release() == 0);
}

TEST_CASE("Enabled asks the property notify sinks first and keeps its value when refused") {
    OleApartment ole;
    ComPtr<IQNHTMLControl> control = NewControl();
    ComPtr<IConnectionPointContainer> container;
    REQUIRE(control.QueryInto(IID_IConnectionPointContainer, container) == S_OK);
    ComPtr<IConnectionPoint> point;
    REQUIRE(container->FindConnectionPoint(IID_IPropertyNotifySink, point.Receive()) == S_OK);
    NotifySink sink;
    DWORD cookie = 0;
    REQUIRE(point->Advise(&sink, &cookie) == S_OK);
    ComPtr<IPersistStreamInit> persist;
    REQUIRE(control.QueryInto(IID_IPersistStreamInit, persist) == S_OK);
    CHECK(persist->IsDirty() == S_FALSE);

    VARIANT_BOOL enabled = VARIANT_FALSE;
    sink.answer = S_FALSE;
    CHECK(control->put_Enabled(VARIANT_FALSE) == S_FALSE);
    control->get_Enabled(&enabled);
    CHECK(enabled == VARIANT_TRUE);
    CHECK(sink.changes.empty());
    CHECK(persist->IsDirty() == S_FALSE);

    sink.answer = S_OK;
    CHECK(control->put_Enabled(VARIANT_FALSE) == S_OK);
    control->get_Enabled(&enabled);
    CHECK(enabled == VARIANT_FALSE);
    CHECK(sink.requests == std::vector<DISPID>{DISPID_ENABLED, DISPID_ENABLED});
    CHECK(sink.changes == std::vector<DISPID>{DISPID_ENABLED});
    CHECK(persist->IsDirty() == S_OK);
    CHECK(point->Unadvise(cookie) == S_OK);
    CHECK(point->Unadvise(cookie) == CONNECT_E_NOCONNECTION);
}

#include "HtmlTestSupport.h"
#include <doctest/doctest.h>
#include <exdispid.h>

namespace {
// A frame of a page that is not the browser itself.
struct FakeFrame : IDispatch {
    STDMETHODIMP QueryInterface(REFIID iid, void** result) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch)) {
            *result = this;
            return S_OK;
        }
        *result = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
};

// Raises one DWebBrowserEvents2 event on the control's sink as the browser
// does: arguments last first, URLs and flags by reference.
void Raise(IQNHTMLControl* control, DISPID id, std::vector<VARIANT> arguments) {
    std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
    DISPPARAMS params = {reversed.data(), nullptr, UINT(reversed.size()), 0};
    Impl(control)->BrowserEvents()->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}

VARIANT Dispatch(IDispatch* frame) {
    VARIANT v;
    v.vt = VT_DISPATCH;
    v.pdispVal = frame;
    return v;
}

VARIANT ByRef(VARIANT* target) {
    VARIANT v;
    v.vt = VT_BYREF | VT_VARIANT;
    v.pvarVal = target;
    return v;
}

VARIANT Flag(VARIANT_BOOL* flag) {
    VARIANT v;
    v.vt = VT_BYREF | VT_BOOL;
    v.pboolVal = flag;
    return v;
}

DWORD WINAPI CallFromOtherThread(void* control) {
    BSTR name = SysAllocString(L"Click");
    HRESULT hr = static_cast<IQNHTMLControl*>(control)->OnHTMLEvent(nullptr, name, nullptr, nullptr);
    SysFreeString(name);
    return DWORD(hr);
}
}

TEST_CASE("OnHTMLEvent reaches every sink on the window's thread only, and needs an event name") {
    OleApartment ole;
    ComPtr<IQNHTMLControl> control = NewControl();
    ControlContainer container;
    REQUIRE(container.Activate(control) == S_OK);
    EventRecorder first, second;
    REQUIRE(first.Connect(control));
    REQUIRE(second.Connect(control));

    BSTR name = SysAllocString(L"Click");
    BSTR element = SysAllocString(L"button1");
    VARIANT param;
    VariantInit(&param);
    param.vt = VT_I4;
    param.lVal = 7;
    FakeFrame document;
    CHECK(control->OnHTMLEvent(&document, name, element, &param) == S_OK);
    for (EventRecorder* sink : {&first, &second}) {
        REQUIRE(sink->calls.size() == 1);
        const auto& call = sink->calls[0];
        CHECK(call.id == 1);
        CHECK(call.types == std::vector<VARTYPE>{VT_DISPATCH, VT_BSTR, VT_BSTR, VT_BYREF | VT_VARIANT});
        CHECK(call.document == &document);
        CHECK(call.name == L"Click");
        CHECK(call.element == L"button1");
        CHECK(call.param == &param);
    }

    BSTR empty = SysAllocString(L"");
    CHECK(control->OnHTMLEvent(&document, empty, element, &param) == E_NOTIMPL);
    CHECK(control->OnHTMLEvent(&document, nullptr, element, &param) == E_NOTIMPL);
    HANDLE thread = CreateThread(nullptr, 0, CallFromOtherThread, control.Get(), 0, nullptr);
    WaitForSingleObject(thread, 10000);
    DWORD code = 1;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    CHECK(HRESULT(code) == S_OK);
    CHECK(first.calls.size() == 1);

    // A failing sink ends the event: the next one is not called.
    first.Disconnect();
    second.Disconnect();
    EventRecorder failing(E_FAIL), after;
    REQUIRE(failing.Connect(control));
    REQUIRE(after.Connect(control));
    CHECK(control->OnHTMLEvent(&document, name, element, &param) == S_OK);
    CHECK(failing.calls.size() == 1);
    CHECK(after.calls.empty());
    failing.Disconnect();
    after.Disconnect();
    SysFreeString(name);
    SysFreeString(element);
    SysFreeString(empty);
}

TEST_CASE("browser events: one document-complete per top-level navigation, no pop-ups, targets in the same frame") {
    OleApartment ole;
    ComPtr<IQNHTMLControl> control = NewControl();
    ControlContainer container;
    REQUIRE(container.Activate(control) == S_OK);
    ComPtr<IWebBrowser2> browser = BrowserOf(control);
    REQUIRE(browser);
    ComPtr<IDispatch> top;
    REQUIRE(browser.QueryInto(IID_IDispatch, top) == S_OK);
    FakeFrame frame;
    EventRecorder sink;
    REQUIRE(sink.Connect(control));

    VARIANT url;
    VariantInit(&url);
    url.vt = VT_BSTR;
    url.bstrVal = SysAllocString(L"about:blank");
    for (int navigation = 0; navigation < 2; ++navigation) {
        Raise(control, DISPID_NAVIGATECOMPLETE2, {Dispatch(&frame), ByRef(&url)});
        Raise(control, DISPID_NAVIGATECOMPLETE2, {Dispatch(top), ByRef(&url)});
        Raise(control, DISPID_DOCUMENTCOMPLETE, {Dispatch(&frame), ByRef(&url)});
        CHECK(sink.calls.size() == size_t(navigation));
        Raise(control, DISPID_DOCUMENTCOMPLETE, {Dispatch(top), ByRef(&url)});
        Raise(control, DISPID_DOCUMENTCOMPLETE, {Dispatch(top), ByRef(&url)});
        // A sub-frame navigating afterwards is no new page.
        Raise(control, DISPID_NAVIGATECOMPLETE2, {Dispatch(&frame), ByRef(&url)});
        Raise(control, DISPID_DOCUMENTCOMPLETE, {Dispatch(&frame), ByRef(&url)});
        REQUIRE(sink.calls.size() == size_t(navigation + 1));
        const auto& call = sink.calls.back();
        CHECK(call.name == L"QN_CONTROL_DOC_COMPLETE");
        CHECK(call.element.empty());
        CHECK(call.param == &url);
        ComPtr<IUnknown> a, b;
        call.document->QueryInterface(IID_IUnknown, a.ReceiveVoid());
        browser.QueryInto(IID_IUnknown, b);
        CHECK(a.Get() == b.Get());
    }

    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT none;
    VariantInit(&none);
    none.vt = VT_DISPATCH;
    none.pdispVal = nullptr;
    Raise(control, DISPID_NEWWINDOW2, {ByRef(&none), Flag(&cancel)});
    CHECK(cancel == VARIANT_TRUE);

    // A program page opens in the frame itself, whatever its target.
    VARIANT target, empty;
    VariantInit(&target);
    VariantInit(&empty);
    target.vt = VT_BSTR;
    target.bstrVal = SysAllocString(L"_blank");
    cancel = VARIANT_FALSE;
    Raise(control, DISPID_BEFORENAVIGATE2,
          {Dispatch(&frame), ByRef(&url), ByRef(&empty), ByRef(&target), ByRef(&empty), ByRef(&empty), Flag(&cancel)});
    CHECK(cancel == VARIANT_FALSE);
    CHECK(std::wstring(target.bstrVal) == L"_self");
    // Any other page is refused in a sub-frame, web addresses included.
    VARIANT web;
    VariantInit(&web);
    web.vt = VT_BSTR;
    web.bstrVal = SysAllocString(L"http://example.com/");
    Raise(control, DISPID_BEFORENAVIGATE2,
          {Dispatch(&frame), ByRef(&web), ByRef(&empty), ByRef(&target), ByRef(&empty), ByRef(&empty), Flag(&cancel)});
    CHECK(cancel == VARIANT_TRUE);
    VariantClear(&web);
    VariantClear(&target);
    VariantClear(&url);
    sink.Disconnect();
}

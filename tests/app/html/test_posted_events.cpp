#include <doctest/doctest.h>
#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>
#include <string>
#include <vector>
#include "app/AppUtilities.h"
#include "app/html/HtmlPage.h"
#include "app/html/HtmlView.h"
#include "app/mainview/EngineEventSink.h"
#include "common/com/ComPtr.h"

namespace {

const UINT kEventMessage = WM_APP + 77;

// An automation object that only counts its references.
struct CountedDispatch : IDispatch {
    LONG references = 1;
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&references); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&references); }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
};

struct Pair {
    LONG a;
    LONG b;
};

// A record type made at run time, for VT_RECORD parameters.
ComPtr<IRecordInfo> PairRecordInfo() {
    ComPtr<ICreateTypeLib2> library;
    ComPtr<IRecordInfo> info;
    if (FAILED(CreateTypeLib2(SYS_WIN64, L"pair.tlb", library.Receive()))) return info;
    const GUID libraryId = {0x1b2f7a10, 0x6f1e, 0x4c55, {0x9a, 0x1d, 0x3c, 0x2e, 0x11, 0x52, 0x60, 0x01}};
    const GUID recordId = {0x1b2f7a10, 0x6f1e, 0x4c55, {0x9a, 0x1d, 0x3c, 0x2e, 0x11, 0x52, 0x60, 0x02}};
    library->SetGuid(libraryId);
    library->SetName(const_cast<LPOLESTR>(L"PairLib"));
    ComPtr<ICreateTypeInfo> creator;
    if (FAILED(library->CreateTypeInfo(const_cast<LPOLESTR>(L"Pair"), TKIND_RECORD, creator.Receive()))) return info;
    creator->SetGuid(recordId);
    const wchar_t* names[] = {L"a", L"b"};
    for (UINT i = 0; i < 2; ++i) {
        VARDESC field = {};
        field.memid = 0x40000000 + i;
        field.varkind = VAR_PERINSTANCE;
        field.oInst = i * 4;
        field.elemdescVar.tdesc.vt = VT_I4;
        creator->AddVarDesc(i, &field);
        creator->SetVarName(i, const_cast<LPOLESTR>(names[i]));
    }
    creator->LayOut();
    ComPtr<ITypeInfo> type;
    creator.QueryInto(IID_ITypeInfo, type);
    if (type) GetRecordInfoFromTypeInfo(type, info.Receive());
    return info;
}

struct Received {
    std::wstring name;
    VARTYPE type = VT_EMPTY;
    std::wstring text;
    LONG number = 0;
    IDispatch* object = nullptr;
    Pair pair = {};
    bool hadParam = false;
};

struct Receiver {
    std::vector<Received> events;
    static void Receive(void* context, BSTR name, VARIANT* param) {
        auto* self = static_cast<Receiver*>(context);
        Received r;
        r.name = name ? name : L"(null)";
        r.hadParam = param != nullptr;
        if (param) {
            r.type = param->vt;
            if (param->vt == VT_BSTR) r.text = param->bstrVal;
            if (param->vt == VT_I4) r.number = param->lVal;
            if (param->vt == VT_DISPATCH) r.object = param->pdispVal;
            if (param->vt == VT_RECORD) r.pair = *static_cast<Pair*>(param->pvRecord);
        }
        self->events.push_back(r);
        if (self->events.size() == 5) {
            // Ends the message box the events arrived under.
            HWND box = FindWindowW(L"#32770", L"posted");
            if (box) PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
    }
};

class ShownPage : public HtmlPage {
public:
    const wchar_t* PageName() const override { return L"x.htm"; }
};

struct Worker {
    ShownPage* page;
    IRecordInfo* record;
    CountedDispatch* object;
};

DWORD WINAPI PostFromWorker(void* context) {
    auto* work = static_cast<Worker*>(context);
    // Waits for the box, so that every event arrives inside its modal loop.
    for (int i = 0; i < 200 && !FindWindowW(L"#32770", L"posted"); ++i) Sleep(25);
    VARIANT v;
    VariantInit(&v);
    work->page->PostEvent(L"none", nullptr);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(L"text \x2028 param");
    work->page->PostEvent(L"text", &v);
    VariantClear(&v);
    v.vt = VT_I4;
    v.lVal = -12345;
    work->page->PostEvent(L"number", &v);
    v.vt = VT_DISPATCH;
    v.pdispVal = work->object;
    work->page->PostEvent(L"object", &v);
    Pair pair = {7, 9};
    v.vt = VT_RECORD;
    v.pvRecord = &pair;
    v.pRecInfo = work->record;
    work->page->PostEvent(L"record", &v);
    return 0;
}

}  // namespace

TEST_CASE("worker events reach the UI thread inside a message box with their parameters intact") {
    CoInitialize(nullptr);
    {
        // A quit left by an earlier test's frame would end the box at once.
        MSG left;
        while (PeekMessageW(&left, nullptr, 0, 0, PM_REMOVE)) {
        }
        Receiver receiver;
        PostedEventWindow window(&Receiver::Receive, &receiver);
        REQUIRE(window.Create());
        window.SetEventMessage(kEventMessage);

        ShownPage never;
        VARIANT v;
        v.vt = VT_I4;
        v.lVal = 1;
        CHECK_FALSE(never.PostEvent(L"x", &v));  // never shown: nothing posted, nothing kept

        ShownPage page;
        page.AttachControl(nullptr, kEventMessage, window, nullptr);
        CountedDispatch object;
        ComPtr<IRecordInfo> record = PairRecordInfo();
        REQUIRE(record);
        Worker work{&page, record, &object};
        HANDLE thread = CreateThread(nullptr, 0, PostFromWorker, &work, 0, nullptr);
        MessageBoxW(nullptr, L"waiting for events", L"posted", MB_OK);
        WaitForSingleObject(thread, 10000);
        CloseHandle(thread);

        REQUIRE(receiver.events.size() == 5);
        CHECK(receiver.events[0].name == L"none");
        CHECK_FALSE(receiver.events[0].hadParam);
        CHECK(receiver.events[1].text == L"text \x2028 param");
        CHECK(receiver.events[2].number == -12345);
        CHECK(receiver.events[3].object == &object);
        CHECK(receiver.events[4].type == VT_RECORD);
        CHECK(receiver.events[4].pair.a == 7);
        CHECK(receiver.events[4].pair.b == 9);
        // The copies were released when the events had been handled.
        CHECK(object.references == 1);

        // A post that cannot be delivered keeps nothing either.
        v.vt = VT_DISPATCH;
        v.pdispVal = &object;
        window.Destroy();
        CHECK_FALSE(page.PostEvent(L"late", &v));
        CHECK(object.references == 1);
    }
    CoUninitialize();
}

namespace {

struct EventLog : EngineEventReceiver {
    std::vector<EngineEvent> events;
    void OnEngineEvent(const EngineEvent& event) override { events.push_back(event); }
};

struct ScanThreadCall {
    IStream* stream;
    HRESULT result = E_FAIL;
};

// Raises OnFinish(8) the way the engine's scan threads do: from the
// multithreaded apartment, through the interface it was handed.
DWORD WINAPI RaiseFinish(void* context) {
    auto* call = static_cast<ScanThreadCall*>(context);
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IDispatch* sink = nullptr;
    if (SUCCEEDED(CoGetInterfaceAndReleaseStream(call->stream, IID_IDispatch, reinterpret_cast<void**>(&sink)))) {
        VARIANT unionBit;
        unionBit.vt = VT_I4;
        unionBit.lVal = 8;
        DISPPARAMS params = {&unionBit, nullptr, 1, 0};
        call->result = sink->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        sink->Release();
    }
    CoUninitialize();
    return 0;
}

}  // namespace

TEST_CASE("engine events: a scan thread's call returns while the UI thread is busy; the event arrives when it pumps") {
    CoInitialize(nullptr);
    EventLog log;
    EngineEventSink* sink = new EngineEventSink(&log);
    REQUIRE(sink->Create());
    ScanThreadCall call{nullptr};
    REQUIRE(SUCCEEDED(CoMarshalInterThreadInterfaceInStream(IID_IDispatch, static_cast<IDispatch*>(sink), &call.stream)));
    HANDLE thread = CreateThread(nullptr, 0, RaiseFinish, &call, 0, nullptr);
    // Not pumping here: a call that needed the UI thread would still wait.
    bool returned = WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0;
    CHECK(returned);
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    CloseHandle(thread);
    CHECK(call.result == S_OK);
    MSG msg;
    while (log.events.empty() && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    REQUIRE(log.events.size() == 1);
    CHECK(log.events[0].id == 2);
    CHECK(log.events[0].unionBit == 8);
    sink->Detach();
    sink->Release();
    CoUninitialize();
}

// A sink whose wake messages cannot be posted, as when the UI thread's queue is full.
struct FullQueueSink : EngineEventSink {
    using EngineEventSink::EngineEventSink;
    int posts = 0;
    bool PostWake() override { return ++posts, false; }
};

TEST_CASE("engine events: none is lost when its wake cannot be posted") {
    EventLog log;
    auto* sink = new FullQueueSink(&log);
    REQUIRE(sink->Create());
    VARIANT bit;
    bit.vt = VT_I4;
    DISPPARAMS params = {&bit, nullptr, 1, 0};
    for (bit.lVal = 1; bit.lVal <= 4; bit.lVal *= 2)
        CHECK(sink->Invoke(2, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr) == S_OK);
    CHECK(sink->posts == 3);
    for (int i = 0; i < 100 && log.events.size() < 3; ++i) WaitPumping(100);  // the drain timer
    REQUIRE(log.events.size() == 3);
    CHECK(log.events[2].unionBit == 4);
    sink->Detach();
    sink->Release();
}

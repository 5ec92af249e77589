#include <doctest/doctest.h>
#include "common/com/ConnectionPoint.h"
#include "common/com/ConnectionPointEnum.h"
#include "common/com/ComPtr.h"
#include "common/com/FreeThreadedMarshaler.h"
#include "Recorder.h"
#include <olectl.h>

namespace {
// {6A1C2B3D-0E4F-4A5B-8C6D-7E8F90A1B2C3}
const IID kEvents = {0x6a1c2b3d, 0x0e4f, 0x4a5b, {0x8c, 0x6d, 0x7e, 0x8f, 0x90, 0xa1, 0xb2, 0xc3}};

// A free-threaded event source with one connection point.
class Source : public IConnectionPointContainer {
public:
    Source() : point_(this, kEvents) { marshaler_.Create(this); }
    virtual ~Source() { marshaler_.Release(); }

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPointContainer)) {
            *result = static_cast<IConnectionPointContainer*>(this);
            AddRef();
            return S_OK;
        }
        if (marshaler_.Answers(iid, result))
            return S_OK;
        *result = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return refs_.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG n = refs_.Release();
        if (n == 0)
            delete this;
        return n;
    }
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** result) override {
        return ConnectionPointEnum::Create({&point_}, 0, result);
    }
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** result) override {
        return FindConnectionPointIn({&point_}, iid, result);
    }

    HRESULT Fire(DISPID id, long first) {
        VARIANT arg;
        VariantInit(&arg);
        arg.vt = VT_I4;
        arg.lVal = first;
        DISPPARAMS params = {&arg, nullptr, 1, 0};
        return point_.Fire(id, params);
    }
    ConnectionPoint& Point() { return point_; }

private:
    RefCount refs_;
    ConnectionPoint point_;
    FreeThreadedMarshaler marshaler_;
};

struct Mta {
    Mta() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~Mta() { CoUninitialize(); }
};

struct FireContext {
    Source* source;
    DISPID id;
    HRESULT hr = E_UNEXPECTED;
};

DWORD WINAPI FireOnWorker(void* parameter) {
    auto* context = static_cast<FireContext*>(parameter);
    // A thread that never joined an apartment, as the scan workers are.
    context->hr = context->source->Fire(context->id, 42);
    return 0;
}

HRESULT FireFromWorker(Source* source, DISPID id, bool pump) {
    FireContext context{source, id};
    HANDLE thread = CreateThread(nullptr, 0, FireOnWorker, &context, 0, nullptr);
    REQUIRE(thread != nullptr);
    for (;;) {
        DWORD status = MsgWaitForMultipleObjects(1, &thread, FALSE, 30000,
                                                 pump ? QS_ALLINPUT : 0);
        if (status != WAIT_OBJECT_0 + 1)
            break;
        MSG msg;
        while (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessage(&msg);
    }
    CloseHandle(thread);
    return context.hr;
}
}

TEST_CASE("a connection point calls every advised sink in advise order") {
    Mta com;
    ComPtr<Source> source;
    source.Attach(new Source());
    source->AddRef();
    ComPtr<IConnectionPoint> point;
    REQUIRE(source->FindConnectionPoint(kEvents, point.Receive()) == S_OK);

    ComPtr<IConnectionPoint> none;
    CHECK(source->FindConnectionPoint(IID_IDispatch, none.Receive()) == CONNECT_E_NOCONNECTION);

    IID iid = {};
    CHECK(point->GetConnectionInterface(&iid) == S_OK);
    CHECK(IsEqualIID(iid, kEvents));
    ComPtr<IConnectionPointContainer> back;
    CHECK(point->GetConnectionPointContainer(back.Receive()) == S_OK);
    CHECK(back.Get() == static_cast<IConnectionPointContainer*>(source.Get()));

    CHECK(source->Fire(1, 5) == S_OK);  // no sink yet

    Recorder* a = new Recorder();
    Recorder* b = new Recorder();
    DWORD ca = 0, cb = 0;
    REQUIRE(point->Advise(a, &ca) == S_OK);
    REQUIRE(point->Advise(b, &cb) == S_OK);
    CHECK(ca != cb);
    CHECK(source->Point().SinkCount() == 2);

    CHECK(source->Fire(3, 7) == S_OK);
    REQUIRE(a->Calls().size() == 1);
    REQUIRE(b->Calls().size() == 1);
    CHECK(a->Calls()[0].id == 3);
    CHECK(a->Calls()[0].first == 7);

    SUBCASE("a sink without IDispatch cannot connect") {
        BareUnknown bare;
        DWORD cookie = 5;
        CHECK(point->Advise(&bare, &cookie) == CONNECT_E_CANNOTCONNECT);
        CHECK(cookie == 0);
        CHECK(point->Advise(nullptr, &cookie) == E_POINTER);
        CHECK(bare.refs_ == 1);
    }

    SUBCASE("Unadvise stops the calls to that sink only") {
        CHECK(point->Unadvise(ca) == S_OK);
        CHECK(point->Unadvise(ca) == CONNECT_E_NOCONNECTION);
        CHECK(point->Unadvise(0) == CONNECT_E_NOCONNECTION);
        CHECK(source->Fire(4, 1) == S_OK);
        CHECK(a->Calls().size() == 1);
        CHECK(b->Calls().size() == 2);
    }

    SUBCASE("a failing sink ends the event and leaves its text as error information") {
        Recorder* failing = new Recorder(HRESULT(0x80040250));
        Recorder* c = new Recorder();
        DWORD cf = 0, cc = 0;
        // The failing sink comes after a and b, the last one after it.
        REQUIRE(point->Advise(failing, &cf) == S_OK);
        REQUIRE(point->Advise(c, &cc) == S_OK);
        SetErrorInfo(0, nullptr);
        CHECK(source->Fire(2, 0) == HRESULT(0x80040250));
        CHECK(a->Calls().size() == 2);
        CHECK(failing->Calls().size() == 1);
        CHECK(c->Calls().empty());
        IErrorInfo* info = nullptr;
        REQUIRE(GetErrorInfo(0, &info) == S_OK);
        BSTR text = nullptr;
        info->GetDescription(&text);
        CHECK(std::wstring(text ? text : L"") == L"sink refused");
        SysFreeString(text);
        info->Release();
        point->Unadvise(cf);
        point->Unadvise(cc);
        failing->Release();
        c->Release();
    }

    SUBCASE("the container enumerates its one point") {
        ComPtr<IEnumConnectionPoints> points;
        REQUIRE(source->EnumConnectionPoints(points.Receive()) == S_OK);
        IConnectionPoint* got[2] = {};
        ULONG fetched = 0;
        CHECK(points->Next(2, got, &fetched) == S_FALSE);
        CHECK(fetched == 1);
        CHECK(got[0] == point.Get());
        got[0]->Release();
        CHECK(points->Reset() == S_OK);
        CHECK(points->Skip(2) == S_FALSE);
        ComPtr<IEnumConnectionPoints> clone;
        REQUIRE(points->Clone(clone.Receive()) == S_OK);
        CHECK(clone->Next(1, got, nullptr) == S_FALSE);
        CHECK(clone->Reset() == S_OK);
        CHECK(clone->Next(1, got, nullptr) == S_OK);
        got[0]->Release();
    }

    point->Unadvise(ca);
    point->Unadvise(cb);
    a->Release();
    b->Release();
}

TEST_CASE("events raised on a worker reach a sink in a single-threaded apartment on its thread") {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        ComPtr<Source> source;
        source.Attach(new Source());
        source->AddRef();
        ComPtr<IConnectionPoint> point;
        REQUIRE(source->FindConnectionPoint(kEvents, point.Receive()) == S_OK);
        Recorder* sink = new Recorder();
        DWORD cookie = 0;
        REQUIRE(point->Advise(sink, &cookie) == S_OK);

        // Twice: the marshaled sink stays reachable after its first use.
        CHECK(FireFromWorker(source, 7, true) == S_OK);
        CHECK(FireFromWorker(source, 8, true) == S_OK);
        // Raised on the sink's own thread, the sink is called directly.
        CHECK(source->Fire(9, 1) == S_OK);

        auto calls = sink->Calls();
        REQUIRE(calls.size() == 3);
        for (const auto& call : calls)
            CHECK(call.thread == GetCurrentThreadId());
        CHECK(calls[0].id == 7);
        CHECK(calls[0].first == 42);
        CHECK(calls[1].id == 8);
        CHECK(calls[2].id == 9);
        CHECK(point->Unadvise(cookie) == S_OK);
        sink->Release();
    }
    CoUninitialize();
}

TEST_CASE("the free-threaded marshaler hands other apartments the object itself") {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        ComPtr<Source> source;
        source.Attach(new Source());
        source->AddRef();
        ComPtr<IUnknown> marshal;
        CHECK(source->QueryInterface(IID_IMarshal, marshal.ReceiveVoid()) == S_OK);

        IStream* stream = nullptr;
        REQUIRE(CoMarshalInterThreadInterfaceInStream(IID_IConnectionPointContainer,
                                                      source.Get(), &stream) == S_OK);
        struct Context {
            IStream* stream;
            IConnectionPointContainer* got = nullptr;
        } context{stream};
        HANDLE thread = CreateThread(
            nullptr, 0,
            [](void* p) -> DWORD {
                auto* c = static_cast<Context*>(p);
                CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                CoGetInterfaceAndReleaseStream(c->stream, IID_IConnectionPointContainer,
                                               reinterpret_cast<void**>(&c->got));
                // Only the pointer value is kept; the reference goes back here.
                if (c->got)
                    c->got->Release();
                CoUninitialize();
                return 0;
            },
            &context, 0, nullptr);
        REQUIRE(thread != nullptr);
        WaitForSingleObject(thread, 30000);
        CloseHandle(thread);
        CHECK(context.got == static_cast<IConnectionPointContainer*>(source.Get()));
    }
    CoUninitialize();
}

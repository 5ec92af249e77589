#include "EngineTestSupport.h"
#include "TestSink.h"
#include <doctest/doctest.h>
#include <olectl.h>
#include <oleauto.h>

namespace {
const HRESULT kUnknownItem = HRESULT(0x80040227);

struct Apartment {
    explicit Apartment(DWORD model) { hr = CoInitializeEx(nullptr, model); }
    ~Apartment() {
        if (SUCCEEDED(hr))
            CoUninitialize();
    }
    HRESULT hr;
};

template <class T>
struct Ref {
    T* p = nullptr;
    ~Ref() {
        if (p)
            p->Release();
    }
    void** out() { return reinterpret_cast<void**>(&p); }
    T* operator->() const { return p; }
};

VARIANT LongArg(long value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

DISPID IdOf(IDispatch* object, const wchar_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = DISPID_UNKNOWN;
    CHECK(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id) == S_OK);
    return id;
}

void Advise(ICrawler* crawler, IUnknown* sink, DWORD& cookie, Ref<IConnectionPoint>& point) {
    Ref<IConnectionPointContainer> container;
    REQUIRE(crawler->QueryInterface(IID_IConnectionPointContainer, container.out()) == S_OK);
    if (!point.p)
        REQUIRE(container->FindConnectionPoint(DIID__ICrawlerEvents, &point.p) == S_OK);
    REQUIRE(point->Advise(sink, &cookie) == S_OK);
    CHECK(cookie != 0);
}

HRESULT RaiseFound(IDispatch* events, const wchar_t* item, long regUnion, long errorId,
                   long fixId) {
    VARIANT args[4] = {LongArg(fixId), LongArg(errorId), LongArg(regUnion), {}};
    args[3].vt = VT_BSTR;
    args[3].bstrVal = SysAllocString(item);
    DISPPARAMS params = {args, nullptr, 4, 0};
    HRESULT hr = events->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                nullptr, nullptr, nullptr);
    SysFreeString(args[3].bstrVal);
    return hr;
}

// Puts the object into the Global Interface Table for other client threads.
struct GitEntry {
    explicit GitEntry(ICrawler* crawler) {
        REQUIRE(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_IGlobalInterfaceTable,
                                 reinterpret_cast<void**>(&table)) == S_OK);
        REQUIRE(table->RegisterInterfaceInGlobal(crawler, IID_ICrawler, &cookie) == S_OK);
    }
    ~GitEntry() {
        table->RevokeInterfaceFromGlobal(cookie);
        table->Release();
    }
    IGlobalInterfaceTable* table = nullptr;
    DWORD cookie = 0;
};

ICrawler* FromGlobal(DWORD cookie, HRESULT& hr) {
    IGlobalInterfaceTable* table = nullptr;
    ICrawler* crawler = nullptr;
    hr = CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                          IID_IGlobalInterfaceTable, reinterpret_cast<void**>(&table));
    if (FAILED(hr))
        return nullptr;
    hr = table->GetInterfaceFromGlobal(cookie, IID_ICrawler, reinterpret_cast<void**>(&crawler));
    table->Release();
    return crawler;
}

// A second client in an apartment of its own, calling through its proxy.
struct ClientContext {
    DWORD cookie;
    HRESULT gotten = E_FAIL;
    HRESULT count = E_FAIL;
    long countValue = -1;
    HRESULT record = E_FAIL;
};

void SecondClient(void* parameter) {
    auto* context = static_cast<ClientContext*>(parameter);
    ICrawler* crawler = FromGlobal(context->cookie, context->gotten);
    if (!crawler)
        return;
    context->count = crawler->get_Count(&context->countValue);
    IqnRegRecord* record = nullptr;
    context->record = crawler->Record(1, &record);
    crawler->Release();
}

// A worker of the multithreaded apartment, where the engine raises its
// events, raising one through the object's own event dispatch.
struct RaiseContext {
    DWORD cookie;
    DISPID event;
    HRESULT gotten = E_FAIL;
    HRESULT raised = E_FAIL;
};

void RaiseOnWorker(void* parameter) {
    auto* context = static_cast<RaiseContext*>(parameter);
    ICrawler* crawler = FromGlobal(context->cookie, context->gotten);
    if (!crawler)
        return;
    IDispatch* events = nullptr;
    context->raised = crawler->QueryInterface(DIID__ICrawlerEvents,
                                              reinterpret_cast<void**>(&events));
    if (events) {
        if (context->event == 1) {
            context->raised = RaiseFound(events, L"HKLM\\Software\\x:(Default)", 1, 0x012C0065, 7);
        } else {
            VARIANT args[2] = {LongArg(50), LongArg(4)};
            DISPPARAMS params = {args, nullptr, context->event == 3 ? 2u : 0u, 0};
            context->raised = events->Invoke(context->event, IID_NULL, LOCALE_USER_DEFAULT,
                                             DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        }
        events->Release();
    }
    crawler->Release();
}

HRESULT RaiseFromWorker(DWORD cookie, DISPID event) {
    RaiseContext context{cookie, event};
    RunInApartment(COINIT_MULTITHREADED, RaiseOnWorker, &context);
    CHECK(context.gotten == S_OK);
    return context.raised;
}
}

TEST_CASE("a single-threaded client creates the engine by ProgID and drives it through COM") {
    RegisteredEngine engine;
    Apartment sta(COINIT_APARTMENTTHREADED);
    REQUIRE(SUCCEEDED(sta.hr));

    CLSID clsid = {}, versioned = {};
    REQUIRE(CLSIDFromProgID(L"OrvaneEngine.Crawler", &clsid) == S_OK);
    CHECK(IsEqualCLSID(clsid, CLSID_CCrawler));
    REQUIRE(CLSIDFromProgID(L"OrvaneEngine.Crawler.1", &versioned) == S_OK);
    CHECK(IsEqualCLSID(versioned, CLSID_CCrawler));

    Ref<ICrawler> crawler;
    REQUIRE(CoCreateInstance(clsid, nullptr, 23, IID_ICrawler, crawler.out()) == S_OK);

    SUBCASE("calls through the vtable cross to the object and back") {
        long count = -1;
        CHECK(crawler->get_Count(&count) == S_OK);
        CHECK(count == 0);
        Ref<IqnRegRecord> record;
        CHECK(crawler->Record(1, &record.p) == kUnknownItem);
        CHECK(crawler->Record(0, &record.p) == kUnknownItem);
        CHECK(crawler->DelRecord(1) == kUnknownItem);
        CHECK(crawler->RecordByFixID(3, &record.p) == S_OK);
        CHECK(record.p == nullptr);
        CHECK(crawler->Stop() == S_OK);
    }

    SUBCASE("calls by name through IDispatch") {
        Ref<IDispatch> dispatch;
        REQUIRE(crawler->QueryInterface(IID_IDispatch, dispatch.out()) == S_OK);
        CHECK(IdOf(dispatch.p, L"Scan") == 1);
        CHECK(IdOf(dispatch.p, L"Count") == 3);
        CHECK(IdOf(dispatch.p, L"RecordByFixID") == 38);
        CHECK(IdOf(dispatch.p, L"MoveUndoFiles") == 47);

        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        VARIANT result;
        VariantInit(&result);
        CHECK(dispatch->Invoke(IdOf(dispatch.p, L"Count"), IID_NULL, LOCALE_USER_DEFAULT,
                               DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr) == S_OK);
        CHECK(result.vt == VT_I4);
        CHECK(result.lVal == 0);

        // A failing member reaches the caller with its code.
        VARIANT index = LongArg(5);
        DISPPARAMS one = {&index, nullptr, 1, 0};
        EXCEPINFO exception = {};
        VariantClear(&result);
        HRESULT hr = dispatch->Invoke(IdOf(dispatch.p, L"DelRecord"), IID_NULL,
                                      LOCALE_USER_DEFAULT, DISPATCH_METHOD, &one, &result,
                                      &exception, nullptr);
        CHECK((hr == kUnknownItem || (hr == DISP_E_EXCEPTION && exception.scode == kUnknownItem)));
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrHelpFile);

        CHECK(dispatch->Invoke(999, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none,
                               &result, nullptr, nullptr) == DISP_E_MEMBERNOTFOUND);
    }

    SUBCASE("a second client thread reaches the object through the Global Interface Table") {
        GitEntry entry(crawler.p);
        ClientContext context{entry.cookie};
        RunInApartment(COINIT_APARTMENTTHREADED, SecondClient, &context);
        CHECK(context.gotten == S_OK);
        CHECK(context.count == S_OK);
        CHECK(context.countValue == 0);
        CHECK(context.record == kUnknownItem);
    }

    SUBCASE("events raised on a worker reach every advised sink in the sink's apartment") {
        TestSink* first = new TestSink();
        TestSink* second = new TestSink();
        Ref<IConnectionPoint> point;
        DWORD firstCookie = 0, secondCookie = 0;
        Advise(crawler.p, first, firstCookie, point);
        Advise(crawler.p, second, secondCookie, point);
        IID iid = {};
        CHECK(point->GetConnectionInterface(&iid) == S_OK);
        CHECK(IsEqualIID(iid, DIID__ICrawlerEvents));
        GitEntry entry(crawler.p);

        CHECK(RaiseFromWorker(entry.cookie, 1) == S_OK);
        CHECK(RaiseFromWorker(entry.cookie, 3) == S_OK);
        for (TestSink* sink : {first, second}) {
            auto calls = sink->Calls();
            REQUIRE(calls.size() == 2);
            CHECK(calls[0].id == 1);
            CHECK(calls[0].thread == GetCurrentThreadId());
            CHECK(calls[0].arguments == std::vector<std::wstring>{L"HKLM\\Software\\x:(Default)",
                                                                  L"1", L"19660901", L"7"});
            CHECK(calls[1].id == 3);
            CHECK(calls[1].thread == GetCurrentThreadId());
            CHECK(calls[1].arguments == std::vector<std::wstring>{L"4", L"50"});
        }

        // After Unadvise only the remaining sink hears the events.
        CHECK(point->Unadvise(firstCookie) == S_OK);
        CHECK(point->Unadvise(firstCookie) == CONNECT_E_NOCONNECTION);
        CHECK(RaiseFromWorker(entry.cookie, 4) == S_OK);
        CHECK(first->Calls().size() == 2);
        REQUIRE(second->Calls().size() == 3);
        CHECK(second->Calls()[2].id == 4);
        CHECK(second->Calls()[2].arguments.empty());

        CHECK(point->Unadvise(secondCookie) == S_OK);
        CHECK(RaiseFromWorker(entry.cookie, 4) == S_OK);
        CHECK(second->Calls().size() == 3);
        first->Release();
        second->Release();
    }

    SUBCASE("a failing sink ends the event with its code") {
        const HRESULT refused = HRESULT(0x80040250);
        TestSink* failing = new TestSink(refused);
        TestSink* later = new TestSink();
        Ref<IConnectionPoint> point;
        DWORD failingCookie = 0, laterCookie = 0;
        Advise(crawler.p, failing, failingCookie, point);
        Advise(crawler.p, later, laterCookie, point);
        GitEntry entry(crawler.p);
        CHECK(RaiseFromWorker(entry.cookie, 1) == refused);
        CHECK(failing->Calls().size() == 1);
        CHECK(later->Calls().empty());
        point->Unadvise(failingCookie);
        point->Unadvise(laterCookie);
        failing->Release();
        later->Release();
    }

    SUBCASE("settings properties, without the settings file") {
        // First of all: the engine's settings object must never touch the
        // shared "settings.dat" of the test prefix.
        CHECK(crawler->put_UseFile(0) == S_OK);

        long value = -1;
        CHECK(crawler->put_AutoFix(1) == S_OK);
        CHECK(crawler->get_AutoFix(&value) == S_OK);
        CHECK(value == 1);
        // Only 1 switches on; a script's true (-1) and 2 switch off.
        for (long off : {2L, -1L, 0L}) {
            CHECK(crawler->put_AutoFix(off) == S_OK);
            CHECK(crawler->get_AutoFix(&value) == S_OK);
            CHECK(value == 0);
        }
        CHECK(crawler->put_BackupRetentionSwitch(1) == S_OK);
        CHECK(crawler->get_BackupRetentionSwitch(&value) == S_OK);
        CHECK(value == 1);
        CHECK(crawler->get_AutoReboot(&value) == S_OK);
        CHECK(value == 0);

        CHECK(crawler->put_SkipScanDrives(0) == S_OK);
        CHECK(crawler->get_SkipScanDrives(&value) == S_OK);
        CHECK(value == 6);
        CHECK(crawler->put_SkipScanDrives(2) == S_OK);
        CHECK(crawler->get_SkipScanDrives(&value) == S_OK);
        CHECK(value == 2);
        crawler->put_SkipScanDrives(6);

        BSTR text = SysAllocString(L"admin@example.com");
        CHECK(crawler->put_ReportMail(text) == S_OK);
        SysFreeString(text);
        text = nullptr;
        CHECK(crawler->get_ReportMail(&text) == S_OK);
        CHECK(std::wstring(text) == L"admin@example.com");
        SysFreeString(text);
        text = SysAllocString(L"");
        CHECK(crawler->put_ReportMailServer(text) == S_OK);
        SysFreeString(text);
        text = nullptr;
        CHECK(crawler->get_ReportMailServer(&text) == S_OK);
        CHECK(text != nullptr);
        CHECK(SysStringLen(text) == 0);
        SysFreeString(text);

        // Folder texts get their separator, unless they end in one already.
        text = SysAllocString(L"D:/Windows/");
        CHECK(crawler->put_WindowsDirectory(text) == S_OK);
        SysFreeString(text);
        CHECK(crawler->get_WindowsDirectory(&text) == S_OK);
        CHECK(std::wstring(text) == L"D:/Windows/");
        SysFreeString(text);
        text = SysAllocString(L"C:\\PEBuilder");
        CHECK(crawler->put_PEBuilderDirectory(text) == S_OK);
        SysFreeString(text);
        CHECK(crawler->get_PEBuilderDirectory(&text) == S_OK);
        CHECK(std::wstring(text) == L"C:\\PEBuilder\\");
        SysFreeString(text);

        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        std::wstring undo = std::wstring(temp) + L"OrvaneTest-com-undo-" +
                            std::to_wstring(GetCurrentProcessId());
        text = SysAllocString(undo.c_str());
        CHECK(crawler->put_UndoDirectory(text) == S_OK);
        SysFreeString(text);
        CHECK(crawler->get_UndoDirectory(&text) == S_OK);
        CHECK(std::wstring(text) == undo + L"\\");
        SysFreeString(text);
        CHECK(GetFileAttributesW(undo.c_str()) != INVALID_FILE_ATTRIBUTES);
        RemoveDirectoryW(undo.c_str());

        // By name: a property put carries the named argument DISPID_PROPERTYPUT.
        Ref<IDispatch> dispatch;
        REQUIRE(crawler->QueryInterface(IID_IDispatch, dispatch.out()) == S_OK);
        VARIANT one = LongArg(1);
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS put = {&one, &named, 1, 1};
        CHECK(dispatch->Invoke(IdOf(dispatch.p, L"AutoReboot"), IID_NULL, LOCALE_USER_DEFAULT,
                               DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr) == S_OK);
        CHECK(crawler->get_AutoReboot(&value) == S_OK);
        CHECK(value == 1);
        crawler->put_AutoReboot(0);
    }

    SUBCASE("an aggregating creator is refused") {
        TestSink* outer = new TestSink();
        Ref<IUnknown> inner;
        CHECK(CoCreateInstance(clsid, outer, CLSCTX_INPROC_SERVER, IID_IUnknown, inner.out()) ==
              CLASS_E_NOAGGREGATION);
        CHECK(inner.p == nullptr);
        outer->Release();
    }
}

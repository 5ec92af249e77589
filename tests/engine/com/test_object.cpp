#include "EngineTestSupport.h"
#include "TestSink.h"
#include <doctest/doctest.h>
#include <olectl.h>
#include <oleauto.h>

namespace {
struct ObjectContext {
    HRESULT factory = E_FAIL;
    HRESULT aggregated = S_OK;
    HRESULT nullResult = S_OK;
    HRESULT created = E_FAIL;
    HRESULT lock = E_FAIL;
    HRESULT unlock = E_FAIL;
    bool sameIdentity = false;
    HRESULT classInfo = E_FAIL;
    bool classInfoIsCrawler = false;
    HRESULT sourceGuid = E_FAIL;
    bool sourceIsEvents = false;
    HRESULT otherGuidKind = S_OK;
    HRESULT errorInfoCrawler = E_FAIL;
    HRESULT errorInfoOther = E_FAIL;
    HRESULT siteBefore = S_OK;
    HRESULT siteAfter = E_FAIL;
    bool siteIsOurs = false;
    HRESULT siteCleared = S_OK;
    ULONG pointsFetched = 0;
    bool pointIsEvents = false;
    HRESULT wrongPoint = S_OK;
    HRESULT wrongRiid = S_OK;
    HRESULT nullSwitch = S_OK;
    HRESULT nullText = S_OK;
    HRESULT nullMask = S_OK;
    HRESULT nullCount = S_OK;
};

// Runs in the multithreaded apartment, where the object lives and every
// pointer is the object's own.
void InspectObject(void* parameter) {
    auto* c = static_cast<ObjectContext*>(parameter);
    IClassFactory* factory = nullptr;
    c->factory = CoGetClassObject(CLSID_CCrawler, CLSCTX_INPROC_SERVER, nullptr,
                                  IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(c->factory))
        return;
    TestSink* outer = new TestSink();
    IUnknown* inner = nullptr;
    c->aggregated = factory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&inner));
    c->nullResult = factory->CreateInstance(nullptr, IID_ICrawler, nullptr);
    c->lock = factory->LockServer(TRUE);
    c->unlock = factory->LockServer(FALSE);
    ICrawler* crawler = nullptr;
    c->created = factory->CreateInstance(nullptr, IID_ICrawler, reinterpret_cast<void**>(&crawler));
    factory->Release();
    if (FAILED(c->created)) {
        outer->Release();
        return;
    }

    IUnknown *a = nullptr, *b = nullptr;
    IConnectionPointContainer* container = nullptr;
    crawler->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    crawler->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a));
    if (container)
        container->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b));
    c->sameIdentity = a && a == b;

    IProvideClassInfo2* info = nullptr;
    if (SUCCEEDED(crawler->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&info)))) {
        ITypeInfo* type = nullptr;
        c->classInfo = info->GetClassInfo(&type);
        if (type) {
            TYPEATTR* attr = nullptr;
            if (SUCCEEDED(type->GetTypeAttr(&attr))) {
                c->classInfoIsCrawler = IsEqualGUID(attr->guid, CLSID_CCrawler) &&
                                        attr->typekind == TKIND_COCLASS;
                type->ReleaseTypeAttr(attr);
            }
            type->Release();
        }
        GUID guid = {};
        c->sourceGuid = info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid);
        c->sourceIsEvents = IsEqualGUID(guid, DIID__ICrawlerEvents);
        c->otherGuidKind = info->GetGUID(7, &guid);
        info->Release();
    }

    ISupportErrorInfo* errors = nullptr;
    if (SUCCEEDED(crawler->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&errors)))) {
        c->errorInfoCrawler = errors->InterfaceSupportsErrorInfo(IID_ICrawler);
        c->errorInfoOther = errors->InterfaceSupportsErrorInfo(IID_IDispatch);
        errors->Release();
    }

    IObjectWithSite* site = nullptr;
    if (SUCCEEDED(crawler->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&site)))) {
        IUnknown* got = nullptr;
        c->siteBefore = site->GetSite(IID_IUnknown, reinterpret_cast<void**>(&got));
        site->SetSite(outer);
        c->siteAfter = site->GetSite(IID_IDispatch, reinterpret_cast<void**>(&got));
        c->siteIsOurs = got == static_cast<IDispatch*>(outer);
        if (got)
            got->Release();
        got = nullptr;
        site->SetSite(nullptr);
        c->siteCleared = site->GetSite(IID_IUnknown, reinterpret_cast<void**>(&got));
        site->Release();
    }

    if (container) {
        IEnumConnectionPoints* points = nullptr;
        if (SUCCEEDED(container->EnumConnectionPoints(&points))) {
            IConnectionPoint* all[2] = {};
            points->Next(2, all, &c->pointsFetched);
            IID iid = {};
            if (all[0] && SUCCEEDED(all[0]->GetConnectionInterface(&iid)))
                c->pointIsEvents = IsEqualIID(iid, DIID__ICrawlerEvents);
            for (IConnectionPoint* p : all)
                if (p)
                    p->Release();
            points->Release();
        }
        IConnectionPoint* wrong = nullptr;
        c->wrongPoint = container->FindConnectionPoint(IID_IDispatch, &wrong);
        container->Release();
    }

    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    c->wrongRiid = crawler->Invoke(3, IID_IDispatch, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                   &none, nullptr, nullptr, nullptr);
    crawler->put_UseFile(0);
    c->nullSwitch = crawler->get_AutoFix(nullptr);
    c->nullText = crawler->get_BackupDirectory(nullptr);
    c->nullMask = crawler->get_SkipScanDrives(nullptr);
    c->nullCount = crawler->get_Count(nullptr);
    if (a)
        a->Release();
    if (b)
        b->Release();
    crawler->Release();
    outer->Release();
}
}

TEST_CASE("the engine object and its class object in the multithreaded apartment") {
    RegisteredEngine engine;
    ObjectContext c;
    RunInApartment(COINIT_MULTITHREADED, InspectObject, &c);

    REQUIRE(c.factory == S_OK);
    CHECK(c.aggregated == CLASS_E_NOAGGREGATION);
    CHECK(c.nullResult == E_POINTER);
    CHECK(c.lock == S_OK);
    CHECK(c.unlock == S_OK);
    REQUIRE(c.created == S_OK);
    CHECK(c.sameIdentity);

    CHECK(c.classInfo == S_OK);
    CHECK(c.classInfoIsCrawler);
    CHECK(c.sourceGuid == S_OK);
    CHECK(c.sourceIsEvents);
    CHECK(c.otherGuidKind == E_INVALIDARG);

    CHECK(c.errorInfoCrawler == S_OK);
    CHECK(c.errorInfoOther == S_FALSE);

    CHECK(c.siteBefore == E_FAIL);
    CHECK(c.siteAfter == S_OK);
    CHECK(c.siteIsOurs);
    CHECK(c.siteCleared == E_FAIL);

    CHECK(c.pointsFetched == 1);
    CHECK(c.pointIsEvents);
    CHECK(c.wrongPoint == CONNECT_E_NOCONNECTION);
    CHECK(c.wrongRiid == DISP_E_UNKNOWNINTERFACE);

    // A getter given no place for its result refuses the call.
    CHECK(c.nullSwitch == E_FAIL);
    CHECK(c.nullText == E_FAIL);
    CHECK(c.nullMask == E_FAIL);
    CHECK(c.nullCount == E_FAIL);
}

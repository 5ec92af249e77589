#include "engine/com/CqnRegRecord.h"
#include "common/com/ComModule.h"
#include <doctest/doctest.h>
#include <oleauto.h>
#include <string>

namespace {
struct Owned {
    CqnRegRecord* record = nullptr;
    Owned() {
        REQUIRE(CqnRegRecord::CreateInstance(&record) == S_OK);
        CHECK(record->AddRef() == 1);
    }
    ~Owned() { record->Release(); }
};

std::wstring Text(BSTR value) {
    std::wstring text = value ? std::wstring(value, SysStringLen(value)) : L"<null>";
    SysFreeString(value);
    return text;
}

struct Sta {
    Sta() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~Sta() { CoUninitialize(); }
};
}

TEST_CASE("a record object carries the texts and numbers of one finding") {
    CHECK(CqnRegRecord::CreateInstance(nullptr) == E_POINTER);
    LONG locks = ComModule::LockCount();
    {
        Owned o;
        CHECK(ComModule::LockCount() == locks + 1);
        const std::wstring item(L"C:\\gone.dll\0tail", 16);
        o.record->SetFields(item.c_str(), L"missing file", 4, 0x012C0065, 12,
                            L"HKLM\\Software\\Classes\\CLSID\\{X}\\InprocServer32", L"");

        BSTR text = nullptr;
        CHECK(o.record->get_Item(&text) == S_OK);
        CHECK(Text(text) == L"C:\\gone.dll");
        o.record->get_Reason(&text);
        CHECK(Text(text) == L"missing file");
        o.record->get_KeyPath(&text);
        CHECK(Text(text) == L"HKLM\\Software\\Classes\\CLSID\\{X}\\InprocServer32");
        // A finding about the default value has an empty name, not a null one.
        o.record->get_ValueName(&text);
        CHECK(text != nullptr);
        CHECK(Text(text) == L"");

        LONG number = 0;
        CHECK(o.record->get_RegUnion(&number) == S_OK);
        CHECK(number == 4);
        o.record->get_ErrorID(&number);
        CHECK(number == 0x012C0065);
        o.record->get_FixID(&number);
        CHECK(number == 12);

        // A null result pointer is ignored.
        CHECK(o.record->get_Item(nullptr) == S_OK);
        CHECK(o.record->get_FixID(nullptr) == S_OK);

        o.record->SetFields(nullptr, L"missing file", 0, 1, 0, L"HKCU", nullptr);
        o.record->get_Item(&text);
        CHECK(text == nullptr);
        o.record->get_ValueName(&text);
        CHECK(text == nullptr);
        o.record->get_Reason(&text);
        CHECK(Text(text) == L"missing file");
    }
    CHECK(ComModule::LockCount() == locks);
}

TEST_CASE("a record object answers its interfaces and the free-threaded marshaler") {
    Sta com;
    Owned o;
    o.record->SetFields(L"item", L"", 1, 2, 3, L"HKCU\\Software", L"Name");
    IUnknown* got = nullptr;
    for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &IID_IqnRegRecord, &IID_IMarshal}) {
        CHECK(o.record->QueryInterface(*iid, reinterpret_cast<void**>(&got)) == S_OK);
        if (got)
            got->Release();
    }
    CHECK(o.record->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&got)) ==
          E_NOINTERFACE);
    CHECK(got == nullptr);

    // Another apartment receives the object itself, not a proxy.
    IStream* stream = nullptr;
    REQUIRE(CoMarshalInterThreadInterfaceInStream(IID_IqnRegRecord,
                                                  static_cast<IqnRegRecord*>(o.record),
                                                  &stream) == S_OK);
    struct Context {
        IStream* stream;
        IqnRegRecord* got = nullptr;
        LONG fixId = 0;
    } context{stream};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* p) -> DWORD {
            auto* c = static_cast<Context*>(p);
            CoInitializeEx(nullptr, COINIT_MULTITHREADED);
            if (SUCCEEDED(CoGetInterfaceAndReleaseStream(c->stream, IID_IqnRegRecord,
                                                         reinterpret_cast<void**>(&c->got)))) {
                c->got->get_FixID(&c->fixId);
                c->got->Release();
            }
            CoUninitialize();
            return 0;
        },
        &context, 0, nullptr);
    REQUIRE(thread != nullptr);
    WaitForSingleObject(thread, 30000);
    CloseHandle(thread);
    CHECK(context.got == static_cast<IqnRegRecord*>(o.record));
    CHECK(context.fixId == 3);
}

TEST_CASE("a record object's properties are reachable by name") {
    Owned o;
    o.record->SetFields(L"item", L"reason", 8, 5, 9, L"HKCU\\Software\\x", L"v");
    const std::pair<const wchar_t*, DISPID> names[] = {
        {L"Item", 1}, {L"Reason", 2}, {L"FixID", 3}, {L"ErrorID", 4},
        {L"RegUnion", 5}, {L"KeyPath", 6}, {L"ValueName", 7}};
    for (const auto& name : names) {
        LPOLESTR text[] = {const_cast<LPOLESTR>(name.first)};
        DISPID id = DISPID_UNKNOWN;
        CHECK(o.record->GetIDsOfNames(IID_NULL, text, 1, LOCALE_USER_DEFAULT, &id) == S_OK);
        CHECK(id == name.second);
    }
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    REQUIRE(o.record->Invoke(6, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                             &result, nullptr, nullptr) == S_OK);
    CHECK(result.vt == VT_BSTR);
    CHECK(std::wstring(result.bstrVal) == L"HKCU\\Software\\x");
    VariantClear(&result);
    REQUIRE(o.record->Invoke(5, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                             &result, nullptr, nullptr) == S_OK);
    CHECK(result.vt == VT_I4);
    CHECK(result.lVal == 8);
    UINT count = 0;
    CHECK(o.record->GetTypeInfoCount(&count) == S_OK);
    CHECK(count == 1);
}

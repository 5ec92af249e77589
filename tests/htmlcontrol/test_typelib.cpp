#include "ControlTestSupport.h"
#include <doctest/doctest.h>
#include <oleauto.h>
#include "common/com/ComPtr.h"
#include "htmlcontrol/qnControl.h"

namespace {
struct Member {
    int slot;
    DISPID id;
    const wchar_t* name;
    INVOKEKIND kind;
    WORD flags;
    const wchar_t* help;
};
const INVOKEKIND M = INVOKE_FUNC;
const INVOKEKIND G = INVOKE_PROPERTYGET;
const INVOKEKIND P = INVOKE_PROPERTYPUT;
const WORD kStock = FUNCFLAG_FBINDABLE | FUNCFLAG_FREQUESTEDIT;

// The main program binds IQNHTMLControl by slot, page script by DISPID.
const Member kControl[] = {
    {7, 1, L"OnHTMLEvent", M, 0, L"method OnHTMLEvent"},
    {8, -514, L"Enabled", P, kStock, nullptr},
    {9, -514, L"Enabled", G, kStock, nullptr},
    {10, -515, L"HWND", G, kStock, nullptr},
    {11, -5512, L"AmbientDlControl", G, 0, L"property AmbientDlControl"},
    {12, 4096, L"Parent", G, 0, L"property Parent"},
    {13, 4097, L"Browser", G, 0, L"property WebBrowser"},
    {14, 4098, L"ExecScript", M, 0, L"method ExecScript"},
    {15, 4099, L"ControlMessage", G, 0, L"property ControlMessage"},
};

std::wstring Text(BSTR s) {
    std::wstring t = s ? std::wstring(s, SysStringLen(s)) : std::wstring();
    SysFreeString(s);
    return t;
}

std::wstring Help(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr, doc = nullptr;
    info->GetDocumentation(id, &name, &doc, nullptr, nullptr);
    SysFreeString(name);
    return Text(doc);
}
}

TEST_CASE("the embedded type library has the control's slots, DISPIDs, flags and help strings") {
    ComPtr<ITypeLib> library;
    REQUIRE(LoadTypeLibEx(ControlDllPath().c_str(), REGKIND_NONE, library.Receive()) == S_OK);
    TLIBATTR* attr = nullptr;
    REQUIRE(library->GetLibAttr(&attr) == S_OK);
    CHECK(IsEqualGUID(attr->guid, LIBID_qnControl));
    CHECK(attr->wMajorVerNum == 1);
    CHECK(attr->wMinorVerNum == 0);
    CHECK(attr->lcid == 0x409);
    library->ReleaseTLibAttr(attr);
    BSTR libHelp = nullptr;
    library->GetDocumentation(-1, nullptr, &libHelp, nullptr, nullptr);
    CHECK(Text(libHelp) == L"qnControl 1.0 Type Library");

    ComPtr<ITypeInfo> dual;
    REQUIRE(library->GetTypeInfoOfGuid(IID_IQNHTMLControl, dual.Receive()) == S_OK);
    CHECK(Help(dual, MEMBERID_NIL) == L"IQNHTMLControl Interface");
    TYPEATTR* type = nullptr;
    REQUIRE(dual->GetTypeAttr(&type) == S_OK);
    CHECK((type->wTypeFlags & TYPEFLAG_FDUAL) != 0);
    dual->ReleaseTypeAttr(type);
    // The dual interface's vtable part.
    HREFTYPE ref = 0;
    REQUIRE(dual->GetRefTypeOfImplType(-1, &ref) == S_OK);
    ComPtr<ITypeInfo> vtable;
    REQUIRE(dual->GetRefTypeInfo(ref, vtable.Receive()) == S_OK);
    REQUIRE(vtable->GetTypeAttr(&type) == S_OK);
    CHECK(type->cFuncs == 9);
    CHECK(type->cbSizeVft == 16 * 8);
    vtable->ReleaseTypeAttr(type);
    for (UINT i = 0; i < 9; ++i) {
        const Member& m = kControl[i];
        CAPTURE(m.name);
        FUNCDESC* f = nullptr;
        REQUIRE(vtable->GetFuncDesc(i, &f) == S_OK);
        CHECK(f->oVft == m.slot * 8);
        CHECK(f->memid == m.id);
        CHECK(f->invkind == m.kind);
        CHECK(f->wFuncFlags == m.flags);
        BSTR name = nullptr;
        UINT count = 0;
        vtable->GetNames(f->memid, &name, 1, &count);
        CHECK(Text(name) == m.name);
        CHECK(Help(vtable, f->memid) == (m.help ? m.help : L""));
        vtable->ReleaseFuncDesc(f);
    }

    ComPtr<ITypeInfo> events;
    REQUIRE(library->GetTypeInfoOfGuid(DIID__IQNHTMLControlEvents, events.Receive()) == S_OK);
    CHECK(Help(events, MEMBERID_NIL) == L"_IQNHTMLControlEvents Interface");
    FUNCDESC* f = nullptr;
    REQUIRE(events->GetFuncDesc(0, &f) == S_OK);
    CHECK(f->memid == 1);
    CHECK(f->cParams == 4);
    CHECK(f->lprgelemdescParam[3].tdesc.vt == VT_PTR);
    events->ReleaseFuncDesc(f);
    CHECK(Help(events, 1) == L"method HTMLEvent - event");

    ComPtr<ITypeInfo> coclass;
    REQUIRE(library->GetTypeInfoOfGuid(CLSID_CQNHTMLControl, coclass.Receive()) == S_OK);
    CHECK(Help(coclass, MEMBERID_NIL) == L"QNHTMLControl Class");
    REQUIRE(coclass->GetTypeAttr(&type) == S_OK);
    CHECK((type->wTypeFlags & TYPEFLAG_FCANCREATE) != 0);
    coclass->ReleaseTypeAttr(type);
    int flags = 0;
    REQUIRE(coclass->GetImplTypeFlags(1, &flags) == S_OK);
    CHECK(flags == (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE));
}

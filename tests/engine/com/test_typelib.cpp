#include "EngineTestSupport.h"
#include <doctest/doctest.h>
#include <oleauto.h>
#include <vector>

namespace {
struct Member {
    int slot;
    DISPID id;
    const wchar_t* name;
    INVOKEKIND kind;
};

const INVOKEKIND M = INVOKE_FUNC;
const INVOKEKIND G = INVOKE_PROPERTYGET;
const INVOKEKIND P = INVOKE_PROPERTYPUT;

// The binding order of ICrawler: the main program calls by slot.
const Member kCrawler[] = {
    {7, 1, L"Scan", M}, {8, 2, L"Record", M}, {9, 3, L"Count", G}, {10, 4, L"Pause", M},
    {11, 5, L"Stop", M}, {12, 6, L"FixError", M}, {13, 7, L"FixAllErrors", M},
    {14, 8, L"AddToIgnoreList", M}, {15, 9, L"DismissIgnoreList", M}, {16, 10, L"UndoAll", M},
    {17, 11, L"RemoveFromIgnoreList", M}, {18, 12, L"GetUndoFilesCount", M},
    {19, 13, L"UndoFix", M}, {20, 14, L"FinalizeUndoSession", M},
    {21, 16, L"FinalizeFixSession", M}, {22, 17, L"BeginFixSession", M},
    {23, 18, L"GetUndoFileInfo", M}, {24, 19, L"UndoRecord", M}, {25, 20, L"UndoCount", G},
    {26, 21, L"ReadUndoFile", M}, {27, 23, L"SkipScanDrives", G}, {28, 23, L"SkipScanDrives", P},
    {29, 24, L"BackupDirectory", G}, {30, 24, L"BackupDirectory", P},
    {31, 25, L"UndoDirectory", G}, {32, 25, L"UndoDirectory", P}, {33, 26, L"IgnoreRecord", M},
    {34, 27, L"IgnoreCount", G}, {35, 28, L"ReportMail", G}, {36, 28, L"ReportMail", P},
    {37, 29, L"ReportMailSwitch", G}, {38, 29, L"ReportMailSwitch", P},
    {39, 30, L"ReportMailServer", G}, {40, 30, L"ReportMailServer", P},
    {41, 31, L"AutoFix", G}, {42, 31, L"AutoFix", P}, {43, 32, L"AutoReboot", G},
    {44, 32, L"AutoReboot", P}, {45, 33, L"UseFile", P}, {46, 34, L"DelRecord", M},
    {47, 35, L"ScanResultsThreshold", G}, {48, 35, L"ScanResultsThreshold", P},
    {49, 36, L"AutoBackupSwitch", G}, {50, 36, L"AutoBackupSwitch", P},
    {51, 37, L"BackupRetentionSwitch", G}, {52, 37, L"BackupRetentionSwitch", P},
    {53, 38, L"RecordByFixID", M}, {54, 39, L"ExportIgnoreList", M},
    {55, 40, L"ImportIgnoreList", M}, {56, 41, L"put_PEBuilderDirectory", M},
    {57, 42, L"put_WindowsDirectory", M}, {58, 43, L"SaveIgnore", M},
    {59, 44, L"DeleteUndoFile", M}, {60, 45, L"get_WindowsDirectory", M},
    {61, 46, L"get_PEBuilderDirectory", M}, {62, 47, L"MoveUndoFiles", M},
};

const Member kRecord[] = {
    {7, 1, L"Item", G},     {8, 2, L"Reason", G},  {9, 3, L"FixID", G},
    {10, 4, L"ErrorID", G}, {11, 5, L"RegUnion", G}, {12, 6, L"KeyPath", G},
    {13, 7, L"ValueName", G},
};

struct TypeLibHolder {
    ITypeLib* library = nullptr;
    ~TypeLibHolder() {
        if (library)
            library->Release();
    }
};

struct TypeInfoHolder {
    ITypeInfo* info = nullptr;
    ~TypeInfoHolder() {
        if (info)
            info->Release();
    }
};

std::wstring NameOf(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr;
    if (FAILED(info->GetDocumentation(id, &name, nullptr, nullptr, nullptr)))
        return L"";
    std::wstring text = name ? name : L"";
    SysFreeString(name);
    return text;
}

std::wstring HelpOf(ITypeInfo* info) {
    BSTR help = nullptr;
    info->GetDocumentation(MEMBERID_NIL, nullptr, &help, nullptr, nullptr);
    std::wstring text = help ? help : L"";
    SysFreeString(help);
    return text;
}

// The vtable part of a dual interface.
void VtablePart(ITypeInfo* dispatch, TypeInfoHolder& vtable) {
    HREFTYPE ref = 0;
    REQUIRE(dispatch->GetRefTypeOfImplType(UINT(-1), &ref) == S_OK);
    REQUIRE(dispatch->GetRefTypeInfo(ref, &vtable.info) == S_OK);
}

void CheckMembers(ITypeInfo* vtable, const Member* members, size_t count) {
    TYPEATTR* attr = nullptr;
    REQUIRE(vtable->GetTypeAttr(&attr) == S_OK);
    CHECK(attr->typekind == TKIND_INTERFACE);
    CHECK(attr->cFuncs == count);
    CHECK(attr->cbSizeVft == (count + 7) * 8);
    UINT funcs = attr->cFuncs;
    vtable->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < funcs && i < count; ++i) {
        FUNCDESC* desc = nullptr;
        REQUIRE(vtable->GetFuncDesc(i, &desc) == S_OK);
        const Member& want = members[i];
        INFO("slot ", want.slot);
        CHECK(desc->oVft == want.slot * 8);
        CHECK(desc->memid == want.id);
        CHECK(desc->invkind == want.kind);
        CHECK(NameOf(vtable, desc->memid) == want.name);
        vtable->ReleaseFuncDesc(desc);
    }
}
}

TEST_CASE("the registered type library describes the engine's interfaces") {
    RegisteredEngine engine;
    TypeLibHolder lib;
    REQUIRE(LoadRegTypeLib(LIBID_OrvaneEngine, 1, 0, 0x409, &lib.library) == S_OK);

    SUBCASE("library attributes") {
        TLIBATTR* attr = nullptr;
        REQUIRE(lib.library->GetLibAttr(&attr) == S_OK);
        CHECK(IsEqualGUID(attr->guid, LIBID_OrvaneEngine));
        CHECK(attr->wMajorVerNum == 1);
        CHECK(attr->wMinorVerNum == 0);
        CHECK(attr->lcid == 0x409);
        CHECK(attr->syskind == SYS_WIN64);
        lib.library->ReleaseTLibAttr(attr);
        BSTR name = nullptr, help = nullptr;
        REQUIRE(lib.library->GetDocumentation(-1, &name, &help, nullptr, nullptr) == S_OK);
        CHECK(std::wstring(name) == L"OrvaneEngine");
        CHECK(std::wstring(help) == L"OrvaneEngine 1.0 Type Library");
        SysFreeString(name);
        SysFreeString(help);
    }

    SUBCASE("ICrawler: every member at its slot with its DISPID") {
        TypeInfoHolder dispatch, vtable;
        REQUIRE(lib.library->GetTypeInfoOfGuid(IID_ICrawler, &dispatch.info) == S_OK);
        CHECK(HelpOf(dispatch.info) == L"ICrawler Interface");
        TYPEATTR* attr = nullptr;
        REQUIRE(dispatch.info->GetTypeAttr(&attr) == S_OK);
        CHECK((attr->wTypeFlags & TYPEFLAG_FDUAL) != 0);
        dispatch.info->ReleaseTypeAttr(attr);
        VtablePart(dispatch.info, vtable);
        REQUIRE(vtable.info->GetTypeAttr(&attr) == S_OK);
        CHECK((attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION) != 0);
        vtable.info->ReleaseTypeAttr(attr);
        CheckMembers(vtable.info, kCrawler, sizeof(kCrawler) / sizeof(kCrawler[0]));

        // DISPIDs 15 and 22 belong to no member.
        for (MEMBERID unused : {15, 22}) {
            BSTR name = nullptr;
            CHECK(FAILED(vtable.info->GetDocumentation(unused, &name, nullptr, nullptr, nullptr)));
            SysFreeString(name);
        }
    }

    SUBCASE("IqnRegRecord: seven read-only properties") {
        TypeInfoHolder dispatch, vtable;
        REQUIRE(lib.library->GetTypeInfoOfGuid(IID_IqnRegRecord, &dispatch.info) == S_OK);
        CHECK(HelpOf(dispatch.info) == L"IqnRegRecord Interface");
        VtablePart(dispatch.info, vtable);
        CheckMembers(vtable.info, kRecord, sizeof(kRecord) / sizeof(kRecord[0]));
    }

    SUBCASE("_ICrawlerEvents: four events") {
        TypeInfoHolder events;
        REQUIRE(lib.library->GetTypeInfoOfGuid(DIID__ICrawlerEvents, &events.info) == S_OK);
        CHECK(HelpOf(events.info) == L"_ICrawlerEvents Interface");
        const std::pair<DISPID, const wchar_t*> expected[] = {
            {1, L"OnFound"}, {2, L"OnFinish"}, {3, L"OnProgress"}, {4, L"OnStopped"}};
        const short arguments[] = {4, 1, 2, 0};
        TYPEATTR* attr = nullptr;
        REQUIRE(events.info->GetTypeAttr(&attr) == S_OK);
        CHECK(attr->typekind == TKIND_DISPATCH);
        CHECK(attr->cFuncs == 4);
        events.info->ReleaseTypeAttr(attr);
        for (UINT i = 0; i < 4; ++i) {
            FUNCDESC* desc = nullptr;
            REQUIRE(events.info->GetFuncDesc(i, &desc) == S_OK);
            CHECK(desc->memid == expected[i].first);
            CHECK(desc->cParams == arguments[i]);
            CHECK(NameOf(events.info, desc->memid) == expected[i].second);
            events.info->ReleaseFuncDesc(desc);
        }
    }

    SUBCASE("coclasses") {
        TypeInfoHolder crawler, record;
        REQUIRE(lib.library->GetTypeInfoOfGuid(CLSID_CCrawler, &crawler.info) == S_OK);
        CHECK(HelpOf(crawler.info) == L"Crawler Class");
        CHECK(NameOf(crawler.info, MEMBERID_NIL) == L"CCrawler");
        TYPEATTR* attr = nullptr;
        REQUIRE(crawler.info->GetTypeAttr(&attr) == S_OK);
        CHECK((attr->wTypeFlags & TYPEFLAG_FCANCREATE) != 0);
        REQUIRE(attr->cImplTypes == 2);
        crawler.info->ReleaseTypeAttr(attr);
        for (UINT i = 0; i < 2; ++i) {
            INT flags = 0;
            REQUIRE(crawler.info->GetImplTypeFlags(i, &flags) == S_OK);
            HREFTYPE ref = 0;
            TypeInfoHolder implemented;
            REQUIRE(crawler.info->GetRefTypeOfImplType(i, &ref) == S_OK);
            REQUIRE(crawler.info->GetRefTypeInfo(ref, &implemented.info) == S_OK);
            TYPEATTR* ia = nullptr;
            REQUIRE(implemented.info->GetTypeAttr(&ia) == S_OK);
            bool source = (flags & IMPLTYPEFLAG_FSOURCE) != 0;
            CHECK((flags & IMPLTYPEFLAG_FDEFAULT) != 0);
            CHECK(IsEqualGUID(ia->guid, source ? DIID__ICrawlerEvents : IID_ICrawler));
            implemented.info->ReleaseTypeAttr(ia);
        }

        REQUIRE(lib.library->GetTypeInfoOfGuid(CLSID_CqnRegRecord, &record.info) == S_OK);
        CHECK(HelpOf(record.info) == L"qnRegRecord Class");
        CHECK(NameOf(record.info, MEMBERID_NIL) == L"CqnRegRecord");
    }
}

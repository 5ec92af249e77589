#include <doctest/doctest.h>
#include "engine/registry/CacheTable.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/TypeLibFileTest.h"
#include "test_comcheck_support.h"

using namespace comcheck;

TEST_CASE("Type library file entries: found, loadable or missing") {
    CacheTable::Instance().ResetAll();
    tstring guid = NewGuid();
    ClassesKey library(L"TypeLib\\" + guid);
    tstring gone = MissingPath(L"library.tlb");
    library.Set(L"1.0\\0\\win32", L"", SystemFile(L"stdole2.tlb"));
    library.Set(L"2.0\\0\\win32", L"", gone);

    TestSink sink;
    ScanGroup group(&sink, 1);
    TypeLibFileTest test;
    Walk(group, test, TypeLibKeys, DefaultValue);

    // Only the second version is broken; the last version walked decides the verdict.
    std::vector<Seen> seen = About(Collect(sink), guid);
    REQUIRE(seen.size() == 1);
    CHECK(seen[0].errorId == 0x01300068);
    CHECK(seen[0].item == guid);
    CHECK(seen[0].reason == gone);
    CHECK(seen[0].keyPath == L"HKCR\\TypeLib\\" + guid + L"\\2.0\\0\\win32");
    CHECK(seen[0].reportedKey == seen[0].keyPath);
    CHECK(seen[0].valueName.empty());
    NamedCache* libraries = CacheTable::Instance().Find(CacheTable::TypeLibCache, false);
    REQUIRE(libraries);
    CHECK(libraries->IsReady());
    CHECK(libraries->Lookup(guid) == false);

    SUBCASE("a quoted path to an existing file is found; the verdict follows the entry") {
        library.Set(L"2.0\\0\\win32", L"", L"\"" + SystemFile(L"stdole2.tlb") + L"\"");
        CheckResult result;
        TypeLibFileTest again;
        ScanRule rule(nullptr, TypeLibKeys, DefaultValue);
        again.Begin(rule);
        CHECK(Judge(again, L"HKCR\\TypeLib\\" + guid + L"\\2.0\\0\\win32", L"", result));
        CHECK(result.ErrorID == 0);
        CHECK(libraries->Lookup(guid) == true);
    }
}

TEST_CASE("Type library loading and quote removal") {
    CHECK(TypeLibraryLoads(SystemFile(L"stdole2.tlb")));
    CHECK_FALSE(TypeLibraryLoads(MissingPath(L"library.tlb")));
    TempFile notALibrary(L".tlb");
    CHECK_FALSE(TypeLibraryLoads(notALibrary.Path()));
    tstring text = L"\"a\"b\"\"";
    CHECK(RemoveCharacter(text, L'"') == 4);
    CHECK(text == L"ab");
}

TEST_CASE("A 32-bit library registered under the system folder is looked for in the 32-bit system folder") {
    wchar_t wow[MAX_PATH];
    if (GetSystemWow64DirectoryW(wow, MAX_PATH) == 0) {
        MESSAGE("no 32-bit system folder on this system");
        return;
    }
    tstring name = FormatText(L"comcheck-%u.tlb", unsigned(GetCurrentProcessId()));
    tstring wowFile = tstring(wow) + L"\\" + name;
    REQUIRE(CopyFileW(SystemFile(L"stdole2.tlb").c_str(), wowFile.c_str(), FALSE));
    CHECK(In32BitSystemFolder(SystemFile(name.c_str())) == wowFile);
    CHECK(In32BitSystemFolder(MissingPath(name.c_str())).empty());

    CacheTable::Instance().ResetAll();
    tstring guid = NewGuid();
    ClassesKey library(L"TypeLib\\" + guid);
    library.Set(L"1.0\\0\\win32", L"", SystemFile(name.c_str()));
    TypeLibFileTest test;
    ScanRule rule(nullptr, TypeLibKeys, DefaultValue);
    test.Begin(rule);
    CheckResult result;
    tstring entry = L"HKCR\\TypeLib\\" + guid + L"\\1.0\\0\\win32";
    CHECK(Judge(test, entry, L"", result));
    DeleteFileW(wowFile.c_str());
    CHECK_FALSE(Judge(test, entry, L"", result));
    CHECK(result.ErrorID == 0x01300068);
}

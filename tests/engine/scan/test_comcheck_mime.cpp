#include <doctest/doctest.h>
#include <thread>
#include "engine/registry/CacheTable.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/ClsidChecker.h"
#include "engine/scan/MimeTypeTest.h"
#include "test_comcheck_support.h"
#include "TestLimits.h"

using namespace comcheck;

namespace {

// The class verdicts as a completed class walk leaves them.
NamedCache* ReadyClassVerdicts() {
    CacheTable& table = CacheTable::Instance();
    table.ResetAll();
    NamedCache* classes = table.GetOrCreate(CacheTable::InvalidClsidCache);
    classes->SetReady(true);
    return classes;
}

}  // namespace

TEST_CASE("MIME content types name a sound class or a registered extension") {
    NamedCache* classes = ReadyClassVerdicts();
    tstring good = NewGuid(), bad = NewGuid();
    classes->Set(good, true);
    classes->Set(bad, false);
    tstring extension = FormatText(L".comcheck%u", unsigned(GetCurrentProcessId()));
    ClassesKey registered(extension);
    tstring typeName = FormatText(L"application/x-comcheck-%u", unsigned(GetCurrentProcessId()));
    ClassesKey type(L"MIME\\Database\\Content Type\\" + typeName);
    tstring typePath = L"HKCR\\MIME\\Database\\Content Type\\" + typeName;

    MimeTypeTest test;
    CheckResult result;
    SUBCASE("a type that names neither is sound") {
        CHECK(Judge(test, typePath, L"", result));
    }
    SUBCASE("a class without a sound verdict: reason 105") {
        type.Set(L"", L"CLSID", bad);
        CHECK_FALSE(Judge(test, typePath, L"", result));
        CHECK(result.ErrorID == 0x01440069);
        CHECK(result.Item == typeName);
        CHECK(result.Reason == bad);
        CHECK(result.KeyPath == typePath);
        CHECK(result.ValueName.empty());
        type.Set(L"", L"CLSID", good);
        CHECK(Judge(test, typePath, L"", result));
    }
    SUBCASE("a class registered only for 32-bit programs is not judged") {
        tstring guid = NewGuid();
        ClassesKey wowClass(L"Wow6432Node\\CLSID\\" + guid);
        type.Set(L"", L"CLSID", guid);
        CHECK(Judge(test, typePath, L"", result));
    }
    SUBCASE("an extension is matched without regard to letter case") {
        tstring upper = extension;
        CharUpperBuffW(&upper[0], DWORD(upper.size()));
        type.Set(L"", L"Extension", upper);
        CHECK(Judge(test, typePath, L"", result));
        CHECK(result.ErrorID == 0);
    }
    SUBCASE("an unregistered extension: reason 112, also when the class is bad too") {
        type.Set(L"", L"Extension", L".comcheck-none");
        CHECK_FALSE(Judge(test, typePath, L"", result));
        CHECK(result.ErrorID == 0x01440070);
        CHECK(result.Reason == L".comcheck-none");
        type.Set(L"", L"CLSID", NewGuid());
        CHECK_FALSE(Judge(test, typePath, L"", result));
        CHECK(result.ErrorID == 0x01440070);
        // Either good one makes the type sound.
        type.Set(L"", L"CLSID", good);
        CHECK(Judge(test, typePath, L"", result));
        CHECK(result.Item.empty());
    }
    SUBCASE("the extensions are taken once, when the test is built") {
        tstring later = extension + L"later";
        ClassesKey lateKey(later);
        type.Set(L"", L"Extension", later);
        CHECK_FALSE(Judge(test, typePath, L"", result));
        MimeTypeTest rebuilt;
        CHECK(Judge(rebuilt, typePath, L"", result));
    }
}

TEST_CASE("Registered extensions: dotted names only, and a failing enumeration ends") {
    HKEY root = nullptr;
    tstring path = FormatText(L"Software\\OrvaneTest\\comcheck\\extensions-%u", unsigned(GetCurrentProcessId()));
    REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root,
                            nullptr) == ERROR_SUCCESS);
    for (const wchar_t* name : {L".abc", L"txtfile", L".Def", L"x.y"}) {
        HKEY sub = nullptr;
        RegCreateKeyExW(root, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr);
        RegCloseKey(sub);
    }
    CHECK(MimeTypeTest::RegisteredExtensions(root) == std::set<tstring>{L".ABC", L".DEF"});
    RegDeleteTreeW(root, nullptr);
    RegCloseKey(root);
    RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
    // A handle that is no longer valid fails at every index: the list ends empty.
    CHECK(MimeTypeTest::RegisteredExtensions(root).empty());
}

TEST_CASE("The MIME type test is built only after the class walk has ended") {
    CacheTable::Instance().ResetAll();
    TestSink sink;
    ScanGroup group(&sink, 1);
    ScanRule rule(&group, ClsidKeys, EachKey);
    ClsidChecker classes(&group);
    classes.Begin(rule);

    // Built on another group's thread, as the scan does.
    HANDLE built = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread builder([built] {
        MimeTypeTest test;
        SetEvent(built);
    });
    // Until the class walk ends the construction cannot complete.
    CHECK(WaitForSingleObject(built, 300) == WAIT_TIMEOUT);
    classes.End(rule);
    CHECK(WaitForSingleObject(built, 60000) == WAIT_OBJECT_0);
    testlimit::Join(builder, testlimit::kStep, "the MIME test's construction");
    CloseHandle(built);
}

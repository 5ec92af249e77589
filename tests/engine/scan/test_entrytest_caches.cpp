#include <doctest/doctest.h>
#include "engine/registry/ScanRule.h"
#include "engine/scan/AppIdTest.h"
#include "engine/scan/BrowserExtensionTest.h"
#include "engine/scan/CachedClsidTest.h"
#include "engine/scan/FileClassTest.h"
#include "engine/scan/InterfaceTest.h"
#include "engine/scan/OfficeProgIdTest.h"
#include "test_entrytest_support.h"

namespace {

const wchar_t kGood[] = L"{0A1B2C3D-0000-4000-8000-00000000600D}";
const wchar_t kBad[] = L"{0A1B2C3D-0000-4000-8000-000000000BAD}";
const wchar_t kUnknown[] = L"{0A1B2C3D-0000-4000-8000-0000000000FF}";
const wchar_t kGoodLib[] = L"{0A1B2C3D-0000-4000-8000-00000000111B}";
const wchar_t kBadLib[] = L"{0A1B2C3D-0000-4000-8000-00000000BADB}";
// Classes every system registers: the type-library marshaler and the
// standard proxy factory.
const wchar_t kTypeLibMarshaler[] = L"{00020424-0000-0000-C000-000000000046}";
const wchar_t kStandardProxy[] = L"{00000320-0000-0000-C000-000000000046}";

tstring Lower(const tstring& text) {
    tstring lower = text;
    for (auto& c : lower) c = wchar_t(towlower(c));
    return lower;
}

void FillClsids(TestCaches& caches) {
    NamedCache* clsids = caches.Ready(CacheTable::InvalidClsidCache);
    clsids->Set(kGood, true);
    clsids->Set(kBad, false);
    clsids->Set(kTypeLibMarshaler, true);
    clsids->Set(kStandardProxy, true);
}

}  // namespace

TEST_CASE("CachedClsidTest: verdicts of the CLSID cache") {
    TestCaches caches;
    SUBCASE("no cache at all: nothing is judged") {
        CachedClsidTest test;
        CHECK(test.TestClsid(kBad));
    }
    SUBCASE("a cache left unfinished: nothing is judged") {
        CacheTable::Instance().GetOrCreate(CacheTable::InvalidClsidCache)->Set(kBad, false);
        CachedClsidTest test;
        CHECK(test.TestClsid(kBad));
    }
    SUBCASE("a finished cache") {
        FillClsids(caches);
        CachedClsidTest test;
        CHECK(test.TestClsid(kGood));
        CHECK(test.TestClsid(Lower(kGood)));
        CHECK_FALSE(test.TestClsid(kBad));
        CHECK_FALSE(test.TestClsid(kUnknown));
        CHECK_FALSE(test.TestClsid(kGoodLib));
    }
    SUBCASE("the fallback accepts good type libraries") {
        FillClsids(caches);
        NamedCache* libs = caches.Ready(CacheTable::TypeLibCache);
        libs->Set(kGoodLib, true);
        libs->Set(kBadLib, false);
        CachedClsidTest test(true);
        CHECK(test.TestClsid(kGood));
        CHECK(test.TestClsid(Lower(kGoodLib)));
        CHECK_FALSE(test.TestClsid(kBadLib));
        CHECK_FALSE(test.TestClsid(kUnknown));
    }
}

TEST_CASE("ClsidNameTest: CLSIDs named by keys, values and data") {
    TestCaches caches;
    FillClsids(caches);
    EntryTestKey key(L"clsidnames");
    key.Create(kGood);
    key.Create(kBad);
    key.SetText(L"Named good", L"", kGood);
    key.SetText(L"Named bad", L"", Lower(kBad));
    key.SetText(tstring(kGood), L"", L"Start Menu Pin");
    key.SetText(L"Toolbar", kGood, L"");
    key.SetText(L"Toolbar", kBad, L"");
    CheckResult r;

    SUBCASE("key names") {
        ClsidNameTest test(ClsidNameTest::KeyName, 0x13B);
        CHECK(RunEntryTest(test, key.Open(kGood), L"", r));
        CHECK_FALSE(RunEntryTest(test, key.Open(kBad), L"", r));
        CHECK(uint32_t(r.ErrorID) == 0x013B0069);
        CHECK(r.Item == kBad);
        CHECK(r.Reason == kBad);
        CHECK(r.KeyPath == key.Path() + L"\\" + kBad);
    }
    SUBCASE("value names") {
        ClsidNameTest test(ClsidNameTest::ValueName, 0x13A);
        CHECK(RunEntryTest(test, key.Open(L"Toolbar"), kGood, r));
        CHECK_FALSE(RunEntryTest(test, key.Open(L"Toolbar"), kBad, r));
        CHECK(uint32_t(r.ErrorID) == 0x013A0069);
        CHECK(r.Item == kBad);
        CHECK(r.Reason == kBad);
        CHECK(r.ValueName == kBad);
    }
    SUBCASE("handler data, or the key's own CLSID name") {
        ClsidNameTest test(ClsidNameTest::DataOrKeyName, 0x13D);
        CHECK(RunEntryTest(test, key.Open(L"Named good"), L"", r));
        // A key named by its CLSID is judged by the name, whatever the data says.
        CHECK(RunEntryTest(test, key.Open(kGood), L"", r));
        CHECK_FALSE(RunEntryTest(test, key.Open(kBad), L"", r));
        CHECK_FALSE(RunEntryTest(test, key.Open(L"Named bad"), L"", r));
        CHECK(uint32_t(r.ErrorID) == 0x013D0069);
        CHECK(r.Item == key.Path() + L"\\Named bad");
        CHECK(r.Reason == Lower(kBad));
    }
}

TEST_CASE("OfficeProgIdTest: add-ins by their ProgID verdicts") {
    TestCaches caches;
    NamedCache* progIds = caches.Ready(CacheTable::ProgIdCache);
    progIds->Set(L"Good.Addin", true);
    progIds->Set(L"Bad.Addin", false);
    caches.Ready(CacheTable::InvalidProgIdCache)->Set(L"CLSID", true);
    EntryTestKey key(L"office");
    for (const wchar_t* name : {L"Good.Addin", L"Bad.Addin", L"Orvane.Gone.Addin", L"Interface", L"CLSID"})
        key.Create(tstring(L"Outlook\\Addins\\") + name);
    OfficeProgIdTest test;
    CheckResult r;
    CHECK(RunEntryTest(test, key.Open(L"Outlook\\Addins\\Good.Addin"), L"", r));
    // No verdict, but the ProgID's class key is there: not judged.
    CHECK(RunEntryTest(test, key.Open(L"Outlook\\Addins\\Interface"), L"", r));
    CHECK_FALSE(RunEntryTest(test, key.Open(L"Outlook\\Addins\\Bad.Addin"), L"", r));
    CHECK(uint32_t(r.ErrorID) == 0x01370072);
    CHECK(r.Item == L"Outlook\\Addins\\Bad.Addin");
    CHECK(r.Reason == L"Bad.Addin");
    CHECK(r.ValueName.empty());
    CHECK(r.KeyPath == key.Path() + L"\\Outlook\\Addins\\Bad.Addin");
    CHECK_FALSE(RunEntryTest(test, key.Open(L"Outlook\\Addins\\Orvane.Gone.Addin"), L"", r));
    CHECK(r.Reason == L"Orvane.Gone.Addin");
    // Without a verdict but marked invalid by the ProgID checker.
    CHECK_FALSE(RunEntryTest(test, key.Open(L"Outlook\\Addins\\CLSID"), L"", r));

    SUBCASE("an unfinished cache judges nothing") {
        TestCaches fresh;
        CacheTable::Instance().GetOrCreate(CacheTable::ProgIdCache);
        OfficeProgIdTest unready;
        CHECK(RunEntryTest(unready, key.Open(L"Outlook\\Addins\\Orvane.Gone.Addin"), L"", r));
    }
}

TEST_CASE("FileClassTest: the class of a file extension") {
    TestCaches caches;
    FillClsids(caches);
    caches.Ready(CacheTable::InvalidProgIdCache)->Set(L"Interface", false);
    EntryTestKey key(L"fileclass");
    struct Case {
        const wchar_t* extension;
        tstring data;
        uint32_t errorId;
    } cases[] = {
        {L".good", L"CLSID", 0},
        {L".clsid", L"CLSID\\" + Lower(kGood), 0},
        {L".empty", L"", 0},
        {L".invalid", L"Interface", 0x01480072},
        {L".missing", L"Orvane.Gone.Class", 0x01480071},
        {L".badclsid", L"clsid\\" + tstring(kBad), 0x01480069},
        {L".unknown", L"CLSID\\" + tstring(kUnknown), 0x01480066},
    };
    FileClassTest test;
    ScanRule rule(nullptr, L"#HKCU", L"#@{.*}");
    test.Begin(rule);
    CheckResult r;
    for (const Case& c : cases) {
        key.SetText(c.extension, L"", c.data);
        CAPTURE(c.data);
        CHECK(RunEntryTest(test, key.Open(c.extension), L"", r) == (c.errorId == 0));
        CHECK(uint32_t(r.ErrorID) == c.errorId);
        if (c.errorId) {
            CHECK(r.Item == c.extension);
            CHECK(r.Reason == c.data);
        }
    }

    SUBCASE("without the COM group's verdicts classes are not judged") {
        TestCaches fresh;
        caches.Ready(CacheTable::InvalidProgIdCache);
        CacheTable::Instance().GetOrCreate(CacheTable::InvalidClsidCache);
        FileClassTest unready;
        unready.Begin(rule);
        CHECK(RunEntryTest(unready, key.Open(L".unknown"), L"", r));
        CHECK_FALSE(RunEntryTest(unready, key.Open(L".missing"), L"", r));
    }
}

TEST_CASE("BrowserExtensionTest: the first working reference wins") {
    TestCaches caches;
    FillClsids(caches);
    EntryTestKey key(L"browserext");
    EntryTestFolder folder(L"browserext");
    tstring program = folder.File(L"Tool\\tool.exe");
    key.SetText(L"ClsidGood", L"ClsidExtension", kGood);
    key.SetText(L"ClsidGoodExecGone", L"ClsidExtension", kGood);
    key.SetText(L"ClsidGoodExecGone", L"Exec", folder / L"gone.exe");
    key.SetText(L"ClsidBadExecGood", L"ClsidExtension", kBad);
    key.SetText(L"ClsidBadExecGood", L"Exec", L"\"" + program + L"\"");
    key.SetText(L"ScriptRes", L"Script", L"res://shell32.dll/script.htm");
    key.SetText(L"BandBad", L"BandCLSID", kBad);
    key.SetText(L"ScriptGone", L"Script", folder / L"gone.htm");
    key.SetText(L"ClsidBadScriptGone", L"ClsidExtension", kBad);
    key.SetText(L"ClsidBadScriptGone", L"Script", folder / L"gone.htm");
    key.SetText(L"ExecGone", L"Exec", folder / L"gone.exe");
    key.SetText(L"Nothing", L"ButtonText", L"Button");
    BrowserExtensionTest test;
    CheckResult r;
    for (const wchar_t* sound : {L"ClsidGood", L"ClsidGoodExecGone", L"ClsidBadExecGood", L"ScriptRes", L"Nothing"}) {
        CAPTURE(tstring(sound));
        CHECK(RunEntryTest(test, key.Open(sound), L"", r));
    }
    struct Finding {
        const wchar_t* name;
        uint32_t errorId;
        const wchar_t* valueName;
        tstring reason;
    } findings[] = {
        {L"BandBad", 0x01380069, L"BandCLSID", kBad},
        {L"ScriptGone", 0x0138006F, L"Script", folder / L"gone.htm"},
        {L"ClsidBadScriptGone", 0x0138006F, L"Script", folder / L"gone.htm"},
        {L"ExecGone", 0x01380068, L"Exec", folder / L"gone.exe"},
    };
    for (const Finding& f : findings) {
        CAPTURE(tstring(f.name));
        CHECK_FALSE(RunEntryTest(test, key.Open(f.name), L"", r));
        CHECK(uint32_t(r.ErrorID) == f.errorId);
        CHECK(r.ValueName == f.valueName);
        CHECK(r.Reason == f.reason);
        CHECK(r.Item == f.name);
        CHECK(r.KeyPath == key.Path() + L"\\" + f.name);
    }
}

TEST_CASE("AppIdTest: AppID references and local services") {
    TestCaches caches;
    NamedCache* services = caches.Ready(CacheTable::ServiceCache);
    services->Set(L"GOODSERVICE", true);
    services->Set(L"BADSERVICE", false);
    EntryTestKey key(L"appid");
    key.SetText(L"GoodService", L"LocalService", L"goodservice");
    key.SetText(L"BadService", L"LocalService", L"BadService");
    key.SetText(L"UnknownService", L"LocalService", L"Orvane-No-Service");
    key.SetText(L"MissingAppId", L"AppID", kUnknown);
    key.SetText(L"EmptyAppId", L"AppID", L"");
    key.Create(L"Plain");
    AppIdTest test;
    ScanRule rule(nullptr, L"#HKCU", L"#@MAGIC_PATTERN");
    test.Begin(rule);

    CHECK(test.Check(key.Open(L"GoodService"), 0));
    CHECK(test.Check(key.Open(L"Plain"), 0));
    CHECK(test.Check(key.Open(L"EmptyAppId"), 0));
    CHECK_FALSE(test.Check(key.Open(L"BadService"), 0));
    CHECK_FALSE(test.Check(key.Open(L"UnknownService"), 0));
    CHECK(services->Lookup(L"ORVANE-NO-SERVICE") == std::optional<bool>(false));
    CHECK_FALSE(test.Check(key.Open(L"MissingAppId"), 0));
    // Deeper than three references: accepted unexamined.
    CHECK(test.Check(key.Open(L"MissingAppId"), 3));

    NamedCache* appIds = CacheTable::Instance().Find(CacheTable::AppIdCache, false);
    REQUIRE(appIds != nullptr);
    CHECK(appIds->Lookup(L"GOODSERVICE") == std::optional<bool>(true));
    CHECK(appIds->Lookup(L"MISSINGAPPID") == std::optional<bool>(false));
    // A stored verdict answers without reading the key again.
    appIds->Set(L"BADSERVICE", true);
    CHECK(test.Check(key.Open(L"BadService"), 0));
    CheckResult r;
    CHECK(RunEntryTest(test, key.Open(L"Plain"), L"", r));
    CHECK(r.ErrorID == 0);
    test.End(rule);
    CHECK(appIds->IsReady());
}

TEST_CASE("InterfaceTest: type libraries and proxies of interfaces") {
    TestCaches caches;
    FillClsids(caches);
    NamedCache* libs = caches.Ready(CacheTable::TypeLibCache);
    libs->Set(kGoodLib, true);
    libs->Set(kBadLib, false);
    EntryTestKey key(L"interfaces");
    key.SetText(L"GoodLib", L"", L"IGoodLib");
    key.SetText(L"GoodLib\\TypeLib", L"", kGoodLib);
    key.SetText(L"BadLib", L"", L"IBadLib");
    key.SetText(L"BadLib\\TypeLib", L"", Lower(kBadLib));
    key.SetText(L"BadLibMarshaler\\TypeLib", L"", kBadLib);
    key.SetText(L"BadLibMarshaler\\ProxyStubClsid32", L"", kTypeLibMarshaler);
    key.SetText(L"BadLibOwnProxy\\TypeLib", L"", kBadLib);
    key.SetText(L"BadLibOwnProxy\\ProxyStubClsid32", L"", kStandardProxy);
    key.SetText(L"BadProxy", L"", L"IBadProxy");
    key.SetText(L"BadProxy\\ProxyStubClsid32", L"", kBad);
    key.SetText(L"GoodProxy\\ProxyStubClsid32", L"", kGood);
    key.SetText(L"UnjudgedLib\\TypeLib", L"", L"{00020430-0000-0000-C000-000000000046}");
    key.Create(L"Bare");
    InterfaceTest test;
    CheckResult r;

    for (const wchar_t* sound : {L"GoodLib", L"BadLibOwnProxy", L"GoodProxy", L"Bare"}) {
        CAPTURE(tstring(sound));
        CHECK(RunEntryTest(test, key.Open(sound), L"", r));
        CHECK(r.ErrorID == 0);
    }
    CHECK_FALSE(RunEntryTest(test, key.Open(L"BadLib"), L"", r));
    CHECK(uint32_t(r.ErrorID) == 0x01310073);
    CHECK(r.Item == L"IBadLib");
    CHECK(r.Reason == Lower(kBadLib));
    CHECK(r.KeyPath == key.Path() + L"\\BadLib\\TypeLib");
    CHECK(r.ValueName == L"(Default)");

    CHECK_FALSE(RunEntryTest(test, key.Open(L"BadProxy"), L"", r));
    CHECK(uint32_t(r.ErrorID) == 0x01310069);
    CHECK(r.Reason == kBad);
    CHECK(r.KeyPath == key.Path() + L"\\BadProxy\\ProxyStubClsid32");

    // A registered library the cache holds no verdict for (the standard OLE
    // library, should the system register it) is not judged.
    HKEY ole = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"TypeLib\\{00020430-0000-0000-C000-000000000046}", 0, KEY_READ, &ole) ==
        ERROR_SUCCESS) {
        RegCloseKey(ole);
        CHECK(RunEntryTest(test, key.Open(L"UnjudgedLib"), L"", r));
    }
}

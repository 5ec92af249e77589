#include <doctest/doctest.h>
#include "TestSink.h"
#include "engine/registry/PathWalker.h"
#include "engine/registry/ScanRule.h"
#include "engine/scan/ScanGroup.h"
#include "engine/scan/ServiceImageTest.h"
#include "test_entrytest_support.h"

namespace {

void AddService(EntryTestKey& key, const tstring& name, DWORD type, const tstring& image,
                DWORD imageType = REG_EXPAND_SZ) {
    key.SetNumber(name, L"Type", type);
    if (!image.empty()) key.SetText(name, L"ImagePath", image, imageType);
}

}  // namespace

TEST_CASE("ServiceImageTest: image paths of Win32 services") {
    EntryTestKey key(L"services");
    EntryTestFolder folder(L"services");
    tstring service = folder.File(L"My Service\\svc.exe");
    AddService(key, L"Quoted", 0x10, L"\"" + service + L"\" -service");
    AddService(key, L"Unquoted", 0x10, service + L" -service --log x");
    AddService(key, L"Shared", 0x20, L"%SystemRoot%\\notepad.exe -k netsvcs");
    AddService(key, L"Relative", 0x10, L"system32\\notepad.exe");
    AddService(key, L"KernelStyle", 0x10, L"\\SystemRoot\\notepad.exe");
    AddService(key, L"Driver", 0x1, folder / L"gone.sys");
    AddService(key, L"NoImage", 0x10, L"");
    AddService(key, L"Gone", 0x110, folder / L"My Service\\gone.exe -k");
    AddService(key, L"GoneRelative", 0x10, L"system32\\orvane-gone-service.exe");

    ServiceImageTest test;
    ScanRule rule(nullptr, L"#HKCU", L"#@MAGIC_PATTERN");
    test.Begin(rule);
    CheckResult r;
    for (const wchar_t* sound : {L"Quoted", L"Unquoted", L"Shared", L"Relative", L"KernelStyle", L"Driver", L"NoImage"}) {
        CAPTURE(tstring(sound));
        CHECK(RunEntryTest(test, key.Open(sound), L"", r));
        CHECK(r.ErrorID == 0);
    }
    CHECK_FALSE(RunEntryTest(test, key.Open(L"Gone"), L"", r));
    CHECK(uint32_t(r.ErrorID) == 0x01420068);
    CHECK(r.Item == L"Gone");
    CHECK(r.Reason == folder / L"My Service\\gone.exe -k");
    CHECK(r.KeyPath == key.Path() + L"\\Gone");
    CHECK(r.ValueName == L"ImagePath");
    CHECK_FALSE(RunEntryTest(test, key.Open(L"GoneRelative"), L"", r));
    test.End(rule);

    NamedCache* cache = CacheTable::Instance().Find(CacheTable::ServiceCache, false);
    REQUIRE(cache != nullptr);
    CHECK(cache->IsReady());
    CHECK(cache->Lookup(L"QUOTED") == std::optional<bool>(true));
    CHECK(cache->Lookup(L"DRIVER") == std::optional<bool>(true));
    CHECK(cache->Lookup(L"GONE") == std::optional<bool>(false));
    CHECK(cache->Lookup(L"GONERELATIVE") == std::optional<bool>(false));
    cache->Clear();
}

TEST_CASE("ServiceImageTest under a walk of service keys") {
    TestCaches caches;
    EntryTestKey key(L"servicewalk");
    EntryTestFolder folder(L"servicewalk");
    AddService(key, L"Alpha", 0x10, folder.File(L"alpha.exe"));
    AddService(key, L"Beta", 0x10, folder / L"beta.exe");
    key.Create(L"Gamma");  // no values at all
    TestSink sink;
    ServiceImageTest test;
    CHECK(WalkBelow(key, L"@{.*}", L"#@MAGIC_PATTERN", test, sink, 1));
    REQUIRE(sink.found.size() == 1);
    CHECK(sink.found[0].keyPath == key.Path() + L"\\Beta");
    CHECK(sink.found[0].result.ValueName == L"ImagePath");
    CHECK(sink.found[0].result.Item == L"Beta");
    NamedCache* cache = CacheTable::Instance().Find(CacheTable::ServiceCache, false);
    REQUIRE(cache != nullptr);
    CHECK(cache->Size() == 3);
    CHECK(cache->Lookup(L"GAMMA") == std::optional<bool>(true));
}

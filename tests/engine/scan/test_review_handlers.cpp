#include <doctest/doctest.h>
#include "test_entrytest_support.h"
#include "engine/scan/CachedClsidTest.h"

namespace {

// Classes every system registers (the shell link object and the standard
// proxy factory), and one nobody does.
const wchar_t kShellLink[] = L"{00021401-0000-0000-C000-000000000046}";
const wchar_t kBroken[] = L"{00000320-0000-0000-C000-000000000046}";
const wchar_t kNobody[] = L"{0A1B2C3D-0000-4000-8000-00000000FEED}";

class ReviewKey : public TestRegistryKey {
public:
    explicit ReviewKey(const wchar_t* name) : TestRegistryKey(L"reviewscan", name) {}
    void SetText(const tstring& sub, const tstring& data) {
        RegSetKeyValueW(HKEY_CURRENT_USER, Relative(sub).c_str(), nullptr, REG_SZ, data.c_str(),
                        DWORD((data.size() + 1) * sizeof(wchar_t)));
    }
    RegKey Open(const tstring& sub) const { return RegKey::OpenPath(Path(sub)); }
};

}  // namespace

TEST_CASE("ClsidNameTest: a registered class the class walk gave no verdict is not judged") {
    // The class walk sees one registry view; a handler under the shared
    // file-type keys may name a class registered in the other one only.
    TestCaches caches;
    caches.Ready(CacheTable::InvalidClsidCache)->Set(kBroken, false);
    ReviewKey key(L"handlers");
    key.SetText(L"Registered", kShellLink);
    key.SetText(L"Nobody", kNobody);
    key.SetText(L"Broken", kBroken);
    ClsidNameTest test(ClsidNameTest::DataOrKeyName, 0x13D);
    CheckResult r;
    CHECK(RunEntryTest(test, key.Open(L"Registered"), L"", r));
    CHECK(r.ErrorID == 0);
    CHECK_FALSE(RunEntryTest(test, key.Open(L"Nobody"), L"", r));
    CHECK(uint32_t(r.ErrorID) == 0x013D0069);
    // A class the walk found broken stays a finding though its key is there.
    CHECK_FALSE(RunEntryTest(test, key.Open(L"Broken"), L"", r));
}

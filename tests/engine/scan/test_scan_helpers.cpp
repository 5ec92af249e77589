#include <doctest/doctest.h>
#include "engine/scan/ScanHelpers.h"

namespace {

void MakeKey(const tstring& path) {
    HKEY k;
    REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr) ==
            ERROR_SUCCESS);
    RegCloseKey(k);
}
}  // namespace

TEST_CASE("CountedNameText shows NUL units as (null)") {
    const wchar_t name[] = {L'a', 0, L'b'};
    CHECK(CountedNameText(name, 3) == L"a(null)b");
    const wchar_t twoNuls[] = {0, 0};
    CHECK(CountedNameText(twoNuls, 2) == L"(null)(null)");
    CHECK(CountedNameText(L"plain", 5) == L"plain");
    CHECK(CountedNameText(L"plain", 2) == L"pl");
    CHECK(CountedNameText(L"", 0).empty());
}

TEST_CASE("CountSubkeys counts the keys four levels down") {
    tstring base = FormatText(L"Software\\OrvaneTest\\scanfw\\count-%u", unsigned(GetCurrentProcessId()));
    const wchar_t* kBase = base.c_str();
    RegDeleteTreeW(HKEY_CURRENT_USER, kBase);
    for (const wchar_t* p : {L"\\A\\1\\x\\p", L"\\A\\1\\x\\q", L"\\A\\2\\y\\r\\deeper", L"\\B\\1\\z", L"\\A\\2\\w", L"\\C"})
        MakeKey(base + p);

    HKEY key;
    REQUIRE(RegOpenKeyExW(HKEY_CURRENT_USER, kBase, 0, KEY_READ, &key) == ERROR_SUCCESS);
    CHECK(CountSubkeys(key, 0) == 3);
    // Started lower, it counts fewer levels.
    CHECK(CountSubkeys(key, 1) == 4);  // x, y, z, w
    CHECK(CountSubkeys(key, 3) == 3);  // A, B, C
    RegCloseKey(key);

    SUBCASE("a key whose enumeration is denied counts as empty") {
        HKEY noEnum;
        REQUIRE(RegOpenKeyExW(HKEY_CURRENT_USER, kBase, 0, KEY_QUERY_VALUE, &noEnum) == ERROR_SUCCESS);
        CHECK(CountSubkeys(noEnum, 0) == 0);
        RegCloseKey(noEnum);
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, kBase);
}

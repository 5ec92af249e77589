// The string cases, compiled here once more for the ANSI build.
#include "../tstring/test_tstring.cpp"

TEST_CASE("ANSI build: wide text converts through the thread's code page, not the system's") {
    LCID saved = GetThreadLocale();
    // Russian: code page 1251, where the system's 1252 has no Cyrillic at all.
    REQUIRE(SetThreadLocale(MAKELCID(MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT), SORT_DEFAULT)));
    tstring narrow = tstring::FromWide(L"\u0416");
    std::wstring back = tstring("\xC6").ToWide();
    SetThreadLocale(saved);
    CHECK(narrow == "\xC6");
    CHECK(back == L"\u0416");
}

#include <doctest/doctest.h>
#include "common/tstring/tstring.h"
#include "resources.h"

TEST_CASE("string-table ids load through the pointer constructor") {
    tstring s(MAKEINTRESOURCE(IDS_TEST_TEXT));
    CHECK(s == _T("Entry two hundred nine"));
    tstring missing;
    missing = _T("keep");
    CHECK_FALSE(missing.LoadString(IDS_TEST_LONG));
    CHECK(tstring(static_cast<const TCHAR*>(nullptr)).empty());
    tstring f;
    f.FormatResource(IDS_TEST_FORMAT, _T("x"));
    CHECK(f == _T("Value: x!"));
    tstring unchanged(_T("same"));
    unchanged.FormatResource(999, _T("x"));
    CHECK(unchanged == _T("same"));
#ifdef UNICODE
    CHECK(tstring::FromNarrow(MAKEINTRESOURCEA(IDS_TEST_TEXT)) == _T("Entry two hundred nine"));
#endif
}

TEST_CASE("Replace resumes after the inserted text") {
    tstring s(_T("aaa"));
    CHECK(s.Replace(_T("a"), _T("aa")) == 3);
    CHECK(s == _T("aaaaaa"));
    tstring r(_T("a-b-c"));
    CHECK(r.Replace(_T("-"), nullptr) == 2);
    CHECK(r == _T("abc"));
    CHECK(r.Replace(_T(""), _T("x")) == 0);
    CHECK(r.Replace(nullptr, _T("x")) == 0);
    CHECK(r.Replace(_T("q"), _T("longer")) == 0);
}

TEST_CASE("Mid, Left and Right clamp their arguments") {
    tstring s(_T("abcde"));
    CHECK(s.Mid(2, 100) == _T("cde"));
    CHECK(s.Mid(6, 1).empty());
    CHECK(s.Mid(5, 1).empty());
    CHECK(s.Mid(-3, 2) == _T("ab"));
    CHECK(s.Left(-1).empty());
    CHECK(s.Left(99) == s);
    CHECK(s.Right(2) == _T("de"));
    CHECK(s.Right(-2).empty());
}

TEST_CASE("Format uses the Microsoft conventions and has no fixed buffer") {
    tstring long300(300, _T('x'));
    tstring s;
    CHECK(s.Format(_T("%s"), long300.c_str()) == 300);
    CHECK(s == long300);
    s.Format(_T("%s\t%08d\t0x%08X"), _T("t"), 42, 42u);
    CHECK(s == _T("t\t00000042\t0x0000002A"));
    s.Format(nullptr);
    CHECK(s == _T("t\t00000042\t0x0000002A"));
    CHECK(FormatText(_T("%d-%s"), 7, _T("z")) == _T("7-z"));
    s.Format2(_T("%s/%s"), _T("a"), _T("b"));
    CHECK(s == _T("a/b"));
}

TEST_CASE("CompareNoCase folds only ASCII letters") {
    CHECK(CompareNoCase(_T("HKEY_Classes"), _T("hkey_classes")) == 0);
    CHECK(CompareNoCase(_T("abc"), _T("abcd")) < 0);
    CHECK(CompareNoCase(_T("abd"), _T("ABC")) > 0);
    CHECK(tstring(_T("X")).CompareNoCase(_T("x")) == 0);
#ifdef UNICODE
    CHECK(CompareNoCase(L"\u00C4", L"\u00E4") != 0);
#endif
}

TEST_CASE("GetBuffer and ReleaseBuffer") {
    tstring s(_T("ab"));
    TCHAR* p = s.GetBuffer(10);
    CHECK(s.length() == 10);
    p[2] = 'c';
    s.ReleaseBuffer();
    CHECK(s == _T("abc"));
    s.GetBuffer(1);
    CHECK(s.length() == 3);
    s.ReleaseBuffer(1);
    CHECK(s == _T("a"));
}

TEST_CASE("case conversion, narrow text, variants and environment") {
    tstring s(_T("MiXeD"));
    s.MakeLower();
    CHECK(s == _T("mixed"));
    s.MakeUpper(std::locale::classic());
    CHECK(s == _T("MIXED"));

    tstring n;
    n.AssignNarrow("abc\xE9");
    CHECK(n.length() == 4);
    CHECK((unsigned)(std::make_unsigned_t<TCHAR>)n[3] == 0xE9u);
    n.AppendNarrow("d");
    CHECK(n.length() == 5);
    n.AssignNarrow(nullptr);
    CHECK(n.empty());

    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = -12;
    CHECK(tstring::FromVariant(v) == _T("-12"));
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(L"text");
    CHECK(tstring::FromVariant(v) == _T("text"));
    VariantClear(&v);
    v.vt = VT_DISPATCH;
    v.pdispVal = nullptr;
    CHECK(tstring::FromVariant(v).empty());

    SetEnvironmentVariable(_T("ORVANE_TEST_VAR"), _T("value"));
    tstring e;
    ExpandEnvironment(e, _T("<%ORVANE_TEST_VAR%>"));
    CHECK(e == _T("<value>"));
    tstring in(_T("%ORVANE_TEST_VAR%\\x"));
    in.ExpandInPlace();
    CHECK(in == _T("value\\x"));

    tstring path = GetModulePath();
    CHECK(path.find(_T(".exe")) != tstring::npos);
}

TEST_CASE("wide text converts both ways; a given length keeps embedded NULs") {
    CHECK(tstring::FromWide(L"plain") == _T("plain"));
    CHECK(tstring::FromWide(nullptr).empty());
    CHECK(tstring::FromWide(L"a\0b", 3) == tstring(_T("a\0b"), 3));
    CHECK(tstring(_T("plain")).ToWide() == L"plain");
    CHECK(tstring(_T("a\0b"), 3).ToWide() == std::wstring(L"a\0b", 3));
    CHECK(tstring().ToWide().empty());
}

TEST_CASE("FormatResource takes any number of arguments, strings by their text") {
    tstring s;
    s.FormatResource(IDS_TEST_FORMAT3, tstring(_T("key")), 42, _T("raw"));
    CHECK(s == _T("key=42 (raw)"));
}

#ifdef UNICODE
TEST_CASE("ToUpperW folds letters beyond ASCII in place") {
    tstring s(L"ab\x00e9\x0444z1");
    s.ToUpperW();
    CHECK(s == L"AB\x00c9\x0424Z1");
    tstring empty;
    empty.ToUpperW();
    CHECK(empty.empty());
}
#endif

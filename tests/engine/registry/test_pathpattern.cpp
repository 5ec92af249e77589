#include <doctest/doctest.h>
#include "engine/registry/PathPattern.h"
#include <stdexcept>

namespace {

tstring Captured(const PatternElement& element, const tstring& name)
{
    tstring capture = L"<none>";
    element.MatchText(name, capture);
    return capture;
}

} // namespace

TEST_CASE("literal elements compare whole names ignoring case") {
    PatternElement path(L"Path", false);
    CHECK(path.IsLiteral());
    CHECK_FALSE(path.IsMagic());
    CHECK(path.Text() == L"Path");
    CHECK(Captured(path, L"path") == L"path");
    CHECK(Captured(path, L"PATH") == L"PATH");
    CHECK(Captured(path, L"Paths") == L"<none>");
    CHECK(Captured(path, L"Pat") == L"<none>");
    CHECK_FALSE(path.Match(L""));
    // Names are compared up to their first NUL character.
    CHECK(path.Match(tstring(L"path\0x", 6)));

    for (const wchar_t* text : {L"(Default)", L"(default)", L"(DEFAULT)"}) {
        PatternElement unnamed(text, false);
        CHECK(Captured(unnamed, L"") == L"");
        CHECK_FALSE(unnamed.Match(L"(Default)"));
        CHECK_FALSE(unnamed.Match(L"Default"));
    }
    PatternElement empty;
    CHECK(empty.IsLiteral());
    CHECK(empty.Match(L""));
    CHECK_FALSE(empty.Match(L"a"));
}

TEST_CASE("expression elements search and capture their first group") {
    PatternElement any(L"{.*}", true);
    CHECK_FALSE(any.IsLiteral());
    CHECK(Captured(any, L"Whole Name") == L"Whole Name");
    CHECK(Captured(any, L"") == L"");
    PatternElement some(L"{.+}", true);
    CHECK(Captured(some, L"") == L"<none>");
    CHECK(Captured(some, L"x") == L"x");

    PatternElement notList(L"^!(MRUList){.*}", true);
    CHECK_FALSE(notList.Match(L"MRUList"));
    CHECK_FALSE(notList.Match(L"mrulistex"));
    CHECK(Captured(notList, L"a") == L"a");

    const tstring iid = L"{00000000-0000-0000-C000-000000000046}";
    CHECK(Captured(PatternElement(L"{\\{\\a+(-\\a+)+\\}}", true), iid) == iid);
    CHECK(Captured(PatternElement(L"\\{{.*}\\}", true), iid) == L"00000000-0000-0000-C000-000000000046");

    PatternElement broken(L"(unclosed", true);
    CHECK_FALSE(broken.IsLiteral());
    CHECK_FALSE(broken.Match(L"(unclosed"));
    CHECK_FALSE(broken.Match(L""));
}

TEST_CASE("MAGIC_PATTERN is magic only as an expression, spelled exactly") {
    PatternElement magic(L"MAGIC_PATTERN", true);
    CHECK(magic.IsMagic());
    CHECK_FALSE(magic.IsLiteral());
    CHECK_FALSE(magic.Match(L"MAGIC_PATTERN"));
    CHECK_FALSE(magic.Match(L""));
    CHECK_FALSE(PatternElement(L"MAGIC_PATTERN", false).IsMagic());
    PatternElement lower(L"magic_pattern", true);
    CHECK_FALSE(lower.IsMagic());
    CHECK(lower.Match(L"xMAGIC_PATTERNx"));   // an ordinary expression
}

TEST_CASE("copied elements and patterns match on their own") {
    PatternElement element(L"^{\\d+}", true);
    PatternElement copy(element);
    element = PatternElement(L"x", false);
    CHECK(Captured(copy, L"12a") == L"12");
    CHECK(Captured(element, L"12a") == L"<none>");
    PatternElement assigned;
    assigned = copy;
    CHECK(Captured(assigned, L"7") == L"7");

    PathPattern* original = new PathPattern(L"#HKCR#TypeLib@\\{{.*}\\}@{\\d+(\\.\\d+)*}", L"@^!(MRUList){.*}@{.*}");
    PathPattern copied(*original);
    delete original;
    REQUIRE(copied.KeyCount() == 4);
    CHECK(Captured(copied.KeyElement(2), L"{ABC}") == L"ABC");
    CHECK(Captured(copied.KeyElement(3), L"1.0") == L"1.0");
    CHECK_FALSE(copied.ValueNameElement().Match(L"MRUList"));
    CHECK(Captured(*copied.ValueNameElement().Next(), L"data") == L"data");
}

TEST_CASE("key patterns split at every separator") {
    PathPattern shared(L"#HKLM#SOFTWARE#Microsoft#Shared Tools@{.*}", L"#Path@{.*}");
    REQUIRE(shared.KeyCount() == 5);
    const wchar_t* texts[] = {L"HKLM", L"SOFTWARE", L"Microsoft", L"Shared Tools", L"{.*}"};
    for (size_t i = 0; i < 5; ++i) {
        CHECK(shared.KeyElement(i).Text() == texts[i]);
        CHECK(bool(shared.KeyElement(i).IsLiteral()) == (i < 4));
    }

    PathPattern typelib(L"#HKCR#TypeLib@\\{{.*}\\}@{\\d+(\\.\\d+)*}@{\\d+}#win32", L"#@{.*}");
    REQUIRE(typelib.KeyCount() == 6);
    CHECK(typelib.KeyElement(2).Text() == L"\\{{.*}\\}");
    CHECK(typelib.KeyElement(4).Text() == L"{\\d+}");
    CHECK_FALSE(typelib.KeyElement(4).IsLiteral());
    CHECK(typelib.KeyElement(5).Text() == L"win32");
    CHECK(typelib.KeyElement(5).IsLiteral());
    CHECK(typelib.KeyElement(5).Match(L"Win32"));
    CHECK(&typelib.KeyElements()[1] == typelib.KeyElement(0).Next());

    PathPattern gap(L"#A##B", L"#@MAGIC_PATTERN");
    REQUIRE(gap.KeyCount() == 3);
    CHECK(gap.KeyElement(1).IsLiteral());
    CHECK(gap.KeyElement(1).Text().empty());

    PathPattern trailing(L"#A@", L"#@MAGIC_PATTERN");
    REQUIRE(trailing.KeyCount() == 2);
    CHECK_FALSE(trailing.KeyElement(1).IsLiteral());
    CHECK(trailing.KeyElement(1).Text().empty());
}

TEST_CASE("value patterns: a name element, then the rest as data") {
    PathPattern magic(L"#HKCR#CLSID@\\{{.*}\\}", L"#@MAGIC_PATTERN");
    CHECK(magic.ValueNameElement().IsLiteral());
    CHECK(magic.ValueNameElement().Text().empty());
    CHECK(magic.ValueNameElement().Match(L""));
    CHECK(magic.DataElement().IsMagic());
    CHECK(magic.ValueNameElement().Next() == &magic.DataElement());

    PathPattern path(L"#HKLM#A", L"#Path@{.*}");
    CHECK(path.ValueNameElement().IsLiteral());
    CHECK(path.ValueNameElement().Text() == L"Path");
    CHECK_FALSE(path.DataElement().IsLiteral());
    CHECK(path.DataElement().Text() == L"{.*}");

    PathPattern named(L"#HKLM#A", L"@{.*}\\b*$@{.*}");
    CHECK_FALSE(named.ValueNameElement().IsLiteral());
    CHECK(Captured(named.ValueNameElement(), L"C:\\x.dll  ") == L"C:\\x.dll  ");

    // Separators after the second one belong to the data text; text before
    // the first one is ignored.
    PathPattern rest(L"#HKLM#A", L"skip#Name#a@b#c");
    CHECK(rest.ValueNameElement().Text() == L"Name");
    CHECK(rest.DataElement().IsLiteral());
    CHECK(rest.DataElement().Text() == L"a@b#c");

    PathPattern unnamed(L"#HKLM#A", L"#(Default)@{.*}");
    CHECK(unnamed.ValueNameElement().Match(L""));
    CHECK_FALSE(unnamed.ValueNameElement().Match(L"x"));

    for (const wchar_t* bad : {L"#x", L"", L"x", L"@", L"ab@cd"}) {
        CAPTURE(tstring(bad).size());
        CHECK_THROWS_WITH_AS(PathPattern(L"#HKLM#A", bad), "invalid string position", std::out_of_range);
    }
}

TEST_CASE("the root comes from a literal first level") {
    CHECK(PathPattern(L"#HKLM#A", L"#@{.*}").RootKey() == HKEY_LOCAL_MACHINE);
    CHECK(PathPattern(L"#hkcr", L"#@{.*}").RootKey() == HKEY_CLASSES_ROOT);
    CHECK(PathPattern(L"#HKCU#A", L"#@{.*}").RootKey() == HKEY_CURRENT_USER);
    CHECK(PathPattern(L"#HKCC", L"#@{.*}").RootKey() == HKEY_CURRENT_CONFIG);
    CHECK(PathPattern(L"#HKDD", L"#@{.*}").RootKey() == HKEY_DYN_DATA);
    CHECK(PathPattern(L"#hku#x", L"#@{.*}").RootKey() == HKEY_USERS);
    CHECK(PathPattern(L"#HKEY_LOCAL_MACHINE#A", L"#@{.*}").RootKey() == HKEY_LOCAL_MACHINE);
    CHECK(PathPattern(L"#Hkey_Classes_Root", L"#@{.*}").RootKey() == HKEY_CLASSES_ROOT);
    CHECK(PathPattern(L"#HKEY_CURRENT_USER", L"#@{.*}").RootKey() == HKEY_CURRENT_USER);
    CHECK(PathPattern(L"#HKEY_CURRENT_CONFIG", L"#@{.*}").RootKey() == HKEY_CURRENT_CONFIG);
    CHECK(PathPattern(L"#HKEY_DYN_DATA", L"#@{.*}").RootKey() == HKEY_DYN_DATA);
    CHECK(PathPattern(L"#HKEY_USERS", L"#@{.*}").RootKey() == HKEY_USERS);
    CHECK(PathPattern(L"#SOFTWARE#A", L"#@{.*}").RootKey() == nullptr);
    CHECK(PathPattern(L"@{.*}#A", L"#@{.*}").RootKey() == nullptr);
    CHECK(PathPattern(L"@HKLM#A", L"#@{.*}").RootKey() == nullptr);
    CHECK(PathPattern(L"#HKLMX", L"#@{.*}").RootKey() == nullptr);
    CHECK(PathPattern(L"", L"#@{.*}").RootKey() == nullptr);
}

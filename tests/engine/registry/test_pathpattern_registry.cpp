#include <doctest/doctest.h>
#include "engine/registry/PathPattern.h"
#include <regex>
#include <set>
#include <string>
#include <vector>

// The expressions of the scan's registry rules, each beside an independent
// ECMAScript rendering: {} becomes a capturing group, () a non-capturing
// one, !X a negative lookahead, '.' [\s\S], \a [a-zA-Z0-9], \b [ \t], \d [0-9].
// Both must give the same verdict and capture for every name the registry
// of the test prefix holds.

namespace {

struct Rendering {
    const wchar_t* expression;
    const wchar_t* ecmascript;
};

const Rendering KeyExpressions[] = {
    {L"{.*}", L"([\\s\\S]*)"},
    {L"\\{{.*}\\}", L"\\{([\\s\\S]*)\\}"},
    {L"^{!(CLSID)!(Typelib)!(Interface)(\\a+(\\.\\a+)*)}",
     L"^((?!CLSID)(?!Typelib)(?!Interface)(?:[a-zA-Z0-9]+(?:\\.[a-zA-Z0-9]+)*))"},
    {L"^{(CLSID)|(CurVer)}", L"^((?:CLSID)|(?:CurVer))"},
    {L"{\\d+(\\.\\d+)*}", L"([0-9]+(?:\\.[0-9]+)*)"},
    {L"{\\d+}", L"([0-9]+)"},
    {L"{\\{\\a+(-\\a+)+\\}}", L"(\\{[a-zA-Z0-9]+(?:-[a-zA-Z0-9]+)+\\})"},
    {L"^!\\.({[a-zA-Z]+(\\.\\a+)*}|\\*)", L"^(?!\\.)(?:([a-zA-Z]+(?:\\.[a-zA-Z0-9]+)*)|\\*)"},
    {L"^{(Help)|(HTML Help)}", L"^((?:Help)|(?:HTML Help))"},
    {L"^{(Outlook)|(Excel)|(Word)|(Access)|(PowerPoint)}",
     L"^((?:Outlook)|(?:Excel)|(?:Word)|(?:Access)|(?:PowerPoint))"},
    {L"^{!(CLSID)!(Typelib)!(Interface)(.+)}", L"^((?!CLSID)(?!Typelib)(?!Interface)(?:[\\s\\S]+))"},
    {L"^{\\..*}", L"^(\\.[\\s\\S]*)"},
};

const Rendering ValueExpressions[] = {
    {L"{.*}", L"([\\s\\S]*)"},
    {L"{.+}", L"([\\s\\S]+)"},
    {L"^!(MRUList){.*}", L"^(?!MRUList)([\\s\\S]*)"},
    {L"{.*}\\b*$", L"([\\s\\S]*)[ \\t]*$"},
};

// Names that sit on the edges of the expressions above, beside the real ones.
const wchar_t* const EdgeNames[] = {
    L"", L" ", L"\t", L"*", L".", L"..", L".txt", L".TXT.bak", L"{", L"}", L"{}", L"{x}", L"{-}",
    L"{00000000-0000-0000-C000-000000000046}", L"{0000-}", L"{a-b}x", L"x{a-b}", L"1", L"1.", L"1.0",
    L"1..0", L"v1.2.3", L"CLSID", L"clsid", L"CLSIDs", L"xCLSID", L"Typelib", L"TypeLibrary",
    L"interface", L"Interfaces", L"CurVer", L"curver2", L"Word.Document.8", L"txtfile", L"Word.",
    L"Word..x", L"9abc", L"_x", L"Help", L"HTML Help", L"html helpx", L"HTML  Help", L"Helpers",
    L"Outlook", L"PowerPoint.Show", L"Exce", L"Access", L"MRUList", L"mrulistex", L"MRULis", L"a",
    L"C:\\x.dll ", L"C:\\x.dll\t \t", L"a b", L"a\r\nb", L"\x00E4\x00DF", L"x\x0660y",
};

struct Names {
    std::set<std::wstring> keys, values, data;
};

void CollectNames(HKEY root, Names& names, size_t& budget)
{
    std::set<std::wstring>& keys = names.keys;
    std::set<std::wstring>& values = names.values;
    std::vector<BYTE> data(4096);
    std::vector<HKEY> pending{root};
    std::vector<wchar_t> name(16384);
    while (!pending.empty() && budget > 0) {
        HKEY key = pending.back();
        pending.pop_back();
        for (DWORD i = 0; budget > 0; ++i) {
            DWORD length = static_cast<DWORD>(name.size());
            if (RegEnumKeyExW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
            --budget;
            // Texts end at their first NUL for the matcher; other tests create
            // names with embedded NULs in parallel, so compare what the matcher sees.
            keys.insert(std::wstring(name.data(), length).c_str());
            HKEY child;
            if (RegOpenKeyExW(key, name.data(), 0, KEY_READ, &child) == ERROR_SUCCESS)
                pending.push_back(child);
        }
        for (DWORD i = 0;; ++i) {
            DWORD length = static_cast<DWORD>(name.size());
            DWORD type = 0, size = static_cast<DWORD>(data.size() - 2);
            LONG status = RegEnumValueW(key, i, name.data(), &length, nullptr, &type, data.data(), &size);
            if (status == ERROR_MORE_DATA) {
                length = static_cast<DWORD>(name.size());
                size = 0;
                status = RegEnumValueW(key, i, name.data(), &length, nullptr, &type, nullptr, nullptr);
            }
            if (status != ERROR_SUCCESS)
                break;
            if (length <= 512)
                values.insert(std::wstring(name.data(), length).c_str());
            if ((type == REG_SZ || type == REG_EXPAND_SZ) && size >= 2)
                names.data.insert(std::wstring(reinterpret_cast<const wchar_t*>(data.data()), size / 2 - 1).c_str());
        }
        if (key != root)
            RegCloseKey(key);
    }
    for (HKEY key : pending)
        if (key != root)
            RegCloseKey(key);
}

struct Verdict {
    bool matched;
    std::wstring capture;
    bool operator==(const Verdict& other) const { return matched == other.matched && capture == other.capture; }
};

Verdict Ours(const PatternElement& element, const std::wstring& name)
{
    tstring capture = L"<untouched>";
    bool matched = element.MatchText(tstring(name), capture);
    return {matched, matched ? std::wstring(capture) : std::wstring(L"<untouched>")};
}

Verdict Theirs(const std::wregex& re, const std::wstring& name)
{
    std::wsmatch m;
    if (!std::regex_search(name, m, re))
        return {false, L"<untouched>"};
    return {true, m[1].str()};
}

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    return out;
}

size_t Compare(const Rendering* renderings, size_t count, const std::set<std::wstring>& names)
{
    size_t matches = 0;
    for (size_t r = 0; r < count; ++r) {
        PatternElement element(renderings[r].expression, true);
        std::wregex reference(renderings[r].ecmascript, std::regex::ECMAScript | std::regex::icase);
        size_t differences = 0;
        for (const std::wstring& name : names) {
            Verdict ours = Ours(element, name), theirs = Theirs(reference, name);
            matches += ours.matched;
            if (ours == theirs)
                continue;
            if (++differences <= 5) {
                CAPTURE(Narrow(renderings[r].expression));
                CAPTURE(Narrow(name));
                CAPTURE(Narrow(ours.capture));
                CAPTURE(Narrow(theirs.capture));
                CHECK(ours.matched == theirs.matched);
                CHECK(ours.capture == theirs.capture);
            }
        }
        CHECK_MESSAGE(differences == 0, Narrow(renderings[r].expression) << ": " << differences << " differences");
    }
    return matches;
}

} // namespace

TEST_CASE("rule expressions agree with their ECMAScript renderings on every registry name") {
    Names names;
    size_t budget = 400000;
    CollectNames(HKEY_CLASSES_ROOT, names, budget);
    CollectNames(HKEY_LOCAL_MACHINE, names, budget);
    std::set<std::wstring>& keys = names.keys;
    std::set<std::wstring>& values = names.values;
    MESSAGE("key names: " << keys.size() << ", value names: " << values.size() << ", texts: " << names.data.size());
    REQUIRE(keys.size() > 1000);
    REQUIRE(values.size() > 100);
    REQUIRE(names.data.size() > 100);
    // Names the prefix is known to hold, so that every rule expression meets matches.
    CHECK(keys.count(L"CLSID"));
    CHECK(keys.count(L"Interface"));
    for (const wchar_t* edge : EdgeNames) {
        keys.insert(edge);
        values.insert(edge);
    }
    size_t keyMatches = Compare(KeyExpressions, sizeof(KeyExpressions) / sizeof(KeyExpressions[0]), keys);
    size_t valueMatches = Compare(ValueExpressions, sizeof(ValueExpressions) / sizeof(ValueExpressions[0]), values);
    CHECK(keyMatches > keys.size());
    CHECK(valueMatches > values.size());
    // The data element of every rule.
    CHECK(Compare(ValueExpressions, 1, names.data) == names.data.size());
}

TEST_CASE("rule expressions pick the names their areas are about") {
    // Key names of the prefix that each rule level must take or leave.
    PatternElement progId(L"^{!(CLSID)!(Typelib)!(Interface)(\\a+(\\.\\a+)*)}", true);
    PatternElement contextMenu(L"^!\\.({[a-zA-Z]+(\\.\\a+)*}|\\*)", true);
    PatternElement shell(L"^{!(CLSID)!(Typelib)!(Interface)(.+)}", true);
    PatternElement extension(L"^{\\..*}", true);
    tstring capture;
    CHECK(progId.MatchText(L"Word.Document.8", capture));
    CHECK(capture == L"Word.Document.8");
    CHECK(progId.MatchText(L"txtfile", capture));
    CHECK(progId.MatchText(L"Shell.Explorer.2_x", capture));
    CHECK(capture == L"Shell.Explorer.2");
    for (const wchar_t* name : {L"{0000}", L".txt", L"*", L"CLSID", L"typelib", L"INTERFACE", L"clsidx"})
        CHECK_FALSE(progId.Match(name));
    for (const wchar_t* name : {L"*", L"txtfile", L"Word.Document.8"})
        CHECK(contextMenu.Match(name));
    for (const wchar_t* name : {L".txt", L"7zfile", L"{0000}"})
        CHECK_FALSE(contextMenu.Match(name));
    CHECK(shell.MatchText(L"{0000} x", capture));
    CHECK(capture == L"{0000} x");
    CHECK_FALSE(shell.Match(L"Interface"));
    CHECK(extension.MatchText(L".txt", capture));
    CHECK(capture == L".txt");
    CHECK_FALSE(extension.Match(L"txt.bak"));
}

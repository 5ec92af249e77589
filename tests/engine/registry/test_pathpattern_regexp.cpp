#include <doctest/doctest.h>
#include "engine/registry/RegExp.h"
#include <windows.h>
#include <random>
#include <regex>
#include <string>
#include "TestLimits.h"

namespace {

RegExp Compiled(const wchar_t* expression)
{
    RegExp re;
    REQUIRE_MESSAGE(re.Parse(expression), "does not compile: " << tstring(expression).size());
    return re;
}

// The capture on a match, "<none>" without one.
tstring Search(const wchar_t* expression, const tstring& text)
{
    tstring capture = L"<none>";
    Compiled(expression).Match(text, &capture);
    return capture;
}

bool Matches(const wchar_t* expression, const tstring& text)
{
    return Compiled(expression).Match(text);
}

} // namespace

TEST_CASE("expressions search the whole text ignoring case") {
    CHECK(Search(L"{b+}", L"aaBbbc") == L"Bbb");
    CHECK(Search(L"b{c}", L"ABC") == L"C");
    CHECK(Search(L"^{b}", L"ab") == L"<none>");
    CHECK(Search(L"{a}$", L"aba") == L"a");
    CHECK_FALSE(Matches(L"a$", L"ab"));
    CHECK(Search(L"^{.*}$", L"") == L"");
    CHECK(Search(L"{.*}", L"") == L"");
    CHECK(Search(L"{.+}", L"") == L"<none>");
    // '.' takes line breaks and every other character alike.
    CHECK(Search(L"^{.*}$", L"a\r\nb\x1F\xFFFF") == L"a\r\nb\x1F\xFFFF");
    // Letters fold beyond ASCII as well.
    CHECK(Matches(L"^\x00C4rger$", L"\x00E4RGER"));
    RegExp exact;
    REQUIRE(exact.Parse(L"abc", true));
    CHECK_FALSE(exact.Match(L"ABC"));
    CHECK(exact.Match(L"xabc"));
}

TEST_CASE("the capture is the first brace group of the leftmost match") {
    CHECK(Search(L"{a}{b}", L"xab") == L"a");
    CHECK(Search(L"({a}|{b})c", L"bc") == L"");       // the first group took no part
    CHECK(Search(L"(x{\\d})+", L"x1x2x3") == L"3");    // the last pass of a repeated group
    CHECK(Search(L"{a*}", L"baaa") == L"");            // empty match at position 0 comes first
    CHECK(Search(L"{a+}", L"baaa") == L"aaa");
    CHECK(Search(L"{.*}b", L"abab") == L"aba");        // greedy
    CHECK(Search(L"{.*?}b", L"abab") == L"a");         // lazy
    CHECK(Search(L"{a+?}", L"aaa") == L"a");
    CHECK(Search(L"{a??}a", L"aa") == L"");
    CHECK(Search(L"{a|ab}c", L"abc") == L"ab");        // alternatives tried in order, then backtracked
    CHECK(Search(L"{ab|a}", L"abc") == L"ab");
    CHECK(Search(L"{a|ab}", L"abc") == L"a");
    CHECK(Search(L"a", L"a") == L"");                  // no group: an empty capture
    CHECK(Search(L"{(a*)*}b", L"aab") == L"aa");       // empty loops end
}

TEST_CASE("negation tests the next item without consuming") {
    CHECK(Search(L"^!(MRUList){.*}", L"a") == L"a");
    CHECK(Search(L"^!(MRUList){.*}", L"MRUList") == L"<none>");
    CHECK(Search(L"^!(MRUList){.*}", L"mrulistex") == L"<none>");
    CHECK(Search(L"^!(MRUList){.*}", L"MRULis") == L"MRULis");
    CHECK(Search(L"^!(MRUList){.*}", L"") == L"");
    CHECK(Search(L"{a!b}", L"abac") == L"a");
    CHECK(Search(L"a{!b.}", L"abac") == L"c");
    CHECK_FALSE(Matches(L"a!b", L"ab"));
    CHECK(Matches(L"a!b", L"a"));
    CHECK(Search(L"{!a*b}", L"b") == L"<none>");       // a* matches anywhere, so !a* never holds
    CHECK(Search(L"^{!!a.}", L"ab") == L"a");          // double negation
    CHECK(Search(L"^{!!a.}", L"ba") == L"<none>");
    CHECK(Search(L"{!(a|b).}", L"abc") == L"c");
    CHECK(Search(L"^{!(x!y)\\a+}", L"xz") == L"<none>");   // a negation inside a negation
    CHECK(Search(L"^{!(x!y)\\a+}", L"xy") == L"xy");
    CHECK(Search(L"{!$.}", L"ab") == L"a");
    CHECK(Search(L"^{(!\\.\\a)+}", L"ab.c") == L"ab");
}

TEST_CASE("escapes and classes") {
    CHECK(Search(L"\\{{.*}\\}", L"{0000-C000}") == L"0000-C000");
    CHECK(Search(L"{\\{\\a+(-\\a+)+\\}}", L"x{00000000-0000-0000-C000-000000000046}") ==
          L"{00000000-0000-0000-C000-000000000046}");
    CHECK_FALSE(Matches(L"\\{\\a+(-\\a+)+\\}", L"{0000}"));
    CHECK(Search(L"{\\d+(\\.\\d+)*}", L"v1.20.3a") == L"1.20.3");
    CHECK(Search(L"{\\.\\*}", L"a.*b") == L".*");
    CHECK_FALSE(Matches(L"\\.", L"a"));
    CHECK(Search(L"{\\a+}", L"--x9Z_") == L"x9Z");
    CHECK(Search(L"{\\b+}", L"a \t b") == L" \t ");
    CHECK_FALSE(Matches(L"\\b", L"a\r\nb"));
    CHECK(Search(L"{\\d+}", L"x\x0663" L"42") == L"42");  // only ASCII digits
    CHECK(Search(L"{[a-zA-Z]+}", L"1Word2") == L"Word");
    CHECK(Search(L"{[a-c]+}", L"xABCd") == L"ABC");       // ranges ignore case too
    CHECK(Search(L"{[^a-c]+}", L"ABCxyzA") == L"xyz");
    CHECK(Search(L"{[\\]x-]+}", L"a]-x]b") == L"]-x]");
    CHECK(Search(L"{[\\d.]+}", L"v1.2") == L"1.2");
    CHECK(Search(L"{\\w}", L"12abc3") == L"abc");
    CHECK(Search(L"{\\z}", L"ab123c") == L"123");
    CHECK(Search(L"{\\h+}", L"xyzC0fE") == L"C0fE");
    CHECK(Search(L"{\\q}", L"say \"hi\" now") == L"\"hi\"");
    CHECK(Search(L"{\\\\\\|\\(\\)}", L"a\\|()") == L"\\|()");
}

TEST_CASE("expressions that do not compile match nothing") {
    for (const wchar_t* bad : {L"(a", L"a)", L"{a", L"a}", L"[ab", L"*a", L"a**", L"a|*", L"\\", L"!", L"a!|b", L"[z-a]", L"(!)"}) {
        CAPTURE(tstring(bad).size());
        RegExp re;
        CHECK_FALSE(re.Parse(bad));
        CHECK_FALSE(re.IsCompiled());
        CHECK_FALSE(re.Match(L"a"));
        CHECK_FALSE(re.Match(L""));
    }
    RegExp reused;
    REQUIRE(reused.Parse(L"a"));
    CHECK_FALSE(reused.Parse(L"(a"));
    CHECK_FALSE(reused.Match(L"a"));
}

TEST_CASE("a failed match leaves the capture alone; the text ends at NUL") {
    tstring capture = L"before";
    CHECK_FALSE(Compiled(L"{x}").Match(L"abc", &capture));
    CHECK(capture == L"before");
    tstring withNul(L"ab\0cd", 5);
    CHECK_FALSE(Compiled(L"c").Match(withNul));
    CHECK(Compiled(L"b$").Match(withNul));
    CHECK(Compiled(L"{c}").Match(withNul.c_str(), withNul.size(), &capture));
    CHECK(capture == L"c");
}

TEST_CASE("copies match on their own") {
    RegExp original = Compiled(L"^{\\d+}");
    RegExp copy(original);
    original = RegExp();
    tstring capture;
    CHECK(copy.Match(L"42x", &capture));
    CHECK(capture == L"42");
    CHECK_FALSE(original.Match(L"42"));
}

namespace {

struct LongTextRun {
    tstring text;
    bool results[7] = {};
    tstring captures[7];
};

DWORD WINAPI MatchLongTexts(void* parameter)
{
    auto& run = *static_cast<LongTextRun*>(parameter);
    const wchar_t* expressions[] = {
        L"{.*}", L"^!(MRUList){.*}", L"{.*}\\b*$", L"{(a|b)*c}", L"^{(!(ax)\\a)+}\\b*$", L"{x(.*?)y}",
        L"{!(.*x)b\\b}",
    };
    for (int i = 0; i < 7; ++i) {
        RegExp re;
        if (!re.Parse(expressions[i]))
            return 1;
        run.results[i] = re.Match(run.text, &run.captures[i]);
    }
    return 0;
}

} // namespace

TEST_CASE("a megabyte of text matches on a thread with a 256 KB stack") {
    LongTextRun run;
    run.text.reserve(1 << 20);
    while (run.text.size() < (1 << 20) - 4)
        run.text += L"abab";
    run.text += L"b  ";
    HANDLE thread = CreateThread(nullptr, 256 * 1024, MatchLongTexts, &run, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    REQUIRE(thread != nullptr);
    testlimit::Join(thread, testlimit::kLong, "the match on the small stack");
    DWORD code = 99;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    REQUIRE(code == 0);
    CHECK(run.results[0]);
    CHECK(run.captures[0] == run.text);
    CHECK(run.results[1]);
    CHECK(run.captures[1].size() == run.text.size());
    CHECK(run.results[2]);
    CHECK(run.captures[2] == run.text);             // greedy: the blanks go to the group
    CHECK_FALSE(run.results[3]);                    // no 'c' anywhere
    CHECK(run.results[4]);                          // letters, never an 'a' before an 'x'
    CHECK(run.captures[4].size() == run.text.size() - 2);
    CHECK_FALSE(run.results[5]);
    CHECK(run.results[6]);
    CHECK(run.captures[6] == L"b ");
}

namespace {

// Random expressions of the dialect, each with its ECMAScript rendering. The
// first {} group is never repeated nor negated, and only parts that always
// consume are repeated: there the two dialects define the same match. The
// reference library takes '^' inside a lookahead for the lookahead's own
// start, so negated parts hold no '^'.
struct RandomExpression {
    std::mt19937& random;
    std::wstring ours, theirs;
    int depth = 0;
    int negations = 0;

    int Pick(int n) { return static_cast<int>(random() % n); }

    // Appends one item; returns whether it may match the empty text.
    bool Item()
    {
        bool empty = false;
        switch (Pick(depth < 3 ? 11 : 7)) {
        case 0: case 1: { wchar_t c = L"abcAB"[Pick(5)]; ours += c; theirs += c; break; }
        case 2: ours += L"."; theirs += L"[\\s\\S]"; break;
        case 3: ours += L"[a-b]"; theirs += L"[a-b]"; break;
        case 4: ours += L"[^a.]"; theirs += L"[^a.]"; break;
        case 5: ours += L"\\d"; theirs += L"[0-9]"; break;
        case 6: ours += L"\\."; theirs += L"\\."; break;
        case 7: case 8: {
            ours += L"("; theirs += L"(?:";
            ++depth;
            empty = Sequence();
            if (Pick(2)) { ours += L"|"; theirs += L"|"; empty |= Sequence(); }
            --depth;
            ours += L")"; theirs += L")";
            break;
        }
        case 9: {
            ours += L"!("; theirs += L"(?!";
            ++depth;
            ++negations;
            Sequence();
            --negations;
            --depth;
            ours += L")"; theirs += L")";
            return true;
        }
        default: {
            const wchar_t* anchor = Pick(2) && negations == 0 ? L"^" : L"$";
            ours += anchor; theirs += anchor;
            return true;
        }
        }
        if (!empty && Pick(3) == 0) {
            const wchar_t* quantifiers[] = {L"*", L"+", L"?", L"*?", L"+?", L"??"};
            const wchar_t* q = quantifiers[Pick(6)];
            ours += q; theirs += q;
            empty = empty || q[0] != L'+';
        }
        return empty;
    }

    bool Sequence()
    {
        bool empty = true;
        for (int n = 1 + Pick(3); n > 0; --n)
            empty = Item() && empty;
        return empty;
    }

    explicit RandomExpression(std::mt19937& r) : random(r)
    {
        if (Pick(2)) { ours += L"^"; theirs += L"^"; }
        if (Pick(2)) Sequence();
        ours += L"{"; theirs += L"(";
        Sequence();
        ours += L"}"; theirs += L")";
        if (Pick(2)) Sequence();
    }
};

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

} // namespace

TEST_CASE("random expressions agree with an ECMAScript rendering") {
    std::mt19937 random(20261208);
    int compared = 0, matched = 0, differences = 0;
    for (int e = 0; e < 3000; ++e) {
        RandomExpression expression(random);
        RegExp ours;
        REQUIRE(ours.Parse(expression.ours));
        std::wregex theirs(expression.theirs, std::regex::ECMAScript | std::regex::icase);
        for (int t = 0; t < 25; ++t) {
            std::wstring text;
            for (int n = random() % 8; n > 0; --n)
                text += L"abAB.1c"[random() % 7];
            tstring capture = L"<none>";
            bool ourVerdict = ours.Match(tstring(text), &capture);
            std::wsmatch m;
            bool theirVerdict = std::regex_search(text, m, theirs);
            ++compared;
            matched += ourVerdict;
            if (ourVerdict == theirVerdict && (!ourVerdict || capture == m[1].str()))
                continue;
            if (++differences <= 10) {
                CAPTURE(Narrow(expression.ours));
                CAPTURE(Narrow(text));
                CAPTURE(Narrow(capture));
                CHECK(ourVerdict == theirVerdict);
                if (theirVerdict)
                    CHECK(Narrow(capture) == Narrow(m[1].str()));
            }
        }
    }
    CHECK(differences == 0);
    CHECK(matched > compared / 10);
    CHECK(matched < compared - compared / 10);
}

TEST_CASE("negations of parts that run to the end of the text") {
    CHECK(Search(L"{!(.*x)b}", L"bxb") == L"b");
    CHECK(Search(L"{!(.*x)b}", L"bbx") == L"<none>");
    CHECK(Search(L"^{(!(.*\\.$).)+}", L"ab.") == L"<none>");
    CHECK(Search(L"^{(!(.*\\.$).)+}", L"ab.c") == L"ab.c");
    CHECK(Search(L"{(!(.*\\.$).)+}", L"a.b.") == L"<none>");
    CHECK(Search(L"{(!(.*\\.$).)+}", L"a.b.c") == L"a.b.c");
    // At each 'a' of "aabbc": some run of a's is followed by no "b+c" except
    // the one that starts at the last 'a'.
    CHECK(Search(L"{!(a+!(b+c))a+}", L"aabbc") == L"a");
    CHECK(Search(L"{!(a+!(b+c))a+}", L"aab aabbc") == L"a");
    CHECK(Search(L"^{!(a*!b)a+}", L"aaab") == L"<none>");   // a* can stop before any 'a'
    CHECK(Search(L"{!(a*!b)\\a}", L"aac b") == L"b");   // only before a 'b' does every a* meet one

    // A megabyte against a negation that reads to the end at every position:
    // one pass from the end serves all of them.
    tstring text(1 << 20, L'a');
    text += L"b";
    CHECK(Search(L"{!(.*x)b}", text) == L"b");
    CHECK(Search(L"^{(!(.*c$).)+}", text) == text);
}

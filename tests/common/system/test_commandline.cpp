#include <doctest/doctest.h>
#include <vector>
#include "common/system/CommandLine.h"
#include "common/tstring/tstring.h"

namespace {

std::vector<tstring> Args(const CommandLine& line) {
    std::vector<tstring> args;
    for (int i = 0; i < line.Count(); ++i)
        args.push_back(line.Argv()[i]);
    return args;
}

std::vector<tstring> Parse(const TCHAR* text, const CommandLineRules& rules) {
    CommandLine line;
    int n = line.Parse(text, rules);
    REQUIRE(n == line.Count());
    REQUIRE(line.Argv() != nullptr);
    CHECK(line.Argv()[n] == nullptr);
    return Args(line);
}

using V = std::vector<tstring>;
const CommandLineRules program = CommandLineRules::ProgramRules();

}  // namespace

TEST_CASE("the program's rules split switches and quoted paths") {
    CHECK(Parse(_T("/backup  x"), program) == V{_T("/backup"), _T("x")});
    CHECK(Parse(_T("\"C:\\Program Files\\a b.exe\" -debug"), program) == V{_T("C:\\Program Files\\a b.exe"), _T("-debug")});
    CHECK(Parse(_T("run \"C:\\Program Files\\x\""), program) == V{_T("run"), _T("C:\\Program Files\\x")});
    // A quoted stretch joins the unquoted text around it.
    CHECK(Parse(_T("a\"b c\"d e"), program) == V{_T("ab cd"), _T("e")});
    CHECK(Parse(_T("\"say \"\"hi\"\" now\" x"), program) == V{_T("say \"hi\" now"), _T("x")});
}

TEST_CASE("leading and trailing delimiters") {
    CHECK(Parse(_T(" a"), program) == V{_T(""), _T("a")});
    CHECK(Parse(_T("a "), program) == V{_T("a")});
    CommandLineRules trailing(_T(' '), _T('"'), 0, true, false, false, false);
    CHECK(Parse(_T("a "), trailing) == V{_T("a"), _T("")});
    CHECK(Parse(_T("a   "), trailing) == V{_T("a"), _T("")});
    CommandLineRules separate(_T(','), 0, 0, false, false, false, false);
    CHECK(Parse(_T("a,,b,"), separate) == V{_T("a"), _T(""), _T("b"), _T("")});
    CHECK(Parse(_T(",,"), separate) == V{_T(""), _T(""), _T("")});
}

TEST_CASE("empty and null texts") {
    CommandLine line;
    CHECK(line.Parse(_T(""), program) == 0);
    REQUIRE(line.Argv() != nullptr);
    CHECK(line.Argv()[0] == nullptr);
    CHECK(line.Arg(0) == nullptr);
    CHECK(line.Parse(_T("x y"), program) == 2);
    CHECK(line.Parse(nullptr, program) == 0);
    CHECK(line.Argv() == nullptr);
    line.Parse(_T("x"), program);
    line.Clear();
    CHECK(line.Count() == 0);
    CHECK(line.Argv() == nullptr);
}

TEST_CASE("escapes before quotes follow the halving rule") {
    CommandLineRules escaped(_T(' '), _T('"'), _T('\\'), true, true, false, false);
    // Odd run: a literal quote and half the backslashes.
    CHECK(Parse(_T("a\\\"b c"), escaped) == V{_T("a\"b"), _T("c")});
    CHECK(Parse(_T("a\\\\\\\"b"), escaped) == V{_T("a\\\"b")});
    // Even run: half the backslashes, and the quote opens a stretch.
    CHECK(Parse(_T("a\\\\\"b c\" d"), escaped) == V{_T("a\\b c"), _T("d")});
    // Backslashes not before a quote stay as they are.
    CHECK(Parse(_T("C:\\dir\\\\x y"), escaped) == V{_T("C:\\dir\\\\x"), _T("y")});
    // An escaped quote never ends an argument, even where quotes do.
    CommandLineRules ending(_T(' '), _T('"'), _T('\\'), true, true, false, true);
    CHECK(Parse(_T("a\\\"b"), ending) == V{_T("a\"b")});
}

TEST_CASE("kept quotes and quotes that end an argument") {
    CommandLineRules keep(_T(' '), _T('"'), 0, true, true, true, false);
    CHECK(Parse(_T("x \"a b\" c"), keep) == V{_T("x"), _T("\"a b\""), _T("c")});
    CommandLineRules ends(_T(' '), _T('"'), 0, true, true, false, true);
    CHECK(Parse(_T("x \"a b\"c"), ends) == V{_T("x"), _T("a b"), _T("c")});
    CHECK(ends.IsDelimiter(_T('"')));
    CHECK_FALSE(program.IsDelimiter(_T('"')));
    CHECK_FALSE(CommandLineRules().IsQuote(0));
    CHECK_FALSE(CommandLineRules().IsEscape(0));
}

TEST_CASE("splitting at a delimiter set drops empty tokens") {
    CommandLine line;
    CHECK(line.Parse(_T(" -scanfix \"/debug\"  x"), _T(" \"")) == 3);
    CHECK(Args(line) == V{_T("-scanfix"), _T("/debug"), _T("x")});
    CHECK(line.Parse(_T("  \" "), _T(" \"")) == 0);
    CHECK(line.Argv()[0] == nullptr);
}

TEST_CASE("a long text survives the two-pass sizing") {
    tstring text;
    for (int i = 0; i < 500; ++i)
        text += FormatText(_T("arg%d \"with space %d\" "), i, i);
    CommandLine line;
    REQUIRE(line.Parse(text.c_str(), program) == 1000);
    CHECK(tstring(line.Arg(998)) == _T("arg499"));
    CHECK(tstring(line.Arg(999)) == _T("with space 499"));
}

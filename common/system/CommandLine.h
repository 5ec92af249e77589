#pragma once
#include <windows.h>
#include <tchar.h>

// How CommandLine splits a text. A zero character field switches that feature off.
class CommandLineRules {
public:
    CommandLineRules() = default;
    CommandLineRules(TCHAR delimiter, TCHAR quote, TCHAR escape, bool collapseDelimiters, bool noTrailingEmpty,
                     bool keepQuotes, bool quoteEndsArgument)
        : delimiter_(delimiter), quote_(quote), escape_(escape), collapseDelimiters_(collapseDelimiters),
          noTrailingEmpty_(noTrailingEmpty), keepQuotes_(keepQuotes), quoteEndsArgument_(quoteEndsArgument) {}

    // The rules the main program applies to its own command line.
    static CommandLineRules ProgramRules() { return CommandLineRules(_T(' '), _T('"'), 0, true, true, false, false); }

    TCHAR Delimiter() const { return delimiter_; }
    TCHAR Quote() const { return quote_; }
    TCHAR Escape() const { return escape_; }
    bool CollapseDelimiters() const { return collapseDelimiters_; }
    bool NoTrailingEmpty() const { return noTrailingEmpty_; }
    bool KeepQuotes() const { return keepQuotes_; }
    bool QuoteEndsArgument() const { return quoteEndsArgument_; }

    bool IsQuote(TCHAR c) const { return quote_ != 0 && c == quote_; }
    bool IsEscape(TCHAR c) const { return escape_ != 0 && c == escape_; }
    bool IsDelimiter(TCHAR c) const {
        return (delimiter_ != 0 && c == delimiter_) || (quoteEndsArgument_ && IsQuote(c));
    }

private:
    TCHAR delimiter_ = 0;
    TCHAR quote_ = 0;
    TCHAR escape_ = 0;
    bool collapseDelimiters_ = false;
    bool noTrailingEmpty_ = false;
    bool keepQuotes_ = false;
    bool quoteEndsArgument_ = false;
};

// An argument array made from one command-line text. The pointer array and all
// argument texts live in one heap block that the object owns.
class CommandLine {
public:
    CommandLine() = default;
    virtual ~CommandLine();
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    // Tokenizes text by the rules and returns the argument count. A null text
    // leaves the object empty; an empty text gives no arguments. When memory runs
    // out the last error is ERROR_OUTOFMEMORY and the result 0.
    int Parse(const TCHAR* text, const CommandLineRules& rules);
    // Splits text at any of the delimiter characters; empty pieces are dropped.
    int Parse(const TCHAR* text, const TCHAR* delimiters);
    void Clear();

    int Count() const { return count_; }
    // The argument pointers, ended by a null pointer; null when nothing was parsed.
    TCHAR** Argv() const { return argv_; }
    // Argument i, or null outside 0..Count()-1.
    const TCHAR* Arg(int i) const { return (i >= 0 && i < count_) ? argv_[i] : nullptr; }

private:
    bool Allocate(size_t arguments, size_t characters);

    void* block_ = nullptr;
    TCHAR** argv_ = nullptr;
    int count_ = 0;
};

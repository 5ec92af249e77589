#include "common/system/CommandLine.h"
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The tokenizer runs twice over the same text: once with a counting sink to size
// the block, once with a writing sink to fill it.
class Sink {
public:
    Sink() = default;
    Sink(TCHAR** argv, TCHAR* chars) : argv_(argv), out_(chars) {}

    void BeginArgument() {
        if (argv_)
            argv_[arguments_] = out_;
        ++arguments_;
    }
    void Put(TCHAR c) {
        if (out_)
            *out_++ = c;
        ++characters_;
    }
    void Put(TCHAR c, size_t times) {
        for (size_t i = 0; i < times; ++i)
            Put(c);
    }
    void EndArgument() { Put(0); }
    void Finish() {
        if (argv_)
            argv_[arguments_] = nullptr;
    }

    size_t Arguments() const { return arguments_; }
    size_t Characters() const { return characters_; }

private:
    TCHAR** argv_ = nullptr;
    TCHAR* out_ = nullptr;
    size_t arguments_ = 0;
    size_t characters_ = 0;
};

void Tokenize(const TCHAR* p, const CommandLineRules& rules, Sink& sink) {
    if (!p || !*p) {
        sink.Finish();
        return;
    }
    // An escape character equal to the quote could never be followed by a quote.
    const bool escaping = rules.Escape() != 0 && rules.Escape() != rules.Quote();
    bool inQuotes = false;
    if (rules.IsQuote(*p) && p[1]) {
        ++p;
        inQuotes = true;
    }
    bool endedOnDelimiter = false;
    for (;;) {
        sink.BeginArgument();
        for (;;) {
            bool copy = true;
            bool literalQuote = false;
            size_t run = 0;
            while (escaping && *p == rules.Escape()) {
                ++run;
                ++p;
            }
            if (rules.IsQuote(*p)) {
                if (run % 2 == 1) {
                    literalQuote = true;
                } else {
                    copy = rules.KeepQuotes();
                    if (inQuotes && !rules.KeepQuotes() && rules.IsQuote(p[1])) {
                        ++p;
                        copy = true;
                        literalQuote = true;
                    } else {
                        inQuotes = !inQuotes;
                    }
                }
                sink.Put(rules.Escape(), run / 2);
            } else {
                sink.Put(rules.Escape(), run);
            }
            if (*p == 0)
                break;
            // An escaped or doubled quote is text, never the end of an argument.
            if (!inQuotes && !literalQuote && rules.IsDelimiter(*p)) {
                ++p;
                if (rules.CollapseDelimiters() && rules.Delimiter() != 0) {
                    while (*p == rules.Delimiter())
                        ++p;
                }
                endedOnDelimiter = true;
                break;
            }
            if (copy)
                sink.Put(*p);
            ++p;
            endedOnDelimiter = false;
        }
        sink.EndArgument();
        if (*p == 0)
            break;
    }
    if (endedOnDelimiter && !rules.NoTrailingEmpty()) {
        sink.BeginArgument();
        sink.EndArgument();
    }
    sink.Finish();
}

bool IsOneOf(TCHAR c, const TCHAR* set) {
    for (; *set; ++set) {
        if (*set == c)
            return true;
    }
    return false;
}

void Split(const TCHAR* p, const TCHAR* delimiters, Sink& sink) {
    while (p && *p) {
        while (*p && IsOneOf(*p, delimiters))
            ++p;
        if (!*p)
            break;
        sink.BeginArgument();
        while (*p && !IsOneOf(*p, delimiters))
            sink.Put(*p++);
        sink.EndArgument();
    }
    sink.Finish();
}

}  // namespace

CommandLine::~CommandLine() { Clear(); }

void CommandLine::Clear() {
    free(block_);
    block_ = nullptr;
    argv_ = nullptr;
    count_ = 0;
}

bool CommandLine::Allocate(size_t arguments, size_t characters) {
    size_t pointers = (arguments + 1) * sizeof(TCHAR*);
    if (arguments >= size_t(INT32_MAX) || characters > (SIZE_MAX - pointers) / sizeof(TCHAR)) {
        SetLastError(ERROR_OUTOFMEMORY);
        return false;
    }
    block_ = malloc(pointers + characters * sizeof(TCHAR));
    if (!block_) {
        SetLastError(ERROR_OUTOFMEMORY);
        return false;
    }
    argv_ = static_cast<TCHAR**>(block_);
    return true;
}

int CommandLine::Parse(const TCHAR* text, const CommandLineRules& rules) {
    Clear();
    if (!text)
        return 0;
    Sink measure;
    Tokenize(text, rules, measure);
    if (!Allocate(measure.Arguments(), measure.Characters()))
        return 0;
    Sink fill(argv_, reinterpret_cast<TCHAR*>(argv_ + measure.Arguments() + 1));
    Tokenize(text, rules, fill);
    count_ = int(fill.Arguments());
    return count_;
}

int CommandLine::Parse(const TCHAR* text, const TCHAR* delimiters) {
    Clear();
    if (!text)
        return 0;
    if (!delimiters)
        delimiters = _T("");
    Sink measure;
    Split(text, delimiters, measure);
    if (!Allocate(measure.Arguments(), measure.Characters()))
        return 0;
    Sink fill(argv_, reinterpret_cast<TCHAR*>(argv_ + measure.Arguments() + 1));
    Split(text, delimiters, fill);
    count_ = int(fill.Arguments());
    return count_;
}

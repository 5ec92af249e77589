#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>
#include "common/tstring/tstring.h"

// A compiled expression of the registry pattern dialect, matched as a search
// (the first match from the leftmost position, in the priority order of a
// backtracking matcher):
//   {}  capture group (numbered by its opening brace; the first is reported)
//   ()  grouping          |  alternation        .  any character
//   ^ $ start and end of the text               * + ?  repetition (greedy;
//   *? +? ??  lazy)       !X  zero-width test that X does not match here
//   [a-z] [^a-z]  character classes             \X  the character X
//   \a [a-zA-Z0-9]  \b [ \t]  \c [a-zA-Z]  \d [0-9]  \h [0-9a-fA-F]
//   \w [a-zA-Z]+  \z [0-9]+  \n line break  \q quoted string
// The matcher simulates all threads of the program in step (no recursion per
// character), so texts of any length match on small stacks, in time linear in
// the text: a negation's verdict is kept per position, and a negated part that
// can run on to the end of the text is judged for all positions in one pass.
// An object is used by one thread at a time; copies are independent.
class RegExp {
public:
    RegExp() = default;

    // Compiles text; false (and an empty object, which matches nothing) when it
    // does not compile.
    bool Parse(const tstring& text, bool caseSensitive = false);
    bool IsCompiled() const { return !program_.empty(); }

    // Searches text (which ends at its first NUL character). On a match the
    // text of the first {} group is stored in capture (empty when the group
    // took no part in the match or there is none) and the result is true;
    // otherwise capture is left alone.
    bool Match(const tstring& text, tstring* capture = nullptr) const;
    bool Match(const wchar_t* text, size_t length, tstring* capture) const;

private:
    enum class Op : uint8_t {
        Char,       // ch (folded when matching ignores case)
        Any,
        Class,      // ranges_[x, x + y), negated
        Split,      // go on at x, then (lower priority) at y
        Jump,       // go on at x
        Save,       // x: 0 start, 1 end of the first {} group
        Start,      // position 0
        End,        // end of the text
        NotAhead,   // fails when the part at x (ending in Accept) matches here; y: its memo
        Accept,     // end of a negated part
        Match,
    };
    struct Instruction {
        Op op;
        bool negated;
        wchar_t ch;
        int x;
        int y;
    };
    struct ClassRange { wchar_t low, high; };
    struct Compiler;
    struct Matcher;

    struct Matcher;
    std::vector<Instruction> program_;
    std::vector<ClassRange> ranges_;   // class instructions point into this
    int lookCount_ = 0;                // number of negations, each memoised per position
    bool anchored_ = false;            // every match has to start at position 0
    bool caseSensitive_ = false;
};

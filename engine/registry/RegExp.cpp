#include "engine/registry/RegExp.h"
#include <algorithm>
#include <memory>

namespace {

// Case tables of the whole basic plane, made once: the matcher folds every
// character it compares, and the system's own mapping is what decides which
// non-ASCII names are equal ignoring case.
struct CaseTables {
    wchar_t lower[0x10000];
    wchar_t upper[0x10000];

    CaseTables()
    {
        for (unsigned c = 0; c < 0x10000; ++c) {
            lower[c] = upper[c] = static_cast<wchar_t>(c);
            if (c < 0x80) {
                if (c >= L'A' && c <= L'Z') lower[c] = static_cast<wchar_t>(c + 32);
                if (c >= L'a' && c <= L'z') upper[c] = static_cast<wchar_t>(c - 32);
                continue;
            }
            if (c >= 0xD800 && c <= 0xDFFF)
                continue;
            wchar_t in = static_cast<wchar_t>(c), out = 0;
            if (LCMapStringW(LOCALE_INVARIANT, LCMAP_LOWERCASE, &in, 1, &out, 1) == 1)
                lower[c] = out;
            if (LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, &in, 1, &out, 1) == 1)
                upper[c] = out;
        }
    }
};

const CaseTables& Cases()
{
    static const std::unique_ptr<CaseTables> tables(new CaseTables);
    return *tables;
}

inline wchar_t Lower(wchar_t c) { return Cases().lower[static_cast<uint16_t>(c)]; }
inline wchar_t Upper(wchar_t c) { return Cases().upper[static_cast<uint16_t>(c)]; }

// The abbreviations of the dialect, each standing for a group of its own.
const wchar_t* Abbreviation(wchar_t c)
{
    switch (c) {
    case L'a': return L"[a-zA-Z0-9]";
    case L'b': return L"[ \t]";
    case L'c': return L"[a-zA-Z]";
    case L'd': return L"[0-9]";
    case L'h': return L"[0-9a-fA-F]";
    case L'n': return L"(\r|(\r?\n))";
    case L'q': return L"((\"[^\"]*\")|('[^']*'))";
    case L'w': return L"([a-zA-Z]+)";
    case L'z': return L"([0-9]+)";
    default: return nullptr;
    }
}

const int Unbounded = -1;

} // namespace

// Syntax tree of one expression; compiled to the program and then dropped.
struct RegExp::Compiler {
    enum class Kind { Char, Any, Class, Start, End, Concat, Alternation, Repeat, Group, Not };
    struct Node {
        Kind kind;
        wchar_t ch = 0;
        bool negated = false;     // class
        int first = 0, count = 0; // class ranges
        int min = 0, max = 0;     // repeat
        bool greedy = true;
        bool capture = false;     // group: the first {} group
        std::vector<std::unique_ptr<Node>> kids;
        explicit Node(Kind k) : kind(k) {}
    };
    using NodePtr = std::unique_ptr<Node>;

    RegExp& re;
    const wchar_t* p;
    const wchar_t* end;
    int* braces;   // {} groups opened so far, shared with nested abbreviation parsers
    bool failed = false;

    Compiler(RegExp& target, const wchar_t* text, size_t length, int* braceCount)
        : re(target), p(text), end(text + length), braces(braceCount) {}

    bool AtEnd() const { return p >= end; }
    NodePtr Fail() { failed = true; return nullptr; }
    static NodePtr Make(Kind k) { return NodePtr(new Node(k)); }

    NodePtr ParseAll()
    {
        NodePtr n = ParseAlternation();
        if (failed || !AtEnd())
            return Fail();
        return n;
    }

    NodePtr ParseAlternation()
    {
        NodePtr first = ParseConcat();
        if (failed || AtEnd() || *p != L'|')
            return first;
        NodePtr alt = Make(Kind::Alternation);
        alt->kids.push_back(std::move(first));
        while (!AtEnd() && *p == L'|') {
            ++p;
            alt->kids.push_back(ParseConcat());
            if (failed)
                return nullptr;
        }
        return alt;
    }

    NodePtr ParseConcat()
    {
        NodePtr seq = Make(Kind::Concat);
        while (!AtEnd() && *p != L'|' && *p != L')' && *p != L'}') {
            NodePtr item = ParseItem();
            if (failed)
                return nullptr;
            seq->kids.push_back(std::move(item));
        }
        return seq;
    }

    // '!' negates the whole following item, repetition included.
    NodePtr ParseItem()
    {
        if (*p == L'!') {
            ++p;
            if (AtEnd() || *p == L'|' || *p == L')' || *p == L'}')
                return Fail();
            NodePtr item = ParseItem();
            if (failed)
                return nullptr;
            NodePtr n = Make(Kind::Not);
            n->kids.push_back(std::move(item));
            return n;
        }
        NodePtr atom = ParseAtom();
        if (failed)
            return nullptr;
        if (!AtEnd() && (*p == L'*' || *p == L'+' || *p == L'?')) {
            NodePtr rep = Make(Kind::Repeat);
            rep->min = *p == L'+' ? 1 : 0;
            rep->max = *p == L'?' ? 1 : Unbounded;
            ++p;
            if (!AtEnd() && *p == L'?') {
                rep->greedy = false;
                ++p;
            }
            if (!AtEnd() && (*p == L'*' || *p == L'+' || *p == L'?'))
                return Fail();
            rep->kids.push_back(std::move(atom));
            return rep;
        }
        return atom;
    }

    NodePtr ParseAtom()
    {
        wchar_t c = *p++;
        switch (c) {
        case L'(':
        case L'{': {
            bool capture = c == L'{' && ++*braces == 1;
            NodePtr inner = ParseAlternation();
            if (failed || AtEnd() || *p != (c == L'(' ? L')' : L'}'))
                return Fail();
            ++p;
            NodePtr g = Make(Kind::Group);
            g->capture = capture;
            g->kids.push_back(std::move(inner));
            return g;
        }
        case L')':
        case L'}':
        case L'*':
        case L'+':
        case L'?':
        case L'|':
            return Fail();
        case L'.':
            return Make(Kind::Any);
        case L'^':
            return Make(Kind::Start);
        case L'$':
            return Make(Kind::End);
        case L'[':
            return ParseClass();
        case L'\\': {
            if (AtEnd())
                return Fail();
            wchar_t e = *p++;
            if (const wchar_t* text = Abbreviation(e)) {
                Compiler sub(re, text, wcslen(text), braces);
                NodePtr n = sub.ParseAll();
                if (sub.failed)
                    return Fail();
                return n;
            }
            return Literal(e);
        }
        default:
            return Literal(c);
        }
    }

    NodePtr Literal(wchar_t c)
    {
        NodePtr n = Make(Kind::Char);
        n->ch = c;
        return n;
    }

    bool ClassChar(wchar_t& c)
    {
        if (AtEnd())
            return false;
        c = *p++;
        if (c == L'\\') {
            if (AtEnd())
                return false;
            c = *p++;
        }
        return true;
    }

    // [set] or [^set]; ranges a-z, '\' quotes the next character, a '-' at
    // either end is itself, and the class abbreviations may appear inside.
    NodePtr ParseClass()
    {
        NodePtr n = Make(Kind::Class);
        if (!AtEnd() && *p == L'^') {
            n->negated = true;
            ++p;
        }
        n->first = static_cast<int>(re.ranges_.size());
        bool any = false;
        while (!AtEnd() && (*p != L']' || !any)) {
            any = true;
            if (*p == L'\\' && p + 1 < end) {
                const wchar_t* text = Abbreviation(p[1]);
                if (text && text[0] == L'[') {
                    p += 2;
                    AddClassText(text + 1);
                    continue;
                }
            }
            wchar_t low, high;
            if (!ClassChar(low))
                return Fail();
            high = low;
            if (p + 1 < end && *p == L'-' && p[1] != L']') {
                ++p;
                if (!ClassChar(high) || high < low)
                    return Fail();
            }
            re.ranges_.push_back({low, high});
        }
        if (AtEnd())
            return Fail();
        ++p;   // ']'
        n->count = static_cast<int>(re.ranges_.size()) - n->first;
        return n;
    }

    void AddClassText(const wchar_t* t)
    {
        for (; *t && *t != L']'; ++t) {
            if (t[1] == L'-' && t[2] && t[2] != L']') {
                re.ranges_.push_back({t[0], t[2]});
                t += 2;
            } else {
                re.ranges_.push_back({t[0], t[0]});
            }
        }
    }

    // Thompson construction; priorities follow a backtracking matcher's order.
    int Emit(Op op, int x = 0, int y = 0, wchar_t ch = 0, bool negated = false)
    {
        re.program_.push_back({op, negated, ch, x, y});
        return static_cast<int>(re.program_.size()) - 1;
    }
    int Here() const { return static_cast<int>(re.program_.size()); }

    void Generate(const Node& n)
    {
        switch (n.kind) {
        case Kind::Char:
            Emit(Op::Char, 0, 0, re.caseSensitive_ ? n.ch : Lower(n.ch));
            break;
        case Kind::Any:
            Emit(Op::Any);
            break;
        case Kind::Class:
            Emit(Op::Class, n.first, n.count, 0, n.negated);
            break;
        case Kind::Start:
            Emit(Op::Start);
            break;
        case Kind::End:
            Emit(Op::End);
            break;
        case Kind::Concat:
            for (const NodePtr& k : n.kids)
                Generate(*k);
            break;
        case Kind::Group:
            if (n.capture)
                Emit(Op::Save, 0);
            Generate(*n.kids[0]);
            if (n.capture)
                Emit(Op::Save, 1);
            break;
        case Kind::Alternation: {
            std::vector<int> jumps;
            for (size_t i = 0; i < n.kids.size(); ++i) {
                int split = -1;
                if (i + 1 < n.kids.size())
                    split = Emit(Op::Split, Here() + 1);
                Generate(*n.kids[i]);
                if (i + 1 < n.kids.size()) {
                    jumps.push_back(Emit(Op::Jump));
                    re.program_[split].y = Here();
                }
            }
            for (int j : jumps)
                re.program_[j].x = Here();
            break;
        }
        case Kind::Repeat:
            GenerateRepeat(n);
            break;
        case Kind::Not: {
            int look = Emit(Op::NotAhead, 0, re.lookCount_++);
            int skip = Emit(Op::Jump);
            re.program_[look].x = Here();
            Generate(*n.kids[0]);
            Emit(Op::Accept);
            re.program_[skip].x = Here();
            break;
        }
        }
    }

    void Prefer(int split, int body, int out, bool greedy)
    {
        re.program_[split].x = greedy ? body : out;
        re.program_[split].y = greedy ? out : body;
    }

    void GenerateRepeat(const Node& n)
    {
        const Node& body = *n.kids[0];
        if (n.max == 1) {               // x?
            int split = Emit(Op::Split);
            Generate(body);
            Prefer(split, split + 1, Here(), n.greedy);
        } else if (n.min == 0) {        // x*
            int split = Emit(Op::Split);
            Generate(body);
            Emit(Op::Jump, split);
            Prefer(split, split + 1, Here(), n.greedy);
        } else {                        // x+
            int top = Here();
            Generate(body);
            int split = Emit(Op::Split);
            Prefer(split, top, Here(), n.greedy);
        }
    }

    static bool StartsAnchored(const Node& n)
    {
        if (n.kind == Kind::Start)
            return true;
        if ((n.kind == Kind::Concat || n.kind == Kind::Group) && !n.kids.empty())
            return StartsAnchored(*n.kids[0]);
        if (n.kind == Kind::Alternation) {
            for (const NodePtr& k : n.kids)
                if (!StartsAnchored(*k))
                    return false;
            return true;
        }
        return false;
    }
};

bool RegExp::Parse(const tstring& text, bool caseSensitive)
{
    *this = RegExp();
    caseSensitive_ = caseSensitive;
    int braces = 0;
    Compiler compiler(*this, text.data(), text.size(), &braces);
    Compiler::NodePtr tree = compiler.ParseAll();
    if (!tree) {
        *this = RegExp();
        return false;
    }
    compiler.Generate(*tree);
    compiler.Emit(Op::Match);
    anchored_ = Compiler::StartsAnchored(*tree);
    return true;
}

// Pike-style simulation: the threads of one text position, in priority
// order, each with the bounds of the first {} group. A negation runs its part
// as a separate simulation from the position in question, once per position.
struct RegExp::Matcher {
    struct Thread { int pc; int start; int end; };
    struct List {
        std::vector<int> slot;          // pc -> index in threads + 1 (0: absent)
        std::vector<Thread> threads;    // every pc reached, consuming or not
        explicit List(size_t n) : slot(n, 0) { threads.reserve(n); }
        bool Has(int pc) const { return slot[pc] != 0; }
        void Add(const Thread& t) { threads.push_back(t); slot[t.pc] = static_cast<int>(threads.size()); }
        void Clear() { for (const Thread& t : threads) slot[t.pc] = 0; threads.clear(); }
    };
    struct Level {
        List current, next;
        std::vector<Thread> stack;
        explicit Level(size_t n) : current(n), next(n) {}
    };

    const RegExp& re;
    const wchar_t* text;
    int length;
    std::vector<std::unique_ptr<Level>> levels;       // [0] the search, then one per nested negation
    std::vector<std::vector<uint8_t>> memo;           // per negation and position: 0 unknown, 1 matches, 2 not

    std::vector<int> lookAt;                          // per negation: its NotAhead instruction
    std::vector<bool> unbounded;                      // per negation: its part holds a loop

    Matcher(const RegExp& r, const wchar_t* t, int n)
        : re(r), text(t), length(n), memo(r.lookCount_), lookAt(r.lookCount_), unbounded(r.lookCount_)
    {
        for (int pc = 0; re.lookCount_ > 0 && pc < static_cast<int>(re.program_.size()); ++pc) {
            const Instruction& in = re.program_[pc];
            if (in.op != Op::NotAhead)
                continue;
            lookAt[in.y] = pc;
            for (int body = in.x; body < AcceptOf(pc); ++body) {
                const Instruction& b = re.program_[body];
                if ((b.op == Op::Jump || b.op == Op::Split) && (b.x <= body || (b.op == Op::Split && b.y <= body)))
                    unbounded[in.y] = true;
            }
        }
    }

    // A negation is laid out as NotAhead, Jump past the part, the part, Accept.
    int AcceptOf(int lookPc) const { return re.program_[lookPc + 1].x - 1; }

    Level& LevelAt(size_t depth)
    {
        while (levels.size() <= depth)
            levels.emplace_back(new Level(re.program_.size()));
        return *levels[depth];
    }

    bool Same(wchar_t pattern, wchar_t c) const
    {
        return re.caseSensitive_ ? pattern == c : pattern == Lower(c);
    }

    bool InRanges(const Instruction& in, wchar_t c) const
    {
        for (int i = in.x; i < in.x + in.y; ++i)
            if (c >= re.ranges_[i].low && c <= re.ranges_[i].high)
                return true;
        return false;
    }

    bool InClass(const Instruction& in, wchar_t c) const
    {
        bool member = InRanges(in, c) ||
            (!re.caseSensitive_ && (InRanges(in, Lower(c)) || InRanges(in, Upper(c))));
        return member != in.negated;
    }

    // Follows every non-consuming instruction from pc at pos; returns true when
    // an Accept is reached (the part of a negation matched).
    bool Add(List& list, size_t depth, Thread first, int pos)
    {
        std::vector<Thread>& stack = LevelAt(depth).stack;
        stack.clear();
        stack.push_back(first);
        while (!stack.empty()) {
            Thread t = stack.back();
            stack.pop_back();
            if (list.Has(t.pc))
                continue;
            list.Add(t);
            const Instruction& in = re.program_[t.pc];
            switch (in.op) {
            case Op::Jump:
                stack.push_back({in.x, t.start, t.end});
                break;
            case Op::Split:
                stack.push_back({in.y, t.start, t.end});
                stack.push_back({in.x, t.start, t.end});
                break;
            case Op::Save:
                if (in.x == 0)
                    stack.push_back({t.pc + 1, pos, -1});
                else
                    stack.push_back({t.pc + 1, t.start, pos});
                break;
            case Op::Start:
                if (pos == 0)
                    stack.push_back({t.pc + 1, t.start, t.end});
                break;
            case Op::End:
                if (pos == length)
                    stack.push_back({t.pc + 1, t.start, t.end});
                break;
            case Op::NotAhead:
                if (!Ahead(in, depth + 1, pos)) {
                    // The nested simulation used deeper levels only; this
                    // level's stack is untouched.
                    stack.push_back({t.pc + 1, t.start, t.end});
                }
                break;
            case Op::Accept:
                return true;
            default:
                break;   // consuming instructions and Match wait in the list
            }
        }
        return false;
    }

    bool Consumes(const Instruction& in, wchar_t c) const
    {
        switch (in.op) {
        case Op::Char: return Same(in.ch, c);
        case Op::Any: return true;
        case Op::Class: return InClass(in, c);
        default: return false;
        }
    }

    // Whether the part of a negation matches some text starting at pos.
    bool Ahead(const Instruction& look, size_t depth, int pos)
    {
        std::vector<uint8_t>& known = memo[look.y];
        if (known.empty())
            known.assign(static_cast<size_t>(length) + 1, 0);
        if (known[pos] == 0) {
            if (unbounded[look.y])
                Backward(look, depth);
            else
                known[pos] = Simulate(look.x, depth, pos) ? 1 : 2;
        }
        return known[pos] == 1;
    }

    // A part that can run to the end of the text would cost the rest of the
    // text at every position; instead its verdicts for all positions come from
    // one pass from the end: the instructions from which its Accept can be
    // reached at pos follow from those at pos + 1.
    void Backward(const Instruction& look, size_t depth)
    {
        std::vector<uint8_t>& known = memo[look.y];
        const int first = look.x, accept = AcceptOf(lookAt[look.y]);
        std::vector<uint8_t> reaches(re.program_.size(), 0), after(re.program_.size(), 0);
        for (int pos = length; pos >= 0; --pos) {
            std::fill(reaches.begin() + first, reaches.begin() + accept, 0);
            reaches[accept] = 1;
            for (bool changed = true; changed;) {
                changed = false;
                for (int pc = accept - 1; pc >= first; --pc) {
                    if (!reaches[pc] && Reaches(re.program_[pc], pc, pos, reaches, after, depth)) {
                        reaches[pc] = 1;
                        changed = true;
                    }
                }
            }
            known[pos] = reaches[first] ? 1 : 2;
            std::swap(reaches, after);
        }
    }

    bool Reaches(const Instruction& in, int pc, int pos, const std::vector<uint8_t>& reaches,
                 const std::vector<uint8_t>& after, size_t depth)
    {
        switch (in.op) {
        case Op::Jump: return reaches[in.x];
        case Op::Split: return reaches[in.x] || reaches[in.y];
        case Op::Save: return reaches[pc + 1];
        case Op::Start: return pos == 0 && reaches[pc + 1];
        case Op::End: return pos == length && reaches[pc + 1];
        case Op::NotAhead: return reaches[pc + 1] && !Ahead(in, depth + 1, pos);
        case Op::Char:
        case Op::Any:
        case Op::Class: return pos < length && after[pc + 1] && Consumes(in, text[pos]);
        default: return false;   // the Accept of a nested negation, Match
        }
    }

    bool Simulate(int pc, size_t depth, int pos)
    {
        Level& level = LevelAt(depth);
        List* current = &level.current;
        List* next = &level.next;
        current->Clear();
        next->Clear();
        bool found = Add(*current, depth, {pc, -1, -1}, pos);
        for (; !found && !current->threads.empty() && pos < length; ++pos) {
            wchar_t c = text[pos];
            for (size_t i = 0; i < current->threads.size() && !found; ++i) {
                const Thread t = current->threads[i];
                if (Consumes(re.program_[t.pc], c))
                    found = Add(*next, depth, {t.pc + 1, t.start, t.end}, pos + 1);
            }
            std::swap(current, next);
            next->Clear();
        }
        current->Clear();
        return found;
    }

    bool Search(int& start, int& end)
    {
        Level& level = LevelAt(0);
        List* current = &level.current;
        List* next = &level.next;
        bool matched = false;
        for (int pos = 0;; ++pos) {
            if (!matched && (pos == 0 || !re.anchored_))
                Add(*current, 0, {0, -1, -1}, pos);
            if (current->threads.empty() && (matched || re.anchored_))
                break;
            wchar_t c = pos < length ? text[pos] : 0;
            for (size_t i = 0; i < current->threads.size(); ++i) {
                const Thread t = current->threads[i];
                const Instruction& in = re.program_[t.pc];
                if (in.op == Op::Match) {
                    matched = true;
                    start = t.start;
                    end = t.end;
                    break;   // threads of lower priority lose to this match
                }
                if (pos < length && Consumes(in, c))
                    Add(*next, 0, {t.pc + 1, t.start, t.end}, pos + 1);
            }
            std::swap(current, next);
            next->Clear();
            if (pos >= length)
                break;
        }
        current->Clear();
        return matched;
    }
};

bool RegExp::Match(const tstring& text, tstring* capture) const
{
    return Match(text.c_str(), wcslen(text.c_str()), capture);
}

bool RegExp::Match(const wchar_t* text, size_t length, tstring* capture) const
{
    if (program_.empty() || length >= static_cast<size_t>(INT32_MAX))
        return false;
    Matcher matcher(*this, text, static_cast<int>(length));
    int start = -1, end = -1;
    if (!matcher.Search(start, end))
        return false;
    if (capture) {
        if (start >= 0 && end >= start)
            capture->assign(text + start, text + end);
        else
            capture->clear();
    }
    return true;
}

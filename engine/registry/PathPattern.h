#pragma once
#include <windows.h>
#include <vector>
#include "common/tstring/tstring.h"
#include "engine/registry/RegExp.h"

// One level of a key pattern, or the value-name or data part of a value
// pattern: a literal name ('#') or an expression ('@') that matches a name and
// captures part of it. An expression element whose text is "MAGIC_PATTERN" is
// magic: the walker treats it itself and it is never matched.
class PatternElement {
public:
    PatternElement() = default;    // an empty literal
    PatternElement(const tstring& text, bool expression);
    PatternElement(const PatternElement& other);
    PatternElement& operator=(const PatternElement& other);
    PatternElement(PatternElement&&) = default;
    PatternElement& operator=(PatternElement&&) = default;

    BYTE IsLiteral() const { return literal_; }
    BYTE IsMagic() const { return magic_; }
    tstring Text() const { return text_; }

    // The element stored after this one in its pattern: the data element for
    // the value-name element, the next level for a key element (the last key
    // level has none).
    const PatternElement* Next() const { return this + 1; }

    // A literal equals the name ignoring case ("(Default)" stands for the empty
    // name) and captures all of it; an expression is searched in the name and
    // captures its first {} group. On no match the capture is left alone.
    bool MatchText(const tstring& name, tstring& capture) const;
    bool Match(const tstring& name) const;

private:
    void Compile();

    BYTE magic_ = 0;
    BYTE literal_ = 1;
    tstring text_;
    RegExp expression_;
};

// The compiled form of a key pattern ("#HKCR#TypeLib@\{{.*}\}...") and a value
// pattern ("#Path@{.*}"). Read-only once built; copies hold their own
// compiled expressions.
class PathPattern {
public:
    PathPattern() = default;
    // Throws std::out_of_range ("invalid string position") when the value
    // pattern has fewer than two separators.
    PathPattern(const tstring& keyPattern, const tstring& valuePattern);

    void ParseKey(const tstring& text);
    void ParseValue(const tstring& text);

    // A copy with the literal level `name` put before the key element at index.
    PathPattern WithLiteralLevel(size_t index, const tstring& name) const;

    // The predefined key named by a literal first level, or nullptr.
    HKEY RootKey() const;

    const std::vector<PatternElement>& KeyElements() const { return keys_; }
    size_t KeyCount() const { return keys_.size(); }
    const PatternElement& KeyElement(size_t index) const { return keys_[index]; }
    const PatternElement& ValueNameElement() const { return value_[0]; }
    const PatternElement& DataElement() const { return value_[1]; }

private:
    std::vector<PatternElement> keys_;
    PatternElement value_[2];   // value name, then data: adjacent for Next()
};

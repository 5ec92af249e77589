#include "engine/registry/PathPattern.h"
#include <algorithm>
#include <stdexcept>
#include "engine/registry/RegKey.h"

PatternElement::PatternElement(const tstring& text, bool expression)
    : magic_(expression && text == L"MAGIC_PATTERN"), literal_(!expression), text_(text)
{
    Compile();
}

PatternElement::PatternElement(const PatternElement& other)
    : magic_(other.magic_), literal_(other.literal_), text_(other.text_)
{
    Compile();
}

PatternElement& PatternElement::operator=(const PatternElement& other)
{
    if (this != &other) {
        magic_ = other.magic_;
        literal_ = other.literal_;
        text_ = other.text_;
        expression_ = RegExp();
        Compile();
    }
    return *this;
}

void PatternElement::Compile()
{
    if (!literal_ && !magic_)
        expression_.Parse(text_);
}

bool PatternElement::MatchText(const tstring& name, tstring& capture) const
{
    if (literal_) {
        // The walker's names may hold NUL characters; a literal is compared up
        // to the first one, as the registry's own names are.
        const wchar_t* wanted = CompareNoCase(text_.c_str(), L"(Default)") == 0 ? L"" : text_.c_str();
        if (CompareStringOrdinal(name.c_str(), -1, wanted, -1, TRUE) != CSTR_EQUAL)
            return false;
        capture = name;
        return true;
    }
    if (magic_)
        return false;
    return expression_.Match(name, &capture);
}

bool PatternElement::Match(const tstring& name) const
{
    tstring ignored;
    return MatchText(name, ignored);
}

PathPattern::PathPattern(const tstring& keyPattern, const tstring& valuePattern)
{
    ParseKey(keyPattern);
    ParseValue(valuePattern);
}

namespace {

const wchar_t Separators[] = L"#@";

} // namespace

void PathPattern::ParseKey(const tstring& text)
{
    size_t at = text.find_first_of(Separators);
    while (at != tstring::npos) {
        size_t next = text.find_first_of(Separators, at + 1);
        size_t count = next == tstring::npos ? tstring::npos : next - at - 1;
        keys_.emplace_back(text.substr(at + 1, count), text[at] == L'@');
        at = next;
    }
}

void PathPattern::ParseValue(const tstring& text)
{
    value_[0] = PatternElement();
    value_[1] = PatternElement();
    size_t first = text.find_first_of(Separators);
    size_t second = first == tstring::npos ? tstring::npos : text.find_first_of(Separators, first + 1);
    if (second == tstring::npos)
        throw std::out_of_range("invalid string position");
    value_[0] = PatternElement(text.substr(first + 1, second - first - 1), text[first] == L'@');
    value_[1] = PatternElement(text.substr(second + 1), text[second] == L'@');
}

PathPattern PathPattern::WithLiteralLevel(size_t index, const tstring& name) const
{
    PathPattern copy(*this);
    copy.keys_.insert(copy.keys_.begin() + std::ptrdiff_t(std::min(index, copy.keys_.size())),
                      PatternElement(name, false));
    return copy;
}

HKEY PathPattern::RootKey() const
{
    if (keys_.empty() || !keys_[0].IsLiteral())
        return nullptr;
    return RegKey::RootByName(keys_[0].Text());
}

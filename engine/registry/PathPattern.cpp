#include "engine/registry/PathPattern.h"
#include <stdexcept>

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
    return false;
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

void PathPattern::ParseKey(const tstring& text)
{
}

void PathPattern::ParseValue(const tstring& text)
{
}

HKEY PathPattern::RootKey() const
{
    return nullptr;
}

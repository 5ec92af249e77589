#include "engine/registry/RegExp.h"

bool RegExp::Parse(const tstring& text, bool caseSensitive)
{
    return false;
}

bool RegExp::Match(const tstring& text, tstring* capture) const
{
    return Match(text.c_str(), wcslen(text.c_str()), capture);
}

bool RegExp::Match(const wchar_t* text, size_t length, tstring* capture) const
{
    return false;
}

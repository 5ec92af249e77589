#pragma once
#include "common/tstring/tstring.h"

// Makes text safe inside a script string literal (quoted with ' or "): a
// backslash is doubled, quotes and apostrophes get a backslash, the angle
// brackets become &lt; and &gt; (so no "</script>" survives), and line breaks
// and the two Unicode line separators become their escapes, which a literal
// cannot hold raw.
tstring EscapeScriptString(const tstring& text);

// Record texts show carriage return and line feed as "[CR]" and "[LF]"; done
// before escaping.
tstring ShowLineBreaks(const tstring& text);

// A record's text as it goes into a page's HTML inside a script literal: line
// breaks shown, and "&" written as "&amp;" so a name holding "&quot;" or
// "&#39;" shows as typed instead of as the character it names.
tstring RecordHtmlText(const tstring& text);

// HTML for a script string literal, kept as HTML: the markup survives, while
// nothing in it can end the literal (angle brackets become \x3C and \x3E,
// so no "</script>" appears either).
tstring HtmlScriptLiteral(const tstring& html);

// Text as HTML content or a quoted attribute value: every character that
// markup gives a meaning to becomes its entity.
tstring HtmlEncode(const tstring& text);

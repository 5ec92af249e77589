#include "app/html/ScriptText.h"

namespace {

// One pass for both literal kinds: results lists escape every record text of
// a scan. They differ only in what stands for the angle brackets.
tstring EscapeLiteral(const tstring& text, const wchar_t* lessThan, const wchar_t* greaterThan) {
    tstring result;
    result.reserve(text.size() + text.size() / 8);
    for (wchar_t c : text) {
        switch (c) {
        case L'\\': result += L"\\\\"; break;
        case L'"': result += L"\\\""; break;
        case L'<': result += lessThan; break;
        case L'>': result += greaterThan; break;
        case L'\'': result += L"\\'"; break;
        case L'\r': result += L"\\r"; break;
        case L'\n': result += L"\\n"; break;
        case 0x2028: result += L"\\u2028"; break;
        case 0x2029: result += L"\\u2029"; break;
        default: result += c;
        }
    }
    return result;
}

}  // namespace

tstring EscapeScriptString(const tstring& text) { return EscapeLiteral(text, L"&lt;", L"&gt;"); }

tstring ShowLineBreaks(const tstring& text) {
    tstring result = text;
    result.Replace(L"\r", L"[CR]");
    result.Replace(L"\n", L"[LF]");
    return result;
}

tstring RecordHtmlText(const tstring& text) {
    tstring result = ShowLineBreaks(text);
    result.Replace(L"&", L"&amp;");
    return EscapeScriptString(result);
}

tstring HtmlScriptLiteral(const tstring& html) { return EscapeLiteral(html, L"\\x3C", L"\\x3E"); }

tstring HtmlEncode(const tstring& text) {
    tstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        switch (c) {
        case L'&': out += L"&amp;"; break;
        case L'<': out += L"&lt;"; break;
        case L'>': out += L"&gt;"; break;
        case L'"': out += L"&quot;"; break;
        case L'\'': out += L"&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

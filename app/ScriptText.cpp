#include "app/ScriptText.h"

tstring EscapeScriptString(const tstring& text) {
    // One pass: results lists escape every record text of a scan.
    tstring result;
    result.reserve(text.size() + text.size() / 8);
    for (wchar_t c : text) {
        switch (c) {
        case L'\\': result += L"\\\\"; break;
        case L'"': result += L"\\\""; break;
        case L'<': result += L"&lt;"; break;
        case L'>': result += L"&gt;"; break;
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

tstring HtmlScriptLiteral(const tstring& html) {
    tstring out;
    out.reserve(html.size() + 16);
    for (wchar_t c : html) {
        switch (c) {
        case L'\\': out += L"\\\\"; break;
        case L'"': out += L"\\\""; break;
        case L'\'': out += L"\\'"; break;
        case L'\r': out += L"\\r"; break;
        case L'\n': out += L"\\n"; break;
        case L'<': out += L"\\x3C"; break;
        case L'>': out += L"\\x3E"; break;
        case 0x2028: out += L"\\u2028"; break;
        case 0x2029: out += L"\\u2029"; break;
        default: out += c;
        }
    }
    return out;
}

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

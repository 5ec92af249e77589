#include "app/ScriptText.h"

tstring EscapeScriptString(const tstring& text) {
    tstring result = text;
    result.Replace(L"\\", L"\\\\");
    result.Replace(L"\"", L"\\\"");
    result.Replace(L"<", L"&lt;");
    result.Replace(L">", L"&gt;");
    result.Replace(L"'", L"\\'");
    result.Replace(L"\r", L"\\r");
    result.Replace(L"\n", L"\\n");
    result.Replace(L"\x2028", L"\\u2028");
    result.Replace(L"\x2029", L"\\u2029");
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

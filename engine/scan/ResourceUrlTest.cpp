#include "engine/scan/ResourceUrlTest.h"
#include "common/records/CheckResultCode.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/FilePathTest.h"
#include "engine/scan/PathChecks.h"
#include "engine/scan/PathReadings.h"

namespace {

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// "%20" and the like in a file address stand for the characters themselves
// (UTF-8 bytes). Text that is no valid escape stays as it is.
tstring Unescaped(const tstring& text) {
    std::string bytes;
    tstring out;
    auto flush = [&] {
        if (bytes.empty()) return;
        int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), int(bytes.size()), nullptr, 0);
        if (n > 0) {
            tstring decoded(size_t(n), L'\0');
            MultiByteToWideChar(CP_UTF8, 0, bytes.data(), int(bytes.size()), &decoded[0], n);
            out += decoded;
        }
        bytes.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
            bytes += char(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
            continue;
        }
        flush();
        out += text[i];
    }
    flush();
    return out;
}

// "file:" followed by any number of slashes becomes "file://".
tstring NormalisedFileAddress(const tstring& text) {
    if (!StartsWithNoCase(text, L"file:")) return text;
    size_t at = 5;
    while (at < text.size() && text[at] == L'/') ++at;
    return text.substr(0, 5) + L"//" + text.substr(at);
}

}  // namespace

bool ResourceUrlTest::ResourceExists(const tstring& data, CheckResult& result) {
    result.ErrorID = 0;
    tstring text = NormalisedFileAddress(TrimBlanks(data));
    size_t scheme = text.find(L"://");
    if (scheme == tstring::npos) return PathExistsForCheck(text, result);
    tstring name = text.substr(0, scheme);
    tstring rest = text.substr(scheme + 3);
    if (CompareStringOrdinal(name.c_str(), -1, L"res", -1, TRUE) == CSTR_EQUAL)
        return FindModuleFile(rest.substr(0, rest.find(L'/')), result, true);
    if (CompareStringOrdinal(name.c_str(), -1, L"file", -1, TRUE) == CSTR_EQUAL)
        return PathExistsForCheck(Unescaped(rest), result);
    return true;
}

bool ResourceUrlTest::Test(const tstring&, RegValue& value, CheckResult& result) {
    tstring shown;
    for (const tstring& reading : PathReadings(value))
        if (ResourceExists(shown = reading, result)) return true;
    FillFinding(result, MakeErrorID(ProblemBrowserContextMenu, ReasonScriptNotFound), value.Key().Name(), shown,
                value);
    return false;
}

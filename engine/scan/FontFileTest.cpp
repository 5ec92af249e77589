#include "engine/scan/FontFileTest.h"
#include <shlobj.h>
#include <shlwapi.h>
#include "common/records/CheckResultCode.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/FilePathTest.h"
#include "engine/scan/PathChecks.h"

namespace {

bool HasDriveLetter(const tstring& data) {
    return data.size() >= 2 && iswalpha(data[0]) && data[1] == L':';
}

bool FontFileExists(const tstring& data, CheckResult& result) {
    // Full paths, also device and long-path forms ("\\?\", "\\.\") and shares.
    if (HasDriveLetter(data) || (data.size() > 2 && data[2] == L'?') || !PathIsRelativeW(data.c_str()))
        return PathExistsForCheck(data, result);
    tstring fonts = FontFileTest::FontsFolder();
    // Without a fonts folder to look in nothing can be judged.
    if (fonts.empty() || GetFileAttributesW(fonts.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    if (PathExistsForCheck(fonts + L"\\" + data, result)) return true;
    tstring systemRoot;
    ExpandEnvironment(systemRoot, L"%SystemRoot%");
    return PathExistsForCheck(systemRoot + L"\\Fonts\\" + data, result);
}

}  // namespace

tstring FontFileTest::FontsFolder() {
    static const tstring folder = [] {
        wchar_t buffer[MAX_PATH + 1] = {};
        return SHGetSpecialFolderPathW(nullptr, buffer, CSIDL_FONTS, FALSE) ? tstring(buffer) : tstring();
    }();
    return folder;
}

bool FontFileTest::Test(const tstring& text, RegValue& value, CheckResult& result) {
    result.ErrorID = 0;
    if (value.Type() == RegValue::NotRead) value.Query();
    if (value.Type() != RegValue::String) return true;
    tstring data = value.DataText();
    tstring name = TrimBlanks(data);
    if (!name.empty() && FontFileExists(name, result)) return true;
    FillFinding(result, MakeErrorID(ProblemFont, ReasonFileNotFound), value.Name(), data, value);
    return false;
}

#include "engine/scan/FilePathTest.h"
#include "common/records/CheckResultCode.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/PathChecks.h"
#include "engine/scan/PathReadings.h"

void FillFinding(CheckResult& result, uint32_t errorId, const tstring& item, const tstring& reason,
                 const RegValue& value) {
    result.ErrorID = int32_t(errorId);
    result.Item = item;
    result.Reason = reason;
    result.KeyPath = value.Key().FullPath();
    result.ValueName = value.Name();
}

bool FilePathTest::Test(const tstring&, RegValue& value, CheckResult& result) {
    tstring shown;
    for (const tstring& reading : PathReadings(value))
        if (PathExistsForCheck(shown = reading, result, true)) return true;
    FillFinding(result, MakeErrorID(ProblemSharedTool, ReasonFileNotFound), value.Key().Name(), shown, value);
    return false;
}

bool KeyValuePathTest::Test(const tstring& text, RegValue& value, CheckResult& result) {
    if (PathExistsForCheck(text, result)) return true;
    FillFinding(result, MakeErrorID(ProblemMruLocation, ReasonFileNotFound),
                value.Key().Name() + L"\\" + value.Name(), text, value);
    return false;
}

bool SharedFileTest::Test(const tstring& text, RegValue& value, CheckResult& result) {
    if (PathExistsForCheck(TrimBlanks(value.Name()), result)) return true;
    FillFinding(result, MakeErrorID(ProblemSharedDll, ReasonNone), value.Name(), tstring(), value);
    return false;
}

bool HelpFileTest::Test(const tstring& text, RegValue& value, CheckResult& result) {
    result.ErrorID = 0;
    if (value.Type() == RegValue::NotRead) value.Query();
    if (value.Type() != RegValue::String) return true;
    tstring folder = value.DataText();
    tstring path = folder;
    if (path.empty() || path.back() != L'\\') path += L'\\';
    path += value.Name();
    if (PathExistsForCheck(path, result)) return true;
    FillFinding(result, MakeErrorID(ProblemHelpFile, ReasonFileNotFound), value.Name(), folder + value.Name(),
                value);
    return false;
}

bool ReinstallStringTest::Test(const tstring& text, RegValue& value, CheckResult& result) {
    result.ErrorID = 0;
    RegValue reinstall(value.Key(), L"ReinstallString");
    if (!reinstall.Query()) return true;
    tstring shown;
    for (const tstring& reading : PathReadings(reinstall))
        if (PathExistsForCheck(shown = reading, result, true)) return true;
    FillFinding(result, MakeErrorID(ProblemReinstallString, ReasonFileNotFound), shown, shown, reinstall);
    return false;
}

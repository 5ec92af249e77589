#include "engine/scan/ShellCommandTest.h"
#include "common/system/CommandLine.h"
#include "common/records/CheckResultCode.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/KeyReads.h"
#include "engine/scan/PathChecks.h"

namespace {

const wchar_t kAppPaths[] = L"\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

tstring WithoutDoubledQuotes(tstring text) {
    text.Replace(L"\"\"", L"\"");
    return text;
}

}  // namespace

bool ShellCommandTest::CheckCommand(const tstring& text, RegValue& value, CheckResult& result) {
    // A value name that is neither empty nor "(Default)" makes the command
    // test judge the given text itself rather than the uninstall values.
    RegValue command(value.Key(), L"some_val");
    return commandTest_.Check(text, command, result);
}

bool ShellCommandTest::Test(const tstring& text, RegValue& value, CheckResult& result) {
    result.ErrorID = 0;
    // The shell hands such a verb to the COM object named there; the command
    // text is not what runs.
    if (ValueExists(value.Key(), L"DelegateExecute")) {
        result.Clear();
        return true;
    }
    if (CheckCommand(text, value, result) || RunsRegisteredApplication(text)) {
        result.ErrorID = 0;
        return true;
    }
    uint16_t problem = result.ErrorID != 0 || OnlyQuotesWrong(text, value) ? ProblemQuotedExtensionHandler
                                                                            : ProblemExtensionHandler;
    result.ErrorID = int32_t(MakeErrorID(problem, ReasonFileNotFound));
    result.Item = value.Key().Ancestor(2).Name();
    result.Reason = value.DataText();
    result.KeyPath = value.Key().FullPath();
    result.ValueName = value.Name();
    return false;
}

// The shell finds a program given by its bare name through the application
// paths of the machine and the user too, which no search path lists.
bool ShellCommandTest::RunsRegisteredApplication(const tstring& text) {
    CommandLine line;
    if (line.Parse(text.c_str(), CommandLineRules::ProgramRules()) < 1)
        return false;
    tstring program = line.Arg(0);
    if (program.empty() || program.find_first_of(L"\\/:") != tstring::npos)
        return false;
    if (program.find(L'.') == tstring::npos)
        program += L".exe";
    for (const wchar_t* root : {L"HKCU", L"HKLM"}) {
        tstring path;
        try {
            path = ValueTextOrEmpty(RegKey::OpenPath(root + tstring(kAppPaths) + program));
        } catch (const ErrorBase&) {
            continue;
        }
        CheckResult scratch;
        if (!path.empty() && PathExistsForCheck(path, scratch))
            return true;
    }
    return false;
}

// A command whose program exists but whose quotes are doubled is mended by
// writing the quotes once; removing the verb would lose a working association.
bool ShellCommandTest::OnlyQuotesWrong(const tstring& text, RegValue& value) {
    if (text.find(L"\"\"") == tstring::npos)
        return false;
    CheckResult mended;
    return CheckCommand(WithoutDoubledQuotes(text), value, mended);
}

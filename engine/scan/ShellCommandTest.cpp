#include "engine/scan/ShellCommandTest.h"
#include "engine/fix/CheckResultCode.h"
#include "engine/registry/RegValue.h"

namespace {

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
    if (CheckCommand(text, value, result))
        return true;
    uint16_t problem = result.ErrorID != 0 || OnlyQuotesWrong(text, value) ? ProblemQuotedExtensionHandler
                                                                            : ProblemExtensionHandler;
    result.ErrorID = int32_t(MakeErrorID(problem, ReasonFileNotFound));
    result.Item = value.Key().Ancestor(2).Name();
    result.Reason = value.DataText();
    result.KeyPath = value.Key().FullPath();
    result.ValueName = value.Name();
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

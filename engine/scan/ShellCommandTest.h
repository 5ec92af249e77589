#pragma once
#include "engine/scan/EntryTest.h"
#include "engine/scan/UninstallCommandTest.h"

// Judges the command of every shell verb of a file type
// (HKCR\<type>\shell\<verb>\command) with the command-line rules of the
// uninstall test: the program the command runs, and the module or file its
// form depends on, must exist. A program given by its bare name may also be
// one of the registered application paths, and a verb the shell hands to a
// COM object (DelegateExecute) is not judged by its command text. A command that is only wrong by its doubled
// quotes is told apart, so that its fix mends the quotes instead of removing
// the verb.
class ShellCommandTest : public EntryTest {
public:
    // value: a value of the command key; text: its data.
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;

private:
    bool CheckCommand(const tstring& text, RegValue& value, CheckResult& result);
    bool OnlyQuotesWrong(const tstring& text, RegValue& value);
    static bool RunsRegisteredApplication(const tstring& text);

    UninstallCommandTest commandTest_;
};

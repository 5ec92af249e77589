#pragma once
#include <vector>
#include "engine/scan/EntryTest.h"

class RegKey;

// Uninstall entries: the command that removes a program must still name
// what it runs. The command's program decides what is checked: rundll32 the
// module (and for INF setups the INF file), msiexec the installer package,
// the old InstallShield and Microsoft uninstallers their log files, regsvr32
// the module, any other program itself. Entries that cannot be removed
// ("NoRemove") or belong to the Windows Installer are sound. The finding:
// Item the key name, Reason what was not found (or the command), ValueName
// the command's value.
class UninstallCommandTest : public EntryTest {
public:
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;
    // The verdict alone; Reason tells what was not found.
    bool Check(const tstring& text, RegValue& value, CheckResult& result);

    // The installer package of a product, for the msiexec form; empty when
    // the installer does not know the product.
    static tstring ProductPackage(const tstring& product);

private:
    bool CheckCommand(const tstring& command, CheckResult& result);
    bool CheckRundll32(const std::vector<tstring>& tokens, const tstring& command, CheckResult& result);
    bool CheckMsiexec(const std::vector<tstring>& tokens, bool doubled, const tstring& command,
                      CheckResult& result);
    bool CheckIsUninst(const std::vector<tstring>& tokens, bool doubled, const tstring& command,
                       CheckResult& result);
    bool CheckMUninst(const std::vector<tstring>& tokens, CheckResult& result);
    bool CheckRegsvr32(const std::vector<tstring>& tokens, bool doubled, const tstring& command,
                       CheckResult& result);
    bool CheckOtherProgram(const std::vector<tstring>& tokens, bool doubled, const tstring& command,
                           CheckResult& result);

    tstring currentValueName_;
};

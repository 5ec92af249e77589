#include "engine/scan/UninstallCommandTest.h"
#include <shlwapi.h>
#include "common/errors/ErrorBase.h"
#include "common/system/CommandLine.h"
#include "common/records/CheckResultCode.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/PathChecks.h"
#include "engine/scan/PathReadings.h"

namespace {

using Tokens = std::vector<tstring>;

bool Equal(const tstring& a, const wchar_t* b) {
    return CompareStringOrdinal(a.c_str(), -1, b, -1, TRUE) == CSTR_EQUAL;
}

// A value's data; false when it is absent or cannot be read.
bool ReadValue(const RegKey& key, const wchar_t* name, tstring& data) {
    try {
        RegValue value(key, name);
        if (!value.Query()) return false;
        data = value.DataText();
        return true;
    } catch (const ErrorBase&) {
        return false;
    }
}

// The readings of a command value (PathReadings); false when it is absent
// or cannot be read.
bool ReadCommand(const RegKey& key, const wchar_t* name, std::vector<tstring>& readings) {
    try {
        RegValue value(key, name);
        if (!value.Query()) return false;
        readings = PathReadings(value);
        return true;
    } catch (const ErrorBase&) {
        return false;
    }
}

bool FlagSet(const RegKey& key, const wchar_t* name) {
    tstring data;
    return ReadValue(key, name, data) && data == L"0x00000001";
}

Tokens Split(const tstring& text) {
    CommandLine line;
    int count = line.Parse(text.c_str(), CommandLineRules::ProgramRules());
    Tokens tokens;
    for (int i = 0; i < count; ++i) tokens.push_back(line.Arg(i));
    return tokens;
}

tstring Joined(const Tokens& tokens, size_t first, size_t end) {
    tstring text;
    for (size_t i = first; i < end && i < tokens.size(); ++i) {
        if (i > first) text += L' ';
        text += tokens[i];
    }
    return text;
}

tstring SystemRoot() {
    tstring root;
    ExpandEnvironment(root, L"%SystemRoot%");
    return root;
}

tstring FileNameOf(const tstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == tstring::npos ? path : tstring(path.substr(slash + 1));
}

// "C:\Windows\System32\RunDll32.exe" -> "RUNDLL32".
tstring ProgramWord(const tstring& first) {
    if (first.find(L"%1") != tstring::npos) return L"%1";
    tstring word = UpperText(first.substr(first.rfind(L'\\') == tstring::npos ? 0 : first.rfind(L'\\') + 1));
    size_t exe = word.find(L".EXE");
    return exe == tstring::npos ? word : word.substr(0, exe);
}

// The doubled-quote commands that nothing else refuted are findings.
bool CommonEnd(bool doubled, const tstring& command, CheckResult& result) {
    if (!doubled) return true;
    result.Reason = command;
    return false;
}

bool SetupFileExists(const tstring& name) {
    CheckResult scratch;
    if (!PathIsRelativeW(name.c_str())) return PathExistsForCheck(name, scratch);
    return PathExistsForCheck(SystemRoot() + L"\\inf\\" + name, scratch) || FindProgramFile(name, scratch);
}

}  // namespace

tstring UninstallCommandTest::ProductPackage(const tstring& product) {
    using ProductInfo = UINT(WINAPI*)(LPCWSTR, LPCWSTR, LPWSTR, LPDWORD);
    static const ProductInfo productInfo = [] {
        HMODULE msi = LoadLibraryW(L"msi.dll");
        return msi ? reinterpret_cast<ProductInfo>(GetProcAddress(msi, "MsiGetProductInfoW")) : nullptr;
    }();
    tstring notJudged;
    ExpandEnvironment(notJudged, L"%systemroot%\\system32\\shell32.dll");
    if (!productInfo) return notJudged;
    wchar_t package[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    UINT status = productInfo(product.c_str(), L"LocalPackage", package, &size);
    if (status == ERROR_SUCCESS) return package;
    // Only a product the installer plainly does not know has no package;
    // any other answer (a product of another user, a damaged database)
    // leaves the entry unjudged.
    return status == ERROR_UNKNOWN_PRODUCT ? tstring() : notJudged;
}

bool UninstallCommandTest::Test(const tstring& text, RegValue& value, CheckResult& result) {
    result.ErrorID = 0;
    currentValueName_.clear();
    if (Check(text, value, result)) return true;
    result.ErrorID = int32_t(MakeErrorID(ProblemUninstallString, ReasonFileNotFound));
    result.KeyPath = value.Key().FullPath();
    result.ValueName = currentValueName_;
    result.Item = value.Key().Name();
    return false;
}

bool UninstallCommandTest::Check(const tstring& text, RegValue& value, CheckResult& result) {
    result.Reason.clear();
    const RegKey& key = value.Key();
    if (FlagSet(key, L"NoRemove")) {
        result.Reason = L"OK";
        return true;
    }
    if (!value.Name().empty() && !Equal(value.Name(), L"(Default)")) {
        currentValueName_ = value.Name();
        return CheckCommand(text, result);
    }
    if (FlagSet(key, L"WindowsInstaller")) return true;
    std::vector<tstring> readings;
    for (const wchar_t* name : {L"UninstallString", L"QuietUninstallString"}) {
        if (!ReadCommand(key, name, readings)) continue;
        currentValueName_ = name;
        for (const tstring& command : readings) {
            result.Reason.clear();
            if (CheckCommand(command, result)) return true;
        }
        return false;
    }
    result.Reason = L"OK";
    return true;
}

bool UninstallCommandTest::CheckCommand(const tstring& given, CheckResult& result) {
    tstring command = given;
    bool doubled = false;
    for (size_t at; (at = command.find(L"\"\"")) != tstring::npos;) {
        command.erase(at, 1);
        doubled = true;
    }
    Tokens tokens = Split(TrimBlanks(command));
    if (tokens.empty()) {
        result.Reason = command;
        return false;
    }
    tstring word = ProgramWord(tokens[0]);
    if (word == L"RUNDLL32") return CheckRundll32(tokens, command, result);
    if (word == L"MSIEXEC") return CheckMsiexec(tokens, doubled, command, result);
    if (word == L"ISUNINST") return CheckIsUninst(tokens, doubled, command, result);
    if (word == L"MUNINST") return CheckMUninst(tokens, result);
    if (word == L"REGSVR32") return CheckRegsvr32(tokens, doubled, command, result);
    if (word == L"%1") return CommonEnd(doubled, command, result);
    return CheckOtherProgram(tokens, doubled, command, result);
}

bool UninstallCommandTest::CheckRundll32(const Tokens& tokens, const tstring& command, CheckResult& result) {
    if (tokens.size() < 2) {
        result.Reason = command;
        return false;
    }
    size_t comma = tokens[1].find(L',');
    tstring module = tokens[1].substr(0, comma);
    tstring entry = comma == tstring::npos ? tstring() : TrimBlanks(tokens[1].substr(comma + 1));
    tstring moduleName = FileNameOf(module);
    tstring setup;
    if (Equal(moduleName, L"ADVPACK.DLL") && (Equal(entry, L"LaunchINFSection") || Equal(entry, L"LaunchINFSectionEx")) &&
        tokens.size() > 2) {
        setup = Joined(tokens, 2, tokens.size());
        setup = setup.substr(0, setup.find(L','));
    } else if (Equal(moduleName, L"SETUPAPI.DLL") && Equal(entry, L"InstallHinfSection") && tokens.size() > 4) {
        // An unquoted INF path with blanks spreads over the last tokens.
        setup = Joined(tokens, 4, tokens.size());
    }
    setup = TrimBlanks(setup);
    if (!setup.empty() && !SetupFileExists(setup)) {
        result.Reason = setup;
        return false;
    }
    CheckResult scratch;
    if (FindModuleFile(UpperText(module), scratch, true)) return true;
    // An unquoted module path with blanks: the tokens up to the one with the comma.
    if (comma == tstring::npos) {
        for (size_t last = 2; last < tokens.size(); ++last) {
            size_t at = tokens[last].find(L',');
            if (at == tstring::npos) continue;
            tstring joined = Joined(tokens, 1, last) + L" " + tokens[last].substr(0, at);
            if (FindModuleFile(UpperText(joined), scratch, true)) return true;
            break;
        }
    }
    if (result.Reason.empty()) result.Reason = module;
    return false;
}

bool UninstallCommandTest::CheckMsiexec(const Tokens& tokens, bool doubled, const tstring& command,
                                        CheckResult& result) {
    for (size_t i = 1; i < tokens.size(); ++i) {
        const tstring& argument = tokens[i];
        if (argument.size() <= 2) continue;
        wchar_t option = wchar_t(towupper(argument[1]));
        if (option != L'I' && option != L'X') continue;
        tstring product = argument.substr(2);
        tstring package = ProductPackage(product);
        if (package.empty()) {
            wchar_t windows[MAX_PATH + 1] = {};
            GetWindowsDirectoryW(windows, MAX_PATH + 1);
            package = tstring(windows) + L"\\Installer\\" + product;
        }
        CheckResult scratch;
        // The installer keeps a product's files in a folder of that name.
        if (PathExistsForCheck(package, scratch, true)) return true;
        result.Reason = package;
        return false;
    }
    return CommonEnd(doubled, command, result);
}

bool UninstallCommandTest::CheckIsUninst(const Tokens& tokens, bool doubled, const tstring& command,
                                         CheckResult& result) {
    // The log is the "-f" argument; other switches ("-c" names a helper
    // module) may come first.
    const tstring* chosen = nullptr;
    for (size_t i = 1; i < tokens.size(); ++i) {
        if (tokens[i].size() <= 2) continue;
        if (towupper(tokens[i][1]) == L'F') {
            chosen = &tokens[i];
            break;
        }
        if (!chosen) chosen = &tokens[i];
    }
    if (!chosen) return CommonEnd(doubled, command, result);
    tstring log = UpperText(*chosen);
    if (log[1] == L'F')
        log = log.substr(2);
    else if (log[0] == L'-' || log[0] == L'/')
        return CommonEnd(doubled, command, result);
    CheckResult scratch;
    if (PathExistsForCheck(log, scratch)) return true;
    result.Reason = log;
    return false;
}

bool UninstallCommandTest::CheckMUninst(const Tokens& tokens, CheckResult& result) {
    CheckResult scratch;
    if (tokens.size() >= 2) {
        size_t at = 1;
        while (at < tokens.size() && tokens[at].size() == 2 && tokens[at][0] == L'/') ++at;
        // Switches alone name no log file.
        if (at < tokens.size() && !PathExistsForCheck(tokens[at], scratch)) result.Reason = tokens[at];
    }
    if (FindProgramFile(tokens[0], scratch)) return result.Reason.empty();
    if (result.Reason.empty()) result.Reason = tokens[0];
    return false;
}

bool UninstallCommandTest::CheckRegsvr32(const Tokens& tokens, bool doubled, const tstring& command,
                                         CheckResult& result) {
    if (tokens.size() < 2) return CommonEnd(doubled, command, result);
    CheckResult scratch;
    if (FindModuleFile(tokens.back(), scratch, true)) return true;
    // An unquoted module path with blanks: the arguments after the switches.
    size_t first = 1;
    while (first < tokens.size() && !tokens[first].empty() && (tokens[first][0] == L'/' || tokens[first][0] == L'-'))
        ++first;
    if (first + 1 < tokens.size() && FindModuleFile(Joined(tokens, first, tokens.size()), scratch, true)) return true;
    result.Reason = tokens.back();
    return false;
}

bool UninstallCommandTest::CheckOtherProgram(const Tokens& tokens, bool doubled, const tstring& command,
                                             CheckResult& result) {
    CheckResult scratch;
    if (FindProgramFile(tokens[0], scratch) || FindProgramFile(command, scratch)) return true;
    for (size_t n = 1; n <= tokens.size(); ++n)
        if (FindProgramFile(Joined(tokens, 0, n), scratch)) return CommonEnd(doubled, command, result);
    result.Reason = command;
    return false;
}

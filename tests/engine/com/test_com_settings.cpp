// The stored settings as new clients of the registered engine meet them: a
// script host that asks for one property first or writes first, and ScanRun,
// which starts a scan before anything else.
#include "EngineTestSupport.h"
#include "ScriptHost.h"
#include "StartProcess.h"
#include <doctest/doctest.h>
#include <fstream>
#include <sstream>
#include <vector>
#include "common/settings/AppFolders.h"
#include "common/settings/Settings.h"

namespace {

using Dump = std::map<std::wstring, std::wstring>;

std::string FileBytes(const std::wstring& path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path.c_str(), std::ios::binary).rdbuf();
    return bytes.str();
}

std::wstring Wide(const std::string& bytes) { return std::wstring(bytes.begin(), bytes.end()); }

// A new cscript process runs `first`, then prints every property as "name=value".
Dump RunScript(const std::wstring& folder, const Dump& names, const std::wstring& first) {
    std::wostringstream text;
    text << L"var e = new ActiveXObject('OrvaneEngine.Crawler');\n"
            L"function get(n) { return n == 'PEBuilderDirectory' ? e.get_PEBuilderDirectory() :\n"
            L"  n == 'WindowsDirectory' ? e.get_WindowsDirectory() : e[n]; }\n"
         << first << L"\n";
    for (const auto& name : names) text << L"WScript.Echo('" << name.first << L"=' + get('" << name.first << L"'));\n";
    std::wofstream((folder + L"dump.js").c_str()) << text.str();
    std::wistringstream lines(Wide(RunCaptured(L"cscript.exe //nologo \"" + folder + L"dump.js\"")));
    Dump dump;
    for (std::wstring line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        size_t equals = line.find(L'=');
        if (equals != std::wstring::npos) dump[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return dump;
}

std::wstring ScanRunPath() {
    std::wstring path = Wide(ORVANE_SCANRUN_EXE);
    for (auto& c : path) c = c == L'/' ? L'\\' : c;
    return path[0] == L'\\' ? L"Z:" + path : path;
}

// Missing shared DLLs on a drive letter the prefix lacks (a rootless drive) and on a network share.
struct PlantedSharedDlls {
    std::wstring names[2] = {L"Q:\\orvane-stored-mask\\gone.dll", L"\\\\orvane-nohost\\share\\gone.dll"};
    explicit PlantedSharedDlls(bool plant = true) { Set(plant); }
    ~PlantedSharedDlls() { Set(false); }
    void Set(bool plant) const {
        HKEY key = nullptr;
        REQUIRE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls", 0,
                                nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) == 0);
        DWORD one = 1;
        for (const std::wstring& name : names)
            plant ? RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4)
                  : RegDeleteValueW(key, name.c_str());
        RegCloseKey(key);
    }
};

}  // namespace

TEST_CASE("engine through COM: stored settings hold whichever call comes first, in every new process") {
    RegisteredEngine engine;
    std::wstring path = GetSettingsFilePath(), data = GetAppFolder(true) + L"\\";
    std::string saved = FileBytes(path);
    bool existed = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"orvane-stored-settings\\";
    CreateDirectoryW(folder.c_str(), nullptr);

    // Every value differs from its default.
    Settings::Values stored;
    const std::wstring texts[] = {folder + L"undo\\", folder + L"backups\\", L"C:\\pebuilder\\", L"D:\\i386\\",
                                  L"admin@example.com", L"mx.example.com"};
    std::copy(std::begin(texts), std::end(texts), stored.texts);
    for (bool& flag : stored.flags) flag = !flag;
    stored.skipScanDrives = 1;
    Dump expected = {{L"SkipScanDrives", L"1"}, {L"UndoDirectory", texts[0]}, {L"BackupDirectory", texts[1]},
                     {L"PEBuilderDirectory", texts[2]}, {L"WindowsDirectory", texts[3]}, {L"ReportMail", texts[4]},
                     {L"ReportMailServer", texts[5]}, {L"ReportMailSwitch", L"1"}, {L"ScanResultsThreshold", L"0"},
                     {L"AutoFix", L"1"}, {L"AutoReboot", L"1"}, {L"AutoBackupSwitch", L"1"},
                     {L"BackupRetentionSwitch", L"0"}};
    Dump defaults = {{L"SkipScanDrives", L"5"}, {L"UndoDirectory", data + L"UndoData\\"},
                     {L"BackupDirectory", data + L"BackupData\\"}, {L"PEBuilderDirectory", L""},
                     {L"WindowsDirectory", L""}, {L"ReportMail", L""}, {L"ReportMailServer", L""},
                     {L"ReportMailSwitch", L"0"}, {L"ScanResultsThreshold", L"1"}, {L"AutoFix", L"0"},
                     {L"AutoReboot", L"0"}, {L"AutoBackupSwitch", L"0"}, {L"BackupRetentionSwitch", L"1"}};
    Dump putMask = expected, putMail = expected;
    putMask[L"SkipScanDrives"] = L"3";
    putMail[L"ReportMail"] = L"new@example.com";

    // What a new process does first; what it reads then; what the next new process reads (empty: none).
    struct Row {
        std::wstring first;
        Dump expect, expectNext;
    };
    std::vector<Row> rows = {{L"e.SkipScanDrives = 3;", putMask, putMask},
                             {L"e.ReportMail = 'new@example.com';", putMail, putMail},
                             {L"e.UseFile = 0; e.SkipScanDrives = 5; e.ReportMail = '';", defaults, expected}};
    for (const auto& name : expected)
        rows.push_back({L"WScript.Echo('first=' + get('" + name.first + L"'));", expected, {}});
    for (const Row& row : rows) {
        CAPTURE(row.first);
        Settings::WriteFile(path, stored);
        std::string written = FileBytes(path);
        Dump dump = RunScript(folder, expected, row.first);
        for (const auto& name : expected)
            if (row.first.find(L"get('" + name.first + L"')") != std::wstring::npos)
                CHECK(dump[L"first"] == name.second);
        dump.erase(L"first");
        CHECK(dump == row.expect);
        // With UseFile 0 the file is neither read nor written.
        if (row.expect == defaults) CHECK(FileBytes(path) == written);
        if (!row.expectNext.empty()) CHECK(RunScript(folder, expected, L"") == row.expectNext);
    }

    // A scan as the first call: the stored mask decides which drive class is passed over.
    PlantedSharedDlls planted;
    for (int32_t mask : {2, 4}) {
        CAPTURE(mask);
        stored.skipScanDrives = mask;
        Settings::WriteFile(path, stored);
        std::wstring output = Wide(RunCaptured(L"\"" + ScanRunPath() + L"\" --mask 4 --no-fix"));
        CHECK(output.find(L"Scan finished") != std::wstring::npos);
        CHECK((output.find(planted.names[0]) != std::wstring::npos) == (mask == 2));
        CHECK((output.find(planted.names[1]) != std::wstring::npos) == (mask == 4));
    }
    existed ? void(std::ofstream(path.c_str(), std::ios::binary) << saved) : void(DeleteFileW(path.c_str()));
    DeleteFileW((folder + L"dump.js").c_str());
    for (const wchar_t* name : {L"backups", L"undo", L""}) RemoveDirectoryW((folder + name).c_str());
}

// The registered module writes its own error lines where the program's go:
// the data folder's log. A script host holds the engine while this process
// holds settings.dat open without sharing, between its first read and its put.
TEST_CASE("engine through COM: a put that cannot be saved is said in the data folder's log") {
    RegisteredEngine engine;
    std::wstring path = GetSettingsFilePath(), log = GetAppFolder(true) + L"\\Orvane.log";
    std::string saved = FileBytes(path);
    bool existed = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    Settings::WriteFile(path, Settings::Values());
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = FormatText(L"%sorvane-held-settings-%u\\", temp, unsigned(GetCurrentProcessId()));
    CreateDirectoryW(folder.c_str(), nullptr);
    // The log keeps the lines of earlier runs in the prefix: only what this run adds counts.
    size_t earlier = FileBytes(log).size();
    std::string output;
    HANDLE held = INVALID_HANDLE_VALUE;
    {
        ScriptHost host(folder, L"WScript.Echo('AutoReboot=' + e.AutoReboot);", L"e.AutoReboot = 1;");
        CHECK_MESSAGE(host.WaitReady(), "the script host never read a value");
        held = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        host.Go();
        output = host.output;
    }
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    CHECK(output.find("AutoReboot=0") != std::string::npos);
    REQUIRE(held != INVALID_HANDLE_VALUE);

    std::string bytes = FileBytes(log);
    REQUIRE(bytes.size() >= earlier);
    bytes.erase(0, earlier);
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    CHECK(text.find(L"[error] The settings file " + path + L" cannot be saved (0x80070020)") != std::wstring::npos);

    existed ? void(std::ofstream(path.c_str(), std::ios::binary) << saved) : void(DeleteFileW(path.c_str()));
    RemoveDirectoryW(folder.c_str());
}

// The stored settings as fresh clients of the registered engine meet them: a
// script host that asks for one property first, a script that writes first,
// and ScanRun, which starts a scan before anything else.
#include "EngineTestSupport.h"
#include "StartProcess.h"
#include <doctest/doctest.h>
#include <fstream>
#include <sstream>
#include <vector>
#include "common/settings/AppFolders.h"
#include "common/settings/Settings.h"

namespace {

const wchar_t* const kNames[] = {L"SkipScanDrives",  L"BackupDirectory",       L"UndoDirectory",
                                 L"ReportMail",      L"ReportMailSwitch",      L"ReportMailServer",
                                 L"AutoFix",         L"AutoReboot",            L"ScanResultsThreshold",
                                 L"AutoBackupSwitch", L"BackupRetentionSwitch", L"PEBuilderDirectory",
                                 L"WindowsDirectory"};
using Dump = std::map<std::wstring, std::wstring>;

std::wstring Narrowed(const std::string& bytes) { return std::wstring(bytes.begin(), bytes.end()); }

std::string FileBytes(const std::wstring& path) {
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Keeps the prefix's settings file and puts it back afterwards.
struct StoredSettings {
    std::wstring path = GetSettingsFilePath();
    std::string saved = FileBytes(path);
    bool existed = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    ~StoredSettings() {
        if (existed)
            std::ofstream(path.c_str(), std::ios::binary) << saved;
        else
            DeleteFileW(path.c_str());
    }
    void Write(const Settings::Values& values) const { Settings::WriteFile(path, values); }
};

// Runs a script in a new cscript process: `first` before reading every
// property; "name=value" lines back, "first" being what the first read gave.
Dump RunScript(const std::wstring& folder, const std::wstring& first) {
    std::wstring script = folder + L"dump.js";
    std::wostringstream text;
    text << L"var e = new ActiveXObject('OrvaneEngine.Crawler');\n"
            L"function get(n) { return n == 'PEBuilderDirectory' ? e.get_PEBuilderDirectory() :\n"
            L"  n == 'WindowsDirectory' ? e.get_WindowsDirectory() : e[n]; }\n"
         << first << L"\n";
    for (const wchar_t* name : kNames) text << L"WScript.Echo('" << name << L"=' + get('" << name << L"'));\n";
    std::wofstream(script.c_str()) << text.str();
    std::wistringstream lines(Narrowed(RunCaptured(L"cscript.exe //nologo \"" + script + L"\"")));
    Dump dump;
    for (std::wstring line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        size_t equals = line.find(L'=');
        if (equals != std::wstring::npos) dump[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return dump;
}

std::wstring ScanRunPath() {
    std::string unixPath = ORVANE_SCANRUN_EXE;
    std::wstring path(unixPath.begin(), unixPath.end());
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    return path[0] == L'\\' ? L"Z:" + path : path;
}

// Shared DLL entries on a drive letter that the prefix lacks (a rootless
// drive) and on a network share, both missing.
struct PlantedSharedDlls {
    const wchar_t* key = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
    std::wstring rootless = L"Q:\\orvane-stored-mask\\gone.dll";
    std::wstring network = L"\\\\orvane-nohost\\share\\gone.dll";
    PlantedSharedDlls() { Set(true); }
    ~PlantedSharedDlls() { Set(false); }
    void Set(bool plant) const {
        HKEY handle = nullptr;
        REQUIRE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr) ==
                0);
        DWORD one = 1;
        for (const std::wstring& name : {rootless, network})
            plant ? RegSetValueExW(handle, name.c_str(), 0, REG_DWORD, reinterpret_cast<BYTE*>(&one), 4)
                  : RegDeleteValueW(handle, name.c_str());
        RegCloseKey(handle);
    }
};

}  // namespace

TEST_CASE("engine through COM: stored settings hold whichever call comes first, in every new process") {
    RegisteredEngine engine;
    StoredSettings file;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"orvane-stored-settings\\";
    CreateDirectoryW(folder.c_str(), nullptr);

    Settings::Values stored;
    stored.skipScanDrives = 1;
    stored.texts[Settings::BackupText] = folder + L"backups\\";
    stored.texts[Settings::UndoText] = folder + L"undo\\";
    stored.texts[Settings::MailText] = L"admin@example.com";
    stored.texts[Settings::MailServerText] = L"mx.example.com";
    stored.texts[Settings::PEBuilderText] = L"C:\\pebuilder\\";
    stored.texts[Settings::WindowsText] = L"D:\\i386\\";
    for (bool& flag : stored.flags) flag = !flag;
    Dump expected = {{L"SkipScanDrives", L"1"}, {L"BackupDirectory", folder + L"backups\\"},
                     {L"UndoDirectory", folder + L"undo\\"}, {L"ReportMail", L"admin@example.com"},
                     {L"ReportMailSwitch", L"1"}, {L"ReportMailServer", L"mx.example.com"}, {L"AutoFix", L"1"},
                     {L"AutoReboot", L"1"}, {L"ScanResultsThreshold", L"0"}, {L"AutoBackupSwitch", L"1"},
                     {L"BackupRetentionSwitch", L"0"}, {L"PEBuilderDirectory", L"C:\\pebuilder\\"},
                     {L"WindowsDirectory", L"D:\\i386\\"}};
    std::wstring data = GetAppFolder(true) + L"\\";
    Dump defaults = {{L"SkipScanDrives", L"5"}, {L"BackupDirectory", data + L"BackupData\\"},
                     {L"UndoDirectory", data + L"UndoData\\"}, {L"ReportMail", L""}, {L"ReportMailSwitch", L"0"},
                     {L"ReportMailServer", L""}, {L"AutoFix", L"0"}, {L"AutoReboot", L"0"},
                     {L"ScanResultsThreshold", L"1"}, {L"AutoBackupSwitch", L"0"}, {L"BackupRetentionSwitch", L"1"},
                     {L"PEBuilderDirectory", L""}, {L"WindowsDirectory", L""}};

    struct Row {
        std::wstring first;        // what the new process does before reading everything
        Dump expect;               // what that process then reads
        Dump expectNext;           // what a second new process reads (empty: no second process)
        bool fileKept;             // the file's bytes are as they were written
    };
    std::vector<Row> rows;
    for (const wchar_t* name : kNames)
        rows.push_back({L"WScript.Echo('first=' + get('" + std::wstring(name) + L"'));", expected, {}, false});
    Dump putMask = expected, putMail = expected;
    putMask[L"SkipScanDrives"] = L"3";
    putMail[L"ReportMail"] = L"new@example.com";
    rows.push_back({L"e.SkipScanDrives = 3;", putMask, putMask, false});
    rows.push_back({L"e.ReportMail = 'new@example.com';", putMail, putMail, false});
    rows.push_back({L"e.UseFile = 0; e.SkipScanDrives = 5; e.ReportMail = '';", defaults, expected, true});

    for (const Row& row : rows) {
        CAPTURE(row.first);
        file.Write(stored);
        std::string written = FileBytes(file.path);
        Dump dump = RunScript(folder, row.first);
        if (dump.count(L"first")) {
            std::wstring name = row.first.substr(row.first.find(L"get('") + 5);
            CHECK(dump[L"first"] == expected[name.substr(0, name.find(L'\''))]);
            dump.erase(L"first");
        }
        CHECK(dump == row.expect);
        if (!row.expectNext.empty()) CHECK(RunScript(folder, L"get('SkipScanDrives');") == row.expectNext);
        if (row.fileKept) CHECK(FileBytes(file.path) == written);
    }

    // A scan as the first call: the stored mask decides which drive class is passed over.
    PlantedSharedDlls planted;
    for (int32_t mask : {2, 4}) {
        CAPTURE(mask);
        stored.skipScanDrives = mask;
        file.Write(stored);
        std::wstring output = Narrowed(RunCaptured(L"\"" + ScanRunPath() + L"\" --mask 4 --no-fix"));
        CHECK(output.find(L"Scan finished") != std::wstring::npos);
        CHECK((output.find(planted.rootless) != std::wstring::npos) == (mask == 2));
        CHECK((output.find(planted.network) != std::wstring::npos) == (mask == 4));
    }
    RemoveDirectoryW((folder + L"backups").c_str());
    RemoveDirectoryW((folder + L"undo").c_str());
    DeleteFileW((folder + L"dump.js").c_str());
    RemoveDirectoryW(folder.c_str());
}

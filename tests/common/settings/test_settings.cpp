#include <doctest/doctest.h>
#include "common/log/Log.h"
#include "common/settings/AppFolders.h"
#include "common/settings/Settings.h"
#include "HeldFile.h"
#include "SettingsTestFiles.h"
#include "StartProcess.h"
#include "TestLimits.h"
#include <atomic>
#include <memory>

namespace {

// A complete file of the current format.
SettingsBytes FullFile() {
    SettingsBytes b;
    b.Int(2).Text(L"C:\\undo\\").Text(L"C:\\backup\\");
    b.Text(L"admin@example.com").Byte(1).Text(L"mx.example.com").Byte(1).Byte(0);
    b.Byte(0).Byte(1).Byte(0);
    b.Text(L"C:\\pebuilder\\").Text(L"C:\\winsrc\\");
    return b;
}

void CheckGroup2Defaults(const Settings& s) {
    CHECK(s.GetReportMail().empty());
    CHECK_FALSE(s.GetReportMailSwitch());
    CHECK(s.GetReportMailServer().empty());
    CHECK_FALSE(s.GetAutoFix());
    CHECK_FALSE(s.GetAutoReboot());
}

void CheckGroup3Defaults(const Settings& s) {
    CHECK(s.GetScanResultsThreshold());
    CHECK_FALSE(s.GetAutoBackupSwitch());
    CHECK(s.GetBackupRetentionSwitch());
}

const int32_t kNotFound = int32_t(0x80070002);

}  // namespace

TEST_CASE("A missing settings file gives the defaults and is written at save") {
    TempFolder folder(_T("settings"));
    tstring path = folder.File(_T("settings.dat"));
    {
        Settings s(true, path);
        CHECK(s.Loaded());
        CHECK(Settings::GetSkipScanDrives() == 6);
        CheckGroup2Defaults(s);
        CheckGroup3Defaults(s);
        CHECK(s.GetUndoDirectory().empty());
        CHECK(s.GetPEBuilderDirectory().empty());
        CHECK(s.Load() == kNotFound);
        CHECK_FALSE(FileExists(path));
    }
    SettingsBytes expected;
    expected.Int(6).Text(L"").Text(L"").Text(L"").Byte(0).Text(L"").Byte(0).Byte(0).Byte(1).Byte(0).Byte(1);
    expected.Text(L"").Text(L"");
    CHECK(ReadAll(path) == expected.Get());
}

TEST_CASE("Every field is read from its place in the file and written back in the same order") {
    TempFolder folder(_T("settings"));
    tstring path = folder.File(_T("settings.dat"));
    WriteAll(path, FullFile().Get());
    {
        Settings s(true, path);
        CHECK(Settings::GetSkipScanDrives() == 2);
        CHECK(s.GetUndoDirectory() == _T("C:\\undo\\"));
        CHECK(s.GetBackupDirectory() == _T("C:\\backup\\"));
        CHECK(s.GetReportMail() == _T("admin@example.com"));
        CHECK(s.GetReportMailSwitch());
        CHECK(s.GetReportMailServer() == _T("mx.example.com"));
        CHECK(s.GetAutoFix());
        CHECK_FALSE(s.GetAutoReboot());
        CHECK_FALSE(s.GetScanResultsThreshold());
        CHECK(s.GetAutoBackupSwitch());
        CHECK_FALSE(s.GetBackupRetentionSwitch());
        CHECK(s.GetPEBuilderDirectory() == _T("C:\\pebuilder\\"));
        CHECK(s.GetWindowsDirectory() == _T("C:\\winsrc\\"));
    }
    CHECK(ReadAll(path) == FullFile().Get());

    // A flag byte other than 0 reads as set.
    std::string bytes = FullFile().Get();
    size_t autoReboot = 4 + (4 + 16) + (4 + 20) + (4 + 34) + 1 + (4 + 28) + 1;
    bytes[autoReboot] = 7;
    WriteAll(path, bytes);
    Settings s(true, path);
    CHECK(s.GetAutoReboot());
}

TEST_CASE("Files that end early take each missing group's defaults") {
    TempFolder folder(_T("settings"));
    tstring path = folder.File(_T("settings.dat"));

    SUBCASE("only the first group: 12 bytes") {
        WriteAll(path, SettingsBytes().Int(4).Text(L"").Text(L"").Get());
        Settings s(true, path);
        CHECK(Settings::GetSkipScanDrives() == 4);
        CheckGroup2Defaults(s);
        CheckGroup3Defaults(s);
        CHECK(s.GetPEBuilderDirectory().empty());
    }
    SUBCASE("ends after the mail group") {
        SettingsBytes b;
        b.Int(2).Text(L"").Text(L"").Text(L"a@b.example").Byte(1).Text(L"mx").Byte(1).Byte(1);
        WriteAll(path, b.Get());
        Settings s(true, path);
        CHECK(s.GetReportMail() == _T("a@b.example"));
        CHECK(s.GetReportMailSwitch());
        CHECK(s.GetReportMailServer() == _T("mx"));
        CHECK(s.GetAutoFix());
        CHECK(s.GetAutoReboot());
        CheckGroup3Defaults(s);
    }
    SUBCASE("the mail group cut in the middle loses the whole group") {
        WriteAll(path, SettingsBytes().Int(2).Text(L"").Text(L"").Text(L"a@b.example").Byte(1).Get());
        Settings s(true, path);
        CheckGroup2Defaults(s);
        CheckGroup3Defaults(s);
    }
    SUBCASE("ends after the flags, before the boot-disk folders") {
        std::string bytes = FullFile().Get();
        bytes.resize(bytes.size() - (4 + 26) - (4 + 20));
        WriteAll(path, bytes);
        Settings s(true, path);
        CHECK(s.GetReportMail() == _T("admin@example.com"));
        CHECK_FALSE(s.GetBackupRetentionSwitch());
        CHECK(s.GetPEBuilderDirectory().empty());
        CHECK(s.GetWindowsDirectory().empty());
    }
    SUBCASE("a string whose body is short reads as empty") {
        std::string bytes = FullFile().Get();
        bytes.resize(bytes.size() - 4);
        WriteAll(path, bytes);
        Settings s(true, path);
        CHECK(s.GetPEBuilderDirectory() == _T("C:\\pebuilder\\"));
        CHECK(s.GetWindowsDirectory().empty());
    }
    // Saving rewrites the file whole, in the current format.
    std::string saved = ReadAll(path);
    CHECK(saved.size() >= 34);
}

TEST_CASE("A settings file in use is left as it is; a damaged one is kept aside and replaced") {
    TempFolder folder(_T("settings"));
    tstring path = folder.File(_T("settings.dat"));
    Log::Instance().SetFileName(folder.File(_T("orvane.log")));
    tstring logged;  // what the sub-case leaves in the log

    SUBCASE("damaged: too short for the first group") {
        std::string damaged = SettingsBytes().Int(2).Raw("\x10\x00\x00").Get();
        WriteAll(path, damaged);
        {
            Settings s(true, path);
            CHECK(Settings::GetSkipScanDrives() == 6);
            CheckGroup3Defaults(s);
            s.SetReportMail(_T("user@example.com"));
        }
        CHECK(ReadAll(path + _T(".damaged")) == damaged);
        Settings::Values v;
        CHECK(Settings::ReadFile(path, v) == 0);
        CHECK(v.texts[Settings::MailText] == _T("user@example.com"));
        logged = _T("; kept as ") + path + _T(".damaged, a new one written");
    }
    SUBCASE("in use by another program") {
        WriteAll(path, FullFile().Get());
        HANDLE exclusive = CreateFile(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        REQUIRE(exclusive != INVALID_HANDLE_VALUE);
        {
            Settings s(true, path);
            CHECK(s.GetReportMail().empty());
            CHECK(s.Load() == int32_t(0x80070020));
        }
        CloseHandle(exclusive);
        CHECK(ReadAll(path) == FullFile().Get());
        logged = _T("The settings file ") + path + _T(" cannot be opened (0x80070020); it is left as it is");
    }
    // Each is logged, naming its file (the log is UTF-16).
    std::string bytes = ReadAll(folder.File(_T("orvane.log")));
    std::wstring log(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    CHECK_MESSAGE(log.find(logged.c_str()) != std::wstring::npos, std::string(log.begin(), log.end()));
    Log::Instance().SetFileName(tstring());
}

TEST_CASE("A first read that meets the file held gives the defaults for now, the stored values once it is free") {
    TempFolder folder(_T("settings"));
    tstring path = folder.File(_T("settings.dat"));
    Log::Instance().SetFileName(folder.File(_T("orvane.log")));
    WriteAll(path, FullFile().Get());
    HANDLE held = CreateFile(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(held != INVALID_HANDLE_VALUE);
    Settings s(true, path);
    CHECK(s.GetReportMail().empty());
    CHECK_FALSE(s.GetAutoFix());
    CHECK(Settings::GetSkipScanDrives() == 6);
    // Set while the file is held: it stays over what the file holds.
    s.SetReportMailServer(_T("mine.example.com"));
    CloseHandle(held);
    // The mask's getter goes first, so that it must read the file itself.
    CHECK(Settings::GetSkipScanDrives() == 2);
    CHECK(s.GetReportMail() == _T("admin@example.com"));
    CHECK(s.GetAutoFix());
    CHECK(s.GetUndoDirectory() == _T("C:\\undo\\"));
    CHECK(s.GetReportMailServer() == _T("mine.example.com"));
    CHECK(s.Save() == 0);
    Settings::Values v;
    CHECK(Settings::ReadFile(path, v) == 0);
    CHECK(v.skipScanDrives == 2);
    CHECK(v.texts[Settings::MailText] == _T("admin@example.com"));
    CHECK(v.flags[Settings::AutoFixFlag]);
    CHECK(v.texts[Settings::MailServerText] == _T("mine.example.com"));
    std::string bytes = ReadAll(folder.File(_T("orvane.log")));
    std::wstring log(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    CHECK(log.find(L"(0x80070020); it is left as it is and read again when next used") != std::wstring::npos);
    Log::Instance().SetFileName(tstring());
}

namespace {

// The program and the engine each change some values of one file, then save.
void MergeBothWays(bool engineFirst) {
    TempFolder folder(_T("settings"));
    tstring path = folder.File(_T("settings.dat"));
    WriteAll(path, FullFile().Get());

    Settings program(true, path);
    Settings engine(true, path);
    program.SetReportMail(_T("program@example.com"));
    program.SetAutoReboot(true);
    engine.SetAutoFix(false);
    engine.SetUndoFolder(_T("D:\\undo"));
    Settings::SetSkipScanDrives(4);
    if (engineFirst) {
        CHECK(engine.Save() == 0);
        CHECK(program.Save() == 0);
    } else {
        CHECK(program.Save() == 0);
        CHECK(engine.Save() == 0);
    }

    Settings::Values v;
    CHECK(Settings::ReadFile(path, v) == 0);
    CHECK(v.skipScanDrives == 4);
    CHECK(v.texts[Settings::MailText] == _T("program@example.com"));
    CHECK(v.flags[Settings::AutoRebootFlag]);
    CHECK_FALSE(v.flags[Settings::AutoFixFlag]);
    CHECK(v.texts[Settings::UndoText] == _T("D:\\undo\\"));
    // Values neither object changed keep the file's.
    CHECK(v.texts[Settings::BackupText] == _T("C:\\backup\\"));
    CHECK(v.texts[Settings::MailServerText] == _T("mx.example.com"));
    CHECK(v.texts[Settings::WindowsText] == _T("C:\\winsrc\\"));
    CHECK(v.flags[Settings::AutoBackupFlag]);
    // The object that saved last holds what the file holds.
    Settings& last = engineFirst ? program : engine;
    CHECK(last.GetUndoDirectory() == _T("D:\\undo\\"));
    CHECK_FALSE(last.GetAutoFix());
    CHECK(last.GetReportMail() == _T("program@example.com"));

    // A change already saved is not written again over a later change by the other.
    Settings later(true, path);
    later.SetReportMail(_T("later@example.com"));
    CHECK(later.Save() == 0);
    CHECK(program.Save() == 0);
    CHECK(engine.Save() == 0);
    CHECK(Settings::ReadFile(path, v) == 0);
    CHECK(v.texts[Settings::MailText] == _T("later@example.com"));
    CHECK(v.texts[Settings::UndoText] == _T("D:\\undo\\"));
}

}  // namespace

TEST_CASE("Saving merges this object's changes into the file as the other program left it") {
    SUBCASE("the engine saves first") {
        MergeBothWays(true);
    }
    SUBCASE("the program saves first") {
        MergeBothWays(false);
    }
}

TEST_CASE("A value set to what the object's stale copy holds is still stored: the last set wins") {
    TempFolder folder(_T("settings"));
    tstring path = folder.File(_T("settings.dat"));
    WriteAll(path, FullFile().Get());
    Settings(true, path).SetAutoFix(false);  // saved at its end
    Settings a(true, path);
    Settings b(true, path);
    b.SetReportMail(_T("b@example.com"));
    b.SetAutoFix(true);
    CHECK(b.Save() == 0);
    a.SetReportMail(_T("admin@example.com"));
    a.SetAutoFix(false);
    CHECK(a.Save() == 0);
    Settings::Values v;
    CHECK(Settings::ReadFile(path, v) == 0);
    CHECK(v.texts[Settings::MailText] == _T("admin@example.com"));
    CHECK_FALSE(v.flags[Settings::AutoFixFlag]);
}

TEST_CASE("Reading again takes the other object's saved values under this one's unsaved ones, writing nothing") {
    TempFolder folder(_T("settings"));
    tstring path = folder.File(_T("settings.dat"));
    WriteAll(path, FullFile().Get());
    Settings a(true, path);
    Settings b(true, path);
    b.SetReportMail(_T("b@example.com"));
    b.SetReportMailServer(_T("b.example.com"));
    CHECK(b.Save() == 0);
    std::string saved = ReadAll(path);
    WIN32_FILE_ATTRIBUTE_DATA before = {}, after = {};
    GetFileAttributesEx(path.c_str(), GetFileExInfoStandard, &before);
    a.SetReportMailServer(_T("a.example.com"));
    CHECK(a.Reload() == 0);
    CHECK(a.GetReportMail() == _T("b@example.com"));
    CHECK(a.GetReportMailServer() == _T("a.example.com"));
    GetFileAttributesEx(path.c_str(), GetFileExInfoStandard, &after);
    CHECK(ReadAll(path) == saved);
    CHECK(CompareFileTime(&before.ftLastWriteTime, &after.ftLastWriteTime) == 0);
    // A missing file leaves the values; the unsaved change is still saved.
    DeleteFile(path.c_str());
    CHECK(a.Reload() == 0);
    CHECK(a.GetReportMail() == _T("b@example.com"));
    CHECK(a.GetAutoFix());
    CHECK_FALSE(FileExists(path));
    WriteAll(path, saved);
    CHECK(a.Save() == 0);
    Settings::Values v;
    CHECK(Settings::ReadFile(path, v) == 0);
    CHECK(v.texts[Settings::MailServerText] == _T("a.example.com"));
}

TEST_CASE("Folder setters end the folder with a separator") {
    Settings s(false);
    s.SetUndoFolder(_T("C:\\x"));
    CHECK(s.GetUndoDirectory() == _T("C:\\x\\"));
    s.SetUndoFolder(_T("C:\\x/"));
    CHECK(s.GetUndoDirectory() == _T("C:\\x/"));
    s.SetBackupFolder(_T("C:\\b\\"));
    CHECK(s.GetBackupDirectory() == _T("C:\\b\\"));
    s.SetPEBuilderDirectory(_T("C:\\pe"));
    CHECK(s.GetPEBuilderDirectory() == _T("C:\\pe\\"));
    s.SetWindowsDirectory(_T("D:\\i386"));
    CHECK(s.GetWindowsDirectory() == _T("D:\\i386\\"));
    s.SetWindowsDirectory(_T(""));
    CHECK(s.GetWindowsDirectory().empty());
    s.SetReportMail(_T("plain"));
    CHECK(s.GetReportMail() == _T("plain"));
}

TEST_CASE("The undo and backup folders") {
    TempFolder folder(_T("settings"));
    tstring path = folder.File(_T("settings.dat"));

    SUBCASE("an empty folder becomes the data folder's default, which is created and saved") {
        {
            Settings s(true, path);
            tstring undo = s.UndoFolder();
            CHECK(undo == GetAppFolder(true) + _T("\\UndoData\\"));
            CHECK(FileExists(undo));
            CHECK(s.GetUndoDirectory() == undo);
            tstring backup = s.BackupFolder();
            CHECK(backup == GetAppFolder(true) + _T("\\BackupData\\"));
            CHECK(FileExists(backup));
        }
        Settings::Values v;
        CHECK(Settings::ReadFile(path, v) == 0);
        CHECK(v.texts[Settings::UndoText] == GetAppFolder(true) + _T("\\UndoData\\"));
    }
    SUBCASE("a default filled in does not replace a folder the other program chose") {
        Settings s(true, path);
        s.UndoFolder();
        Settings other(true, path);
        other.SetUndoFolder(folder.Path());
        CHECK(other.Save() == 0);
        CHECK(s.Save() == 0);
        CHECK(s.GetUndoDirectory() == folder.Path() + _T("\\"));
    }
    SUBCASE("a configured folder is created when missing") {
        Settings s(false, path);
        s.SetBackupFolder(folder.File(_T("backups")));
        CHECK(s.BackupFolder() == folder.File(_T("backups\\")));
        CHECK(FileExists(folder.File(_T("backups"))));
    }
    SUBCASE("a configured folder on a drive that is not there is kept") {
        DWORD drives = GetLogicalDrives();
        TCHAR letter = 0;
        for (TCHAR c = _T('Q'); c <= _T('Y') && !letter; ++c)
            if (!(drives & (1u << (c - _T('A')))))
                letter = c;
        REQUIRE(letter);
        tstring missing = FormatText(_T("%c:\\Undo\\"), letter);
        Settings s(false, path);
        s.SetUndoFolder(missing);
        CHECK(s.UndoFolder() == missing);
        CHECK(s.GetUndoDirectory() == missing);
    }
}

TEST_CASE("The skip-drives mask is shared by every object and 0 reads as 6") {
    TempFolder folder(_T("settings"));
    tstring path = folder.File(_T("settings.dat"));
    WriteAll(path, SettingsBytes().Int(0).Text(L"").Text(L"").Get());
    Settings loaded(true, path);
    CHECK(Settings::GetSkipScanDrives() == 6);
    Settings::SetSkipScanDrives(2);
    Settings defaults(false);
    CHECK(Settings::GetSkipScanDrives() == 2);
    CHECK(defaults.GetScanResultsThreshold());
    CHECK(defaults.GetBackupRetentionSwitch());
    CHECK_FALSE(defaults.GetAutoBackupSwitch());
    CHECK(loaded.Save() == 0);
    Settings::Values v;
    Settings::ReadFile(path, v);
    CHECK(v.skipScanDrives == 2);
}

TEST_CASE("Without the settings file an object neither reads nor writes it") {
    TempFolder folder(_T("settings"));
    tstring path = folder.File(_T("settings.dat"));
    WriteAll(path, FullFile().Get());
    Settings::SetUseSettingsFile(false);
    {
        Settings s(true, path);
        CHECK_FALSE(s.Loaded());
        CHECK(s.GetReportMail().empty());
        s.SetReportMail(_T("x@example.com"));
    }
    Settings::SetUseSettingsFile(true);
    CHECK(ReadAll(path) == FullFile().Get());
}

TEST_CASE("Threads may read and write the texts of one object at once") {
    Settings s(false);
    const tstring first(200, _T('a'));
    const tstring second(300, _T('b'));
    struct Shared {
        Settings* settings;
        const tstring* values[2];
        LONG torn;
    } shared = {&s, {&first, &second}, 0};
    auto worker = [](LPVOID p) -> DWORD {
        Shared* sh = static_cast<Shared*>(p);
        for (int i = 0; i < 20000; ++i) {
            sh->settings->SetReportMailServer(*sh->values[i & 1]);
            tstring read = sh->settings->GetReportMailServer();
            if (read != *sh->values[0] && read != *sh->values[1])
                InterlockedIncrement(&sh->torn);
        }
        return 0;
    };
    HANDLE threads[4];
    for (HANDLE& t : threads)
        t = CreateThread(nullptr, 0, worker, &shared, 0, nullptr);
    CHECK(WaitForMultipleObjects(4, threads, TRUE, 120000) == WAIT_OBJECT_0);
    for (HANDLE t : threads)
        CloseHandle(t);
    CHECK(shared.torn == 0);
}

TEST_CASE("The defaults object holds the defaults and is never loaded") {
    Settings& defaults = GetDefaultSettings();
    CHECK(&defaults == &GetDefaultSettings());
    CHECK_FALSE(defaults.Loaded());
    CheckGroup2Defaults(defaults);
    CheckGroup3Defaults(defaults);
    CHECK(Settings::GetSkipScanDrives() != 0);
}

// Eight threads of a new process ask at once, as a scan's groups do; one changes the mask.
TEST_CASE("settings: first calls child" * doctest::skip()) {
    static HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    static std::atomic<int> wrong{0};
    HANDLE threads[8];
    for (INT_PTR i = 0; i < 8; ++i)
        threads[i] = CreateThread(nullptr, 0, [](void* put) -> DWORD {
            WaitForSingleObject(go, 10000);
            int32_t mask = put ? (Settings::SetSkipScanDrives(15), 15) : Settings::GetSkipScanDrives();
            wrong += mask != 7 && mask != 15;
            return 0;
        }, reinterpret_cast<void*>(i == 7), 0, nullptr);
    SetEvent(go);
    REQUIRE(WaitForMultipleObjects(8, threads, TRUE, 30000) == WAIT_OBJECT_0);
    CHECK(wrong == 0);
    CHECK(Settings::GetSkipScanDrives() == 15);
}

TEST_CASE("The first settings calls of a process, from many threads at once, see the file and keep their change") {
    tstring path = GetSettingsFilePath();
    std::string kept = ReadAll(path, "none");
    // 7 and 15 skip what the default skips: other tests' scans meanwhile stay as they are.
    WriteAll(path, SettingsBytes().Int(7).Text(L"").Text(L"").Get());
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    DWORD code = 1;
    std::string output =
        RunCaptured(FormatText(L"\"%s\" --no-skip=true \"--test-case=*first calls child\"", self), &code);
    INFO(output);
    CHECK(code == 0);
    Settings::Values v;
    CHECK((Settings::ReadFile(path, v) == 0 && v.skipScanDrives == 15));
    kept == "none" ? void(DeleteFile(path.c_str())) : WriteAll(path, kept);
}

// Holds the save lock named in the environment until told to let go, as the
// other program does while it saves the file.
TEST_CASE("settings: save lock holder child" * doctest::skip()) {
    wchar_t name[MAX_PATH] = L"", held[MAX_PATH] = L"", release[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"ORVANE_TEST_SAVE_LOCK", name, MAX_PATH);
    GetEnvironmentVariableW(L"ORVANE_TEST_LOCK_HELD", held, MAX_PATH);
    GetEnvironmentVariableW(L"ORVANE_TEST_LOCK_RELEASE", release, MAX_PATH);
    HANDLE lock = CreateMutexW(nullptr, FALSE, name);
    HANDLE heldEvent = OpenEventW(EVENT_MODIFY_STATE, FALSE, held);
    HANDLE releaseEvent = OpenEventW(SYNCHRONIZE, FALSE, release);
    REQUIRE((lock && heldEvent && releaseEvent));
    REQUIRE(WaitForSingleObject(lock, testlimit::kStep) == WAIT_OBJECT_0);
    SetEvent(heldEvent);
    CHECK(testlimit::Wait(releaseEvent, testlimit::kStep, "the parent to let the save lock go"));
    ReleaseMutex(lock);
}

namespace {

// Another process that holds the save lock of a settings file for its life.
class OtherProcessLock {
public:
    explicit OtherProcessLock(const tstring& path) {
        tstring tag = FormatText(L"%u-%p", unsigned(GetCurrentProcessId()), static_cast<void*>(this));
        tstring heldName = L"OrvaneTestLockHeld-" + tag, releaseName = L"OrvaneTestLockRelease-" + tag;
        held_ = CreateEventW(nullptr, TRUE, FALSE, heldName.c_str());
        release_ = CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str());
        SetEnvironmentVariableW(L"ORVANE_TEST_SAVE_LOCK", Settings::SaveLockName(path).c_str());
        SetEnvironmentVariableW(L"ORVANE_TEST_LOCK_HELD", heldName.c_str());
        SetEnvironmentVariableW(L"ORVANE_TEST_LOCK_RELEASE", releaseName.c_str());
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring line = FormatText(L"\"%s\" --no-skip=true \"--test-case=*save lock holder child\"", self);
        STARTUPINFOW startup = {sizeof startup};
        PROCESS_INFORMATION process = {};
        if (CreateProcessRetrying(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                                  &startup, &process)) {
            CloseHandle(process.hThread);
            child_ = process.hProcess;
        }
        REQUIRE(child_);
        HANDLE either[2] = {held_, child_};
        testlimit::Waiting note("a child process to take the settings' save lock");
        REQUIRE(WaitForMultipleObjects(2, either, FALSE, testlimit::kLong) == WAIT_OBJECT_0);
    }
    ~OtherProcessLock() { Release(); }
    void Release() {
        if (!child_) return;
        SetEvent(release_);
        testlimit::Wait(child_, testlimit::kStep, "the child holding the settings' save lock to end");
        CloseHandle(child_);
        child_ = nullptr;
        CloseHandle(held_);
        CloseHandle(release_);
    }

private:
    HANDLE held_ = nullptr, release_ = nullptr, child_ = nullptr;
};

}  // namespace

TEST_CASE("A getter never waits for another process's save: it answers with what it holds, and reads the file later") {
    TempFolder folder(_T("settings"));
    tstring path = folder.File(_T("settings.dat"));
    WriteAll(path, FullFile().Get());
    HANDLE held = CreateFile(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(held != INVALID_HANDLE_VALUE);
    Settings s(true, path);
    CloseHandle(held);
    OtherProcessLock saving(path);
    // The scheduler page's reads, while the other program saves.
    ULONGLONG start = GetTickCount64();
    bool mail = s.GetReportMailSwitch(), fix = s.GetAutoFix(), reboot = s.GetAutoReboot();
    bool backup = s.GetAutoBackupSwitch(), retention = s.GetBackupRetentionSwitch();
    tstring address = s.GetReportMail();
    ULONGLONG took = GetTickCount64() - start;
    CHECK_MESSAGE(took < 500, "six getters took ", took, " ms");
    CHECK_FALSE((mail || fix || reboot || backup || !retention || !address.empty()));
    saving.Release();
    CHECK(s.GetReportMail() == _T("admin@example.com"));
    CHECK(s.GetAutoFix());
    CHECK(s.GetAutoBackupSwitch());
}

TEST_CASE("A file held for a moment when the settings are built is read by the build itself") {
    TempFolder folder(_T("settings"));
    tstring path = folder.File(_T("settings.dat"));
    WriteAll(path, FullFile().Get());
    std::unique_ptr<Settings> s;
    REQUIRE_MESSAGE(WhileHeldForAMoment(path, 50, 200, [&] { s.reset(new Settings(true, path)); }),
                    "the file's holder was never let go within the build's retries");
    // The scan's read of the mask catches nothing up: it is what the build read.
    CHECK(Settings::CurrentSkipScanDrives() == 2);
    // Nor can a getter, while the other program saves.
    OtherProcessLock saving(path);
    CHECK(s->GetReportMail() == _T("admin@example.com"));
    CHECK(s->GetAutoFix());
}

// The restore run in-process on a fake offline Windows: real files, real
// zlib, real moves. Nothing here needs the hive functions, which the program
// never calls: it works on the hive files of a Windows that is not running.
#include <doctest/doctest.h>
#include "RestoreFixture.h"
#include "common/compress/ZlibFile.h"
#include "common/errors/ErrorBase.h"
#include "common/errors/ErrorText.h"
#include "common/filepack/FilePack.h"
#include "restore/HiveReplacement.h"
#include "restore/RegistryRestore.h"
#include "restore/WorkFolder.h"

namespace {

const char* const kMachine[] = {"SOFTWARE", "SYSTEM", "SAM", "SECURITY"};

// A file held open by another program that shares nothing with anyone.
class HeldFile {
public:
    explicit HeldFile(const tstring& path)
        : handle_(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {
        REQUIRE(handle_ != INVALID_HANDLE_VALUE);
    }
    ~HeldFile() { CloseHandle(handle_); }

private:
    HANDLE handle_;
};

void CheckMachineHivesRestored(const FakeWindows& win, const std::map<tstring, std::string>& before) {
    for (const char* hive : kMachine)
        CHECK_MESSAGE(ReadAll(win.Config(hive)) == EntryData(tstring("HKLM_") + hive + ".dat"), hive);
    auto after = win.Snapshot();
    CHECK(after["DEFAULT"] == before.at("DEFAULT"));
    // No user hive, no aside copy, nothing else joined the config folder.
    CHECK(after.size() == before.size());
    CHECK(FakeWindows::Files(win.Temp()).empty());
}

tstring SharingText() { return ErrorText(FoldWin32(ERROR_SHARING_VIOLATION), nullptr); }

// What a hostile backup may not leave anywhere.
void CheckNothingEscaped(const FakeWindows& win) {
    for (const tstring& path : std::vector<tstring>{win.Windows() + "\\x.dat", win.Windows() + "\\system32\\x.dat",
                                win.BackupFolder() + "\\x.dat", tstring("C:\\x.dat"), tstring("\\x.dat")})
        CHECK_MESSAGE(GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES, path);
}

}  // namespace

TEST_CASE("Backups of an independent writer, zlib and bare, put back exactly the machine hives") {
    for (const char* fixture : {"full.bkp", "full_raw.bkp"}) {
        // Without a Temp folder the work goes beside the backup, and goes away.
        for (bool withTemp : {true, false}) {
            CAPTURE(fixture);
            CAPTURE(withTemp);
            FakeWindows win(withTemp);
            auto before = win.Snapshot();
            RecordingReport report;
            CHECK(RestoreRegistry(win.Windows(), win.Backup(fixture), report));
            CHECK(report.errors.empty());
            CheckMachineHivesRestored(win, before);
            CHECK(FakeWindows::Files(win.BackupFolder()).size() == 1);
        }
    }
}

namespace {

// Saves a hive of the running prefix as the backup writes it.
void SaveHive(HKEY root, const char* path, const tstring& file) {
    HANDLE token = nullptr;
    REQUIRE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    TOKEN_PRIVILEGES privileges = {1};
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    LookupPrivilegeValueA(nullptr, "SeBackupPrivilege", &privileges.Privileges[0].Luid);
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
    HKEY key = nullptr;
    REQUIRE(RegOpenKeyExA(root, path, 0, KEY_READ, &key) == ERROR_SUCCESS);
    CHECK(RegSaveKeyA(key, file.c_str(), nullptr) == ERROR_SUCCESS);
    RegCloseKey(key);
}

}  // namespace

TEST_CASE("A backup packed and compressed by the backup code restores from a typed relative path") {
    // Wine saves hives as text, not regf: the machine hives are the fixtures'.
    FakeWindows win;
    TempFolder hives("restore-src");
    for (const char* name : {"HKLM_SOFTWARE.dat", "HKLM_SYSTEM.dat"})
        WriteAll(hives / name, EntryData(name));
    SaveHive(HKEY_USERS, ".DEFAULT", hives / "HKU_.DEFAULT.dat");
    tstring packPath = win.BackupFolder() + "\\pack.tmp";
    {
        FilePack pack(packPath, hives.Path());
        pack.Close();
    }
    REQUIRE(CompressFile(packPath, win.BackupFolder() + "\\prefix.bkp", -1) == 0);
    DeleteFileA(packPath.c_str());

    auto before = win.Snapshot();
    char saved[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, saved);
    SetCurrentDirectoryA(win.BackupFolder().c_str());
    RecordingReport report;
    bool restored = RestoreRegistry(win.Windows(), "prefix.bkp", report);
    SetCurrentDirectoryA(saved);
    CHECK(restored);
    CHECK(report.errors.empty());
    CHECK(ReadAll(win.Config("SOFTWARE")) == ReadAll(hives / "HKLM_SOFTWARE.dat"));
    CHECK(ReadAll(win.Config("SYSTEM")) == ReadAll(hives / "HKLM_SYSTEM.dat"));
    auto after = win.Snapshot();
    for (const char* hive : {"SAM", "SECURITY", "DEFAULT"})
        CHECK(after[hive] == before[hive]);
    CHECK(after.size() == before.size());
    CHECK(FakeWindows::Files(win.Temp()).empty());
}

TEST_CASE("Hostile or damaged backups end in a clear error with the config folder untouched") {
    const struct {
        const char* fixture;
        const char* message;  // "%s" stands for the backup path as given
    } cases[] = {
        {"dotdot.bkp", "Invalid entry name \"..\\..\\x.dat\" in file pack."},
        {"drive.bkp", "Invalid entry name \"C:\\x.dat\" in file pack."},
        {"rooted.bkp", "Invalid entry name \"\\x.dat\" in file pack."},
        {"stream.bkp", "Invalid entry name \"HKLM_SAM.dat:s\" in file pack."},
        {"zeros.bkp", "HKLM_SYSTEM.dat in %s is not a registry hive. Nothing was restored."},
        {"bad_sum.bkp", "HKLM_SYSTEM.dat in %s is not a registry hive. Nothing was restored."},
        {"cut_hive.bkp", "HKLM_SYSTEM.dat in %s is not a registry hive. Nothing was restored."},
        {"cut_half.bkp", "Can't decompress file: %s"},
        {"cut_2.bkp", "Can't decompress file: %s"},
        {"flip_zlib.bkp", "Can't decompress file: %s"},
        {"flip_pack.bkp", "Invalid CRC. File was corrupted or wrong file format."},
        {"flip_raw.bkp", "Invalid CRC. File was corrupted or wrong file format."},
        {"count_up.bkp", "Invalid file layout. File was corrupted or wrong file format."},
        {"count_down.bkp", "Invalid file layout. File was corrupted or wrong file format."},
        {"name_length.bkp", "Invalid file layout. File was corrupted or wrong file format."},
        {"hku_only.bkp", "%s holds no machine hive to restore."},
        {"empty_pack.bkp", "%s holds no machine hive to restore."},
        {"empty.bkp", "Can't decompress file: %s"},
        {"missing.bkp", "%s does not exist"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.fixture);
        FakeWindows win;
        auto before = win.Snapshot();
        tstring backup = win.Backup(c.fixture);
        auto backupBefore = FakeWindows::Files(win.BackupFolder());
        RecordingReport report;
        CHECK_FALSE(RestoreRegistry(win.Windows(), backup, report));
        REQUIRE(report.errors.size() == 1);
        const char* lead = strstr(c.message, "%s") ? "" : "%s: ";  // a library's text follows the backup
        CHECK(report.errors[0] == FormatText((lead + tstring(c.message)).c_str(), backup.c_str()));
        CHECK(win.Snapshot() == before);
        CHECK(FakeWindows::Files(win.Temp()).empty());
        CHECK(FakeWindows::Files(win.BackupFolder()) == backupBefore);
        CheckNothingEscaped(win);
    }

    FakeWindows win;
    RecordingReport report;
    CHECK_FALSE(RestoreRegistry(win.Windows() + "\\system32", win.Backup("full.bkp"), report));
    CHECK(report.errors == std::vector<tstring>{"Incorrect WINDOWS directory: " + win.Windows() + "\\system32"});
}

TEST_CASE("A target another program holds stops the restore before any hive moves") {
    for (const char* held : kMachine) {
        CAPTURE(held);
        FakeWindows win;
        auto before = win.Snapshot();
        RecordingReport report;
        {
            HeldFile holder(win.Config(held));
            CHECK_FALSE(RestoreRegistry(win.Windows(), win.Backup("full.bkp"), report));
        }
        REQUIRE(report.errors.size() == 1);
        CHECK(report.errors[0] == "Can't replace file: " + win.Config(held) + ". " + SharingText());
        CHECK(win.Snapshot() == before);
        CHECK(FakeWindows::Files(win.Temp()).empty());
    }
}

TEST_CASE("A replacement that fails halfway puts back every hive it had replaced") {
    // Held only after the check, so the failure comes in the middle of the moves.
    const char* const order[] = {"SOFTWARE", "NEWHIVE", "SYSTEM", "SAM"};
    for (int failing : {0, 2, 3}) {
        CAPTURE(failing);
        TempFolder config("restore-config"), sources("restore-new");
        for (const char* hive : {"SOFTWARE", "SYSTEM", "SAM"})
            WriteAll(config / hive, std::string("old ") + hive);
        auto before = FakeWindows::Files(config.Path());
        HiveReplacement replacement(config.Path());
        for (const char* hive : order) {
            WriteAll(sources / hive, std::string("new ") + hive);
            replacement.Add(sources / hive, hive);
        }
        replacement.CheckTargets();
        {
            HeldFile holder(config / order[failing]);
            try {
                replacement.ReplaceAll();
                FAIL("the held target was replaced");
            } catch (const ErrorBase& e) {
                CHECK(e.Message() == "Can't replace file: " + config / order[failing] + ". " + SharingText());
            }
        }
        CHECK(FakeWindows::Files(config.Path()) == before);
    }
}

TEST_CASE("A roll-back that cannot put an original back names the copy it left") {
    TempFolder config("restore-config"), sources("restore-new");
    for (const char* hive : {"SOFTWARE", "SYSTEM"}) {
        WriteAll(config / hive, std::string("old ") + hive);
        WriteAll(sources / hive, std::string("new ") + hive);
    }
    HiveReplacement replacement(config.Path());
    replacement.Add(sources / "SOFTWARE", "SOFTWARE");
    replacement.Add(sources / "SYSTEM", "SYSTEM");
    replacement.CheckTargets();
    // The new SOFTWARE stays open through its move, so it cannot be replaced again.
    HANDLE moved = CreateFileA((sources / "SOFTWARE").c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                               nullptr);
    REQUIRE(moved != INVALID_HANDLE_VALUE);
    {
        HeldFile holder(config / "SYSTEM");
        try {
            replacement.ReplaceAll();
            FAIL("the held target was replaced");
        } catch (const ErrorBase& e) {
            CHECK(e.Message() == "Can't replace file: " + config / "SYSTEM" + ". " + SharingText() +
                                     "\nThese files could not be put back and were left as they are:\n" +
                                     config / "SOFTWARE.orvane_old");
        }
    }
    CloseHandle(moved);
    CHECK(ReadAll(config / "SOFTWARE.orvane_old") == "old SOFTWARE");
    CHECK(ReadAll(config / "SYSTEM") == "old SYSTEM");
}

TEST_CASE("Only this backup's hives go in: a work folder left by an earlier run is passed over") {
    FakeWindows win;
    tstring stale = win.Temp() + "\\bkp_temp_dir";
    CreateFolderTree(stale);
    WriteAll(stale + "\\HKLM_SAM.dat", "stale SAM");
    auto before = win.Snapshot();
    RecordingReport report;
    CHECK(RestoreRegistry(win.Windows(), win.Backup("no_sam.bkp"), report));
    CHECK(ReadAll(win.Config("SOFTWARE")) == EntryData("HKLM_SOFTWARE.dat"));
    CHECK(ReadAll(win.Config("SYSTEM")) == EntryData("HKLM_SYSTEM.dat"));
    auto after = win.Snapshot();
    for (const char* hive : {"SAM", "SECURITY", "DEFAULT"})
        CHECK(after[hive] == before[hive]);
    CHECK(FakeWindows::Files(win.Temp()) == (std::map<tstring, std::string>{{"bkp_temp_dir", "<folder>"}}));
}

TEST_CASE("Only plain names of hive files this Windows has go in; the other machine entries are named") {
    FakeWindows win;
    auto before = win.Snapshot();
    RecordingReport report;
    CHECK(RestoreRegistry(win.Windows(), win.Backup("names.bkp"), report));
    before["SAM"] = EntryData("HKLM_SAM.dat");
    CHECK(win.Snapshot() == before);
    char accent[32] = {};  // named in the thread's code page
    WideCharToMultiByte(CP_THREAD_ACP, 0, L"HKLM_Caf\u00e9.dat", -1, accent, sizeof(accent), nullptr, nullptr);
    CHECK(report.passedOver ==
          std::vector<tstring>{"HKLM_BCD00000000.dat", accent, "hklm_sys-tem.dat", "HKLM_SYSTEM .dat"});
}

TEST_CASE("A name that converts only to a look-alike is passed over, not put over the hive it resembles") {
    FakeWindows win;
    auto before = win.Snapshot();
    RecordingReport report;
    CHECK(RestoreRegistry(win.Windows(), win.Backup("fullwidth.bkp"), report));
    before["SAM"] = EntryData("HKLM_SAM.dat");
    CHECK(ReadAll(win.Config("SYSTEM")) == EntryData("HKLM_SYSTEM.dat"));
    before["SYSTEM"] = EntryData("HKLM_SYSTEM.dat");
    CHECK(win.Snapshot() == before);
    char shown[32] = {};  // named in the thread's code page, without look-alikes
    WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, L"HKLM_\uFF33\uFF39\uFF33\uFF34\uFF25\uFF2D.dat", -1,
                        shown, sizeof(shown), nullptr, nullptr);
    CHECK(report.passedOver == std::vector<tstring>{shown});
}

TEST_CASE("A failed write while unpacking is told from damage, and the box names the file") {
    // Work folder paths just too long for "uncompressed_file", then for "HKLM_COMPONENTS.dat".
    for (size_t room : {245u, 241u}) {
        FakeWindows win(false);
        WriteAll(win.Config("COMPONENTS"), "original");
        tstring deep = win.BackupFolder() + "\\" + tstring(room - win.BackupFolder().size() - 14, 'd');
        CreateFolderTree(deep);
        tstring backup = deep + "\\f.bkp";
        REQUIRE(CopyFileA(win.Backup("components.bkp").c_str(), backup.c_str(), FALSE));
        RecordingReport report;
        CHECK_FALSE(RestoreRegistry(win.Windows(), backup, report));
        tstring lead = room == 245 ? "Can't unpack " + backup + " into " + deep + "\\bkp_temp_dir\\uncompressed_file: "
                                   : "Can't unpack HKLM_COMPONENTS.dat from " + backup + ": ";
        REQUIRE(report.errors.size() == 1);
        CHECK(report.errors[0].substr(0, lead.size()) == lead);
        CHECK(report.errors[0].size() > lead.size() + 3);  // the system's text
        CHECK(FakeWindows::Files(deep).size() == 1);
    }
}

TEST_CASE("The unpacked backup goes even where the work folder cannot") {
    TempFolder root("restore-work");
    auto* work = new WorkFolder(root.Path() + "\\", "w");
    tstring unpacked = work->TrackedFile("uncompressed_file"), held = work->File("held");
    WriteAll(unpacked, "x");
    WriteAll(held, "x");
    HeldFile holder(held);
    delete work;  // the shell cannot remove the held file's folder
    CHECK(GetFileAttributesA(unpacked.c_str()) == INVALID_FILE_ATTRIBUTES);
}

#include <doctest/doctest.h>
#include <shlwapi.h>
#include <shlobj.h>
#include "common/settings/AppFolders.h"
#include "SettingsTestFiles.h"

TEST_CASE("The data folder lies under the local application data and exists") {
    tstring data = GetAppFolder(true);
    CHECK(data.size() > 13);
    CHECK(data.substr(data.size() - 13) == _T("\\QUARN\\Orvane"));
    CHECK(PathIsDirectory(data.c_str()));
    CHECK(GetBackupListPath() == data + _T("\\backups.lst"));
    CHECK(GetSettingsFilePath() == data + _T("\\settings.dat"));
    CHECK(GetProductName() == _T("Orvane"));
}

TEST_CASE("The restore flag has one machine-wide place under the common application data") {
    TCHAR common[MAX_PATH];
    REQUIRE(SHGetSpecialFolderPath(nullptr, common, CSIDL_COMMON_APPDATA, FALSE));
    tstring folder = tstring(common) + _T("\\QUARN\\Orvane");
    RemoveDirectory(folder.c_str());
    CHECK(GetRestoreFlagPath() == folder + _T("\\restore.flag"));
    CHECK(PathIsDirectory(folder.c_str()));
}

TEST_CASE("The program folder of a host that is no suite module is its executable's folder") {
    tstring exe = GetModulePath();
    CHECK(GetAppFolder(false) == exe.substr(0, exe.rfind(_T('\\'))));
}

TEST_CASE("Ignore list paths are always full paths") {
    tstring data = GetAppFolder(true);
    tstring program = GetAppFolder(false);
    CHECK(GetIgnoreFilePath(true, true) == program + _T("\\SystemIgnores.dat"));
    CHECK(GetIgnoreFilePath(false, true) == program + _T("\\SystemIgnores.dat"));
    CHECK(GetIgnoreFilePath(false, false) == data + _T("\\ignores.dat"));
    tstring fallback = GetIgnoreFilePath(true, false);
    CHECK((fallback == data + _T("\\ignores.dat") || fallback == program + _T("\\ignores.dat")));
    if (!FileExists(data + _T("\\ignores.dat")) && !FileExists(program + _T("\\ignores.dat")))
        CHECK(fallback == data + _T("\\ignores.dat"));
}

TEST_CASE("The log is rotated only past 1 MiB") {
    TempFolder folder(_T("settings"));
    tstring log = folder.File(_T("Orvane.log"));
    tstring old = log + _T(".old");
    WriteAll(old, "previous");

    WriteAll(log, std::string(1048576, 'a'));
    RotateLogFile(log);
    CHECK(FileExists(log));
    CHECK(ReadAll(old) == "previous");

    WriteAll(log, std::string(1048577, 'b'));
    SUBCASE("a log in use stays") {
        HANDLE open = CreateFile(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
        RotateLogFile(log);
        CloseHandle(open);
        CHECK(FileExists(log));
        CHECK(ReadAll(old) == "previous");
    }
    SUBCASE("a larger one replaces the older copy") {
        RotateLogFile(log);
        CHECK_FALSE(FileExists(log));
        CHECK(ReadAll(old).size() == 1048577);
    }
    RotateLogFile(folder.File(_T("none.log")));
    CHECK_FALSE(FileExists(folder.File(_T("none.log.old"))));
}

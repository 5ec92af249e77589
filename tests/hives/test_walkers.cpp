#include <doctest/doctest.h>
#include <algorithm>
#include <set>
#include "PlantedProfile.h"
#include "RecordingHiveOps.h"
#include "TempFolder.h"
#include "TestStrings.h"
#include "common/errors/ErrorBase.h"
#include "common/system/Security.h"
#include "hives/RBackup.h"

namespace {

const TCHAR kPlantedSid[] = _T("S-1-5-21-9-9-9-1001");

// Keys directly under HKEY_USERS that the HKU_ walk must skip or take.
class PlantedUsersKeys {
public:
    PlantedUsersKeys() {
        for (const TCHAR* name : kNames) {
            HKEY key = nullptr;
            RegCreateKeyEx(HKEY_USERS, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
            RegCloseKey(key);
        }
    }
    ~PlantedUsersKeys() {
        for (const TCHAR* name : kNames)
            RegDeleteTree(HKEY_USERS, name), RegDeleteKey(HKEY_USERS, name);
    }

private:
    static constexpr const TCHAR* kNames[] = {_T("S-1-5-18"), _T("S-1-5-19"), _T("S-1-5-21-7-7-7-1002")};
};

bool IsLoaded(const tstring& name) {
    HKEY key = nullptr;
    if (RegOpenKeyEx(HKEY_USERS, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

}  // namespace

TEST_CASE("A full walk saves every hive once under its name and unloads exactly the profiles it loaded") {
    EnsureCurrentClassesKey();
    TempFolder profileFolder(_T("profile"));
    PlantedProfile planted(kPlantedSid, profileFolder.Path());
    PlantedUsersKeys usersKeys;
    TempFolder work(_T("walk"));
    RecordingHiveOps ops;
    tstring sid = CurrentUserSid();

    RBackup walker(work.Path());
    walker.backupAll();

    std::vector<tstring> files = work.Files();
    std::set<tstring> expected = {_T("HKLM_Hardware.dat"), _T("HKLM_Software.dat"), _T("HKLM_System.dat"),
                                  _T("HKU_.Default.dat"),  _T("HKU_S-1-5-19.dat"),   sid + _T(".dat"),
                                  sid + _T("_Classes.dat"), tstring(kPlantedSid) + _T(".dat"),
                                  tstring(kPlantedSid) + _T("_Classes.dat")};
    CHECK(std::set<tstring>(files.begin(), files.end()) == expected);

    // Loaded and unloaded once each; the logged-on user's hives stay loaded.
    std::vector<tstring> loaded = {kPlantedSid, tstring(kPlantedSid) + _T("_Classes")};
    CHECK(ops.loaded == loaded);
    CHECK(ops.unloaded == loaded);
    CHECK_FALSE(IsLoaded(kPlantedSid));
    CHECK(IsLoaded(sid));

    CHECK(DumpHiveFile(work / (tstring(kPlantedSid) + _T(".dat"))) == DumpKey(HKEY_CURRENT_USER, planted.UserSource()));
    CHECK(DumpHiveFile(work / (tstring(kPlantedSid) + _T("_Classes.dat"))) ==
          DumpKey(HKEY_CURRENT_USER, planted.ClassesSource()));
    CHECK(DumpKey(HKEY_CURRENT_USER, planted.UserSource()).size() > 2);
}

TEST_CASE("A profile hive whose save fails is unloaded and the failure reaches the caller") {
    TempFolder profileFolder(_T("profile"));
    PlantedProfile planted(kPlantedSid, profileFolder.Path());
    TempFolder work(_T("walk"));
    RecordingHiveOps ops;
    ops.FailOn(_T("Save"), 1, ERROR_DISK_FULL);
    RBackup walker(work.Path());
    CHECK_THROWS_AS(walker.processUser(kPlantedSid, -1), ErrorBase);
    CHECK(ops.unloaded == std::vector<tstring>{kPlantedSid});
    CHECK_FALSE(IsLoaded(kPlantedSid));

    // A SID that is no profile of a real user is passed over.
    RecordingHiveOps quiet;
    walker.processUser(_T("S-1-5-20"), -1);
    CHECK(quiet.loaded.empty());
}

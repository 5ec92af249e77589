#include <doctest/doctest.h>
#include <windows.h>
#include "ShutdownSupport.h"
#include "common/system/OsVersion.h"
#include "hives/RCompact.h"

using namespace compact;

// Before Windows 6 the compaction runs at shutdown over the hives the request
// list names. These cases run in a copy of this program that Wine tells
// Windows XP (a per-program version), started by the last case below.

namespace {

const TCHAR kPlantedSid[] = _T("S-1-5-21-9-9-9-1102");
const wchar_t kReliability[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Reliability";

struct Line {
    int level;
    tstring text, name;
    bool operator==(const Line& o) const { return level == o.level && text == o.text && name == o.name; }
};

}  // namespace

namespace doctest {
template <>
struct StringMaker<Line> {
    static String convert(const Line& line) {
        return StringMaker<tstring>::convert(FormatText(L"%d|%s|%s", line.level, line.text.c_str(), line.name.c_str()));
    }
};
}  // namespace doctest

namespace {

class RecordingLog : public RLog {
public:
    int AddEntry(int level, const tstring& text, const tstring& name) override {
        lines.push_back({level, text, name});
        return int(lines.size());
    }
    void MarkDone(int row) override { lines.push_back({-1, L"done", FormatText(L"%d", row)}); }
    std::vector<Line> lines;
};

void PlantStamp() {
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, kReliability, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    DWORD stamp = 1;
    RegSetValueExW(key, L"LastAliveStamp", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&stamp), sizeof stamp);
    RegCloseKey(key);
}

bool StampExists() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kReliability, 0, KEY_READ, &key))
        return false;
    bool exists = RegQueryValueExW(key, L"LastAliveStamp", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return exists;
}

const bool kWindows6 = IsWindowsMajor6();

}  // namespace

TEST_SUITE("pre6") {

TEST_CASE("a list of SIDs compacts just those users' two hives, each copy equal to its hive" * doctest::skip(kWindows6)) {
    TempFolder folder(L"compact-profile");
    PlantedProfile profile(kPlantedSid, folder.Path());
    Logon();
    SetRequests(kPlantedSid);
    PlantStamp();
    RecordingEventSink events;
    RecordingHiveOps hives;

    Shutdown();
    CHECK(events.events == Events({EventStarted, EventCompleted}));
    REQUIRE(hives.replaced.size() == 2);
    CHECK(hives.replaced[0].hiveName == kPlantedSid);
    CHECK(hives.replaced[1].hiveName == tstring(kPlantedSid) + L"_Classes");
    tstring work = SystemTempFolder();
    CHECK(hives.replaced[0].oldFile == work + kPlantedSid + L".dat.arctemp");
    CHECK(DumpHiveFile(hives.replaced[0].newFile) == DumpHiveFile(profile.UserHive()));
    CHECK(DumpHiveFile(hives.replaced[1].newFile) == DumpHiveFile(profile.ClassesHive()));
    CHECK((GetFileAttributesW(hives.replaced[0].newFile.c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0);
    CHECK_FALSE(StampExists());
    CHECK(RequestText().empty());
    RemoveCopies(hives);
}

TEST_CASE("a failing replacement marks its hive, deletes its copy, goes on and fails the run" * doctest::skip(kWindows6)) {
    TempFolder folder(L"compact-profile");
    PlantedProfile profile(kPlantedSid, folder.Path());
    Logon();
    SetRequests(kPlantedSid);
    PlantStamp();

    {
        RecordingHiveOps hives;
        hives.FailOn(L"Replace", 1);
        RecordingLog log;
        RCompact compactor;
        compactor.SetLog(&log, 0);
        compactor.Run();
        CHECK(compactor.Failures() == 1);
        tstring classes = tstring(kPlantedSid) + L"_Classes";
        std::vector<Line> expected = {{0, L"User: ", kPlantedSid},
                                      {3, L"Compacting hive", kPlantedSid}, {-1, L"done", L"2"},
                                      {-1, L"done", L"2"}, {3, L"Compact Error", kPlantedSid},
                                      {3, L"Compacting hive", classes}, {-1, L"done", L"6"}, {-1, L"done", L"6"}};
        CHECK(log.lines == expected);
        REQUIRE(hives.saved.size() == 2);
        CHECK_FALSE(FileExists(hives.saved[0]));
        RemoveCopies(hives);
    }

    RecordingEventSink events;
    RecordingHiveOps hives;
    hives.FailOn(L"Replace", 2);
    SetRequests(kPlantedSid);
    Shutdown();
    CHECK(events.events == Events({EventStarted, EventFailed}));
    CHECK(hives.replaced.size() == 1);
    REQUIRE(hives.saved.size() == 2);
    CHECK_FALSE(FileExists(hives.saved[1]));
    RemoveCopies(hives);
}

TEST_CASE("OnRunOnce compacts, then restarts once, also after a failure" * doctest::skip(kWindows6)) {
    TempFolder folder(L"compact-profile");
    PlantedProfile profile(kPlantedSid, folder.Path());
    Logon();
    PlantStamp();
    RecordingEventSink events;
    RecordingRestart restart;
    RecordingHiveOps hives;

    SUBCASE("compacted") {
        SetRequests(kPlantedSid);
        OnRunOnce(nullptr, nullptr, nullptr, SW_SHOW);
        CHECK(events.events == Events({EventStarted, EventCompleted}));
        CHECK(hives.replaced.size() == 2);
    }
    SUBCASE("failed") {
        SetRequests(kPlantedSid);
        hives.FailOn(L"Save", 1);
        OnRunOnce(nullptr, nullptr, nullptr, SW_SHOW);
        CHECK(events.events == Events({EventStarted, EventFailed}));
    }
    REQUIRE(restart.calls.size() == 1);
    CHECK(restart.calls[0].what == L"ExitWindowsEx");
    CHECK(restart.calls[0].flags == (EWX_REBOOT | EWX_FORCE));
    CHECK(restart.calls[0].reason == SHTDN_REASON_FLAG_PLANNED);
    RemoveCopies(hives);
}

}  // TEST_SUITE

TEST_CASE("the cases of Windows before 6 pass in a copy of this program told Windows XP" * doctest::skip(!kWindows6)) {
    CHECK(RunAsWindowsXp(L"-ts=pre6") == 0);
}

TEST_SUITE("pre6") {

// The program that restored a backup runs as the user; the library runs as
// the system account at shutdown, with another data folder. The flag they
// share must be found all the same, or the compaction would save the old
// hives over the restored ones.
TEST_CASE("a restore flag left by the user's program cancels the compaction of the system account" *
          doctest::skip(kWindows6)) {
    const wchar_t kShellFolders[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    RestoreFlag flag;
    flag.PlantFile();
    Logon();
    SetRequests(L"CompactAll");
    RecordingEventSink events;
    RecordingHiveOps hives;
    TempFolder elsewhere(L"other-local-appdata");
    HKEY key = nullptr;
    REQUIRE(RegOpenKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, KEY_ALL_ACCESS, &key) == 0);
    wchar_t saved[MAX_PATH] = {};
    DWORD size = sizeof saved, type = 0;
    LONG had = RegQueryValueExW(key, L"Local AppData", nullptr, &type, reinterpret_cast<BYTE*>(saved), &size);
    RegSetValueExW(key, L"Local AppData", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(elsewhere.Path().c_str()),
                   DWORD((elsewhere.Path().size() + 1) * sizeof(wchar_t)));
    Shutdown();
    if (had == ERROR_SUCCESS)
        RegSetValueExW(key, L"Local AppData", 0, type, reinterpret_cast<const BYTE*>(saved), size);
    else
        RegDeleteValueW(key, L"Local AppData");
    RegCloseKey(key);
    CHECK(events.events == Events({EventCancelledByRestore}));
    CHECK(hives.saved.empty());
    CHECK(hives.replaced.empty());
    CHECK_FALSE(flag.Exists());
    SetRequests(L"");
}

}  // TEST_SUITE

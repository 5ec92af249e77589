#include <doctest/doctest.h>
#include <windows.h>
#include <set>
#include "ShutdownSupport.h"
#include "common/system/OsVersion.h"

using namespace compact;

// The Winlogon shutdown handler, called in-process as Winlogon would call it.
// Hive replacement and restart are recorded (Wine has neither); the hives
// themselves are really saved. The prefix reports Windows 6.1, where a
// compaction takes every hive.

namespace {

// The live key a copy was saved from.
void SourceOf(const tstring& hive, HKEY& root, tstring& path) {
    if (hive.compare(0, 5, L"HKLM_") == 0) {
        root = HKEY_LOCAL_MACHINE;
        path = hive.substr(5);
    } else if (hive.compare(0, 4, L"HKU_") == 0) {
        root = HKEY_USERS;
        path = hive.substr(4);
    } else {
        root = HKEY_USERS;
        path = hive;
    }
}

}  // namespace

// First in this program: once a logon created the mapping, the process keeps it.
TEST_CASE("shutdown without a logon before it writes the error event") {
    RecordingEventSink events;
    RecordingHiveOps hives;
    Shutdown();
    CHECK(events.events == Events({EventFailed}));
    CHECK(hives.saved.empty());
}

TEST_CASE("shutdown with a restore waiting for this restart compacts nothing") {
    Logon();
    RecordingEventSink events;
    RecordingHiveOps hives;
    RestoreFlag flag;

    SUBCASE("no requests and no flag: nothing is shown or written") {
        SetRequests(L"");
        Shutdown();
        CHECK(events.events.empty());
    }
    SUBCASE("requests and the flag: cancelled, the flag consumed, the requests kept") {
        SetRequests(L"CompactAll");
        flag.PlantFile();
        Shutdown();
        CHECK(events.events == Events({EventCancelledByRestore}));
        CHECK_FALSE(flag.Exists());
        CHECK(RequestText() == L"CompactAll\t");
    }
    SUBCASE("the flag without requests: consumed silently") {
        SetRequests(L"");
        flag.PlantFile();
        Shutdown();
        CHECK(events.events.empty());
        CHECK_FALSE(flag.Exists());
    }
    CHECK(hives.saved.empty());
    CHECK(hives.replaced.empty());
}

TEST_CASE("shutdown with requests replaces every hive by a copy equal to it and clears the requests") {
    Logon();
    EnsureCurrentClassesKey();
    RecordingEventSink events;
    RecordingHiveOps hives;
    MessageBoxDismisser reboot(L"QUARN Orvane");
    // A folder of the flag's name is no pending restore.
    RestoreFlag flag;
    flag.PlantFolder();
    SetRequests(L"CompactAll");

    Shutdown();
    CHECK(events.events == Events({EventStarted, EventCompleted}));
    CHECK(RequestText().empty());
    CHECK(reboot.dismissed > 0);

    std::set<tstring> names;
    for (const auto& r : hives.replaced)
        CHECK(names.insert(r.hiveName).second);
    tstring sid = CurrentUserSid();
    // Wine's "Hardware" passes the exclusion, which compares with case.
    for (const tstring& expected : {tstring(L"HKLM_Software"), tstring(L"HKLM_System"), tstring(L"HKLM_Hardware"),
                                    tstring(L"HKU_.Default"), sid, tstring(sid + L"_Classes")}) {
        CAPTURE(expected);
        CHECK(names.count(expected) == 1);
    }
    for (const tstring& name : names)
        CHECK(name.compare(0, 13, L"HKU_S-1-5-21-") != 0);

    for (const auto& r : hives.replaced) {
        CAPTURE(r.hiveName);
        CHECK(r.oldFile == SystemTempFolder() + r.hiveName + L".dat.arctemp");
        std::vector<tstring> copy = DumpHiveFile(r.newFile);
        CHECK((copy.empty() || copy[0].find(L"<not loadable") == tstring::npos));
        // Other test programs write to Software and the user's hive while this
        // one runs; Wine keeps Hardware and parts of System volatile, and a
        // saved hive holds no volatile key.
        if (r.hiveName == L"HKLM_Software" || r.hiveName == sid || r.hiveName == L"HKLM_Hardware" ||
            r.hiveName == L"HKLM_System")
            continue;
        HKEY root = nullptr;
        tstring path;
        SourceOf(r.hiveName, root, path);
        bool equal = copy == DumpKey(root, path);
        CHECK(equal);
    }
    RemoveCopies(hives);
}

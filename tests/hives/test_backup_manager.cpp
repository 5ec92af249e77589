#include <doctest/doctest.h>
#include <functional>
#include <set>
#include <string>
#include "FileBytes.h"
#include "PlantedProfile.h"
#include "RecordingHiveOps.h"
#include "TempFolder.h"
#include "TestLimits.h"
#include "TestStrings.h"
#include "common/archive/Crc32.h"
#include "common/compress/ZlibFile.h"
#include "common/errors/ErrorBase.h"
#include "common/filepack/FilePack.h"
#include "common/log/ThreadErrorLog.h"
#include "common/system/FileSystem.h"
#include "common/system/Security.h"
#include "hives/BackupGate.h"
#include "hives/BackupManager.h"

namespace {

tstring TempPath() {
    TCHAR temp[MAX_PATH];
    GetTempPath(MAX_PATH, temp);
    return temp;
}

bool IsWorkName(const tstring& name) {
    tstring lower = name;
    for (TCHAR& c : lower)
        c = TCHAR(towlower(c));
    return lower.compare(0, 3, _T("bkp")) == 0 || lower.compare(0, 3, _T("unc")) == 0 ||
           lower.compare(0, 3, _T("new")) == 0;
}

// The temporary names the backup code uses, in a folder.
std::set<tstring> WorkNames(const tstring& folder) {
    std::set<tstring> names;
    WIN32_FIND_DATA found;
    HANDLE search = FindFirstFile((folder + _T("\\*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (IsWorkName(found.cFileName))
            names.insert(found.cFileName);
    } while (FindNextFile(search, &found));
    FindClose(search);
    return names;
}

std::set<tstring> Added(const std::set<tstring>& before, const std::set<tstring>& after) {
    std::set<tstring> added;
    for (const tstring& name : after)
        if (!before.count(name))
            added.insert(name);
    return added;
}

// A progress sink that acts when a given step is reported.
class StepSink : public RLog {
public:
    StepSink(const tstring& step, std::function<void()> action) : step_(step), action_(action) {}
    int AddEntry(int, const tstring&, const tstring& name) override {
        if (name == step_)
            action_();
        return 0;
    }
    void MarkDone(int) override {}

private:
    tstring step_;
    std::function<void()> action_;
};

std::vector<tstring> PackNames(const tstring& backup, const tstring& scratch) {
    std::vector<tstring> names;
    if (DecompressFile(backup, scratch) != 0)
        return names;
    FilePack pack;
    pack.Open(scratch, true);
    for (auto it = pack.Begin(); it != pack.End(); ++it)
        names.push_back(it->first);
    pack.Close();
    DeleteFile(scratch.c_str());
    return names;
}

std::vector<tstring> ReplacedKeys(const RecordingHiveOps& ops) {
    std::vector<tstring> keys;
    for (const auto& r : ops.replaced)
        keys.push_back(r.key);
    return keys;
}

tstring PackOf(const TempFolder& dir, const tstring& name, const std::vector<std::pair<tstring, std::string>>& files) {
    tstring src = dir / (name + _T("-src"));
    CreateDirectory(src.c_str(), nullptr);
    for (const auto& f : files)
        WriteAll(src + _T("\\") + f.first, f.second);
    tstring pack = dir / (name + _T(".pack"));
    FilePack packed(pack, src);
    packed.Close();
    return pack;
}

tstring Compressed(const tstring& pack) {
    tstring bkp = pack.substr(0, pack.size() - 5) + _T(".bkp");
    CompressFile(pack, bkp, -1);
    return bkp;
}

const TCHAR kPlantedSid[] = _T("S-1-5-21-9-9-9-1001");

// Records the replacements and writes the thread's trail at each, as the
// restore worker writes it when a restore fails.
struct TracingHiveOps : RecordingHiveOps {
    LONG Replace(HKEY root, const tstring& key, const tstring& from, const tstring& old, const tstring& hive) override {
        ThreadErrorLog::Instance().DumpThread(GetCurrentThreadId());
        return RecordingHiveOps::Replace(root, key, from, old, hive);
    }
};

bool TrailHolds(const tstring& file, const tstring& a, const tstring& b) {
    std::string trail = ReadAll(file);
    for (const tstring& line : {a, b})
        if (trail.find(std::string(reinterpret_cast<const char*>(line.c_str()), line.size() * 2)) == std::string::npos)
            return false;
    return true;
}

}  // namespace

TEST_CASE("A current user's backup holds both hives and restores both keys through the replacement") {
    EnsureCurrentClassesKey();
    TempFolder dir(_T("manager"));
    tstring sid = CurrentUserSid();
    RecordingHiveOps ops;
    BackupManager manager;
    manager.Load(dir / _T("backups.lst"));
    std::set<tstring> before = WorkNames(TempPath());

    CHECK(manager.Create(0, dir / _T("user.bkp"), _T("mine"), false) == 0);
    CHECK(PackNames(dir / _T("user.bkp"), dir / _T("scratch")) ==
          std::vector<tstring>{sid + _T(".dat"), sid + _T("_Classes.dat")});
    BackupCatalogue saved;
    saved.Load(dir / _T("backups.lst"));
    REQUIRE(saved.Count() == 1);
    CHECK(saved.Entry(0).kind == 0);
    CHECK(saved.Entry(0).comment == _T("mine"));

    // all = true on a current-user backup still restores the current user only.
    manager.Restore(0, true);
    CHECK(ReplacedKeys(ops) == std::vector<tstring>{_T("HKU\\") + sid, _T("HKU\\") + sid + _T("_Classes")});
    CHECK(ops.replaced[1].newFile.substr(ops.replaced[1].newFile.size() - sid.size() - 13) ==
          _T("\\") + sid + _T("_Classes.dat"));
    CHECK(Added(before, WorkNames(TempPath())).empty());
    CHECK(dir.Files() == std::vector<tstring>{_T("backups.lst"), _T("user.bkp")});
}

TEST_CASE("A full backup restores every hive and puts another profile's hive file in place") {
    EnsureCurrentClassesKey();
    TempFolder dir(_T("manager"));
    TempFolder profileFolder(_T("profile"));
    PlantedProfile planted(kPlantedSid, profileFolder.Path());
    tstring sid = CurrentUserSid();
    RecordingHiveOps ops;
    BackupManager manager;
    manager.Load(dir / _T("backups.lst"));
    REQUIRE(manager.Create(1, dir / _T("full.bkp"), _T(""), false) == 0);

    WriteAll(planted.UserHive(), "the hive as it is now");
    manager.Restore(0, true);
    std::vector<tstring> keys = ReplacedKeys(ops);
    CHECK(std::set<tstring>(keys.begin(), keys.end()) ==
          std::set<tstring>{_T("HKLM\\Hardware"), _T("HKLM\\Software"), _T("HKLM\\System"), _T("HKU\\.Default"),
                            _T("HKU\\") + sid, _T("HKU\\") + sid + _T("_Classes")});
    CHECK(keys.size() == 6);
    CHECK(DumpHiveFile(planted.UserHive()) == DumpKey(HKEY_CURRENT_USER, planted.UserSource()));
    CHECK((GetFileAttributes(planted.UserHive().c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0);
}

TEST_CASE("Retention keeps the five newest backups, the new one last") {
    TempFolder dir(_T("manager"));
    RecordingHiveOps ops;
    BackupManager manager;
    manager.Load(dir / _T("backups.lst"));
    for (int i = 0; i < 7; ++i) {
        tstring old = dir / FormatText(_T("old%d.bkp"), i);
        WriteAll(old, "old");
        manager.AddEntry(0, old, _T(""), nullptr);
    }
    CHECK(manager.Create(0, dir / _T("new.bkp"), _T(""), true) == 4);
    REQUIRE(manager.Count() == 5);
    CHECK(manager.Entry(0).path == dir / _T("old3.bkp"));
    CHECK(manager.Entry(4).path == dir / _T("new.bkp"));
    CHECK(dir.Files() == std::vector<tstring>{_T("backups.lst"), _T("new.bkp"), _T("old3.bkp"), _T("old4.bkp"),
                                              _T("old5.bkp"), _T("old6.bkp")});
}

TEST_CASE("A backup failing at any step keeps every older backup, the chosen file and no temporary file") {
    EnsureCurrentClassesKey();
    TempFolder dir(_T("failing"));
    tstring sid = CurrentUserSid();
    {
        BackupCatalogue catalogue;
        catalogue.Load(dir / _T("backups.lst"));
        for (int i = 0; i < 7; ++i) {
            WriteAll(dir / FormatText(_T("old%d.bkp"), i), "old");
            catalogue.AddEntry(0, dir / FormatText(_T("old%d.bkp"), i), _T(""), nullptr);
        }
        catalogue.SaveBound();
    }
    WriteAll(dir / _T("target.bkp"), "the backup the user chose to overwrite");
    std::vector<tstring> files = dir.Files();
    std::set<tstring> before = WorkNames(TempPath());
    auto newWork = [&]() {
        for (const tstring& name : Added(before, WorkNames(TempPath())))
            if (name.compare(0, 3, _T("bkp")) == 0)
                return tstring(TempPath() + name);
        return tstring();
    };
    struct Step {
        const TCHAR* name;
        std::function<void()> action;
    };
    const Step steps[] = {
        {_T("walk"), nullptr},
        {_T("Creating backup file"), [&] { DeletePath(newWork()); }},
        {_T("Compressing backup file"),
         [&] {
             for (const tstring& name : Added(before, WorkNames(TempPath())))
                 if (name.compare(0, 3, _T("unc")) == 0)
                     DeleteFile((TempPath() + name).c_str());
         }},
        {_T("Verifying backup file"),
         [&] {
             HANDLE f = CreateFile((newWork() + _T("\\") + sid + _T(".dat")).c_str(), FILE_APPEND_DATA, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
             DWORD n = 0;
             WriteFile(f, "x", 1, &n, nullptr);
             CloseHandle(f);
         }},
    };
    for (const Step& step : steps) {
        CAPTURE(tstring(step.name));
        RecordingHiveOps ops;
        if (!step.action)
            ops.FailOn(_T("Save"), 1, ERROR_DISK_FULL);
        StepSink sink(step.name, step.action ? step.action : [] {});
        BackupManager manager;
        manager.Load(dir / _T("backups.lst"));
        manager.SetProgress(&sink);
        CHECK_THROWS_AS(manager.Create(0, dir / _T("target.bkp"), _T(""), true), ErrorBase);
        CHECK(dir.Files() == files);
        CHECK(ReadAll(dir / _T("target.bkp")) == "the backup the user chose to overwrite");
        CHECK(Added(before, WorkNames(TempPath())) == std::set<tstring>());
        BackupCatalogue catalogue;
        catalogue.Load(dir / _T("backups.lst"));
        CHECK(catalogue.Count() == 7);
    }
}

TEST_CASE("Hostile backup files fail clearly and replace, move and leave nothing") {
    EnsureCurrentClassesKey();
    TempFolder dir(_T("hostile"));
    TempFolder profileFolder(_T("profile"));
    PlantedProfile planted(kPlantedSid, profileFolder.Path());
    std::string hive = ReadAll(planted.ClassesHive());
    std::string profileHive = ReadAll(planted.UserHive());
    REQUIRE(hive.size() > 20);
    tstring good = PackOf(dir, _T("good"), {{_T("HKLM_Software.dat"), hive}, {tstring(kPlantedSid) + _T(".dat"), hive}});
    tstring goodBkp = Compressed(good);

    std::string truncated = ReadAll(goodBkp);
    truncated.resize(truncated.size() / 2);
    WriteAll(dir / _T("truncated.bkp"), truncated);
    std::string flipped = ReadAll(good);
    flipped[flipped.size() / 2] ^= 1;
    WriteAll(dir / _T("flipped.pack"), flipped);
    tstring flippedBkp = Compressed(dir / _T("flipped.pack"));
    std::string name = "..\\x.dat";
    std::string escape = std::string(8, '\0');
    escape += std::string("\x10\x00\x00\x00", 4);
    for (char c : name)
        escape += c, escape += '\0';
    escape += std::string("\x04\x00\x00\x00", 4) + "data";
    uint32_t crc = Crc32::Of(escape.data() + 8, escape.size() - 8), count = 1;
    memcpy(&escape[0], &crc, 4);
    memcpy(&escape[4], &count, 4);
    WriteAll(dir / _T("escape.pack"), escape);
    tstring escapeBkp = Compressed(dir / _T("escape.pack"));
    tstring noHive = Compressed(
        PackOf(dir, _T("nohive"), {{_T("HKLM_Software.dat"), "no hive"}, {tstring(kPlantedSid) + _T(".dat"), hive}}));
    tstring unknown = Compressed(PackOf(dir, _T("unknown"), {{_T("HKX_Software.dat"), hive}}));
    tstring noKey = Compressed(PackOf(dir, _T("nokey"), {{_T("HKLM_NoSuchHive.dat"), hive}}));

    std::set<tstring> before = WorkNames(TempPath());
    BackupManager manager;
    manager.Load(tstring());
    for (const tstring& path : {dir / _T("truncated.bkp"), flippedBkp, escapeBkp, noHive, unknown, noKey}) {
        CAPTURE(path);
        RecordingHiveOps ops;
        std::string bytes = ReadAll(path);
        manager.AddEntry(1, path, _T(""), nullptr);
        try {
            manager.Restore(manager.Count() - 1, true);
            FAIL("restored");
        } catch (const ErrorBase& e) {
            CHECK_FALSE(e.Message().empty());
        }
        CHECK(ops.replaced.empty());
        CHECK(ReadAll(planted.UserHive()) == profileHive);
        CHECK(ReadAll(path) == bytes);
        CHECK(Added(before, WorkNames(TempPath())).empty());
    }
    CHECK_THROWS_AS(manager.Restore(99, true), ErrorBase);

    // The sound ones, zlib and plain, restore.
    for (const tstring& path : {goodBkp, good}) {
        RecordingHiveOps ops;
        manager.AddEntry(1, path, _T(""), nullptr);
        manager.Restore(manager.Count() - 1, true);
        CHECK(ReplacedKeys(ops) == std::vector<tstring>{_T("HKLM\\Software")});
        CHECK(ReadAll(planted.UserHive()) == hive);
        WriteAll(planted.UserHive(), profileHive);
    }
    CHECK(Added(before, WorkNames(TempPath())).empty());
}

TEST_CASE("A replacement that fails puts back what the restore replaced and moved before it") {
    EnsureCurrentClassesKey();
    TempFolder dir(_T("undo"));
    TempFolder profileFolder(_T("profile"));
    // Named to come between the machine hive and the current user's in name order.
    PlantedProfile planted(_T("S-1-5-21-0-0-0-0999"), profileFolder.Path());
    tstring sid = CurrentUserSid();
    REQUIRE(CompareStringOrdinal(planted.Sid().c_str(), -1, sid.c_str(), -1, TRUE) == CSTR_LESS_THAN);
    std::string hive = ReadAll(planted.ClassesHive());
    std::string profileHive = ReadAll(planted.UserHive());
    tstring full = Compressed(PackOf(dir, _T("full"),
                                     {{_T("HKLM_Software.dat"), hive},
                                      {planted.Sid() + _T(".dat"), hive},
                                      {sid + _T(".dat"), hive},
                                      {sid + _T("_Classes.dat"), hive}}));
    BackupManager manager;
    manager.Load(tstring());
    manager.AddEntry(1, full, _T(""), nullptr);
    std::set<tstring> before = WorkNames(TempPath());
    tstring trail = dir / _T("trail.bin");
    ThreadErrorLog& log = ThreadErrorLog::Instance();
    tstring oldTrail = log.FileName();
    log.SetFileName(trail);
    {
        TracingHiveOps ops;
        ops.FailOn(_T("Replace"), 2);
        CHECK_THROWS_AS(manager.Restore(0, true), ErrorBase);
        CHECK(TrailHolds(trail, _T("System key: 'Software'. Replacing result: 0"), _T("Replacing current user: 5")));
        REQUIRE(ReplacedKeys(ops) == std::vector<tstring>{_T("HKLM\\Software"), _T("HKLM\\Software")});
        tstring kept = ops.replaced[1].newFile;
        CHECK(ReadAll(kept).size() > 1000);  // the live Software hive, saved before its replacement
        CHECK(ReadAll(planted.UserHive()) == profileHive);
        CHECK(Added(before, WorkNames(TempPath())) == std::set<tstring>{kept.substr(kept.rfind(_T('\\')) + 1)});
        DeleteFile(kept.c_str());
    }
    {
        // The classes hive failing after the user hive.
        DeleteFile(trail.c_str());
        TracingHiveOps ops;
        ops.FailOn(_T("Replace"), 2);
        CHECK_THROWS_AS(manager.Restore(0, false), ErrorBase);
        log.SetFileName(oldTrail);
        CHECK(TrailHolds(trail, _T("Replacing hive: 0"), _T("Replacing classes: 5")));
        REQUIRE(ReplacedKeys(ops) == std::vector<tstring>{_T("HKU\\") + sid, _T("HKU\\") + sid});
        tstring kept = ops.replaced[1].newFile;
        CHECK(ReadAll(kept).size() > 100);  // the live user hive, saved before its replacement
        DeleteFile(kept.c_str());
    }
    CHECK(Added(before, WorkNames(TempPath())).empty());
}

TEST_CASE("A backup given up before it commits is neither listed nor left as a file; once committed it stays") {
    EnsureCurrentClassesKey();
    TempFolder dir(_T("givenup"));
    std::set<tstring> before = WorkNames(TempPath());
    RecordingHiveOps ops;
    {
        // It runs to its end all the same, as a write that came back late.
        BackupGate gate;
        CHECK(gate.GiveUp());
        BackupManager manager;
        manager.Load(dir / _T("backups.lst"));
        manager.SetGate(&gate);
        CHECK_THROWS_AS(manager.Create(0, dir / _T("late.bkp"), _T(""), false), ErrorBase);
        CHECK(manager.Count() == 0);
    }
    CHECK(dir.Files().empty());
    CHECK(Added(before, WorkNames(TempPath())).empty());
    BackupGate gate;
    BackupManager manager;
    manager.Load(dir / _T("backups.lst"));
    manager.SetGate(&gate);
    CHECK(manager.Create(0, dir / _T("made.bkp"), _T(""), false) == 0);
    CHECK_FALSE(gate.GiveUp());
    CHECK(dir.Files() == std::vector<tstring>{_T("backups.lst"), _T("made.bkp")});
}

namespace {

// A backup into dir that the gate decides on while the sink's step runs; it
// must fail. The entries listed afterwards.
int LateBackupCount(const TempFolder& dir, BackupGate& gate, StepSink& sink) {
    BackupManager manager;
    manager.Load(dir / _T("backups.lst"));
    manager.SetGate(&gate);
    manager.SetProgress(&sink);
    CHECK_THROWS_AS(manager.Create(0, dir / _T("late.bkp"), _T(""), false), ErrorBase);
    return manager.Count();
}

}  // namespace

TEST_CASE("A backup given up while it is verified is refused at its commit, and deletes nothing the give-up took "
          "over") {
    EnsureCurrentClassesKey();
    TempFolder dir(_T("givenupverify"));
    RecordingHiveOps ops;
    BackupGate gate;
    HANDLE dropped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    gate.SetRemover([dropped](const tstring& path) {
        int result = DeletePath(path);
        SetEvent(dropped);
        return result;
    });
    {
        // Given up while it verifies, its files left to it: the verified file
        // is refused at the commit and removed, never listed.
        BackupGate alone;
        StepSink giveUp(_T("Verifying backup file"), [&] { REQUIRE(alone.GiveUp()); });
        CHECK(LateBackupCount(dir, alone, giveUp) == 0);
        CHECK(dir.Files().empty());
    }
    std::vector<tstring> beside;
    // Given up while the last step before the commit runs; by the time the
    // worker comes back, the next backup has made a file under the name its
    // own file beside the target had.
    StepSink sink(_T("Verifying backup file"), [&] {
        beside = dir.Files();
        REQUIRE(gate.GiveUp());
        gate.DropFiles();
        REQUIRE(testlimit::Wait(dropped, testlimit::kStep, "the given-up backup's files to be dropped"));
        for (int i = 0; i < 100 && !dir.Files().empty(); ++i) Sleep(50);
        for (const tstring& name : beside)
            WriteAll(dir / name, "the next backup's");
    });
    CHECK(LateBackupCount(dir, gate, sink) == 0);
    REQUIRE(beside.size() == 1);
    CHECK(dir.Files() == beside);
    CHECK(ReadAll(dir / beside[0]) == "the next backup's");
    CloseHandle(dropped);
}

TEST_CASE("A committed backup keeps no copy of the hives while it takes its name and is listed") {
    EnsureCurrentClassesKey();
    TempFolder dir(_T("committed"));
    std::set<tstring> before = WorkNames(TempPath());
    RecordingHiveOps ops;
    BackupGate gate;
    std::set<tstring> left = {_T("(Finalize not reached)")};
    bool committed = false;
    // A worker stuck from here on (a move or a list write that hangs).
    StepSink sink(_T("Finalize"), [&] {
        left = Added(before, WorkNames(TempPath()));
        committed = !gate.GiveUp();
    });
    BackupManager manager;
    manager.Load(dir / _T("backups.lst"));
    manager.SetGate(&gate);
    manager.SetProgress(&sink);
    CHECK(manager.Create(0, dir / _T("made.bkp"), _T(""), false) == 0);
    CHECK(committed);
    CHECK(left == std::set<tstring>());
}

namespace {

// The environment of this process with TMP and TEMP set to folder.
std::vector<WCHAR> EnvironmentWithTemp(const tstring& folder) {
    std::vector<WCHAR> block;
    LPWCH all = GetEnvironmentStringsW();
    for (LPWCH entry = all; *entry; entry += wcslen(entry) + 1)
        if (_wcsnicmp(entry, L"TMP=", 4) != 0 && _wcsnicmp(entry, L"TEMP=", 5) != 0)
            block.insert(block.end(), entry, entry + wcslen(entry) + 1);
    FreeEnvironmentStringsW(all);
    for (const tstring& name : {tstring(L"TMP="), tstring(L"TEMP=")}) {
        tstring entry = name + folder;
        block.insert(block.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
    }
    block.push_back(0);
    return block;
}

// The probe's exit code, after at most two minutes.
DWORD RunProbe(const tstring& arguments, const tstring& temp) {
    TCHAR self[MAX_PATH] = {};
    GetModuleFileName(nullptr, self, MAX_PATH);
    tstring exe = self;
    exe = exe.substr(0, exe.rfind(_T('\\'))) + _T("\\backup_probe.exe");
    tstring line = _T("\"") + exe + _T("\" ") + arguments;
    std::vector<WCHAR> environment = EnvironmentWithTemp(temp);
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process = {};
    REQUIRE(CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                           environment.data(), nullptr, &startup, &process));
    DWORD code = 99;
    if (testlimit::Wait(process.hProcess, testlimit::kLong, "the backup probe that gives its backup up"))
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

}  // namespace

TEST_CASE("A backup given up while the compressor holds its pack leaves no pack or work file once its process ends") {
    EnsureCurrentClassesKey();
    TempFolder temp(_T("probetemp")), dir(_T("probebkp"));
    DWORD code = 3;
    // 3: the compression ended before the probe could stop it; tried again.
    for (int attempt = 0; attempt < 3 && code == 3; ++attempt)
        code = RunProbe(_T("given-up-open \"") + dir / _T("late.bkp") + _T("\""), temp.Path());
    REQUIRE(code == 0);
    for (int i = 0; i < 100 && !(WorkNames(temp.Path()).empty() && dir.Files().empty()); ++i)
        Sleep(100);
    CHECK(WorkNames(temp.Path()) == std::set<tstring>());
    CHECK(dir.Files() == std::vector<tstring>());
}

#include <doctest/doctest.h>
#include <windows.h>
#include <oleauto.h>
#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>
#include "EngineTestSupport.h"
#include "MailTestSupport.h"
#include "PageTestSupport.h"
#include "PlantedFaults.h"
#include "RecordingHiveOps.h"
#include "RecordingRestart.h"
#include "RecordingScriptSink.h"
#include "RecordingUiServices.h"
#include "TempFolder.h"
#include "TestLimits.h"
#include "app/AppUtilities.h"
#include "app/mainview/MainView.h"
#include "app/OperationLock.h"
#include "app/pages/MaintenancePages.h"
#include "common/com/ComPtr.h"
#include "common/settings/AppFolders.h"
#include "common/settings/Settings.h"
#include "hives/BackupCatalogue.h"
#include "hives/CompactFlags.h"

namespace {

const wchar_t kRunOnce[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char kMailServer[] = "127.0.0.3";

// What the program looks like from outside while a run goes on, taken by a
// timer that the run's own message pumping fires.
struct Sample {
    bool locked, closeGrayed, quiet, scanning;
    size_t backups;
};

struct Observer {
    ListingView* view = nullptr;
    const TempFolder* backups = nullptr;
    std::vector<Sample> samples;
    // The run under way, for the watchdog's report.
    std::string run;
    // Clicks the side bar and the start page's scan once while the scan runs.
    bool clickWhileScanning = false;
};
Observer g_observer;

// The hidden frame a scheduled run reports to, with the pages it opens; put
// back even when a case stops at a failed REQUIRE, so that later cases do not
// meet a destroyed main window.
struct HiddenFrame {
    HWND window = CreateWindowExW(0, L"STATIC", L"Orvane", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                  nullptr, nullptr);
    MaintenancePages pages;
    HiddenFrame() {
        SetMainWindow(window);
        SetPageNavigator(&pages);
    }
    ~HiddenFrame() {
        SetPageNavigator(nullptr);
        SetMainWindow(nullptr);
        DestroyWindow(window);
    }
    HiddenFrame(const HiddenFrame&) = delete;
    HiddenFrame& operator=(const HiddenFrame&) = delete;
};

void Click(MainView& view, const wchar_t* event, const wchar_t* item) {
    BSTR name = SysAllocString(event);
    VARIANT param;
    VariantInit(&param);
    param.vt = VT_BSTR;
    param.bstrVal = SysAllocString(item);
    view.OnHTMLEvent(nullptr, name, nullptr, &param);
    VariantClear(&param);
    SysFreeString(name);
}

// What the watchdog says when the case outlives its limit: the run, its last
// sample, and whether its scan had begun. A scan run hangs before its first
// scanning sample where the view connects to a new engine; that is where
// Wine 8's RPC runtime can block for ever in the final release of a
// connection point's proxy (RemRelease waiting in RpcServerUnregisterIf),
// a fault of Wine under heavy load rather than of the program.
void SayPlace(const char* step, bool underway = true) {
    const std::vector<Sample>& all = g_observer.samples;
    bool scanned = std::any_of(all.begin(), all.end(), [](const Sample& s) { return s.scanning; });
    std::string text = g_observer.run + ", " + step + "; " + std::to_string(all.size()) + " samples";
    if (!all.empty()) {
        const Sample& last = all.back();
        text += std::string("; last: lock ") + (last.locked ? "held" : "free") + ", " + (last.quiet ? "quiet" : "not quiet") +
                ", " + (last.scanning ? "scanning" : scanned ? "scan over" : "no scan yet") + ", " +
                std::to_string(last.backups) + " backups";
    }
    if (underway && !scanned && g_observer.run.find("scan") != std::string::npos)
        text += "; no scan seen: the view was connecting to the engine (Advise, the release of the last engine's "
                "proxies), where Wine 8's RPC runtime can hang in RpcServerUnregisterIf";
    testlimit::SetPlace(text.c_str());
}

void CALLBACK Observe(HWND, UINT, UINT_PTR, DWORD) {
    UINT state = GetMenuState(GetSystemMenu(GetMainWindow(), FALSE), SC_CLOSE, MF_BYCOMMAND);
    g_observer.samples.push_back({IsOperationRunning(), state != UINT(-1) && (state & MF_GRAYED) != 0,
                                  g_observer.view->Quiet(), g_observer.view->IsScanRunning(),
                                  g_observer.backups->Files().size()});
    SayPlace("running");
    if (g_observer.clickWhileScanning && g_observer.samples.back().scanning) {
        g_observer.clickWhileScanning = false;
        Click(*g_observer.view, L"OutBarItemClicked", L"RegistryScan");
        Click(*g_observer.view, L"Scan_Express", L"autofix");
    }
}

// One scheduled run as the frame's timer makes it, observed throughout; the
// run's name says what it does, for the watchdog.
void RunObserved(ListingView& view, int operation, const char* run, bool waits = true) {
    g_observer.samples.clear();
    g_observer.run = run;
    SayPlace("starting");
    REQUIRE(TryBeginOperation());
    UINT_PTR timer = SetTimer(nullptr, 0, 20, Observe);
    view.RunScheduledJob(operation);
    KillTimer(nullptr, timer);
    SayPlace("returned", false);
    CHECK_FALSE(IsOperationRunning());
    CHECK_FALSE(view.Quiet());
    CHECK_FALSE(view.IsScanRunning());
    // The first and last pumps of a run come before the quiet mode and
    // after the close command is back; the lock spans them all.
    size_t quiet = 0;
    for (const Sample& sample : g_observer.samples) {
        CHECK(sample.locked);
        if (sample.quiet && sample.closeGrayed) ++quiet;
        if (sample.scanning) CHECK((sample.quiet && sample.closeGrayed));
    }
    if (waits) CHECK(quiet > 0);
}

// The engine events that a quiet run must not turn into script.
size_t EngineScripts(const RecordingScriptSink& sink) {
    size_t count = 0;
    for (const auto& script : sink.scripts)
        for (const wchar_t* call : {L"OnRecordFound(", L"OnScanProgress(", L"OnScanFinish(", L"WaitAndGo("})
            if (script.text.find(call) != std::wstring::npos) ++count;
    return count;
}

std::string BodyText(const std::map<std::string, std::string>& message) {
    auto found = message.find("body");
    if (found == message.end()) return std::string();
    std::string bytes;
    for (size_t i = 0; i + 1 < found->second.size(); i += 2)
        bytes += char(std::stoi(found->second.substr(i, 2), nullptr, 16));
    return bytes;
}

bool Holds(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct UndoFile {
    long index = -1;
    DATE date = 0;
    long fixes = 0;
};

std::vector<UndoFile> UndoFiles(ICrawler* engine) {
    long count = 0;
    REQUIRE(SUCCEEDED(engine->GetUndoFilesCount(&count)));
    std::vector<UndoFile> files;
    for (long i = 0; i < count; ++i) {
        UndoFile file;
        file.index = i;
        REQUIRE(SUCCEEDED(engine->GetUndoFileInfo(i, &file.date, &file.fixes)));
        files.push_back(file);
    }
    return files;
}

UndoFile Newest(const std::vector<UndoFile>& files) {
    UndoFile newest;
    for (const UndoFile& file : files)
        if (newest.index < 0 || file.date >= newest.date) newest = file;
    return newest;
}

// Puts every fix of the newest undo file back and drops the file, so the
// prefix is as the other tests expect it.
void UndoNewest(ICrawler* engine) {
    UndoFile newest = Newest(UndoFiles(engine));
    REQUIRE(newest.index >= 0);
    REQUIRE(SUCCEEDED(engine->ReadUndoFile(newest.index)));
    long count = 0;
    REQUIRE(SUCCEEDED(engine->get_UndoCount(&count)));
    for (long i = 1; i <= count; ++i) CHECK(SUCCEEDED(engine->UndoFix(i)));
    CHECK(SUCCEEDED(engine->FinalizeUndoSession()));
    CHECK(SUCCEEDED(engine->DeleteUndoFile(newest.index)));
}

ComPtr<ICrawler> NewEngine() {
    CLSID clsid;
    ComPtr<ICrawler> engine;
    REQUIRE(SUCCEEDED(CLSIDFromProgID(L"OrvaneEngine.Crawler", &clsid)));
    REQUIRE(SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ICrawler, engine.ReceiveVoid())));
    return engine;
}

// The settings of a user who has every scheduled report mailed; put back
// (in memory only: nothing is saved) at the end.
struct MailingSettings {
    explicit MailingSettings(const tstring& backupFolder) : oldBackups(GetSettings().GetBackupDirectory()) {
        Settings& s = GetSettings();
        s.SetReportMailSwitch(true);
        s.SetReportMail(L"admin@orvane.test");
        s.SetReportMailServer(tstring::FromNarrow(kMailServer));
        s.SetScanResultsThreshold(false);
        s.SetAutoFix(true);
        s.SetAutoBackupSwitch(false);
        // Restarts belong to compaction alone.
        s.SetAutoReboot(true);
        s.SetBackupFolder(backupFolder);
    }
    ~MailingSettings() {
        Settings& s = GetSettings();
        s.SetReportMailSwitch(false);
        s.SetReportMail(L"");
        s.SetReportMailServer(L"");
        s.SetScanResultsThreshold(true);
        s.SetAutoFix(false);
        s.SetAutoBackupSwitch(false);
        s.SetAutoReboot(false);
        s.SetBackupFolder(oldBackups);
    }
    tstring oldBackups;
};

// The backup catalogue of the prefix, put back as it was.
struct KeptFile {
    explicit KeptFile(const tstring& path) : path(path), existed(FileExists(path)), bytes(ReadAll(path)) {}
    ~KeptFile() {
        if (existed)
            WriteAll(path, bytes);
        else
            DeleteFileW(path.c_str());
    }
    tstring path;
    bool existed;
    std::string bytes;
};

std::wstring Today() {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    return FormatText(L"%.4d-%.2d-%.2d", now.wYear, now.wMonth, now.wDay);
}

}  // namespace

TEST_CASE("scheduled scan and fix: a stopped scan fixes nothing, then backup, scan and one fix session, then a clean "
          "registry") {
    const std::vector<std::wstring> planted = {L"C:\\gone\\scheduled one.dll", L"C:\\gone\\scheduled two.dll"};
    PlantSharedDlls(planted);

    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        CapturedLog log;
        Responder server("smtp", kMailServer, 600);
        REQUIRE(server.Started());
        RecordingRestart restart;
        TempFolder backups(L"scheduledbkp");
        MailingSettings settings(backups.Path());
        KeptFile catalogue(GetBackupListPath());
        RecordingHiveOps hives;
        HiddenFrame frame;
        REQUIRE(frame.window);
        int mails = 0;
        {
            // Without a registered engine the scan cannot start: still a report.
            ListingView view;
            g_observer.view = &view;
            g_observer.backups = &backups;
            RunObserved(view, 3, "run 1 of 4 (a scan without a registered engine)", false);
            CHECK(log.Has(L"Scheduled scan did not start."));
            std::string failed = BodyText(server.Message(++mails));
            CHECK(Holds(failed, "did not run to its end"));
            CHECK_FALSE(Holds(failed, "perfect condition"));
        }
        RegisteredEngine registered;
        REQUIRE(registered.ExitCode() == 0);
        ComPtr<ICrawler> undo = NewEngine();
        size_t undoFiles = UndoFiles(undo).size();
        {
            ListingView view;
            g_observer.view = &view;
            g_observer.backups = &backups;
            BSTR again = SysAllocString(L"Scan_Again");
            view.OnHTMLEvent(nullptr, again, nullptr, nullptr);
            SysFreeString(again);
            REQUIRE(view.shown == std::vector<std::wstring>{L"scanStart.htm#"});

            // A scan that runs out of time is stopped and reported as such.
            view.SetScheduledScanLimit(0);
            RunObserved(view, 3, "run 2 of 4 (a scan out of time, stopped)");
            // Well inside the case's own limit (a scan here takes seconds):
            // a scan that does not end is stopped and reported by the run,
            // and the fix session made before it is still undone below.
            view.SetScheduledScanLimit(100 * 1000);
            CHECK(log.Has(L"Scheduled scan did not finish within 0 ms; stopped."));
            CHECK(log.Has(L"problems; not fixed."));
            CHECK(UndoFiles(undo).size() == undoFiles);
            std::string stopped = BodyText(server.Message(++mails));
            CHECK(Holds(stopped, "did not run to its end"));
            CHECK_FALSE(Holds(stopped, "perfect condition"));
            CHECK(view.shown == std::vector<std::wstring>{L"scanStart.htm#", L"backgroundOper.htm#3", L"scanStart.htm#"});

            // With AutoBackupSwitch: the backup before the scan, then one fix
            // session; the lock held all along, and the user's clicks on
            // the background page start nothing meanwhile.
            GetSettings().SetAutoBackupSwitch(true);
            g_observer.clickWhileScanning = true;
            view.shown.clear();
            view.sink.scripts.clear();
            RunObserved(view, 3, "run 3 of 4 (backup, then scan and one fix session)");
            CHECK(view.shown == std::vector<std::wstring>{L"backgroundOper.htm#1", L"scanStart.htm#",
                                                          L"backgroundOper.htm#3", L"scanStart.htm#"});
            CHECK(EngineScripts(view.sink) == 0);
            CHECK(backups.Files() == std::vector<tstring>{L"registry_backup_" + Today() + L".bkp"});
            bool scanSeen = false;
            for (const Sample& sample : g_observer.samples)
                if (sample.scanning && !scanSeen) {
                    scanSeen = true;
                    CHECK(sample.backups == 1);
                }
            CHECK(scanSeen);
            CHECK_FALSE(g_observer.clickWhileScanning);
            std::vector<UndoFile> files = UndoFiles(undo);
            REQUIRE(files.size() == undoFiles + 1);
            long fixes = Newest(files).fixes;
            CHECK(fixes >= long(planted.size()));
            std::string backupMail = BodyText(server.Message(++mails));
            CHECK(Holds(backupMail, "successfully created"));
            std::string scanMail = BodyText(server.Message(++mails));
            CHECK(Holds(scanMail, "Fix errors automatically: Yes"));
            CHECK(Holds(scanMail, "Errors found: " + std::to_string(fixes) + "   \r\n"));
            CHECK_FALSE(Holds(scanMail, "Warning!"));
            CHECK(log.Has(FormatText(L"Scheduled scan found %ld problems; fixed.", fixes)));

            // Nothing left to find: no fix session, and the mail says so.
            GetSettings().SetAutoBackupSwitch(false);
            RunObserved(view, 3, "run 4 of 4 (a scan with nothing left to find)");
            CHECK(UndoFiles(undo).size() == undoFiles + 1);
            std::string cleanMail = BodyText(server.Message(++mails));
            CHECK(Holds(cleanMail, "No errors have been found."));
            CHECK_FALSE(Holds(cleanMail, "Errors found: "));
            CHECK(log.Has(L"Scheduled scan found 0 problems; not fixed."));
            CHECK(server.Message(mails + 1, 500).empty());
            SayPlace("closing the view: it unadvises and releases the engine, where Wine 8's RPC runtime can hang");
        }
        SayPlace("undoing the fix session");
        UndoNewest(undo);
        CHECK(restart.calls.empty());
    }
    CoUninitialize();
    HKEY shared = nullptr;
    REQUIRE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSharedDlls, 0, KEY_ALL_ACCESS, &shared) == ERROR_SUCCESS);
    for (const auto& name : planted) {
        // The undo put the planted entries back.
        CHECK(RegQueryValueExW(shared, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS);
        RegDeleteValueW(shared, name.c_str());
    }
    RegCloseKey(shared);
}

namespace {

// A hive seam that fails the way a library can: with an exception of its own.
struct ThrowingHiveOps : HiveOps {
    ThrowingHiveOps() : previous(SetHiveOps(this)) {}
    ~ThrowingHiveOps() override { SetHiveOps(previous); }
    LONG Save(HKEY, const tstring&) override { throw std::runtime_error("disk gone"); }
    LONG Load(HKEY, const tstring&, const tstring&) override { return ERROR_SUCCESS; }
    LONG Unload(HKEY, const tstring&) override { return ERROR_SUCCESS; }
    LONG Replace(HKEY, const tstring&, const tstring&, const tstring&, const tstring&) override {
        return ERROR_SUCCESS;
    }
    HiveOps* previous;
};

}  // namespace

TEST_CASE("scheduled backups and compaction show their own background page and number the day's backups") {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        CapturedLog log;
        RecordingRestart restart;
        TempFolder backups(L"scheduledday");
        MailingSettings settings(backups.Path());
        GetSettings().SetReportMailSwitch(false);
        KeptFile catalogue(GetBackupListPath());
        CompactFlags shared;
        shared.Open(true);
        HiddenFrame frame;
        REQUIRE(frame.window);
        {
            ListingView view;
            g_observer.view = &view;
            g_observer.backups = &backups;
            // The page the runs come back to, with its query.
            Click(view, L"Scan_Custom", L"");
            {
                RecordingHiveOps hives;
                RunObserved(view, 1, "backup 1 of 3");
                RunObserved(view, 1, "backup 2 of 3");
            }
            CHECK(restart.calls.empty());
            RunObserved(view, 2, "the compaction", false);
            CHECK(restart.calls.size() == 1);
            const std::wstring selection = L"scanSelectUnions.htm#unions=0";
            CHECK(view.shown == std::vector<std::wstring>{selection, L"backgroundOper.htm#1", selection,
                                                          L"backgroundOper.htm#1", selection, L"backgroundOper.htm#2",
                                                          selection});
            std::wstring day = L"registry_backup_" + Today();
            CHECK(backups.Files() == std::vector<tstring>{day + L" (2).bkp", day + L".bkp"});
            BackupCatalogue list;
            list.Load(GetBackupListPath());
            REQUIRE(list.Count() >= 2);
            CHECK(list.Entry(list.Count() - 1).path == backups.File(day + L" (2).bkp"));
            CHECK(list.Entry(list.Count() - 1).comment == L"Queued automatic backup");
            CHECK(list.Entry(list.Count() - 1).kind == 1);

            // Any failure has a text, and with mail off the log keeps it.
            ThrowingHiveOps failing;
            RunObserved(view, 1, "backup 3 of 3 (failing)");
            CHECK(log.Has(L"Scheduled backup failed: The backup failed: disk gone"));
            CHECK(backups.Files().size() == 2);
        }
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kRunOnce, L"QUARN OrvaneCompact");
    }
    CoUninitialize();
}

TEST_CASE("a hidden scheduled backup past a damaged or a busy list waits on no box: the damaged one kept aside, the "
          "busy one left as it is") {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        CapturedLog log;
        RecordingUiServices ui;
        auto boxTexts = [&ui] {
            std::string texts;
            for (const RecordingUiServices::Box& box : ui.boxes)
                texts += "[" + std::string(box.text.begin(), box.text.end()) + "] ";
            return texts;
        };
        TempFolder backups(L"scheduledlist");
        MailingSettings settings(backups.Path());
        GetSettings().SetReportMailSwitch(false);
        tstring list = GetBackupListPath(), kept = BackupCatalogue::DamagedCopyPath(list);
        KeptFile catalogue(list), keptCopy(kept);
        RecordingHiveOps hives;
        // The frame's pages are made as a scheduled start makes them, the
        // backup page's load of the list among them.
        auto run = [&backups](const char* name, const std::function<void()>& afterPages = nullptr) {
            HiddenFrame frame;
            REQUIRE(frame.window);
            if (afterPages)
                afterPages();
            ListingView view;
            g_observer.view = &view;
            g_observer.backups = &backups;
            RunObserved(view, 1, name);
        };

        WriteAll(list, "not a list");
        run("a backup past a damaged list");
        CHECK_MESSAGE(ui.boxes.empty(), boxTexts());
        CHECK(ReadAll(kept) == "not a list");
        BackupCatalogue listed;
        listed.Load(list);
        REQUIRE(listed.Count() == 1);
        CHECK(listed.Entry(0).path == backups.File(L"registry_backup_" + Today() + L".bkp"));
        // Damaged after the pages found it sound: the run itself sets it aside.
        run("a backup past a list damaged after the pages read it", [&] { WriteAll(list, "damaged later"); });
        CHECK_MESSAGE(ui.boxes.empty(), boxTexts());
        CHECK(ReadAll(kept) == "damaged later");
        listed.Load(list);
        REQUIRE(listed.Count() == 1);
        CHECK(listed.Entry(0).path == backups.File(L"registry_backup_" + Today() + L" (2).bkp"));

        std::string before = ReadAll(list);
        HANDLE held = CreateFileW(list.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        REQUIRE(held != INVALID_HANDLE_VALUE);
        run("a backup past a list another program holds");
        CloseHandle(held);
        CHECK_MESSAGE(ui.boxes.empty(), boxTexts());
        CHECK(log.Has(L"Scheduled backup failed: The backup files list cannot be read: "));
        CHECK(backups.Files().size() == 2);
        CHECK(ReadAll(list) == before);
    }
    CoUninitialize();
}

TEST_CASE("a scheduled backup whose write never returns is given up at its limit: logged, mailed as failed, the lock "
          "given back, no file left; when it returns after the next backup took its name, that backup stays whole and "
          "listed, and the late one is not listed") {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        CapturedLog log;
        Responder server("smtp", kMailServer, 240);
        REQUIRE(server.Started());
        TempFolder backups(L"scheduledhung");
        MailingSettings settings(backups.Path());
        KeptFile catalogue(GetBackupListPath());
        BackupCatalogue listed;
        HiddenFrame frame;
        REQUIRE(frame.window);
        std::wstring file = L"registry_backup_" + Today() + L".bkp";
        {
            // Held in a hive save, its file open: the work folder outlives
            // the give-up, and the worker goes on once let go.
            RecordingHiveOps hives;
            hives.HoldOn(L"Save", 1);
            {
                ListingView view;
                g_observer.view = &view;
                g_observer.backups = &backups;
                view.SetBackupWaitLimit(2000);
                RunObserved(view, 1, "a backup whose first hive save never returns");
                CHECK(hives.Holding());
                CHECK(view.shown == std::vector<std::wstring>{L"backgroundOper.htm#1"});
                CHECK(log.Has(L"\\" + file + L" did not finish within 2 seconds; given up."));
                CHECK(log.Has(L"Scheduled backup failed: The backup did not finish within 2 seconds and was given up: "));
                std::string mail = BodyText(server.Message(1));
                CHECK(Holds(mail, "Registry backup failed because of the following error: The backup did not finish "
                                  "within 2 seconds"));
                // The file made beside the target before the hives goes on a
                // thread of its own.
                for (int i = 0; i < 300 && !backups.Files().empty(); ++i) Sleep(100);
                CHECK(backups.Files().empty());

                // The next backup of the day takes the free name.
                view.SetBackupWaitLimit(200 * 1000);
                RunObserved(view, 1, "the next backup, under the name of the one given up");
                CHECK(Holds(BodyText(server.Message(2)), "successfully created"));
            }
            REQUIRE(backups.Files() == std::vector<tstring>{file});
            std::string made = ReadAll(backups.File(file));
            // Retention may have dropped older entries of the prefix.
            listed.Load(GetBackupListPath());
            int afterNext = listed.Count();
            REQUIRE(afterNext >= 1);
            BackupEntry entry = listed.Entry(afterNext - 1);
            CHECK(entry.path == backups.File(file));

            hives.Release();
            for (int i = 0; i < 1200 && !log.Has(L"The backup given up at its limit has returned: "); ++i) Sleep(100);
            // It came back and was refused: it went no further than the step
            // it was stuck in.
            CHECK(log.Has(L"The backup given up at its limit has returned: The backup was given up at its limit"));
            CHECK(backups.Files() == std::vector<tstring>{file});
            CHECK(ReadAll(backups.File(file)) == made);
            listed.Load(GetBackupListPath());
            REQUIRE(listed.Count() == afterNext);
            BackupEntry after = listed.Entry(afterNext - 1);
            CHECK(after.path == entry.path);
            CHECK(after.comment == entry.comment);
            CHECK(CompareFileTime(&after.time, &entry.time) == 0);
        }
    }
    CoUninitialize();
}

TEST_CASE("a scheduled compaction asks through RunOnce on Windows 6 and through the shared list elsewhere") {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring probe = self;
    probe = probe.substr(0, probe.rfind(L'\\') + 1) + L"compact_request_probe.exe";
    const wchar_t appKey[] = L"Software\\Wine\\AppDefaults\\compact_request_probe.exe";
    CompactFlags shared;
    shared.Open(true);
    CompactFlags requests;
    requests.Open(false);

    // The probe declares Vista to Windows 10 in its manifest, as rundll32 does.
    for (auto [version, seen] : std::initializer_list<std::pair<const wchar_t*, DWORD>>{
             {L"vista", 0x600}, {L"win7", 0x601}, {L"win8", 0x602}, {L"win81", 0x603}, {L"win10", 0xA00},
             {L"winxp", 0x501}, {L"winxp64", 0x502}, {L"win2003", 0x502}}) {
        std::string name(version, version + wcslen(version));
        CAPTURE(name);
        bool windows6 = seen >= 0x600;
        requests.Clear();
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kRunOnce, L"QUARN OrvaneCompact");
        REQUIRE(RegSetKeyValueW(HKEY_CURRENT_USER, appKey, L"Version", REG_SZ, version,
                                DWORD((wcslen(version) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS);
        STARTUPINFOW startup = {sizeof startup};
        PROCESS_INFORMATION process = {};
        std::wstring line = L"\"" + probe + L"\"";
        REQUIRE(CreateProcessW(probe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                               &process));
        REQUIRE(WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0);
        DWORD answer = 0;
        GetExitCodeProcess(process.hProcess, &answer);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        // The version really reached the probe; one restart request; lock given
        // back; on Windows 6 the compaction library compacted without a request.
        REQUIRE((answer >> 8) == seen);
        CHECK((answer & 0xFF) == (windows6 ? 11u : 2u));
        bool runOnce = RegGetValueW(HKEY_LOCAL_MACHINE, kRunOnce, L"QUARN OrvaneCompact", RRF_RT_REG_SZ, nullptr,
                                    nullptr, nullptr) == ERROR_SUCCESS;
        CHECK(runOnce == windows6);
        CHECK(requests.IsAll() == !windows6);
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, appKey);
    RegDeleteKeyW(HKEY_CURRENT_USER, appKey);
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kRunOnce, L"QUARN OrvaneCompact");
    requests.Clear();
}

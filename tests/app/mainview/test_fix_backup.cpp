#include <doctest/doctest.h>
#include <windows.h>
#include <oleauto.h>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>
#include "EngineTestSupport.h"
#include "FileBytes.h"
#include "PageTestSupport.h"
#include "PlantedFaults.h"
#include "RecordingHiveOps.h"
#include "RecordingScriptSink.h"
#include "RecordingUiServices.h"
#include "TempFolder.h"
#include "app/AppUtilities.h"
#include "app/html/BrowserVersion.h"
#include "app/mainview/MainView.h"
#include "app/OperationLock.h"
#include "app/pages/MaintenancePages.h"
#include "common/log/Log.h"
#include "common/settings/AppFolders.h"
#include "hives/BackupCatalogue.h"

namespace {

const UINT kEventMessage = WM_APP + 9;
const std::vector<std::wstring> kFaults = {L"C:\\gone\\fix backup one.dll", L"C:\\gone\\fix backup two.dll"};

size_t BackupFiles(const TempFolder& folder) {
    std::vector<tstring> files = folder.Files();
    return std::count_if(files.begin(), files.end(), [](const tstring& name) {
        return name.size() > 4 && name.compare(name.size() - 4, 4, L".bkp") == 0;
    });
}

// The real page objects on a recording sink; posted events reach the shown
// page first and then the view, as in the HTML view.
class TestView : public MainView {
public:
    explicit TestView(const TempFolder& backups) : backups_(backups) {}
    RecordingScriptSink sink;
    HWND events = nullptr;
    HtmlPage* current = nullptr;
    std::vector<std::wstring> shown;
    // The backups that existed when the fixing page came up.
    size_t backupsAtFix = 0;

protected:
    bool DisplayPage(HtmlPage* page, const wchar_t* query) override {
        page->AttachControl(nullptr, kEventMessage, events, &sink);
        current = page;
        shown.push_back(std::wstring(page->PageName()) + L"#" + query);
        if (shown.back().rfind(L"Fixing.htm#", 0) == 0) backupsAtFix = BackupFiles(backups_);
        return true;
    }

private:
    const TempFolder& backups_;
};

TestView* g_view = nullptr;

LRESULT CALLBACK EventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kEventMessage) return DefWindowProcW(window, message, wParam, lParam);
    ReceivePostedEvent(wParam, lParam, [&](BSTR name, VARIANT* param) {
        BSTR element = SysAllocString(L"");
        DispatchHtmlEvent(g_view->current, g_view, nullptr, name, element, param);
        SysFreeString(element);
    });
    return 0;
}

int Dispatch(MainView& view, const wchar_t* name, VARIANT* param) {
    BSTR event = SysAllocString(name);
    BSTR element = SysAllocString(L"");
    int result = view.OnHTMLEvent(reinterpret_cast<IDispatch*>(&view), event, element, param);
    SysFreeString(event);
    SysFreeString(element);
    return result;
}

size_t CountOf(const RecordingScriptSink& sink, const std::wstring& text) {
    return std::count_if(sink.scripts.begin(), sink.scripts.end(),
                         [&](const RecordedScript& script) { return script.text == text; });
}

// Pumps (bounded) until done says so.
void PumpUntil(const std::function<bool()>& done, int seconds) {
    for (int i = 0; i < seconds * 50 && !done(); ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

BSTR Text(const tstring& text) { return SysAllocString(text.c_str()); }

// The program log in a file of the case's own.
struct OwnLog {
    TempFolder folder{L"fixbackuplog"};
    tstring old = Log::Instance().FileName();
    OwnLog() {
        Log::Instance().SetFileName(folder.File(L"Orvane.log"));
        Log::Instance().SetLevel(LogAll);
    }
    ~OwnLog() { Log::Instance().SetFileName(old); }
    bool Has(const std::wstring& text) const {
        std::string bytes = ReadAll(folder.File(L"Orvane.log"));
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2).find(text) !=
               std::wstring::npos;
    }
};

bool CloseEnabled(HWND frame) {
    UINT state = GetMenuState(GetSystemMenu(frame, FALSE), SC_CLOSE, MF_BYCOMMAND);
    return state != UINT(-1) && !(state & MF_GRAYED);
}

}  // namespace

TEST_CASE("with AutoBackupSwitch on a fix makes one backup before it starts; off, none") {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        RegisteredEngine registered;
        REQUIRE(registered.ExitCode() == 0);
        RecordingHiveOps hives;
        RecordingUiServices ui;
        // Handled at once (older browser) and from the posted copy (7.0 and later).
        // A backup that fails stops the fix: the user asked for one first.
        // So does one that hangs in a write, given up at its limit.
        struct Run {
            int browser;
            bool autoBackup;
            bool backupFails;
            bool backupHangs;
        };
        for (Run run : {Run{6, true, false, false}, Run{7, true, false, false}, Run{6, false, false, false},
                        Run{6, true, true, false}, Run{7, true, false, true}}) {
            CAPTURE(run.browser);
            bool autoBackup = run.autoBackup;
            CAPTURE(autoBackup);
            CAPTURE(run.backupFails);
            CAPTURE(run.backupHangs);
            ui.boxes.clear();
            if (run.backupFails) hives.FailOn(L"Save", 1);
            if (run.backupHangs) hives.HoldOn(L"Save", 1);
            OwnLog log;
            // A visible frame, for its close command.
            HWND frame = CreateWindowExW(0, L"STATIC", L"Orvane", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                         nullptr, nullptr, nullptr, nullptr);
            REQUIRE(frame);
            SetMainWindow(frame);
            SetIEVersion(BrowserVersion{run.browser, 0});
            PlantSharedDlls(kFaults);
            TempFolder backups(L"fixbackups"), undo(L"fixundo");
            MaintenancePages pages;
            SetPageNavigator(&pages);
            {
                TestView view(backups);
                g_view = &view;
                view.SetBackupWaitLimit(run.backupHangs ? 2000 : 100 * 1000);
                view.events = EventWindow(L"FixBackupTestEvents", EventWindowProc);
                BSTR again = SysAllocString(L"Scan_Again");
                CHECK(view.OnHTMLEvent(nullptr, again, nullptr, nullptr) == 0);
                SysFreeString(again);
                VARIANT mask;
                VariantInit(&mask);
                mask.vt = VT_I4;
                mask.lVal = 4;
                REQUIRE(Dispatch(view, L"Scan_ScanCustomStart", &mask) == 0);
                PumpUntil([&] { return CountOf(view.sink, L"WaitAndGo();") != 0; }, 60);
                REQUIRE(CountOf(view.sink, L"WaitAndGo();") == 1);

                ICrawler* engine = view.Engine();
                REQUIRE(engine);
                // The folders are the prefix's shared settings: given back below.
                BSTR oldBackups = nullptr, oldUndo = nullptr;
                engine->get_BackupDirectory(&oldBackups);
                engine->get_UndoDirectory(&oldUndo);
                BSTR folder = Text(backups.Path());
                engine->put_BackupDirectory(folder);
                SysFreeString(folder);
                folder = Text(undo.Path());
                engine->put_UndoDirectory(folder);
                SysFreeString(folder);
                // No older backup of the catalogue is touched.
                engine->put_BackupRetentionSwitch(0);
                engine->put_AutoBackupSwitch(autoBackup ? 1 : 0);

                // An earlier run in the prefix may have listed a backup under this very
                // folder name (process ids come round again): a new one would take its place.
                BackupCatalogue listed;
                listed.Load(GetBackupListPath());
                for (int i = listed.Count() - 1; i >= 0; --i)
                    if (listed.Entry(i).path.rfind(backups.Path() + L"\\", 0) == 0) listed.Remove(i, true);
                int entries = listed.Count();
                VARIANT none;
                VariantInit(&none);
                none.vt = VT_BSTR;
                none.bstrVal = SysAllocString(L"");
                CHECK(Dispatch(view, L"Fix", &none) == 0);
                VariantClear(&none);
                PumpUntil([&] { return hives.Holding() || !ui.boxes.empty() || CountOf(view.sink, L"OnFixFinish(0);"); },
                          300);
                if (run.backupHangs) {
                    CHECK_FALSE(CloseEnabled(frame));
                    CHECK(IsOperationRunning());
                }
                PumpUntil([&] { return !ui.boxes.empty() || CountOf(view.sink, L"OnFixFinish(0);"); }, 300);
                if (run.backupHangs) {
                    // Given up: the user is told, the window is theirs again,
                    // and the hanging write's file goes on a thread of its own.
                    REQUIRE(ui.boxes.size() == 1);
                    CHECK(ui.boxes[0].text.find(L"did not finish in time") != std::wstring::npos);
                    CHECK(CloseEnabled(frame));
                    CHECK(log.Has(L"did not finish within 2 seconds; given up."));
                    PumpUntil([&] { return backups.Files().empty(); }, 30);
                    CHECK(backups.Files().empty());
                    hives.Release();
                    // Its late return neither lists a backup nor fixes.
                    PumpUntil([&] { return log.Has(L"The backup given up at its limit has returned: "); }, 60);
                    CHECK(log.Has(L"The backup given up at its limit has returned: "));
                    PumpUntil([] { return false; }, 1);
                }

                bool fixes = !run.backupFails && !run.backupHangs;
                CHECK(CountOf(view.sink, L"OnFixFinish(0);") == (fixes ? 1u : 0u));
                CHECK(std::count_if(view.shown.begin(), view.shown.end(), [](const std::wstring& page) {
                          return page.rfind(L"Fixing.htm#", 0) == 0;
                      }) == (fixes ? 1 : 0));
                CHECK(view.backupsAtFix == (autoBackup && fixes ? 1u : 0u));
                CHECK(BackupFiles(backups) == (autoBackup && fixes ? 1u : 0u));
                CHECK(backups.Files().size() == BackupFiles(backups));
                listed.Load(GetBackupListPath());
                CHECK(listed.Count() == entries + (autoBackup && fixes ? 1 : 0));
                CHECK(undo.Files().size() == (fixes ? 1u : 0u));
                CHECK(ui.boxes.size() == (fixes ? 0u : 1u));
                if (!fixes) CHECK(view.shown.back() == L"scanResults.htm#");
                CHECK(!IsOperationRunning());
                // The category holds the prefix's own findings too: put them back.
                if (fixes) {
                    long sessions = 0;
                    CHECK(SUCCEEDED(engine->GetUndoFilesCount(&sessions)));
                    CHECK(sessions == 1);
                    CHECK(SUCCEEDED(engine->ReadUndoFile(0)));
                    CHECK(SUCCEEDED(engine->UndoAll()));
                    CHECK(SUCCEEDED(engine->FinalizeUndoSession()));
                }
                engine->put_AutoBackupSwitch(0);
                engine->put_BackupRetentionSwitch(1);
                engine->put_BackupDirectory(oldBackups);
                engine->put_UndoDirectory(oldUndo);
                SysFreeString(oldBackups);
                SysFreeString(oldUndo);
                DestroyWindow(view.events);
            }
            SetPageNavigator(nullptr);
            SetMainWindow(nullptr);
            DestroyWindow(frame);
        }
        SetIEVersion(BrowserVersion{});
    }
    CoUninitialize();
    RemoveSharedDlls(kFaults);
}

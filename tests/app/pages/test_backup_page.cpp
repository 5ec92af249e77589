#include <doctest/doctest.h>
#include <windows.h>
#include <oleauto.h>
#include <memory>
#include "RecordingHiveOps.h"
#include "RecordingRestart.h"
#include "RecordingScriptSink.h"
#include "RecordingUiServices.h"
#include "FileBytes.h"
#include "HeldFile.h"
#include "PlantedProfile.h"
#include "TempFolder.h"
#include "TestLimits.h"
#include "TestStrings.h"
#include "app/pages/BackupPage.h"
#include "app/pages/ProgressWindow.h"
#include "app/resource.h"
#include "common/errors/ErrorBase.h"
#include "common/settings/AppFolders.h"
#include "common/system/FileSystem.h"
#include "common/system/OsVersion.h"

namespace {

struct Variant {
    VARIANT v;
    explicit Variant(const wchar_t* text) {
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(text);
    }
    explicit Variant(int number) {
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = number;
    }
    ~Variant() { VariantClear(&v); }
};

int Fire(HtmlPage& page, const wchar_t* name, VARIANT* param = nullptr) {
    BSTR event = SysAllocString(name);
    int result = page.OnHTMLEvent(nullptr, event, nullptr, param);
    SysFreeString(event);
    return result;
}
int Fire(HtmlPage& page, const wchar_t* name, const wchar_t* text) {
    Variant param(text);
    return Fire(page, name, &param.v);
}

FILETIME Utc(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second) {
    SYSTEMTIME t = {year, month, 0, day, hour, minute, second, 0};
    FILETIME f;
    SystemTimeToFileTime(&t, &f);
    return f;
}

void January2(SYSTEMTIME* now) {
    *now = SYSTEMTIME{2007, 1, 2, 2, 10, 0, 0, 0};
}

// A fresh backups.lst in the data folder for one test.
// Gone for the case: a list still held open elsewhere (deleted, but not yet
// away) must not pass for this case's own.
struct FreshCatalogue {
    FreshCatalogue() { REQUIRE_MESSAGE(Remove(), "the backup list cannot be deleted"); }
    ~FreshCatalogue() { Remove(); }
    static bool Remove() {
        std::wstring path = GetBackupListPath();
        DeleteFileW(path.c_str());
        for (int wait = 0; wait < 100 && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; ++wait) {
            Sleep(50);
            DeleteFileW(path.c_str());
        }
        return GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
    }
};

std::wstring Text(UINT id) { return tstring(MAKEINTRESOURCEW(id)); }

// Open as another program would keep it: others may only read.
HANDLE HoldFile(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

// The texts of the boxes shown, for a failure that finds more or fewer.
std::string BoxTexts(const RecordingUiServices& ui) {
    std::string texts;
    for (const RecordingUiServices::Box& box : ui.boxes)
        texts += "[" + std::string(box.text.begin(), box.text.end()) + "] ";
    return texts;
}

// Another program's handle on the backup list, sharing only what it is
// given, until Release.
class ListHolder {
public:
    explicit ListHolder(DWORD share)
        : file_(CreateFileW(GetBackupListPath().c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr)) {
        REQUIRE_MESSAGE(file_ != INVALID_HANDLE_VALUE, "the backup list cannot be held");
    }
    ~ListHolder() { Release(); }
    void Release() {
        HANDLE file = InterlockedExchangePointer(&file_, INVALID_HANDLE_VALUE);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }

private:
    HANDLE volatile file_;
};

// A user who answers a box only after the holder of the list let go.
struct LettingGoUi : RecordingUiServices {
    ListHolder* holder = nullptr;
    int ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) override {
        if (holder)
            holder->Release();
        return RecordingUiServices::ShowMessage(owner, text, caption, type);
    }
};

// The user's list of one backup; its bytes.
std::string PlantList(const tstring& backup) {
    WriteAll(backup, "x");
    BackupCatalogue catalogue;
    FILETIME t = Utc(2007, 1, 2, 3, 4, 5);
    catalogue.AddEntry(1, backup, L"kept", &t);
    catalogue.Save(GetBackupListPath());
    return ReadAll(GetBackupListPath());
}

}  // namespace

TEST_CASE("The list is filled with escaped texts, the missing file marked and the new backup flagged") {
    FreshCatalogue fresh;
    CreateDirectoryW(L"C:\\b", nullptr);
    WriteAll(L"C:\\b\\x.bkp", "x");
    const wchar_t hostile[] = L"' \" \\ </script> <img src=x onerror=\"window.external.OnHTMLEvent(document,'Hacked','','')\"> &lt;img&gt;\r\nsecond line";
    {
        BackupCatalogue catalogue;
        catalogue.Load(GetBackupListPath());
        FILETIME t = Utc(2007, 1, 2, 3, 4, 5);
        catalogue.AddEntry(1, L"C:\\b\\x.bkp", L"  first\r\nsecond \r\n", &t);
        catalogue.SaveBound();
    }
    BackupPage page;
    RecordingScriptSink sink;
    page.AttachControl(nullptr, 0, nullptr, &sink);
    CHECK(Fire(page, L"Backup_OnLoad") == 0);
    REQUIRE(sink.scripts.size() == 1);
    CHECK(sink.scripts[0].text ==
          L"AddBackupItem(1,'1/2/2007 3:04:05 AM','C:\\\\b\\\\x.bkp','first&lt;BR&gt;second',0,false);  NewBackup();");
    {
        BackupCatalogue catalogue;
        catalogue.Load(GetBackupListPath());
        FILETIME t = Utc(2007, 1, 3, 22, 0, 0);
        catalogue.AddEntry(0, L"C:\\it's \"q\" <b>\\missing.bkp", hostile, &t);
        catalogue.SaveBound();
    }
    sink.scripts.clear();
    Fire(page, L"Backup_OnLoad");
    CHECK(sink.CompareWithGolden("regBackup", "onload") == "");
    CHECK(JScriptParseError(sink.scripts[0].text) == L"");
    // Loaded again with the same last backup: nothing is new.
    sink.scripts.clear();
    Fire(page, L"Backup_OnLoad");
    CHECK(sink.scripts[0].text.find(L",1,false);  NewBackup();") != std::wstring::npos);
    DeleteFileW(L"C:\\b\\x.bkp");
}

TEST_CASE("New backups are named after the day, skipping listed names and existing files") {
    FreshCatalogue fresh;
    TempFolder folder(L"names");
    BackupPage page;
    RecordingScriptSink sink;
    page.AttachControl(nullptr, 0, nullptr, &sink);
    page.SetOptions(true, folder.Path(), nullptr);
    page.SetClock(January2);
    page.Manager().AddEntry(1, folder / L"registry_backup_2007-01-02.bkp", L"", nullptr);
    Fire(page, L"RBackupNew_Click");
    CHECK(sink.CompareWithGolden("regBackup", "proposed") == "");
    WriteAll(folder / L"registry_backup_2007-01-02 (2).bkp", "x");
    sink.scripts.clear();
    Fire(page, L"RBackupNew_Click");
    REQUIRE(sink.scripts.size() == 1);
    CHECK(sink.scripts[0].text == L"SetBkpFile('registry_backup_2007-01-02 (3).bkp');");

    CHECK(page.ResolveBackupPath(L"C:/b/x") == L"C:\\b\\x.bkp");
    CHECK(page.ResolveBackupPath(L"name") == folder.Path() + L"\\name.bkp");
    page.SetOptions(true, L"", nullptr);
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    tstring expected = tstring(current);
    if (expected.back() != L'\\')
        expected += L"\\";
    CHECK(page.ResolveBackupPath(L"name") == expected + L"name.bkp");
}

TEST_CASE("A new backup of the current user's hives: path from the page's text, overwrite asked, catalogued") {
    FreshCatalogue fresh;
    EnsureCurrentClassesKey();
    CreateDirectoryW(L"C:\\b", nullptr);
    DeleteFileW(L"C:\\b\\x.bkp");
    RecordingHiveOps ops;
    RecordingUiServices ui;
    BackupPage page;
    RecordingScriptSink sink;
    page.AttachControl(nullptr, 0, nullptr, &sink);
    page.SetWorkersInline(true);
    page.SetOptions(false, L"", nullptr);
    Fire(page, L"RBackupNew", L"0C:/b/x");
    CHECK_MESSAGE(ui.boxes.empty(), BoxTexts(ui));
    CHECK(FileExists(L"C:\\b\\x.bkp"));
    REQUIRE(page.Manager().Count() == 1);
    CHECK(page.Manager().Entry(0).path == L"C:\\b\\x.bkp");
    CHECK(page.Manager().Entry(0).kind == 0);
    CHECK(page.Manager().Entry(0).comment == L"");
    CHECK(sink.scripts.front().text == L"DisableToolbars();");

    // An existing file is overwritten only after a Yes.
    std::string before = ReadAll(L"C:\\b\\x.bkp");
    ui.boxAnswer = IDNO;
    Fire(page, L"RBackupNew", L"0C:\\b\\x.bkp\nnew comment");
    REQUIRE_MESSAGE(ui.boxes.size() == 1, BoxTexts(ui));
    CHECK(ui.boxes[0].text == FormatText(Text(IDS_FILE_EXISTS).c_str(), L"C:\\b\\x.bkp"));
    CHECK(page.Manager().Entry(0).comment == L"");
    // A folder is no backup name.
    CreateDirectoryW(L"C:\\b\\sub.d", nullptr);
    Fire(page, L"RBackupNew", L"0C:\\b\\sub.d");
    REQUIRE_MESSAGE(ui.boxes.size() == 2, BoxTexts(ui));
    CHECK(tstring(ui.boxes[1].text) == tstring(Text(IDS_INVALID_BACKUP_NAME)));
    CHECK(page.Manager().Count() == 1);
    // A target that cannot be written (another program holds it) fails
    // before any hive is saved and keeps its bytes.
    HANDLE held = HoldFile(L"C:\\b\\x.bkp");
    size_t saved = ops.saved.size();
    ui.boxAnswer = IDYES;
    Fire(page, L"RBackupNew", L"0C:\\b\\x.bkp");
    CloseHandle(held);
    REQUIRE_MESSAGE(ui.boxes.size() == 4, BoxTexts(ui));
    CHECK(ui.boxes[3].type == MB_ICONERROR);
    CHECK(ops.saved.size() == saved);
    CHECK(ReadAll(L"C:\\b\\x.bkp") == before);
    CHECK(page.Manager().Count() == 1);
    DeleteFileW(L"C:\\b\\x.bkp");
}

TEST_CASE("A restore asks first, leaves the restore flag and restarts; a pending restart is only offered again") {
    FreshCatalogue fresh;
    EnsureCurrentClassesKey();
    REQUIRE_FALSE(IsWindowsMajor6());
    DeleteFileW(GetRestoreFlagPath().c_str());
    TempFolder folder(L"restore");
    RecordingHiveOps ops;
    RecordingUiServices ui;
    RecordingRestart restart;
    BackupPage page;
    RecordingScriptSink sink;
    page.AttachControl(nullptr, 0, nullptr, &sink);
    page.SetWorkersInline(true);
    page.Manager().Create(0, folder / L"user.bkp", L"", false);
    WriteAll(folder / L"bad.bkp", "not a backup");
    page.Manager().AddEntry(1, folder / L"bad.bkp", L"", nullptr);

    // A damaged backup: the reason is shown, no flag, no restart.
    ui.boxAnswer = IDOK;
    Fire(page, L"RBackupRestore", L"R1:1");
    REQUIRE_MESSAGE(ui.boxes.size() == 2, BoxTexts(ui));
    CHECK(ui.boxes[0].text == Text(IDS_RESTORE_QUESTION));
    CHECK(ui.boxes[1].text.find(Text(IDS_CANNOT_RESTORE) + L"\n\n" + Text(IDS_ERROR) + L": ") == 0);
    CHECK(ui.boxes[1].type == MB_ICONERROR);
    CHECK_FALSE(FileExists(GetRestoreFlagPath()));
    Fire(page, L"RBackupRestoreFinish");
    CHECK(restart.calls.empty());

    Fire(page, L"RBackupRestore", L"R1:0");
    CHECK(ops.replaced.size() == 2);
    CHECK(FileExists(GetRestoreFlagPath()));
    CHECK((GetFileAttributesW(GetRestoreFlagPath().c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0);
    sink.scripts.clear();
    Fire(page, L"RBackupRestoreFinish");
    CHECK(sink.scripts.back().text == L"restoreFinish(); ");
    REQUIRE(restart.calls.size() == 2);
    CHECK(restart.calls[0].what == L"InitiateShutdown");
    CHECK(restart.calls[0].message == L"QUARN Orvane is going to reboot your system to complete registry backup restore.");
    CHECK(restart.calls[0].timeout == 30);
    CHECK_FALSE(restart.calls[0].force);
    CHECK(restart.calls[0].reboot);
    CHECK(restart.calls[0].reason == 0x80040001);
    CHECK(restart.calls[1].what == L"ExitProcess");

    // Until the restart, a restore only offers it.
    ui.boxes.clear();
    ui.boxAnswer = IDNO;
    Fire(page, L"RBackupRestore", L"R1:0");
    REQUIRE_MESSAGE(ui.boxes.size() == 1, BoxTexts(ui));
    CHECK(ui.boxes[0].text == Text(IDS_RESTART_PENDING));
    CHECK(ops.replaced.size() == 2);
    Fire(page, L"RBackupRestoreFinish");
    CHECK(restart.calls.size() == 2);
    DeleteFileW(GetRestoreFlagPath().c_str());
}

TEST_CASE("Indices and texts that name no backup are ignored") {
    FreshCatalogue fresh;
    TempFolder folder(L"ignored");
    RecordingUiServices ui;
    RecordingHiveOps ops;
    BackupPage page;
    RecordingScriptSink sink;
    page.AttachControl(nullptr, 0, nullptr, &sink);
    page.SetWorkersInline(true);
    WriteAll(folder / L"a.bkp", "a");
    page.Manager().AddEntry(1, folder / L"a.bkp", L"kept", nullptr);
    Variant text(L"x"), distant(99), negative(-1);
    Fire(page, L"RBackupDelete", &text.v);
    Fire(page, L"RBackupDelete", &distant.v);
    Fire(page, L"RBackupDelete", &negative.v);
    Fire(page, L"RBackupDelete");
    Fire(page, L"RUpdateComments", L"abc\nx");
    Fire(page, L"RUpdateComments", L"5\nx");
    Fire(page, L"RUpdateComments", L"0");
    Fire(page, L"RBackupRestore", L"R1:");
    Fire(page, L"RBackupRestore", L"R1:7");
    Fire(page, L"RBackupRestore", L"R");
    CHECK_MESSAGE(ui.boxes.empty(), BoxTexts(ui));
    CHECK(sink.scripts.empty());
    CHECK(ops.replaced.empty());
    REQUIRE(page.Manager().Count() == 1);
    CHECK(page.Manager().Entry(0).comment == L"kept");

    Fire(page, L"RUpdateComments", L"0\nline<BR>two");
    CHECK(page.Manager().Entry(0).comment == L"line\r\ntwo");
    // A save that meets another program reading the list waits for it.
    REQUIRE_MESSAGE(WhileHeldForAMoment(GetBackupListPath(), 100, 400,
                                        [&] {
                                            ui.boxes.clear();
                                            Fire(page, L"RUpdateComments", L"0\nwaited");
                                        }),
                    "the list's holder was never let go within the save's retries");
    CHECK_MESSAGE(ui.boxes.empty(), BoxTexts(ui));
    BackupCatalogue saved;
    saved.Load(GetBackupListPath());
    REQUIRE(saved.Count() == 1);
    CHECK(saved.Entry(0).comment == L"waited");
    // A list that cannot be written says so.
    HANDLE held = HoldFile(GetBackupListPath());
    Fire(page, L"RUpdateComments", L"0\nlost");
    CloseHandle(held);
    REQUIRE_MESSAGE(ui.boxes.size() == 1, BoxTexts(ui));
    CHECK(ui.boxes[0].type == MB_ICONERROR);
    ui.boxes.clear();
    // Deleting a listed backup whose file is gone asks nothing.
    DeleteFileW((folder / L"a.bkp").c_str());
    Variant zero(0);
    Fire(page, L"RBackupDelete", &zero.v);
    CHECK_MESSAGE(ui.boxes.empty(), BoxTexts(ui));
    CHECK(page.Manager().Count() == 0);
}

TEST_CASE("A list another program holds while the page is made is read once free: never called damaged, never deleted") {
    FreshCatalogue fresh;
    TempFolder folder(L"heldlist");
    SUBCASE("held for a moment: read at once") {
        PlantList(folder / L"user.bkp");
        RecordingUiServices ui;
        std::unique_ptr<BackupPage> page;
        REQUIRE_MESSAGE(WhileHeldForAMoment(GetBackupListPath(), 100, 400, [&] { page.reset(new BackupPage); }),
                        "the list's holder was never let go within the page's retries");
        CHECK_MESSAGE(ui.boxes.empty(), BoxTexts(ui));
        CHECK(page->Manager().Count() == 1);
    }
    // Let go while a box would be answered, or held with delete sharing: a
    // delete of the list would now go through.
    for (DWORD share : {DWORD(0), DWORD(FILE_SHARE_DELETE)}) {
        CAPTURE(share);
        std::string before = PlantList(folder / L"user.bkp");
        LettingGoUi ui;
        ListHolder held(share);
        ui.holder = &held;
        BackupPage page;
        CHECK_MESSAGE(ui.boxes.empty(), BoxTexts(ui));
        held.Release();
        CHECK(ReadAll(GetBackupListPath()) == before);
        RecordingScriptSink sink;
        page.AttachControl(nullptr, 0, nullptr, &sink);
        Fire(page, L"Backup_OnLoad");
        CHECK_MESSAGE(ui.boxes.empty(), BoxTexts(ui));
        REQUIRE(sink.scripts.size() == 1);
        CHECK(sink.scripts[0].text.find(L"user.bkp','kept',0,false);") != std::wstring::npos);
    }
}

TEST_CASE("A list that stays in use is written over by no change; once free it is read again before the next") {
    FreshCatalogue fresh;
    EnsureCurrentClassesKey();
    TempFolder folder(L"busylist");
    std::string before = PlantList(folder / L"user.bkp");
    RecordingHiveOps ops;
    RecordingUiServices ui;
    ListHolder held(0);
    BackupPage page;
    RecordingScriptSink sink;
    page.AttachControl(nullptr, 0, nullptr, &sink);
    page.SetWorkersInline(true);
    page.SetOptions(false, folder.Path(), nullptr);
    std::wstring newBackup = L"0" + folder / L"new.bkp";
    Fire(page, L"RBackupNew", newBackup.c_str());
    REQUIRE_MESSAGE(ui.boxes.size() == 1, BoxTexts(ui));
    CHECK(ui.boxes[0].text.find(Text(IDS_BACKUP_LIST_IN_USE) + L"\n\n" + Text(IDS_ERROR) + L": ") == 0);
    CHECK_FALSE(FileExists(folder / L"new.bkp"));
    CHECK(ops.saved.empty());
    Fire(page, L"RAddBackup");
    REQUIRE_MESSAGE(ui.boxes.size() == 2, BoxTexts(ui));
    CHECK(ui.boxes[1].text.find(Text(IDS_BACKUP_LIST_IN_USE)) == 0);
    held.Release();
    CHECK(ReadAll(GetBackupListPath()) == before);
    // Nor does the catalogue itself, which any caller may save.
    page.Manager().AddEntry(1, folder / L"other.bkp", L"", nullptr);
    CHECK_THROWS_AS(page.Manager().SaveBound(), ErrorBase);
    CHECK(ReadAll(GetBackupListPath()) == before);

    // Free again, with nothing shown in between: the new backup joins the
    // user's list instead of taking its place.
    Fire(page, L"RBackupNew", newBackup.c_str());
    CHECK_MESSAGE(ui.boxes.size() == 2, BoxTexts(ui));
    BackupCatalogue listed;
    listed.Load(GetBackupListPath());
    REQUIRE(listed.Count() == 2);
    CHECK(listed.Entry(0).path == folder / L"user.bkp");
    CHECK(listed.Entry(1).path == folder / L"new.bkp");
}

TEST_CASE("A damaged list is kept beside it, told once when the page is shown, and the page goes on with an empty one") {
    FreshCatalogue fresh;
    tstring list = GetBackupListPath(), kept = BackupCatalogue::DamagedCopyPath(list);
    DeleteFileW(kept.c_str());
    WriteAll(list, "not a list");
    RecordingUiServices ui;
    BackupPage page;
    // Made before any window, and in hidden runs: no box yet.
    CHECK_MESSAGE(ui.boxes.empty(), BoxTexts(ui));
    CHECK_FALSE(FileExists(list));
    CHECK(ReadAll(kept) == "not a list");
    RecordingScriptSink sink;
    page.AttachControl(nullptr, 0, nullptr, &sink);
    Fire(page, L"Backup_OnLoad");
    REQUIRE_MESSAGE(ui.boxes.size() == 1, BoxTexts(ui));
    CHECK(ui.boxes[0].text.find(Text(IDS_BACKUP_LIST_CORRUPTED) + L"\n" +
                                FormatText(Text(IDS_BACKUP_LIST_KEPT).c_str(), kept.c_str()) + L"\n\n" +
                                Text(IDS_ERROR) + L": ") == 0);
    CHECK(sink.scripts.back().text == L" NewBackup();");
    Fire(page, L"Backup_OnLoad");
    CHECK_MESSAGE(ui.boxes.size() == 1, BoxTexts(ui));
    DeleteFileW(kept.c_str());
}

TEST_CASE("The backup worker waits for the user's OK only after a post that went out") {
    ProgressWindow window;
    window.CreateFor(nullptr);
    REQUIRE(window.Handle());
    // No control: nothing can be posted, so nothing is waited for.
    CHECK_FALSE(window.WaitForConfirmation(false, L"C:\\x.bkp"));
    RecordingScriptSink sink;
    HWND unread = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    window.Page().AttachControl(nullptr, WM_APP + 5, unread, &sink);
    HANDLE confirmation = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"QUARN_REG_BKP_EVENT_jkszdfhlasukdfhl");
    REQUIRE(confirmation);
    SetEvent(confirmation);
    CHECK(window.WaitForConfirmation(true, L""));
    CloseHandle(confirmation);
    window.Page().AttachControl(nullptr, 0, nullptr, nullptr);
    DestroyWindow(unread);
}

TEST_CASE("Progress: two hives make 14 steps, the texts are escaped, the window cannot be closed") {
    ProgressPage page(2);
    CHECK(page.Total() == 14);
    RecordingScriptSink sink;
    page.AttachControl(nullptr, 0, nullptr, &sink);
    Fire(page, L"Progress", L"HKLM_Software");
    Fire(page, L"Progress", L"it's <b>\\");
    Fire(page, L"Done", L"C:\\x\\2007-01-02 'a' <b>.bkp");
    CHECK(sink.CompareWithGolden("progress", "two_hives") == "");
    for (int i = 3; i <= 14; ++i)
        Fire(page, L"Progress", L"x");
    CHECK(sink.scripts.back().text == L"SetPercent(100,'x');");

    HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    page.SetCompletionEvent(done);
    Fire(page, L"OkClick");
    CHECK(WaitForSingleObject(done, 0) == WAIT_OBJECT_0);
    CloseHandle(done);

    ProgressWindow window;
    window.CreateFor(nullptr);
    REQUIRE(window.Handle());
    SendMessageW(window.Handle(), WM_CLOSE, 0, 0);
    SendMessageW(window.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    SendMessageW(window.Handle(), WM_SYSCOMMAND, SC_MOVE, 0);
    CHECK(IsWindow(window.Handle()));
    RECT rect = {};
    GetWindowRect(window.Handle(), &rect);
    CHECK(rect.right - rect.left == 400);
    CHECK(rect.bottom - rect.top == 125);
    // Steps reach the page as posted events only: nothing runs on this thread.
    size_t before = sink.scripts.size();
    window.AddEntry(0, L"Directory: ", L"HKLM_");
    window.MarkDone(0);
    CHECK(sink.scripts.size() == before);

}

#include <doctest/doctest.h>
#include <windows.h>
#include <oleauto.h>
#include <shlobj.h>
#include <string>
#include <vector>
#include "FileBytes.h"
#include "HeldFile.h"
#include "../../engine/scan/test_ignore_files.h"
#include "PageTestSupport.h"
#include "PlantedFaults.h"
#include "RecordingScriptSink.h"
#include "RecordingUiServices.h"
#include "app/pages/SettingsPage.h"
#include "common/settings/AppFolders.h"
#include "common/settings/Settings.h"

namespace {

struct ComApartment {
    ComApartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComApartment() { CoUninitialize(); }
};

// What the folder picker's callback asks of the dialog.
std::vector<std::wstring> g_dialog;

LRESULT CALLBACK PickerDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == BFFM_ENABLEOK)
        g_dialog.push_back(lParam ? L"ok" : L"no ok");
    else if (message == BFFM_SETSELECTIONW || message == BFFM_SETSTATUSTEXTW)
        g_dialog.push_back(reinterpret_cast<const wchar_t*>(lParam));
    else
        return DefWindowProcW(window, message, wParam, lParam);
    return 0;
}

// Answers the folder picker with a set folder, which the user reaches over a
// file, and the file dialogs with a set path.
struct PickingUi : RecordingUiServices {
    PIDLIST_ABSOLUTE BrowseForFolder(BROWSEINFOW* request) override {
        flags = request->ulFlags;
        g_dialog.clear();
        HWND dialog = EventWindow(L"PickerDialog", PickerDialogProc);
        request->lpfn(dialog, BFFM_INITIALIZED, 0, request->lParam);
        for (const std::wstring& path : {std::wstring(L"C:\\windows\\win.ini"), folder}) {
            PIDLIST_ABSOLUTE item = ILCreateFromPathW(path.c_str());
            request->lpfn(dialog, BFFM_SELCHANGED, reinterpret_cast<LPARAM>(item), 0);
            ILFree(item);
        }
        DestroyWindow(dialog);
        return folder.empty() ? nullptr : ILCreateFromPathW(folder.c_str());
    }
    int ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) override {
        int answer = RecordingUiServices::ShowMessage(owner, text, caption, type);
        if (next < answers.size()) answer = answers[next++];
        return answer;
    }
    BOOL OpenFileDialog(OPENFILENAMEW* request) override { return Answer(request); }
    BOOL SaveFileDialog(OPENFILENAMEW* request) override { return Answer(request); }
    BOOL Answer(OPENFILENAMEW* request) {
        dialogFlags = request->Flags;
        if (file.empty()) return FALSE;
        lstrcpynW(request->lpstrFile, file.c_str(), request->nMaxFile);
        return TRUE;
    }
    std::wstring folder, file;
    std::vector<int> answers;  // taken in turn before boxAnswer
    size_t next = 0;
    UINT flags = 0;
    DWORD dialogFlags = 0;
};

struct ShownPage {
    explicit ShownPage(ICrawler* engine) {
        apply = sink.Add(sink.body, L"apply");
        page.AttachControl(nullptr, 0, nullptr, &sink);
        page.SetEngine(engine);
    }
    void Send(const wchar_t* name, VARIANT param) { SendEvent(page, name, L"", param); }
    bool ApplyEnabled() const { return !apply->attributes.count(L"DISABLED"); }
    bool Ran(const std::wstring& text) const {
        for (const auto& s : sink.scripts)
            if (s.text == text) return true;
        return false;
    }
    RecordingScriptSink sink;
    std::shared_ptr<FakeElement> apply;
    SettingsPage page;
};

std::wstring BackupDirectory(ICrawler* engine) {
    BSTR text = nullptr;
    engine->get_BackupDirectory(&text);
    std::wstring result = text ? text : L"";
    SysFreeString(text);
    return result;
}

HRESULT PutBackupDirectory(ICrawler* engine, const std::wstring& folder) {
    BSTR text = SysAllocString(folder.c_str());
    HRESULT result = engine->put_BackupDirectory(text);
    SysFreeString(text);
    return result;
}

std::wstring UndoDirectory(ICrawler* engine) {
    BSTR text = nullptr;
    engine->get_UndoDirectory(&text);
    std::wstring result = text ? text : L"";
    SysFreeString(text);
    return result;
}

}  // namespace

TEST_CASE("settings: edits reach the engine only on apply, both drive boxes off stay off") {
    ComApartment com;
    PickingUi ui;
    ComPtr<ICrawler> engine = LoadEngine();
    REQUIRE(engine);
    ShownPage shown(engine);
    shown.Send(L"pageLoaded", Text(L""));
    CHECK_FALSE(shown.ApplyEnabled());
    CHECK(shown.sink.scripts.at(0).text == L"DelAllIgnore();");

    shown.Send(L"SkipParams", Number(0));
    CHECK(shown.ApplyEnabled());
    long mask = 0;
    engine->get_SkipScanDrives(&mask);
    CHECK((mask & 6) == 6);  // not before apply

    CreateDirectoryW(L"C:\\users\\O'Brien", nullptr);
    CreateDirectoryW(L"C:\\users\\O'Brien\\x1", nullptr);
    ui.folder = L"C:\\users\\O'Brien\\x1";
    std::wstring before = UndoDirectory(engine);
    shown.Send(L"BrowseForFolder", Text(L"undoPath"));
    CHECK(ui.flags == 0x49);
    // Opens on the pending folder; OK and the status text only for a folder.
    CHECK(g_dialog == std::vector<std::wstring>{before, L"no ok", L"", L"ok", ui.folder});
    CHECK(shown.sink.scripts.back().text ==
          L"document.getElementById('undoPath').value='C:\\\\users\\\\O\\'Brien\\\\x1\\\\';");

    SUBCASE("Cancel to moving the undo files keeps everything pending") {
        ui.boxAnswer = IDCANCEL;
        shown.Send(L"configurationChanged", Text(L"apply"));
        CHECK(ui.boxes.back().text == L"Do you want to move UNDO files into the new directory?");
        CHECK(shown.page.IsModified());
        CHECK(UndoDirectory(engine) == before);
        // Yes to saving, then Cancel to moving: the answer is Cancel, edits kept.
        ui.answers = {IDYES, IDCANCEL};
        CHECK(shown.page.AskSaveChanges(nullptr) == IDCANCEL);
        CHECK(ui.boxes[ui.boxes.size() - 2].text == L"Settings have been modified.\nDo you want to save changes?");
        CHECK(shown.page.IsModified());
    }
    SUBCASE("Yes moves the files; a fresh engine reads the applied values") {
        ui.boxAnswer = IDYES;
        shown.Send(L"configurationChanged", Text(L"apply"));
        CHECK(ui.boxes.back().text == L"All files were moved successfully");
        CHECK_FALSE(shown.page.IsModified());
        CHECK_FALSE(shown.ApplyEnabled());
        ComPtr<ICrawler> fresh = LoadEngine();
        CHECK(UndoDirectory(fresh) == L"C:\\users\\O'Brien\\x1\\");
        fresh->get_SkipScanDrives(&mask);
        CHECK((mask & 6) == 0);
        // The same folder in another case and without the backslash is no move.
        size_t asked = ui.boxes.size();
        ui.folder = L"C:\\USERS\\o'brien\\X1";
        shown.Send(L"BrowseForFolder", Text(L"undoPath"));
        shown.Send(L"configurationChanged", Text(L"apply"));
        CHECK(ui.boxes.size() == asked);
        // Reset brings the defaults back as pending values.
        shown.Send(L"configurationReset", Text(L""));
        CHECK(shown.page.PendingSkipMask() == 6);
        CHECK(shown.page.IsModified());
        CHECK(shown.Ran(L"document.getElementById('netshares').checked = true; "
                        L"document.getElementById('removable').checked = true; "));
        ui.boxAnswer = IDNO;
        CHECK(shown.page.AskSaveChanges(nullptr) == IDNO);
        CHECK_FALSE(shown.page.IsModified());
        BSTR home = SysAllocString(before.c_str());
        engine->put_UndoDirectory(home);
        SysFreeString(home);
        engine->put_SkipScanDrives(6);
    }
}

TEST_CASE("settings: an apply with one change writes only that value; another process's switch stays") {
    ComApartment com;
    PickingUi ui;
    ComPtr<ICrawler> engine = LoadEngine();
    REQUIRE(engine);
    engine->put_SkipScanDrives(SettingsPage::kDefaultSkipMask);
    engine->put_AutoBackupSwitch(0);
    engine->put_BackupRetentionSwitch(1);
    ShownPage shown(engine);
    shown.Send(L"pageLoaded", Text(L""));
    {
        Settings other(true);
        other.SetAutoBackupSwitch(true);
        REQUIRE(other.Save() == 0);
    }
    shown.Send(L"BackupRetentionSwitch", Bool(false));
    shown.Send(L"configurationChanged", Text(L"apply"));
    CHECK(ui.boxes.empty());
    Settings::Values stored;
    REQUIRE(Settings::ReadFile(GetSettingsFilePath(), stored) == 0);
    CHECK_FALSE(stored.flags[Settings::RetentionFlag]);
    CHECK(stored.flags[Settings::AutoBackupFlag]);
    // The drive boxes alone: the mask reaches the file at once all the same.
    shown.Send(L"pageLoaded", Text(L""));
    shown.Send(L"SkipParams", Number(SettingsPage::kSkipNetwork));
    shown.Send(L"configurationChanged", Text(L"apply"));
    REQUIRE(Settings::ReadFile(GetSettingsFilePath(), stored) == 0);
    CHECK(stored.skipScanDrives == long(SettingsPage::kSkipNetwork));
    CHECK(stored.flags[Settings::AutoBackupFlag]);
    engine->put_SkipScanDrives(SettingsPage::kDefaultSkipMask);
    engine->put_AutoBackupSwitch(0);
    engine->put_BackupRetentionSwitch(1);
}

TEST_CASE("ignore list: numbers out of range mark nothing, a damaged import changes nothing") {
    ComApartment com;
    PickingUi ui;
    ComPtr<ICrawler> engine = LoadEngine();
    REQUIRE(engine);
    ShownPage shown(engine);
    shown.page.SetIgnoreMode(true);
    CHECK(shown.page.HelpContextId() == 10);
    shown.Send(L"pageLoaded", Text(L""));
    long count = 0;
    engine->get_IgnoreCount(&count);
    shown.Send(L"DeleteSelected", Text(L"0 -3 99999"));
    CHECK_FALSE(shown.page.IsModified());
    CHECK_FALSE(shown.page.Marked(0));

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    ui.file = std::wstring(temp) + L"damaged-ignore.dat";
    HANDLE file = CreateFileW(ui.file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, "not an ignore list at all", 25, &written, nullptr);
    CloseHandle(file);
    shown.Send(L"ImportIgnoreList", Text(L""));
    CHECK(ui.dialogFlags == 0x800);
    REQUIRE_FALSE(ui.boxes.empty());
    CHECK(ui.boxes.back().text == L"Wrong file format or file was corrupted");
    long after = 0;
    engine->get_IgnoreCount(&after);
    CHECK(after == count);
    DeleteFileW(ui.file.c_str());
}

TEST_CASE("hostile record texts and folders reach both modes' scripts escaped; recorded for the page") {
    ComApartment com;
    PickingUi ui;
    ComPtr<ICrawler> engine = LoadEngine();
    REQUIRE(engine);
    // The list holds these records only while the scripts are recorded.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    BSTR saved = SysAllocString((std::wstring(temp) + L"ignore-list-before.dat").c_str());
    engine->ExportIgnoreList(saved);
    engine->DismissIgnoreList();
    const std::vector<std::wstring> names = {L"OvIgnoreA'\"</a><img src=x onerror=alert(1)>", L"OvIgnoreB\\&quot;",
                                             L"OvIgnoreC\x2028\r\n'x"};
    PlantCpls(names);
    std::vector<long> ids = FindCplFaults(engine, names);
    REQUIRE(ids.size() == names.size());
    for (long id : ids)
        CHECK(engine->AddToIgnoreList(id) == S_OK);

    // Both modes show every stored value: they are fixed while recording.
    const std::wstring folder = L"C:\\x'\"</a><img src=x onerror=alert(1)>\x2028\r\n&quot;\\";
    std::wstring backupBefore = BackupDirectory(engine), undoBefore = UndoDirectory(engine);
    long skip = 0, autoBackup = 0, retention = 0;
    engine->get_SkipScanDrives(&skip);
    engine->get_AutoBackupSwitch(&autoBackup);
    engine->get_BackupRetentionSwitch(&retention);
    REQUIRE(PutBackupDirectory(engine, folder) == S_OK);
    REQUIRE(BackupDirectory(engine) == folder);
    BSTR undo = SysAllocString(L"C:\\users\\O'Brien\\x1\\");
    engine->put_UndoDirectory(undo);
    SysFreeString(undo);
    engine->put_SkipScanDrives(2);
    engine->put_AutoBackupSwitch(1);
    engine->put_BackupRetentionSwitch(0);

    // One page file serves both modes: the same scripts fill the list and the fields.
    std::vector<RecordedScript> ignoreMode;
    {
        ShownPage shown(engine);
        shown.page.SetIgnoreMode(true);
        shown.Send(L"pageLoaded", Text(L""));
        ignoreMode = shown.sink.scripts;
        for (const auto& s : shown.sink.scripts)
            CHECK(JScriptParseError(s.text) == L"");
    }
    {
        ShownPage shown(engine);
        shown.Send(L"pageLoaded", Text(L""));
        CHECK(shown.sink.scripts == ignoreMode);
        CHECK(shown.Ran(L"document.getElementById('bkpPath').value='C:\\\\x\\'\\\"&lt;/a&gt;&lt;img src=x "
                        L"onerror=alert(1)&gt;\\u2028\\r\\n&quot;\\\\';"));
        CHECK(shown.sink.CompareWithGolden("configuration", "hostile") == "");
    }
    {
        // The report: the clipboard's text, the same in a UTF-16LE file without BOM.
        ShownPage shown(engine);
        shown.page.SetIgnoreMode(true);
        shown.Send(L"pageLoaded", Text(L""));
        shown.Send(L"CONTROL_C", Text(L"Windows 7"));
        std::wstring report = ClipboardText();
        CHECK(report.find(names[0]) != std::wstring::npos);
        ui.file = std::wstring(temp) + L"ignore-report.txt";
        shown.Send(L"SaveReport", Text(L"Windows 7"));
        CHECK(ReadAll(ui.file) == std::string(reinterpret_cast<const char*>(report.data()), report.size() * 2));
        DeleteFileW(ui.file.c_str());
        // Numbers outside the list mark nothing: only record 2 goes.
        shown.Send(L"DeleteSelected", Text(L"0 -3 99 2"));
        CHECK(shown.page.Marked(2));
        CHECK_FALSE(shown.page.Marked(1));
        CHECK_FALSE(shown.page.Marked(3));
        shown.Send(L"configurationChanged", Text(L"apply"));
        long count = 0;
        engine->get_IgnoreCount(&count);
        REQUIRE(count == 2);
        for (long i : {1L, 2L}) {
            ComPtr<IqnRegRecord> record;
            REQUIRE(engine->IgnoreRecord(i, record.Receive()) == S_OK);
            BSTR item = nullptr;
            record->get_Item(&item);
            CHECK(std::wstring(item ? item : L"").find(names[i == 1 ? 0 : 2]) != std::wstring::npos);
            SysFreeString(item);
        }
    }

    PutBackupDirectory(engine, backupBefore);
    undo = SysAllocString(undoBefore.c_str());
    engine->put_UndoDirectory(undo);
    SysFreeString(undo);
    engine->put_SkipScanDrives(skip);
    engine->put_AutoBackupSwitch(autoBackup);
    engine->put_BackupRetentionSwitch(retention);

    engine->DismissIgnoreList();
    engine->ImportIgnoreList(saved);
    engine->SaveIgnore();
    SysFreeString(saved);
    RemoveCpls(names);
}

namespace {

// The prefix's ignores.dat for one case: put back as it was at the end.
struct UserIgnoreFile {
    std::wstring path = GetIgnoreFilePath(false, false);
    bool existed = FileExists(path);
    std::string saved = ReadAll(path);
    ~UserIgnoreFile() { existed ? WriteAll(path, saved) : void(DeleteFileW(path.c_str())); }
    std::string Keys() const { return ignoretest::StoredKeyText(ReadAll(path)); }
};

std::string KeptList() {
    ignoretest::IgnoreBytes b;
    b.Full(L"HKCU\\kept1", L"", L"r1", L"itemKept1", 0x012C0064);
    b.Full(L"HKCU\\kept2", L"", L"r2", L"itemKept2", 0x012C0064);
    return b.Bytes();
}

FILETIME WriteTime(const std::wstring& path) {
    FILETIME time = {};
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        time = data.ftLastWriteTime;
    return time;
}

}  // namespace

TEST_CASE("ignore list: an apply of a setting alone leaves the list's file as it is") {
    ComApartment com;
    PickingUi ui;
    UserIgnoreFile list;
    WriteAll(list.path, KeptList());
    // An old date that no write of this run can give the file.
    HANDLE file = CreateFileW(list.path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(file != INVALID_HANDLE_VALUE);
    FILETIME old = {0x2A1B3000, 0x01C0A8F0};
    SetFileTime(file, nullptr, nullptr, &old);
    CloseHandle(file);
    ComPtr<ICrawler> engine = LoadEngine();
    REQUIRE(engine);
    long autoBackup = 0;
    engine->get_AutoBackupSwitch(&autoBackup);
    ShownPage shown(engine);
    shown.Send(L"pageLoaded", Text(L""));
    shown.Send(L"AutoBackSwitch", Bool(autoBackup == 0));
    shown.Send(L"configurationChanged", Text(L"apply"));
    long now = 0;
    engine->get_AutoBackupSwitch(&now);
    CHECK(now == (autoBackup == 0 ? 1 : 0));
    FILETIME after = WriteTime(list.path);
    CHECK(after.dwLowDateTime == old.dwLowDateTime);
    CHECK(after.dwHighDateTime == old.dwHighDateTime);
    CHECK(ReadAll(list.path) == KeptList());
    engine->put_AutoBackupSwitch(autoBackup);
}

TEST_CASE("ignore list: a first read held busy, then applies; another engine object's record survives") {
    ComApartment com;
    PickingUi ui;
    UserIgnoreFile list;
    WriteAll(list.path, KeptList());
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring theirs = std::wstring(temp) + L"orvane-settings-theirs.dat",
                       mine = std::wstring(temp) + L"orvane-settings-mine.dat";
    ignoretest::IgnoreBytes added, own;
    added.Full(L"HKCU\\addedByP2", L"", L"", L"itemAdded", 0x012C0064);
    own.Full(L"HKCU\\mine", L"", L"", L"itemMine", 0x012C0064);
    WriteAll(theirs, added.Bytes());
    WriteAll(mine, own.Bytes());

    SUBCASE("held without sharing while the engine object loads the list") {
        ComPtr<ICrawler> engine;
        {
            HeldFile held(list.path);
            REQUIRE(held.Held());
            engine = LoadEngine();
        }
        REQUIRE(engine);
        ShownPage shown(engine);
        shown.page.SetIgnoreMode(true);
        shown.Send(L"pageLoaded", Text(L""));
        bool listed = false;
        for (const auto& s : shown.sink.scripts)
            listed = listed || (s.text.find(L"itemKept1") != std::wstring::npos &&
                                s.text.find(L"itemKept2") != std::wstring::npos);
        CHECK_MESSAGE(listed, "the page does not list the file's records");
        shown.Send(L"DeleteSelected", Text(L"1"));
        shown.Send(L"configurationChanged", Text(L"apply"));
        CHECK(list.Keys() == "HKCU\\kept2");
    }
    SUBCASE("another engine object imports a record after this one loaded") {
        ComPtr<ICrawler> engine = LoadEngine(), other = LoadEngine();
        REQUIRE(engine);
        REQUIRE(other);
        BSTR name = SysAllocString(theirs.c_str());
        CHECK(other->ImportIgnoreList(name) == S_OK);
        SysFreeString(name);
        ShownPage shown(engine);
        shown.page.SetIgnoreMode(true);
        shown.Send(L"pageLoaded", Text(L""));
        shown.Send(L"DeleteSelected", Text(L"1"));
        shown.Send(L"configurationChanged", Text(L"apply"));
        CHECK(list.Keys() == "HKCU\\kept2 HKCU\\addedByP2");
        // This object's own new record goes on top of the other's too.
        ui.file = mine;
        shown.Send(L"ImportIgnoreList", Text(L""));
        CHECK(ui.boxes.back().text == L"Ignore records were successfully imported from " + mine);
        CHECK(list.Keys() == "HKCU\\kept2 HKCU\\addedByP2 HKCU\\mine");
    }
    DeleteFileW(theirs.c_str());
    DeleteFileW(mine.c_str());
}

TEST_CASE("without an engine the page says so once and asks nothing") {
    PickingUi ui;
    ShownPage shown(nullptr);
    for (const wchar_t* name : {L"pageLoaded", L"DeleteSelected", L"DeleteAll", L"SkipParams", L"ImportIgnoreList",
                                L"CONTROL_C", L"WebInfo"})
        shown.Send(name, Text(L"1"));
    REQUIRE(shown.sink.scripts.size() == 3);
    CHECK(shown.sink.scripts[2].text.find(L"could not be started") != std::wstring::npos);
    CHECK(ui.boxes.empty());
    CHECK_FALSE(shown.page.IsModified());
}

#include <doctest/doctest.h>
#include <windows.h>
#include <oleauto.h>
#include <shlobj.h>
#include <string>
#include <vector>
#include "FileBytes.h"
#include "PageTestSupport.h"
#include "PlantedFaults.h"
#include "RecordingScriptSink.h"
#include "RecordingUiServices.h"
#include "TempFolder.h"
#include "app/OperationLock.h"
#include "app/pages/EmergencyDiskPage.h"
#include "app/pages/MaintenancePages.h"
#include "common/com/ComPtr.h"
#include "common/settings/AppFolders.h"
#include "common/settings/Settings.h"
#include "common/system/FileSystem.h"
#include "engine/engine.h"

namespace {

const UINT kEventMessage = WM_APP + 61;
const wchar_t kRoot[] = L"C:\\orvane-boot\\";
const wchar_t kBuilder[] = L"C:\\orvane-boot\\Bob's PE Builder";
const wchar_t kWindows[] = L"C:\\orvane-boot\\win src";
const wchar_t kIso[] = L"C:\\orvane-boot\\iso out\\my disk.iso";
const wchar_t kTools[] = L"C:\\orvane-boot\\Program Files\\cd tools";

tstring Windows(const char* unixPath) {
    tstring path = L"Z:" + tstring::FromNarrow(unixPath);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

// Posted events reach the page as the view would hand them over.
EmergencyDiskPage* g_page = nullptr;
std::vector<bool> g_finishes;  // one per "BuilderFinish": whether it had a parameter

LRESULT CALLBACK EventWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kEventMessage) return DefWindowProcW(window, message, wParam, lParam);
    ReceivePostedEvent(wParam, lParam, [&](BSTR name, VARIANT* param) {
        if (wcscmp(name, L"BuilderFinish") == 0) g_finishes.push_back(param != nullptr);
        BSTR element = SysAllocString(L"");
        g_page->OnHTMLEvent(nullptr, name, element, param);
        SysFreeString(element);
    });
    return 0;
}

// Delivers posted events until the build's end has arrived (a minute at most,
// so that a lost event fails the test instead of hanging it).
bool AwaitFinish() {
    size_t before = g_finishes.size();
    for (int i = 0; i < 6000 && g_finishes.size() == before; ++i) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        if (g_finishes.size() == before) Sleep(10);
    }
    return g_finishes.size() > before;
}

// Waits (a minute at most) until the build's thread has posted an event,
// leaving it in the queue.
bool AwaitPostedEvent(HWND events) {
    MSG msg;
    for (int i = 0; i < 6000; ++i) {
        if (PeekMessageW(&msg, events, kEventMessage, kEventMessage, PM_NOREMOVE)) return true;
        Sleep(10);
    }
    return false;
}

int Fire(EmergencyDiskPage& page, const wchar_t* name, const tstring& text) {
    return SendEvent(page, name, nullptr, Text(text.c_str()));
}

std::vector<std::wstring> Texts(const RecordingScriptSink& sink) {
    std::vector<std::wstring> texts;
    for (const RecordedScript& script : sink.scripts) texts.push_back(script.text);
    return texts;
}

bool Has(const RecordingScriptSink& sink, const std::wstring& text) {
    for (const RecordedScript& script : sink.scripts)
        if (script.text == text) return true;
    return false;
}

std::vector<std::string> LogLines(const tstring& path) {
    std::vector<std::string> lines;
    std::string text = ReadAll(path);
    size_t start = 0, end;
    while ((end = text.find('\n', start)) != std::string::npos) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Answers the folder picker and the save dialog with set paths.
struct PickingUi : RecordingUiServices {
    PIDLIST_ABSOLUTE BrowseForFolder(BROWSEINFOW* request) override {
        folderFlags = request->ulFlags;
        return folder.empty() ? nullptr : ILCreateFromPathW(folder.c_str());
    }
    BOOL SaveFileDialog(OPENFILENAMEW* request) override {
        fileFlags = request->Flags;
        defaultExtension = request->lpstrDefExt ? request->lpstrDefExt : L"";
        wcsncpy(request->lpstrFile, file.c_str(), request->nMaxFile - 1);
        return !file.empty();
    }
    std::wstring folder, file, defaultExtension;
    UINT folderFlags = 0;
    DWORD fileFlags = 0;
};

// The texts of the boxes shown, for a failure that finds more or fewer.
std::string BoxTexts(const RecordingUiServices& ui) {
    std::string texts;
    for (const RecordingUiServices::Box& box : ui.boxes)
        texts += "[" + std::string(box.text.begin(), box.text.end()) + "] ";
    return texts;
}

void Copy(const tstring& from, const tstring& to) { REQUIRE(CopyFileW(from.c_str(), to.c_str(), FALSE)); }

// A builder folder with its plug-in folder and the fake builder, a Windows
// source, an image folder and a tools folder, all under names with blanks;
// the shipped plug-in beside the test program; a page with the real engine.
struct Fixture {
    TempFolder root{tstring(kRoot)};
    PickingUi ui;
    RecordingScriptSink sink;
    MaintenancePages pages;
    EmergencyDiskPage& page = pages.Emergency();
    ComPtr<ICrawler> engine = LoadEngine();
    HWND events = EventWindow(L"EmergencyPageTestEvents", EventWindowProc);

    Fixture() {
        CreateFolderTree(tstring(kBuilder) + L"\\plugin");
        CreateFolderTree(kWindows);
        CreateFolderTree(L"C:\\orvane-boot\\iso out");
        CreateFolderTree(kTools);
        Copy(Windows(ORVANE_FAKE_PEBUILDER), tstring(kBuilder) + L"\\pebuilder.exe");
        Copy(Windows(ORVANE_FAKE_CDRECORD), tstring(kTools) + L"\\cdrecord.exe");
        tstring beside = GetModulePath();
        beside = beside.substr(0, beside.find_last_of(L'\\')) + L"\\PEBuilder Plugin";
        CreateFolderTree(beside);
        for (const wchar_t* name : {L"orvane.inf", L"orvane_nu2menu.xml", L"OrvaneRestore.exe"})
            Copy(Windows(ORVANE_PLUGIN_DIR) + L"\\" + name, beside + L"\\" + name);
        REQUIRE(engine);
        g_page = &page;
        page.SetEngine(engine.Get());
        page.AttachControl(nullptr, kEventMessage, events, &sink);
        SetEnvironmentVariableW(L"ORVANE_FAKE_ISO", L"1");
        SetEnvironmentVariableW(L"ORVANE_FAKE_EXIT", L"0");
        SetEnvironmentVariableW(L"ORVANE_FAKE_HOLD", nullptr);
    }
    ~Fixture() {
        DestroyWindow(events);
        g_page = nullptr;
    }
    int Build(const tstring& builder = kBuilder) {
        return Fire(page, L"OnEmergencyDisk", builder + L"\n" + kIso + L"\n" + kWindows);
    }
};

}  // namespace

TEST_CASE("A build with blanks in every path: the plug-in, the answers, the builder in its folder, the lock to the end") {
    Fixture f;
    tstring answers = tstring(kBuilder) + L"\\input.inf";
    WriteAll(answers, "; kept as the user wrote it\r\n[input]\r\nbuildiso=0\r\nisofile=C:\\old.iso\r\nmykey=keep me\r\n"
                      "source=D:\\\r\n[other]\r\nsource=untouched\r\nburncd=1\r\n");
    WriteAll(kIso, "an older image");

    // The builder runs until the hold file is gone: the checks below meet the
    // build while it runs, and its end (a box from the build's thread) cannot
    // come among them.
    tstring hold = tstring(kRoot) + L"hold";
    WriteAll(hold, "");
    SetEnvironmentVariableW(L"ORVANE_FAKE_HOLD", hold.c_str());
    f.Build();
    // Held from the start of the build, and still after the builder ended,
    // until its end arrives on the UI thread.
    CHECK(IsOperationRunning());
    CHECK(f.page.HoldsLock());
    CHECK(f.page.Busy());
    // The build's end reaches only the page shown: it is not left meanwhile,
    // while closing the window may go on to wait for the lock.
    CHECK(f.pages.AskToLeave(&f.page, L"Undo") == IDCANCEL);
    // The side bar says why nothing happens.
    REQUIRE_MESSAGE(f.ui.boxes.size() == 1, BoxTexts(f.ui));
    CHECK(f.ui.boxes[0].text == L"Another operation is running. Wait until it has finished, then try again.");
    f.ui.boxes.clear();
    CHECK(f.pages.AskToLeave(&f.page, nullptr) != IDCANCEL);
    CHECK(f.sink.scripts.size() == 1);
    CHECK(f.sink.scripts[0].text == L"DisableToolbars();");
    REQUIRE(DeleteFileW(hold.c_str()));
    REQUIRE(AwaitPostedEvent(f.events));
    CHECK(IsOperationRunning());
    CHECK(f.page.HoldsLock());
    REQUIRE(AwaitFinish());
    SetEnvironmentVariableW(L"ORVANE_FAKE_HOLD", nullptr);
    CHECK_FALSE(IsOperationRunning());
    CHECK_FALSE(f.page.Busy());
    CHECK(f.pages.AskToLeave(&f.page, L"Undo") != IDCANCEL);
    CHECK(g_finishes.back());
    CHECK(f.sink.CompareWithGolden("emergency", "built") == "");
    REQUIRE_MESSAGE(f.ui.boxes.size() == 1, BoxTexts(f.ui));
    CHECK(f.ui.boxes[0].text == L"Emergency disk image was created successfully");
    CHECK(f.ui.boxes[0].caption == L"QUARN Orvane");
    CHECK(ReadAll(kIso) == "CD001 emergency image");

    std::vector<std::string> started = LogLines(tstring(kBuilder) + L"\\pebuilder.log");
    REQUIRE(started.size() == 1);
    CHECK(started[0] == "\"C:\\orvane-boot\\Bob's PE Builder\\pebuilder.exe\" -auto -overwrite -exit\t"
                        "C:\\orvane-boot\\Bob's PE Builder");
    // Only the eight keys of the answer section change; missing ones are added.
    CHECK(ReadAll(answers) ==
          "; kept as the user wrote it\r\n[input]\r\nbuildiso=1\r\nisofile=C:\\orvane-boot\\iso out\\my disk.iso\r\n"
          "mykey=keep me\r\nsource=C:\\orvane-boot\\win src\r\noutdir=QUARN_temp\r\ncustomdir=\r\nburncd=0\r\n"
          "skipregistry=0\r\nfulloutdir=C:\\orvane-boot\\Bob's PE Builder\\QUARN_temp\r\n"
          "[other]\r\nsource=untouched\r\nburncd=1\r\n");
    tstring plugin = tstring(kBuilder) + L"\\plugin\\QUARN Orvane\\";
    CHECK(ReadAll(plugin + L"orvane.inf").find("OrvaneRestore.exe") != std::string::npos);
    CHECK(FileExists(plugin + L"OrvaneRestore.exe"));
    // The builder's output folder goes away after the build.
    tstring output = tstring(kBuilder) + L"\\QUARN_temp";
    for (int i = 0; i < 500 && GetFileAttributesW(output.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(10);
    CHECK(GetFileAttributesW(output.c_str()) == INVALID_FILE_ATTRIBUTES);

    // The next visit shows the folders the build used.
    f.sink.scripts.clear();
    Fire(f.page, L"Emergency_OnLoad", L"");
    CHECK(f.sink.CompareWithGolden("emergency", "onload") == "");

    // A new answer file is written whole.
    DeleteFileW(answers.c_str());
    f.Build();
    REQUIRE(AwaitFinish());
    CHECK(ReadAll(answers) ==
          "[input]\r\nbuildiso=1\r\nisofile=C:\\orvane-boot\\iso out\\my disk.iso\r\noutdir=QUARN_temp\r\n"
          "source=C:\\orvane-boot\\win src\r\ncustomdir=\r\nburncd=0\r\nskipregistry=0\r\n"
          "fulloutdir=C:\\orvane-boot\\Bob's PE Builder\\QUARN_temp\r\n");
}

TEST_CASE("A build stores the folders changed since the page showed them, and only those") {
    Fixture f;
    BSTR windows = SysAllocString(kWindows), builder = SysAllocString(L"C:\\orvane-boot\\old builder");
    f.engine->put_WindowsDirectory(windows);
    f.engine->put_PEBuilderDirectory(builder);
    SysFreeString(windows);
    SysFreeString(builder);
    Fire(f.page, L"Emergency_OnLoad", L"");
    {
        Settings other(true);
        other.SetWindowsDirectory(L"D:\\other i386");
        REQUIRE(other.Save() == 0);
    }
    f.Build();
    REQUIRE(AwaitFinish());
    CHECK(g_finishes.back());
    Settings::Values stored;
    REQUIRE(Settings::ReadFile(GetSettingsFilePath(), stored) == 0);
    CHECK(stored.texts[Settings::WindowsText] == L"D:\\other i386\\");
    CHECK(stored.texts[Settings::PEBuilderText] == tstring(kBuilder) + L"\\");
}

TEST_CASE("A build that fails reports why, offers no burning and gives the lock back") {
    Fixture f;
    SUBCASE("the builder exits with 0 but leaves no image") {
        SetEnvironmentVariableW(L"ORVANE_FAKE_ISO", L"0");
        f.Build();
        REQUIRE(AwaitFinish());
        CHECK_FALSE(g_finishes.back());
        REQUIRE_MESSAGE(f.ui.boxes.size() == 1, BoxTexts(f.ui));
        CHECK(f.ui.boxes[0].text == L"Emergency disk image was not created");
        CHECK(f.ui.boxes[0].type == MB_ICONERROR);
    }
    SUBCASE("the builder exits with an error") {
        SetEnvironmentVariableW(L"ORVANE_FAKE_EXIT", L"3");
        f.Build();
        REQUIRE(AwaitFinish());
        REQUIRE_MESSAGE(f.ui.boxes.size() == 1, BoxTexts(f.ui));
        CHECK(f.ui.boxes[0].text == L"PE Builder exited with errors");
    }
    SUBCASE("the builder folder is wrong: nothing starts") {
        f.Build(L"C:\\orvane-boot\\no such folder");
        CHECK(g_finishes.empty() == true);
        REQUIRE_MESSAGE(f.ui.boxes.size() == 1, BoxTexts(f.ui));
        CHECK(f.ui.boxes[0].text == L"Wrong PE Builder directory");
        CHECK(f.sink.scripts.empty());
        CHECK_FALSE(FileExists(tstring(kBuilder) + L"\\pebuilder.log"));
    }
    g_finishes.clear();
    CHECK_FALSE(IsOperationRunning());
    CHECK_FALSE(f.page.HoldsLock());
    CHECK_FALSE(Has(f.sink, L"OnBurnCD();"));
    // The page is usable again: the next build may take the lock.
    REQUIRE(TryBeginOperation());
    EndOperation();
}

TEST_CASE("Devices from the bus listing, burning the chosen one with its whole address") {
    Fixture f;
    WriteAll(kIso, "CD001 emergency image");
    tstring log = tstring(kTools) + L"\\cdrecord.log";

    // Burning before a device scan.
    Fire(f.page, L"BurnCD", tstring(kTools) + L"\n" + kIso + L"\n\ntrue\nfalse");
    REQUIRE_MESSAGE(f.ui.boxes.size() == 1, BoxTexts(f.ui));
    CHECK(f.ui.boxes[0].text == L"Select device!");
    CHECK_FALSE(FileExists(log));
    CHECK_FALSE(IsOperationRunning());

    f.sink.scripts.clear();
    Fire(f.page, L"BurnSelected", kTools);
    CHECK(f.sink.CompareWithGolden("emergency", "devices") == "");
    REQUIRE(f.page.Devices().size() == 2);
    CHECK(f.page.Devices()[0] == L"10,0,0");
    CHECK(f.page.Devices()[1] == L"1,0,0");
    for (const std::wstring& text : Texts(f.sink)) CHECK(JScriptParseError(text) == L"");

    f.sink.scripts.clear();
    Fire(f.page, L"BurnCD", tstring(kTools) + L"\n" + kIso + L"\n0\ntrue\ntrue");
    CHECK(f.ui.boxes.size() == 1);
    CHECK(f.sink.CompareWithGolden("emergency", "burn") == "");
    CHECK_FALSE(FileExists(kIso));
    CHECK_FALSE(IsOperationRunning());
    std::vector<std::string> started = LogLines(log);
    REQUIRE(started.size() == 2);
    CHECK(started[0].find("\"C:\\orvane-boot\\Program Files\\cd tools\\cdrecord.exe\" -scanbus\t") == 0);
    CHECK(started[1].find("\"C:\\orvane-boot\\Program Files\\cd tools\\cdrecord.exe\" dev=10,0,0 driveropts=burnfree "
                          "-eject \"C:\\orvane-boot\\iso out\\my disk.iso\"\t") == 0);

    // A failed burn keeps the image and says so.
    WriteAll(kIso, "CD001 emergency image");
    SetEnvironmentVariableW(L"ORVANE_FAKE_EXIT", L"2");
    Fire(f.page, L"BurnCD", tstring(kTools) + L"\n" + kIso + L"\n1\nfalse\ntrue");
    REQUIRE_MESSAGE(f.ui.boxes.size() == 2, BoxTexts(f.ui));
    CHECK(f.ui.boxes[1].text == L"cdrecord.exe exited with errors");
    CHECK(FileExists(kIso));
    REQUIRE(LogLines(log).size() == 3);
    CHECK(LogLines(log)[2].find(" dev=1,0,0 driveropts=burnfree  \"") != std::string::npos);

    // No tool in the folder: burning is switched off again.
    f.sink.scripts.clear();
    Fire(f.page, L"BurnSelected", tstring(kRoot));
    REQUIRE_MESSAGE(f.ui.boxes.size() == 3, BoxTexts(f.ui));
    CHECK(f.ui.boxes[2].text == L"Can't get access to program: \"cdrecord.exe\"");
    CHECK(Texts(f.sink) == std::vector<std::wstring>{L"OnNotBurnCDCheck();"});
}

TEST_CASE("Picked folders and image files reach the page escaped") {
    Fixture f;
    f.ui.folder = kBuilder;
    Fire(f.page, L"BrowseForFolder", L"PEBuilderPath");
    f.ui.file = L"C:\\orvane-boot\\it's \"new\".iso";
    Fire(f.page, L"BrowseForFile", L"");
    CHECK(f.ui.folderFlags == 0x49);
    CHECK(f.ui.fileFlags == 0x806);
    CHECK(f.ui.defaultExtension == L"iso");
    CHECK(Texts(f.sink) ==
          std::vector<std::wstring>{L"document.getElementById('PEBuilderPath').value='C:\\\\orvane-boot\\\\Bob\\'s PE Builder';",
                                    L"SetISOFile('C:\\\\orvane-boot\\\\it\\'s \\\"new\\\".iso');"});
}

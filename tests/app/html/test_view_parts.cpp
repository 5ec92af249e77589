#include <doctest/doctest.h>
#include <windows.h>
#include <htmlhelp.h>
#include "RecordingUiServices.h"
#include "RegExport.h"
#include "TempFolder.h"
#include "app/AppUtilities.h"
#include "app/frame/Startup.h"
#include "app/frame/TrayIcon.h"
#include "app/html/BrowserSettingsOverride.h"
#include "app/html/BrowserVersion.h"
#include "app/html/HtmlView.h"
#include "app/html/KeyFilter.h"
#include "app/html/UiCache.h"
#include "common/errors/ErrorBase.h"
#include "common/filepack/FilePack.h"
#include "common/ui/CallbackError.h"

namespace {

const wchar_t kIe[] = L"Software\\Microsoft\\Internet Explorer\\";

void SetValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY handle;
    RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(kIe) + key).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &handle, nullptr);
    RegSetValueExW(handle, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(handle);
}

std::wstring ReadText(const wchar_t* key, const wchar_t* name) {
    wchar_t text[64] = {};
    DWORD size = sizeof(text) - 2;
    RegGetValueW(HKEY_CURRENT_USER, (std::wstring(kIe) + key).c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, nullptr, text,
                 &size);
    return text;
}

std::string ExportAll(const TempFolder& folder) {
    return RegExportTo(L"HKCU\\Software\\Microsoft\\Internet Explorer", folder / L"ie.reg");
}

struct ShellLog : TrayIcon {
    std::vector<DWORD> calls;
    bool fail = false;
    DWORD size = 0;
    BOOL Notify(DWORD message, NOTIFYICONDATAW* data) override {
        calls.push_back(message);
        size = data->cbSize;
        return !fail;
    }
};

bool NoKey(int) { return false; }
bool CtrlDown(int key) { return key == VK_CONTROL || key == VK_LCONTROL; }
bool AltDown(int key) { return key == VK_MENU; }

}  // namespace

TEST_CASE("the first navigation's browser settings come back exactly, missing keys stay missing") {
    TempFolder folder(L"overrides");
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\Settings");
    const wchar_t expand[] = L"%WINDIR%\\x";
    SetValue(L"Main", L"Disable Script Debugger", REG_EXPAND_SZ, expand, sizeof(expand));
    const BYTE binary[] = {1, 2, 3};
    SetValue(L"Main", L"DisableScriptDebuggerIE", REG_BINARY, binary, sizeof(binary));
    DWORD one = 1;
    SetValue(L"Styles", L"Use My Stylesheet", REG_DWORD, &one, sizeof(one));
    HKEY styles;
    RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\Styles", 0, KEY_ALL_ACCESS, &styles);
    RegDeleteValueW(styles, L"MaxScriptStatements");
    RegCloseKey(styles);

    std::string before = ExportAll(folder);
    REQUIRE_FALSE(before.empty());
    {
        BrowserSettingsOverride overrides;
        CHECK(ReadText(L"Main", L"Disable Script Debugger") == L"yes");
        CHECK(ExportAll(folder) != before);
        DWORD value = 0, size = sizeof(value);
        CHECK(RegGetValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\Styles",
                           L"MaxScriptStatements", RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS);
        CHECK(value == 0x7FFFFFFE);
    }
    CHECK(ExportAll(folder) == before);
    HKEY settings;
    CHECK(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\Settings", 0, KEY_READ,
                        &settings) == ERROR_FILE_NOT_FOUND);
}

TEST_CASE("the browser keeps its hands off back, refresh, full screen, new window and print keys") {
    CHECK(FilterKey(WM_KEYDOWN, VK_BACK, NoKey).holdBack);
    CHECK(FilterKey(WM_KEYUP, VK_F5, NoKey).holdBack);
    CHECK(FilterKey(WM_KEYDOWN, VK_BROWSER_HOME, NoKey).holdBack);
    CHECK_FALSE(FilterKey(WM_KEYDOWN, VK_LEFT, NoKey).holdBack);
    CHECK(FilterKey(WM_SYSKEYDOWN, VK_LEFT, AltDown).holdBack);
    CHECK_FALSE(FilterKey(WM_KEYDOWN, 'N', NoKey).holdBack);
    CHECK(FilterKey(WM_KEYDOWN, 'P', CtrlDown).holdBack);
    CHECK(FilterKey(WM_KEYDOWN, 'C', CtrlDown).postCopy);
    CHECK_FALSE(FilterKey(WM_KEYUP, 'C', CtrlDown).postCopy);
    CHECK_FALSE(FilterKey(WM_KEYDOWN, 'C', CtrlDown).holdBack);
}

TEST_CASE("page addresses, browser versions as numbers") {
    CHECK(HtmlView::BuildAddress(L"C:\\c", L"p.htm", nullptr) == L"C:\\c\\p.htm");
    CHECK(HtmlView::BuildAddress(L"C:\\c", L"p.htm", L"a=1") == L"C:\\c\\p.htm#a=1");
    CHECK(HtmlView::BuildAddress(L"C:\\c", L"p.htm", L"#a=1") == L"C:\\c\\p.htm#a=1");
    CHECK(HtmlView::BuildAddress(L"C:\\c", L"p.htm#x", L"a=1") == L"C:\\c\\p.htm#x&a=1");
    CHECK(ParseBrowserVersion(L"10.0.9200.16384").AtLeast(7, 0));
    CHECK_FALSE(ParseBrowserVersion(L"6.0.2900.2180").AtLeast(7, 0));
    CHECK(ParseBrowserVersion(L"6.0.2900.2180").AtLeast(5, 5));
    CHECK_FALSE(ParseBrowserVersion(L"junk").AtLeast(1, 0));
}

TEST_CASE("the tray icon sends what its state needs and comes back after a shell restart") {
    ShellLog tray;
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    tray.SetWindow(window);
    tray.SetId(1);
    tray.SetTip(L"QUARN Orvane");  // no icon yet: nothing to add
    CHECK(tray.calls.empty());

    tray.fail = true;
    HICON first = CopyIcon(LoadIconW(nullptr, (LPCWSTR)IDI_APPLICATION));
    tray.SetIcon(first, true);
    CHECK_FALSE(tray.Added());
    tray.fail = false;
    tray.Update();  // a failed add is tried again
    CHECK(tray.Added());
    CHECK(tray.calls == std::vector<DWORD>{NIM_ADD, NIM_ADD});
    CHECK(tray.size == NOTIFYICONDATAW_V2_SIZE);
    CHECK(tray.size == 952);

    HICON second = CopyIcon(LoadIconW(nullptr, (LPCWSTR)IDI_APPLICATION));
    tray.SetIcon(second, false);
    CHECK(tray.calls.back() == static_cast<DWORD>(NIM_MODIFY));
    CHECK_FALSE(DestroyIcon(first));  // the owned one went with the change

    // A new shell: the old icon is gone, so it is added anew with everything.
    tray.Readd();
    CHECK(tray.calls.back() == static_cast<DWORD>(NIM_ADD));
    CHECK(tray.Added());
    tray.Delete();
    CHECK(DestroyIcon(second));  // not owned: still the caller's
    DestroyWindow(window);
}

TEST_CASE("message boxes, help and the disk explorer go through the dialog seam") {
    RecordingUiServices ui;
    CHECK(ShowMessageBox(nullptr, L"text", nullptr, MB_OK) == IDOK);
    CHECK(ui.boxes.back().caption == L"QUARN Orvane");
    ShowMessageBox(nullptr, 287u, 208u, MB_OK);
    CHECK(ui.boxes.back().text == L"Do you want to cancel the current operation and quit?");

    ShowHelp(HH_HELP_CONTEXT, 9);
    CHECK(ui.helps.back().file == HelpFilePath());
    CHECK(ui.helps.back().file.find(L":\\") == 1);  // a full path, not the current directory's file

    HKEY key;
    const wchar_t* path = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QUARN Drossel_is1";
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY, 0);
    SetRegistryViewFlags(KEY_WOW64_64KEY, KEY_WOW64_32KEY);
    StartDiskExplorer();
    CHECK(ui.executes.back().file == kDiskExplorerPage);
    REQUIRE(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key,
                            nullptr) == ERROR_SUCCESS);
    const wchar_t folder[] = L"C:\\Tools\\Drossel";
    RegSetValueExW(key, L"InstallLocation", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder), sizeof(folder));
    RegCloseKey(key);
    StartDiskExplorer();
    CHECK(ui.executes.back().verb == L"open");
    CHECK(ui.executes.back().file == L"C:\\Tools\\Drossel\\Drossel.exe");
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path, KEY_WOW64_32KEY, 0);

    DWORD start = GetTickCount();
    WaitPumping(99);
    CHECK(GetTickCount() - start < 99);
}

TEST_CASE("the UI package unpacks whole, drops a short news page, and refuses damaged packages") {
    TempFolder source(L"ui-source"), target(L"ui-target"), other(L"ui-other");
    WriteAll(source / L"news.htm", std::string(1023, 'n'));
    CreateDirectoryW((source / L"img").c_str(), nullptr);
    WriteAll(source / L"img\\a.gif", "GIF89a");
    tstring package = other / L"ui.qna";
    { FilePack pack(package, source.Path()); }
    ExtractUiPackage(package, target.Path());
    CHECK(ReadAll(target / L"img\\a.gif") == "GIF89a");
    CHECK_FALSE(FileExists(target / L"news.htm"));

    WriteAll(source / L"news.htm", std::string(1024, 'n'));
    DeleteFileW(package.c_str());
    { FilePack pack(package, source.Path()); }
    ExtractUiPackage(package, target.Path());
    CHECK(FileExists(target / L"news.htm"));

    std::string bytes = ReadAll(package);
    bytes[bytes.size() - 3] ^= 0x20;
    WriteAll(package, bytes);
    CHECK_THROWS_AS(ExtractUiPackage(package, other / L"never"), ErrorBase);
    CHECK_FALSE(FileExists(other / L"never"));
}

namespace {

struct FailingSteps : UninstallSteps {
    int cleared = 0, deleted = 0;
    void ClearCompactionRequests() override {
        ++cleared;
        throw ErrorBase(E_FAIL, L"no mapping");
    }
    void DeleteScheduledJobs() override { ++deleted; }
};

void Quiet(const TCHAR*, const TCHAR*) {}

}  // namespace

TEST_CASE("the uninstaller's tidy-up tries every step whatever the others did") {
    SetCallbackErrorReporter(Quiet);
    FailingSteps steps;
    SetUninstallSteps(&steps);
    CHECK_NOTHROW(RunUninstall());
    CHECK(steps.cleared == 1);
    CHECK(steps.deleted == 1);
    SetUninstallSteps(nullptr);
    SetCallbackErrorReporter(nullptr);

    StartSwitches s = ParseSwitches(L"-backup \"/SCANFIX\" backup /Debug /bogus");
    CHECK(s.operation == 3);
    CHECK(s.debug);
    CHECK(ParseSwitches(L"/Backup").operation == 1);
    CHECK(ParseSwitches(L"backup").operation == 0);
    CHECK(ParseSwitches(nullptr).operation == 0);
}

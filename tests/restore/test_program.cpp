// The real OrvaneRestore.exe, driven from outside as a user would: its edit
// boxes filled, its buttons clicked, its message boxes read and closed.
#include <doctest/doctest.h>
#include <functional>
#include "RestoreFixture.h"
#include "common/errors/ErrorBase.h"
#include "common/errors/ErrorText.h"

namespace {

tstring TestFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return tstring(path).substr(0, tstring(path).rfind('\\'));
}

// A prefix whose 32-bit half could not be set up (a host kernel that runs no
// 32-bit code leaves SysWOW64 empty) starts no 32-bit program at all.
bool PrefixRuns32BitPrograms() {
    char folder[MAX_PATH] = {};
    UINT n = GetSystemWow64DirectoryA(folder, MAX_PATH);
    return n && n < MAX_PATH && GetFileAttributesA((tstring(folder) + "\\kernel32.dll").c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The 32-bit program the boot disk's plug-in ships; where the prefix cannot run
// it, the same sources built for 64 bits.
tstring ShippedProgram() { return TestFolder() + "\\..\\..\\PEBuilder Plugin\\OrvaneRestore.exe"; }

tstring ProgramToDrive() {
    if (PrefixRuns32BitPrograms())
        return ShippedProgram();
    MESSAGE("this prefix runs no 32-bit programs: driving the restore program's 64-bit build");
    return TestFolder() + "\\OrvaneRestore64.exe";
}

const char kDialogCaption[] = "QUARN Orvane Restore";
const char kBoxCaption[] = "Quarn Orvane Restore";
const DWORD kPatience = 60000;
const char kRestored[] =
    "Registry was successfully restored!\nPlease remove the CD from the computer and reboot the system.";
const char kLeftOut[] = "\n\nThis Windows has no hive file for these entries of the backup; they were left out:";

tstring WindowText(HWND window) {
    char text[1024] = {};
    DWORD_PTR n = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 10000, &n);
    return text;
}

class RestoreProgram {
public:
    RestoreProgram() {
        tstring exe = ProgramToDrive();
        STARTUPINFOA startup = {sizeof(startup)};
        std::string command = "\"" + exe + "\"";
        for (int attempt = 0; attempt < 5 && !process_.hProcess; ++attempt) {
            if (!CreateProcessA(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                &process_))
                Sleep(200);
        }
        REQUIRE(process_.hProcess);
        dialog_ = WaitForWindow([](HWND, const tstring& caption) { return caption == kDialogCaption; });
        REQUIRE(dialog_);
    }
    ~RestoreProgram() {
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(process_.hProcess, 1);
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }

    HWND Dialog() const { return dialog_; }
    HWND Item(int id) const { return GetDlgItem(dialog_, id); }

    void SetItemText(int id, const tstring& text) {
        DWORD_PTR result = 0;
        SendMessageTimeoutA(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 10000,
                            &result);
    }
    void Click(int id) { PostMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(Item(id))); }

    // Clicks the button, reads the message box that follows and presses OK.
    tstring ClickAndReadBox(int id) {
        Click(id);
        HWND box = WaitForWindow([](HWND, const tstring& caption) { return caption == kBoxCaption; });
        REQUIRE(box);
        tstring text;
        for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            char className[32] = {};
            GetClassNameA(child, className, sizeof(className));
            tstring childText = WindowText(child);
            if (lstrcmpiA(className, "Static") == 0 && !childText.empty())
                text = childText;
        }
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        WaitUntilGone(box);
        // A sent message is taken only once the click's handler has returned.
        DWORD_PTR result = 0;
        SendMessageTimeoutA(dialog_, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kPatience, &result);
        return text;
    }

    // Clicks a browse button and cancels the window it opens.
    void BrowseAndCancel(int id) {
        Click(id);
        HWND browser = WaitForWindow([this](HWND window, const tstring&) { return window != dialog_; });
        REQUIRE(browser);
        PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
        WaitUntilGone(browser);
    }

    bool Ended() { return WaitForSingleObject(process_.hProcess, kPatience) == WAIT_OBJECT_0; }

private:
    using WindowTest = std::function<bool(HWND, const tstring&)>;

    HWND WaitForWindow(const WindowTest& test) {
        struct Search {
            DWORD pid;
            const WindowTest* test;
            HWND found;
        } search = {process_.dwProcessId, &test, nullptr};
        for (DWORD waited = 0; waited < kPatience && !search.found; waited += 100) {
            EnumWindows(
                [](HWND window, LPARAM param) -> BOOL {
                    auto* s = reinterpret_cast<Search*>(param);
                    DWORD pid = 0;
                    GetWindowThreadProcessId(window, &pid);
                    if (pid == s->pid && IsWindowVisible(window) && (*s->test)(window, WindowText(window)))
                        s->found = window;
                    return !s->found;
                },
                reinterpret_cast<LPARAM>(&search));
            if (!search.found)
                Sleep(100);
        }
        return search.found;
    }

    static void WaitUntilGone(HWND window) {
        for (DWORD waited = 0; waited < kPatience && IsWindow(window); waited += 50)
            Sleep(50);
    }

    PROCESS_INFORMATION process_ = {};
    HWND dialog_ = nullptr;
};

}  // namespace

TEST_CASE("The program asks for both paths, reports a failure, then restores and ends") {
    FakeWindows win;
    auto before = win.Snapshot();
    tstring backup = win.Backup("full.bkp");
    RestoreProgram program;

    CHECK(program.ClickAndReadBox(IDOK) == "Select correct paths");
    program.BrowseAndCancel(1001);
    program.BrowseAndCancel(1003);
    CHECK(WindowText(program.Item(1000)).empty());

    program.SetItemText(1000, backup + ".none");
    program.SetItemText(1002, win.Windows());
    CHECK(program.ClickAndReadBox(IDOK) == backup + ".none does not exist");
    CHECK(IsWindowEnabled(program.Item(1000)));
    CHECK(IsWindowEnabled(program.Item(IDOK)));
    CHECK(win.Snapshot() == before);

    program.SetItemText(1000, backup);
    HANDLE held = CreateFileA(win.Config("SYSTEM").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK(program.ClickAndReadBox(IDOK) == "Can't replace file: " + win.Config("SYSTEM") + ". " +
                                               ErrorText(FoldWin32(ERROR_SHARING_VIOLATION), nullptr));
    CloseHandle(held);
    CHECK(win.Snapshot() == before);
    CHECK(program.ClickAndReadBox(IDOK) == kRestored);
    CHECK(program.Ended());
    CHECK(ReadAll(win.Config("SAM")) == EntryData("HKLM_SAM.dat"));
    CHECK(ReadAll(win.Config("SOFTWARE")) == EntryData("HKLM_SOFTWARE.dat"));
    CHECK(ReadAll(win.Config("DEFAULT")) == before["DEFAULT"]);
    CHECK(FakeWindows::Files(win.Temp()).empty());
}

TEST_CASE("Entries named as devices are no hive files: the hive beside them goes in, the box names them") {
    FakeWindows win;
    auto before = win.Snapshot();
    RestoreProgram program;
    program.SetItemText(1000, win.Backup("devices.bkp"));
    program.SetItemText(1002, win.Windows());
    CHECK(program.ClickAndReadBox(IDOK) ==
          tstring(kRestored) + kLeftOut + "\nHKLM_Aux.dat\nHKLM_com1.dat\nHKLM_LPT9.dat\nHKLM_NUL.dat");
    before["SAM"] = EntryData("HKLM_SAM.dat");
    CHECK(win.Snapshot() == before);
}

TEST_CASE("Under WOW64 the running system's own config folder is restored, not its 32-bit view") {
    if (!PrefixRuns32BitPrograms()) {
        MESSAGE("not run here: this prefix runs no 32-bit program, so there is no WOW64 view to get wrong");
        return;
    }
    char windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryA(windows, MAX_PATH);
    tstring config = tstring(windows) + "\\system32\\config\\";
    CreateDirectoryA(config.c_str(), nullptr);  // Wine keeps no hive files there
    WriteAll(config + "SYSTEM", "original SYSTEM");
    FakeWindows win;
    RestoreProgram program;
    program.SetItemText(1000, win.Backup("no_sam.bkp"));
    program.SetItemText(1002, windows);
    // Only the hive file that is there goes in; the closing box names the other.
    CHECK(program.ClickAndReadBox(IDOK) == tstring(kRestored) + kLeftOut + "\nHKLM_SOFTWARE.dat");
    CHECK(ReadAll(config + "SYSTEM") == EntryData("HKLM_SYSTEM.dat"));
    CHECK(GetFileAttributesA((config + "SOFTWARE").c_str()) == INVALID_FILE_ATTRIBUTES);
    DeleteFileA((config + "SYSTEM").c_str());
}

TEST_CASE("The plug-in ships a 32-bit program that the Windows XP loader takes") {
    std::string image = ReadAll(ShippedProgram());
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(&image.at(*reinterpret_cast<const LONG*>(&image.at(0x3C))));
    REQUIRE(nt->FileHeader.Machine == IMAGE_FILE_MACHINE_I386);
    CHECK(nt->OptionalHeader.MajorSubsystemVersion * 100 + nt->OptionalHeader.MinorSubsystemVersion <= 501);

    // Nor may it import what XP's kernel32 lacks, as the static thread library would.
    auto at = [&](DWORD address) {
        auto section = IMAGE_FIRST_SECTION(nt), last = section + nt->FileHeader.NumberOfSections - 1;
        while (section < last && address - section->VirtualAddress >= section->SizeOfRawData)
            ++section;
        return &image.at(address - section->VirtualAddress + section->PointerToRawData);
    };
    auto dll = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
        at(nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress));
    for (; dll->Name; ++dll) {  // a thunk without the ordinal flag addresses a hint word and the name
        for (auto thunk = reinterpret_cast<const DWORD*>(at(dll->OriginalFirstThunk)); *thunk; ++thunk)
            CHECK(((*thunk & IMAGE_ORDINAL_FLAG32) || tstring(at(*thunk) + 2) != "GetTickCount64"));
    }
}

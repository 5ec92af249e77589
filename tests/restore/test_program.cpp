// The real OrvaneRestore.exe, the 32-bit one the plug-in ships, driven from outside
// as a user would: its edit boxes filled, its buttons clicked, its boxes read and closed.
#include <doctest/doctest.h>
#include <functional>
#include <set>
#include "RestoreFixture.h"

namespace {

tstring ShippedProgram() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return tstring(path).substr(0, tstring(path).rfind('\\')) + "\\..\\..\\PEBuilder Plugin\\OrvaneRestore.exe";
}

const char kDialogCaption[] = "QUARN Orvane Restore";
const char kBoxCaption[] = "Quarn Orvane Restore";
const DWORD kPatience = 60000;
const char kRestored[] =
    "Registry was successfully restored!\nPlease remove the CD from the computer and reboot the system.";

tstring WindowText(HWND window) {
    char text[1024] = {};
    DWORD_PTR n = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 10000, &n);
    return text;
}

class RestoreProgram {
public:
    RestoreProgram() {
        tstring exe = ShippedProgram();
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
    {
        HeldFile holder(win.Config("SYSTEM"));
        CHECK(program.ClickAndReadBox(IDOK) == "Can't replace file: " + win.Config("SYSTEM") + ".");
    }
    CHECK(win.Snapshot() == before);
    CHECK(program.ClickAndReadBox(IDOK) == kRestored);
    CHECK(program.Ended());
    CHECK(ReadAll(win.Config("SAM")) == EntryData("HKLM_SAM.dat"));
    CHECK(ReadAll(win.Config("SOFTWARE")) == EntryData("HKLM_SOFTWARE.dat"));
    CHECK(ReadAll(win.Config("DEFAULT")) == before["DEFAULT"]);
    CHECK(FakeWindows::Files(win.Temp()).empty());
}

TEST_CASE("Under WOW64 the running system's own config folder is the one restored, not its 32-bit view") {
    // Wine keeps no hive files there: they are planted and taken away again.
    char windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryA(windows, MAX_PATH);
    tstring config = tstring(windows) + "\\system32\\config\\";
    CreateDirectoryA(config.c_str(), nullptr);
    const char* const hives[] = {"SOFTWARE", "SYSTEM", "SAM", "SECURITY"};
    for (const char* hive : hives)
        WriteAll(config + hive, "old");
    FakeWindows win;
    RestoreProgram program;
    program.SetItemText(1000, win.Backup("full.bkp"));
    program.SetItemText(1002, windows);
    CHECK(program.ClickAndReadBox(IDOK) == kRestored);
    for (const char* hive : hives) {
        CHECK(ReadAll(config + hive) == EntryData(tstring("HKLM_") + hive + ".dat"));
        DeleteFileA((config + hive).c_str());
    }
}

TEST_CASE("The plug-in ships a 32-bit program that the Windows XP loader takes") {
    std::string image = ReadAll(ShippedProgram());
    REQUIRE(image.size() > 4096);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
        &image[reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data())->e_lfanew]);
    REQUIRE(nt->Signature == IMAGE_NT_SIGNATURE);
    REQUIRE(nt->FileHeader.Machine == IMAGE_FILE_MACHINE_I386);
    CHECK(nt->OptionalHeader.MajorSubsystemVersion * 100 + nt->OptionalHeader.MinorSubsystemVersion <= 501);

    // Nor may it import what XP's kernel32 lacks; the static runtime reaches for these.
    auto at = [&](DWORD address) {
        auto section = IMAGE_FIRST_SECTION(nt), last = section + nt->FileHeader.NumberOfSections - 1;
        while (section < last && address - section->VirtualAddress >= section->SizeOfRawData)
            ++section;
        return &image.at(address - section->VirtualAddress + section->PointerToRawData);
    };
    const std::set<tstring> newer = {"GetTickCount64", "InitializeSRWLock", "InitializeConditionVariable",
                                     "InitOnceExecuteOnce", "FlsAlloc", "InitializeCriticalSectionEx"};
    auto dll = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
        at(nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress));
    for (; dll->Name; ++dll) {
        // A thunk without the ordinal flag addresses a hint word and the name.
        for (auto thunk = reinterpret_cast<const DWORD*>(at(dll->OriginalFirstThunk)); *thunk; ++thunk)
            CHECK_MESSAGE(((*thunk & IMAGE_ORDINAL_FLAG32) || !newer.count(at(*thunk) + 2)), tstring(at(dll->Name)));
    }
}

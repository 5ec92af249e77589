#include <doctest/doctest.h>
#include <windows.h>
#include <shellapi.h>
#include <string>
#include "ProgramFolder.h"
#include "common/archive/Crc32.h"
#include "common/filepack/FilePack.h"
#include "common/settings/AppFolders.h"
#include "TestLimits.h"

namespace {

const wchar_t kFrameClass[] = L"OrvaneMainFrame";

// The picture size from a JPEG's start-of-frame marker.
SIZE JpegSize(const std::string& bytes) {
    for (size_t i = 2; i + 9 < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) != 0xFF) return SIZE{};
        unsigned char marker = static_cast<unsigned char>(bytes[i + 1]);
        size_t length = (static_cast<unsigned char>(bytes[i + 2]) << 8) | static_cast<unsigned char>(bytes[i + 3]);
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            auto at = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
            return SIZE{(at(i + 7) << 8) | at(i + 8), (at(i + 5) << 8) | at(i + 6)};
        }
        i += 2 + length;
    }
    return SIZE{};
}

tstring FileVersionMajorMinor(const tstring& path) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::string data(size, '\0');
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (!size || !GetFileVersionInfoW(path.c_str(), 0, size, &data[0]) ||
        !VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length))
        return L"?";
    return FormatText(L"%u.%u", HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS));
}

// Whether the shell holds the frame's icon: a modify without changes fails for none.
bool TrayIconShown(HWND frame) {
    NOTIFYICONDATAW probe = {};
    probe.cbSize = NOTIFYICONDATAW_V2_SIZE;
    probe.hWnd = frame;
    probe.uID = 1;
    return Shell_NotifyIconW(NIM_MODIFY, &probe) != FALSE;
}

// The frame window exists a moment before its icon is added, and shows a
// moment before the icon goes.
bool TrayIconBecomes(HWND frame, bool shown) {
    for (int i = 0; i < 100; ++i, Sleep(100))
        if (TrayIconShown(frame) == shown) return true;
    return false;
}

// Answers the first message box of the process and returns its caption and text.
bool AnswerBox(ProgramFolder& program, tstring& caption, tstring& text, DWORD milliseconds) {
    HWND box = program.WaitForWindow(L"#32770", milliseconds, true);
    if (!box) return false;
    wchar_t title[256] = {};
    GetWindowTextW(box, title, 255);
    caption = title;
    text = MessageBoxText(box);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    return true;
}

// A package with one entry, written by hand (the pack class refuses such names).
std::string PackageWithEntry(const std::wstring& name, const std::string& data) {
    std::string body;
    auto putInt = [&](uint32_t v) { body.append(reinterpret_cast<const char*>(&v), 4); };
    putInt(static_cast<uint32_t>(name.size() * 2));
    body.append(reinterpret_cast<const char*>(name.data()), name.size() * 2);
    putInt(static_cast<uint32_t>(data.size()));
    body += data;
    std::string count(4, '\0');
    count[0] = 1;
    std::string tail = count + body;
    uint32_t crc = Crc32::Of(tail.data() + 4, tail.size() - 4);
    return std::string(reinterpret_cast<const char*>(&crc), 4) + tail;
}

// Closes the program as a user would: a close while a page is still loading
// asks whether to cancel the operation, which is answered yes.
DWORD CloseProgram(ProgramFolder& program, HWND frame) {
    PostMessageW(frame, WM_CLOSE, 0, 0);
    for (int i = 0; i < 300; ++i) {
        DWORD code = program.WaitExit(100);
        if (code != STILL_ACTIVE) return code;
        if (HWND box = program.FindWindowOf(L"#32770")) {
            if (IsWindowVisible(box)) PostMessageW(box, WM_COMMAND, IDYES, 0);
        }
    }
    return STILL_ACTIVE;
}

}  // namespace

TEST_CASE("one instance: later starts hand over and leave, the first frame has its title and size") {
    ProgramFolder first(L"first"), second(L"second");
    REQUIRE(first.Start(L""));
    HWND splash = first.WaitForWindow(L"OrvaneSplash", 15000, true);
    REQUIRE(splash);
    RECT client = {}, outer = {};
    GetClientRect(splash, &client);
    GetWindowRect(splash, &outer);
    FilePack pack;
    pack.Open(first.Package(), true);
    SharedBuffer picture;
    REQUIRE(pack.ReadEntry(L"splash.jpg", picture));
    pack.Close();
    SIZE size = JpegSize(std::string(reinterpret_cast<const char*>(picture.Data()), picture.Size()));
    CHECK(client.right == size.cx);
    CHECK(client.bottom == size.cy);
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    CHECK(abs((outer.left + outer.right) / 2 - (work.left + work.right) / 2) <= 1);
    CHECK(abs((outer.top + outer.bottom) / 2 - (work.top + work.bottom) / 2) <= 1);
    // Clicks do not close the splash.
    SendMessageW(splash, WM_LBUTTONDOWN, 0, 0);
    CHECK(IsWindow(splash));

    HWND frame = first.WaitForWindow(kFrameClass, 30000, true);
    REQUIRE(frame);
    wchar_t title[128] = {};
    GetWindowTextW(frame, title, 127);
    CHECK(tstring(title) == L"QUARN Orvane " + FileVersionMajorMinor(first.Path() + L"\\Orvane.exe"));
    RECT rect;
    GetWindowRect(frame, &rect);
    CHECK(rect.right - rect.left == 800);
    CHECK(rect.bottom - rect.top == 630);
    CHECK(first.CacheFolders().size() == 1);

    std::vector<tstring> cacheBefore = AllCacheFolders();
    REQUIRE(second.Start(L""));
    CHECK(second.WaitExit(5000) == 0);
    CHECK(AllCacheFolders() == cacheBefore);

    // A scheduled request reaching a visible user-started instance is refused with a box.
    REQUIRE(second.Start(L"/backup"));
    tstring caption, text;
    REQUIRE(AnswerBox(first, caption, text, 20000));
    CHECK(caption == L"QUARN Orvane");
    CHECK(text.find(L"Backup has been queued to run now, but another instance of the program is already running.") ==
          0);
    CHECK(second.WaitExit(5000) == 0);
    // One broadcast, one box: no second one comes up.
    for (int i = 0; i < 20 && first.FindWindowOf(L"#32770"); ++i) Sleep(100);
    Sleep(1000);
    CHECK_FALSE(first.FindWindowOf(L"#32770"));

    CHECK(CloseProgram(first, frame) == 0);
    CHECK(first.CacheFolders().empty());
}

TEST_CASE("a scheduled start runs hidden with a tray icon that survives a shell restart, then ends by itself") {
    ProgramFolder program(L"scheduled");
    REQUIRE(program.Start(L"-BACKUP"));
    HWND frame = program.WaitForWindow(kFrameClass, 20000);
    REQUIRE(frame);
    CHECK_FALSE(program.FindWindowOf(L"OrvaneSplash"));
    CHECK_FALSE(IsWindowVisible(frame));
    CHECK(TrayIconBecomes(frame, true));

    // A shell restart: the new shell has no icon until the frame adds it again.
    NOTIFYICONDATAW gone = {};
    gone.cbSize = NOTIFYICONDATAW_V2_SIZE;
    gone.hWnd = frame;
    gone.uID = 1;
    Shell_NotifyIconW(NIM_DELETE, &gone);
    SendMessageW(frame, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    CHECK(TrayIconShown(frame));

    // A whole backup run, with a background page that waits for its document.
    CHECK(program.WaitExit(120000) == 0);
    CHECK(program.CacheFolders().empty());

    // Opened from the tray, the frame stays.
    REQUIRE(program.Start(L"/Backup"));
    frame = program.WaitForWindow(kFrameClass, 20000);
    REQUIRE(frame);
    PostMessageW(frame, RegisterWindowMessageW(L"ORVANE_TRAY_MSG"), 1, WM_LBUTTONDBLCLK);
    CHECK(program.WaitForWindow(kFrameClass, testlimit::kStep, true) == frame);
    CHECK(TrayIconBecomes(frame, false));
    CHECK(program.WaitExit(4000) == STILL_ACTIVE);
    CHECK(CloseProgram(program, frame) == 0);
}

TEST_CASE("the uninstaller's start tidies up and ends at once; an abandoned instance mutex is taken over") {
    ProgramFolder program(L"uninstall");
    REQUIRE(program.Start(L"/UNINSTALL"));
    CHECK(program.WaitExit(10000) == 0);
    CHECK_FALSE(program.FindWindowOf(kFrameClass));
    wchar_t pending[4096] = {};
    DWORD size = sizeof(pending) - 4;
    RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Session Manager",
                 L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, pending, &size);
    bool named = false;
    for (const wchar_t* p = pending; *p; p += wcslen(p) + 1) {
        tstring entry = p;
        entry.MakeLower();
        if (entry.find(L"\\system32\\orvanecompact.dll") != tstring::npos) named = true;
    }
    CHECK(named);

    // A crashed instance left its mutex abandoned: the next start owns it.
    HANDLE thread = CreateThread(nullptr, 0, [](void*) -> DWORD {
        CreateMutexW(nullptr, TRUE, L"QUARN_ORVANE");
        return 0;  // ends without releasing it
    }, nullptr, 0, nullptr);
    testlimit::Join(thread, testlimit::kStep, "the thread that abandons the instance mutex");
    CloseHandle(thread);
    REQUIRE(program.Start(L""));
    HWND frame = program.WaitForWindow(kFrameClass, 30000, true);
    CHECK(frame);
    CHECK(CloseProgram(program, frame) == 0);
}

TEST_CASE("a damaged or missing UI package ends the start with the reason and leaves nothing behind") {
    ProgramFolder program(L"badpackage");
    std::string good = program.BuiltPackage();
    REQUIRE(good.size() > 100);
    struct Case {
        const char* name;
        std::string bytes;
        const wchar_t* reason;
    };
    std::string flipped = good;
    flipped[good.size() / 2] ^= 0x01;
    Case cases[] = {
        {"flipped byte", flipped, L"Invalid CRC"},
        {"truncated", good.substr(0, good.size() - 7), L""},
        {"entry leaving the folder", PackageWithEntry(L"..\\evil.txt", "evil"), L""},
    };
    for (const Case& c : cases) {
        INFO(c.name);
        WriteAll(program.Package(), c.bytes);
        REQUIRE(program.Start(L""));
        tstring caption, text;
        REQUIRE(AnswerBox(program, caption, text, 15000));
        CHECK(caption == L"Fatal Error");
        CHECK(text.find(c.reason) != tstring::npos);
        CHECK_FALSE(text.empty());
        CHECK(program.WaitExit(10000) == 1);
        CHECK(program.CacheFolders().empty());
        CHECK_FALSE(FileExists(program.Path() + L"\\evil.txt"));
    }

    // A splash picture that does not load: no splash, and the start goes on.
    WriteAll(program.Package(), good);
    {
        TempFolder replacement(L"badsplash");
        FilePack pack;
        pack.Open(program.Package(), true);
        SharedBuffer picture;
        REQUIRE(pack.ReadEntry(L"splash.jpg", picture));
        pack.Close();
        WriteAll(replacement / L"splash.jpg", std::string(reinterpret_cast<const char*>(picture.Data()), 200));
        FilePack rewrite(program.Package(), replacement.Path());
    }
    REQUIRE(program.Start(L""));
    HWND frame = program.WaitForWindow(kFrameClass, 30000, true);
    REQUIRE(frame);
    CHECK_FALSE(program.FindWindowOf(L"OrvaneSplash"));
    CHECK(CloseProgram(program, frame) == 0);

    DeleteFileW(program.Package().c_str());
    REQUIRE(program.Start(L""));
    tstring caption, text;
    REQUIRE(AnswerBox(program, caption, text, 15000));
    CHECK(caption == L"Fatal Error");
    std::string log = ReadAll(GetAppFolder(true) + L"\\Orvane.log");
    std::wstring wide(reinterpret_cast<const wchar_t*>(log.data()), log.size() / 2);
    CHECK(wide.find(L"[error] File not found: qnguires.qna") != std::wstring::npos);
    CHECK(program.WaitExit(10000) == 1);
    CHECK(program.CacheFolders().empty());
}

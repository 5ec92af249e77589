#include <windows.h>
#include <commctrl.h>
#include <cstdio>
#include <string>
#include "doctest/doctest.h"
#include "diskexplorer/ExplorerResources.h"
#include "tests/diskexplorer/frame/FrameHarness.h"
#include "TestLimits.h"

namespace {

// The popup menu window this process shows, when it shows `menu`.
HWND PopupOf(HMENU menu) {
    for (HWND popup = nullptr; (popup = FindWindowExW(nullptr, popup, L"#32768", nullptr));) {
        DWORD process = 0;
        GetWindowThreadProcessId(popup, &process);
        if (process == GetCurrentProcessId() && IsWindowVisible(popup) &&
            reinterpret_cast<HMENU>(SendMessageW(popup, MN_GETHMENU, 0, 0)) == menu)
            return popup;
    }
    return nullptr;
}

// Whether this process shows a popup menu.
bool ShowsPopupMenu() {
    for (HWND popup = nullptr; (popup = FindWindowExW(nullptr, popup, L"#32768", nullptr));) {
        DWORD process = 0;
        GetWindowThreadProcessId(popup, &process);
        if (process == GetCurrentProcessId() && IsWindowVisible(popup))
            return true;
    }
    return false;
}

template <class Condition>
bool WaitFor(Condition condition, int tries = 1000) {
    for (int i = 0; i < tries && !condition(); ++i)
        Sleep(10);
    return condition();
}

// The screen under `area` as a 24-bit BMP file.
void SaveScreen(RECT area, const char* path) {
    int width = area.right - area.left, height = area.bottom - area.top;
    HDC screen = GetDC(nullptr), copy = CreateCompatibleDC(screen);
    BITMAPINFOHEADER header{sizeof header, width, height, 1, 24, BI_RGB};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(copy, bitmap);
    BitBlt(copy, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    DWORD size = ((width * 3 + 3) & ~3) * height, offset = sizeof(BITMAPFILEHEADER) + sizeof header;
    BITMAPFILEHEADER file{0x4D42, offset + size, 0, 0, offset};
    if (FILE* out = fopen(path, "wb")) {
        fwrite(&file, sizeof file, 1, out);
        fwrite(&header, sizeof header, 1, out);
        fwrite(bits, size, 1, out);
        fclose(out);
    }
    SelectObject(copy, old);
    DeleteObject(bitmap);
    DeleteDC(copy);
    ReleaseDC(nullptr, screen);
}

}  // namespace

TEST_CASE("the command bar opens menu 128 from the keyboard, moves between popups and explains commands") {
    // Access keys hidden until the keyboard is used, as the system may be set.
    struct HiddenCues {
        BOOL before = FALSE;
        HiddenCues() {
            SystemParametersInfoW(SPI_GETKEYBOARDCUES, 0, &before, 0);
            SystemParametersInfoW(SPI_SETKEYBOARDCUES, 0, nullptr, 0);
        }
        ~HiddenCues() { SystemParametersInfoW(SPI_SETKEYBOARDCUES, 0, reinterpret_cast<void*>(INT_PTR(before)), 0); }
    } hidden;
    BoxAnswerer boxes;
    FrameHarness h;
    REQUIRE(h.Open());
    CommandBar& bar = h.frame->Commands();
    HMENU menu = h.frame->Menu();
    HWND list = h.frame->List(), status = h.frame->StatusBar();
    CHECK_FALSE(bar.ShowsAccessKeys());
    PostMessageW(list, WM_SYSKEYDOWN, VK_F10, 0);
    PumpFor(50);
    CHECK(bar.KeyboardItem() == 0);
    PostMessageW(list, WM_SYSKEYDOWN, VK_F10, 0);
    PumpFor(50);
    CHECK(bar.KeyboardItem() == -1);
    PostMessageW(list, WM_SYSKEYDOWN, VK_MENU, 1 << 29);
    PostMessageW(list, WM_SYSKEYUP, VK_MENU, 0xE0000001);
    PumpFor(50);
    CHECK(bar.KeyboardItem() == 0);
    CHECK(bar.ShowsAccessKeys());

    // A user at the keyboard: File (from Down), Right to View, Right to Help,
    // Left to View, Escape; then Alt+H and Escape.
    std::vector<int> shown;
    tstring help;
    std::string missed;  // the popup the user waited for in vain
    std::atomic<bool> done{false};
    std::thread user([&] {
        auto step = [&](int index, UINT message, WPARAM key, LPARAM flags) {
            HWND popup = nullptr;
            if (!missed.empty())
                return;
            if (!WaitFor([&] { return (popup = PopupOf(GetSubMenu(menu, index))) != nullptr; })) {
                missed = "the popup of command bar item " + std::to_string(index);
                return;
            }
            shown.push_back(index);
            if (shown.size() == 2) {  // View, its first item selected: its help, and a picture
                WaitFor([&] { return Window(status).Text() != L"Ready"; });
                help = Window(status).Text();
                Sleep(300);  // for the picture only: the popup's drawing
                RECT frame = h.frame->WindowRect(), open{};
                GetWindowRect(popup, &open);
                UnionRect(&frame, &frame, &open);
                SaveScreen(frame, "drossel-menu.bmp");
            }
            PostMessageW(popup, message, key, flags);
        };
        step(0, WM_KEYDOWN, VK_RIGHT, 0);
        step(1, WM_KEYDOWN, VK_RIGHT, 0);
        step(2, WM_KEYDOWN, VK_LEFT, 0);
        step(1, WM_KEYDOWN, VK_ESCAPE, 0);
        WaitFor([&] { return !PopupOf(GetSubMenu(menu, 1)); });
        PostMessageW(list, WM_SYSCHAR, 'h', 1 << 29);
        step(2, WM_KEYDOWN, VK_ESCAPE, 0);
        // A menu left open would keep the UI thread in its loop for good.
        for (int i = 0; !missed.empty() && i < 100; ++i) {
            PostMessageW(bar.Handle(), WM_CANCELMODE, 0, 0);
            if (WaitFor([&] { return !ShowsPopupMenu(); }, 10))
                break;
        }
        done = true;
    });
    PostMessageW(list, WM_KEYDOWN, VK_DOWN, 0);
    CHECK(PumpUntil([&] { return done.load(); }));
    testlimit::Join(user, testlimit::kStep, "the keyboard user's thread");
    CHECK_MESSAGE(missed.empty(), "waited 10 s in vain for " << missed);
    CHECK(shown == std::vector<int>{0, 1, 2, 1, 2});
    CHECK(help == L"Display the folders as tiles");
    PumpFor(50);
    CHECK(Window(status).Text() == L"Ready");
    CHECK(bar.KeyboardItem() == 2);  // Escape leaves the bar on its button
    PostMessageW(list, WM_KEYDOWN, VK_ESCAPE, 0);
    PumpFor(50);
    CHECK(bar.KeyboardItem() == -1);
    CHECK_FALSE(bar.ShowsAccessKeys());

    h.frame->Send(WM_MENUSELECT, MAKEWPARAM(ID_REFRESH, MF_GRAYED), reinterpret_cast<LPARAM>(menu));
    CHECK(Window(status).Text() == L"Scan the drive again");
    h.frame->Send(WM_MENUSELECT, MAKEWPARAM(SC_CLOSE, MF_SYSMENU), reinterpret_cast<LPARAM>(GetSystemMenu(*h.frame, FALSE)));
    CHECK(Window(status).Text() == L"Close the active window");
    h.frame->Send(WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
    CHECK(Window(status).Text() == L"Ready");
    CHECK(boxes.Boxes().empty());
}

TEST_CASE("after Alt+F and Escape File alone is hot, though the pointer rests on View, until the pointer moves") {
    FrameHarness h;
    REQUIRE(h.Open());
    CommandBar& bar = h.frame->Commands();
    HMENU file = GetSubMenu(h.frame->Menu(), 0);
    RECT view{};
    bar.Send(TB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&view));
    // The pointer goes over View, with the move the system sends there at rest (as when a popup goes).
    auto pointAt = [&](LONG x) {
        POINT at{x, (view.top + view.bottom) / 2}, screen = at;
        ClientToScreen(bar.Handle(), &screen);
        SetCursorPos(screen.x, screen.y);
        PostMessageW(bar.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(at.x, at.y));
        PumpFor(100);
    };
    pointAt(view.left + 4);
    std::atomic<int> escaped{0};
    std::atomic<bool> done{false};
    std::thread user([&] {  // escapes File's popup twice; any other popup is cancelled
        for (HWND popup = nullptr; escaped < 2 && WaitFor([&] { return (popup = PopupOf(file)) != nullptr; }); ++escaped) {
            PostMessageW(popup, WM_KEYDOWN, VK_ESCAPE, 0);
            WaitFor([&] { return !ShowsPopupMenu(); });
        }
        for (int i = 0; i < 100 && ShowsPopupMenu(); ++i, Sleep(100))
            PostMessageW(bar.Handle(), WM_CANCELMODE, 0, 0);
        done = true;
    });
    PostMessageW(h.frame->List(), WM_SYSCHAR, 'f', 1 << 29);
    CHECK(PumpUntil([&] { return escaped >= 1 || done; }));
    pointAt(view.left + 4);
    CHECK(bar.KeyboardItem() == 0);
    CHECK(bar.Send(TB_GETHOTITEM) == 0);
    PostMessageW(h.frame->List(), WM_KEYDOWN, VK_DOWN, 0);
    CHECK(PumpUntil([&] { return done.load(); }));
    testlimit::Join(user, testlimit::kStep, "the keyboard user's thread");
    CHECK_MESSAGE(escaped == 2, "Down opened another popup than File's");
    pointAt(view.left + 6);  // a real move: View is hot, and the keyboard's
    CHECK(bar.Send(TB_GETHOTITEM) == 1);
    CHECK(bar.KeyboardItem() == 1);
}

TEST_CASE("greyed accelerators send nothing, and a stop keeps the window painting") {
    BoxAnswerer boxes;
    FrameHarness h;
    REQUIRE(h.Open());
    HWND list = h.frame->List();
    uint64_t opens = h.source.Opens();
    PostMessageW(list, WM_KEYDOWN, VK_F5, 0);  // Refresh, enabled
    CHECK(PumpUntil([&] { return h.source.Opens() > opens; }));
    REQUIRE(h.WaitReady());

    h.source.SetRecordDelay(20000);  // stuck in one read until the painter is done
    h.Command(ID_DRIVE_FIRST + 1);
    REQUIRE(PumpUntil([&] { return h.source.Opens() > opens + 1; }));
    opens = h.source.Opens();
    PostMessageW(list, WM_KEYDOWN, VK_F5, 0);  // greyed while the scan runs
    PumpFor(100);
    CHECK(h.source.Opens() == opens);
    REQUIRE(h.frame->IsScanning());

    // While StopScan waits, another thread spoils the list and waits for it to be painted.
    std::atomic<bool> stopping{false}, painted{false};
    std::thread painter([&] {
        WaitFor([&] { return stopping.load(); });
        RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
        painted = WaitFor([&] { return !GetUpdateRect(list, nullptr, FALSE); }) && stopping;
        h.source.SetRecordDelay(0);
    });
    stopping = true;
    h.frame->StopScan();
    stopping = false;
    testlimit::Join(painter, testlimit::kStep, "the painting thread");
    CHECK(painted);
    CHECK_FALSE(h.frame->IsScanning());
    CHECK(boxes.Boxes().empty());
}

TEST_CASE("keys the bar does not use end keyboard mode and do their work; Alt held across a click is no Alt alone") {
    FrameHarness h;
    REQUIRE(h.Open());
    HWND list = h.frame->List(), combo = h.frame->AddressCombo();
    for (WPARAM key : {VK_F10, VK_SHIFT, VK_TAB})
        PostMessageW(list, key == VK_F10 ? WM_SYSKEYDOWN : WM_KEYDOWN, key, 0);
    PumpFor(50);
    SetWindowTextW(combo, L"");
    PostMessageW(GetFocus(), WM_SYSKEYDOWN, VK_F10, 0);
    PostMessageW(GetFocus(), WM_CHAR, 'z', 0);  // no access key of the bar
    PostMessageW(list, WM_SYSKEYDOWN, VK_MENU, 1 << 29);
    PostMessageW(h.frame->StatusBar(), WM_LBUTTONDOWN, MK_LBUTTON, 0);
    PostMessageW(list, WM_SYSKEYUP, VK_MENU, 0xE0000001);
    PumpFor(50);
    CHECK(Window(combo).Text() == L"z");  // Tab reached the frame, z the field
    CHECK(h.frame->Commands().KeyboardItem() == -1);
}

// Counts the requests to end the process, and lets the stuck read return instead.
struct EndCountingFrame : FolderSizeFrame {
    ImageVolumeSource* source = nullptr;
    int ends = 0;
    bool readStuck = false;  // at the last end request
    void EndProcessNow() override {
        ++ends;
        readStuck = IsScanning();
        source->SetRecordDelay(0);
    }
};

TEST_CASE("a stop of a stuck read drops the input of the wait and ends the process when asked to close; stale errors") {
    BoxAnswerer boxes;
    FrameHarness h;
    auto frame = new EndCountingFrame;
    frame->source = &h.source;
    REQUIRE(h.Open(std::unique_ptr<FolderSizeFrame>(frame)));
    uint64_t opens = h.source.Opens(), calls = h.source.RecordCalls();
    h.source.SetRecordDelay(20000);
    h.Command(ID_REFRESH);
    REQUIRE(PumpUntil([&] { return h.source.RecordCalls() > calls; }));
    RECT d{};  // the D: button: a new scan if the click were served
    SendMessageW(h.frame->DriveBar(), TB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&d));
    for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP})
        PostMessageW(h.frame->DriveBar(), m, 0, MAKELPARAM(d.left + 4, d.top + 4));
    PostMessageW(h.frame->List(), WM_SYSKEYDOWN, VK_F4, 1 << 29);
    h.frame->Post(WM_SYSCOMMAND, SC_CLOSE);
    h.frame->Post(WM_COMMAND, ID_EXIT);
    h.frame->StopScan();
    CHECK(frame->ends == 3);
    PumpFor(300);
    CHECK(h.source.Opens() == opens + 1);

    h.source.AddDevice(L"\\\\.\\C:", ImageBytes::FromMemory(std::vector<uint8_t>(65536)));
    h.Command(ID_REFRESH);  // fails at once; its error waits in the queue while D: is scanned
    for (int i = 0; i < 1000 && h.frame->IsScanning(); ++i)
        Sleep(10);
    h.Command(ID_DRIVE_FIRST + 1);
    CHECK(h.WaitReady());
    CHECK(boxes.Boxes().empty());
}

TEST_CASE("the first close of a window whose scan is stuck in a read ends the process without waiting for the read") {
    FrameHarness h;
    auto frame = new EndCountingFrame;
    frame->source = &h.source;
    REQUIRE(h.Open(std::unique_ptr<FolderSizeFrame>(frame)));
    // Exit, and the window menu's Close (where the close box and Alt+F4 lead).
    for (auto close : {+[](FolderSizeFrame& f) { f.Send(WM_COMMAND, ID_EXIT); },
                       +[](FolderSizeFrame& f) { f.Send(WM_SYSCOMMAND, SC_CLOSE); }}) {
        REQUIRE(h.WaitReady());
        int ends = frame->ends;
        uint64_t calls = h.source.RecordCalls();
        h.source.SetRecordDelay(testlimit::kStep);  // until the end request releases it
        h.Command(ID_REFRESH);
        REQUIRE(PumpUntil([&] { return h.source.RecordCalls() > calls; }));
        close(*frame);
        CHECK(PumpUntil([&] { return frame->ends > ends; }));
        CHECK(frame->readStuck);
        CHECK(frame->IsWindow());
    }
    REQUIRE(h.WaitReady());
    h.frame->Send(WM_CLOSE);  // with no scan running the window goes
    CHECK_FALSE(h.frame->IsWindow());
}

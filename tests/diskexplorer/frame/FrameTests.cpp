#include <windows.h>
#include <commctrl.h>
#include <sddl.h>
#include "doctest/doctest.h"
#include "diskexplorer/ExplorerResources.h"
#include "diskexplorer/FolderFigures.h"
#include "diskexplorer/FolderSizeMain.h"
#include "diskexplorer/PrivateHeap.h"
#include "tests/diskexplorer/frame/FrameHarness.h"

namespace {
bool MenuChecked(FolderSizeFrame& frame, UINT id) { return (GetMenuState(frame.Menu(), id, MF_BYCOMMAND) & MF_CHECKED) != 0; }
bool ButtonEnabled(HWND bar, UINT id) { return SendMessageW(bar, TB_ISBUTTONENABLED, id, 0) != 0; }
}  // namespace

TEST_CASE("figures and their formats") {
    CHECK(FormatGrouped(999) == L"999");
    CHECK(FormatGrouped(1000) == L"1 000");
    CHECK(FormatGrouped(100000) == L"100 000");
    CHECK(FormatGrouped(1000000) == L"1 000 000");
    CHECK(SharePercent(5, 0) == 0);
    CHECK(SharePercent(1, 1000) == 1);
    CHECK(SharePercent(0, 1000) == 0);
    CHECK(ShareImage(0) == 0);
    CHECK(ShareImage(10) == 10);
    CHECK(ShareImage(12) == 11);
    CHECK(ShareImage(50) == 19);
    CHECK(ShareImage(100) == 29);
}

TEST_CASE("a scan fills the list; sorts and views are kept in the registry") {
    BoxAnswerer boxes;
    FrameHarness h;
    REQUIRE(h.Open());
    CHECK(StoredSetting(L"View") == ID_VIEW_TILES);
    CHECK(StoredSetting(L"Sort") == ID_SORT_SIZE);
    CHECK(h.frame->SortKey() == 1);
    CHECK(h.Items() == std::vector<tstring>{L"docs", L"other", L"\u00fcn\u00ef", L"empty", L"All files"});
    FolderList& list = h.frame->List();
    CHECK(list.ItemText(4, 1) == L"1 073 743 058");
    CHECK(list.ItemText(4, 2) == L"2");
    CHECK(list.ItemText(0, 1) == L"5 150");
    CHECK(list.Parameter(4) == LPARAM(FolderList::kAllFiles));
    CHECK(list.ItemImage(0) == 1);  // 5 150 of 1 GiB: raised to 1 %
    CHECK(list.ItemImage(3) == 0);
    CHECK(h.Address() == L"C:");
    h.Key(VK_BACK);  // Up at the root: nothing
    CHECK(h.Address() == L"C:");
    CHECK(h.frame->History().BackEntries().empty());
    tstring drive = Window(h.frame->Panel().Drive().Item(IDC_LINK)).Text();
    CHECK(drive.find(L"Items:") != tstring::npos);
    CHECK(drive.find(L" 8") != tstring::npos);

    h.Command(ID_SORT_NAMES);
    CHECK(h.Items() == std::vector<tstring>{L"docs", L"empty", L"other", L"\u00fcn\u00ef", L"All files"});
    CHECK(StoredSetting(L"Sort") == ID_SORT_NAMES);
    CHECK(MenuChecked(*h.frame, ID_SORT_NAMES));
    CHECK_FALSE(MenuChecked(*h.frame, ID_SORT_SIZE));
    CHECK(IsDlgButtonChecked(h.frame->Panel().Sort(), ID_SORT_NAMES));

    h.Command(ID_SORT_ITEMS);
    CHECK(StoredSetting(L"Sort") == ID_SORT_ITEMS);
    for (int i = 1; i + 1 < list.Count(); ++i)
        CHECK(_wtoi(list.ItemText(i - 1, 2).c_str()) >= _wtoi(list.ItemText(i, 2).c_str()));
    CHECK(h.Items().back() == L"All files");
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"Sort");
    h.Command(ID_SORT_ITEMS);
    CHECK(StoredSetting(L"Sort") == 0);

    h.Command(ID_VIEW_DETAILS);
    CHECK(StoredSetting(L"View") == ID_VIEW_DETAILS);
    CHECK(h.frame->DetailsView());
    CHECK(SendMessageW(h.frame->NavigationBar(), TB_GETBITMAP, ID_VIEWS, 0) == 5);
    CHECK(MenuChecked(*h.frame, ID_VIEW_DETAILS));
    CHECK_FALSE(MenuChecked(*h.frame, ID_VIEW_TILES));
    CHECK(boxes.Boxes().empty());

    SUBCASE("the stored choices come back at the next start") {
        h.frame->Send(WM_CLOSE);
        FrameHarness again(false);
        REQUIRE(again.Open());
        CHECK(again.frame->DetailsView());
        CHECK(again.frame->SortKey() == 1);  // "Sort" was removed above: by size
    }
    SUBCASE("values that are no command ids count as missing") {
        h.frame->Send(WM_CLOSE);
        RegSetKeyValueW(HKEY_CURRENT_USER, kSettingsKey, L"Sort", REG_DWORD, "\x41\xE1\0\0", 4);  // 57665: Exit
        FrameHarness again(false);
        REQUIRE(again.Open());
        PumpFor(100);
        CHECK(again.frame->IsWindow());
        CHECK(again.frame->SortKey() == 1);
    }
}

TEST_CASE("moving through folders and the histories") {
    BoxAnswerer boxes;
    FrameHarness h;
    REQUIRE(h.Open());
    h.Command(ID_SORT_NAMES);
    h.DoubleClick(L"docs");
    CHECK(h.Address() == L"C:\\docs");
    CHECK(h.Items() == std::vector<tstring>{L"sub", L"All files"});
    h.Key(VK_RETURN);  // on the selected "sub"
    CHECK(h.Address() == L"C:\\docs\\sub");
    CHECK(SendMessageW(h.frame->AddressCombo(), CB_GETCOUNT, 0, 0) == 2);
    h.Key(VK_BACK);  // Up
    CHECK(h.Address() == L"C:\\docs");
    CHECK(h.frame->History().BackEntries().size() == 3);
    h.Command(ID_BACK);
    CHECK(h.Address() == L"C:\\docs\\sub");
    h.Command(ID_FORWARD);
    CHECK(h.Address() == L"C:\\docs");
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_MENU] = 0x80;
    SetKeyboardState(keys);
    PostMessageW(h.frame->List(), WM_SYSKEYDOWN, VK_LEFT, 1 << 29);  // Alt+Left
    PumpFor(100);
    CHECK(h.Address() == L"C:\\docs\\sub");
    PostMessageW(h.frame->List(), WM_SYSKEYDOWN, VK_RIGHT, 1 << 29);
    PumpFor(100);
    keys[VK_MENU] = 0;
    SetKeyboardState(keys);
    CHECK(h.Address() == L"C:\\docs");

    h.DoubleClick(L"All files");
    REQUIRE(h.launcher.opened.size() == 1);
    CHECK(h.launcher.opened[0] == L"C:\\docs\\");
    CHECK(h.Items() == std::vector<tstring>{L"sub", L"All files"});

    SUBCASE("typed paths") {
        HWND edit = GetWindow(h.frame->AddressCombo(), GW_CHILD);
        SetWindowTextW(h.frame->AddressCombo(), L"C:\\nowhere");
        SetFocus(edit);
        PostMessageW(edit, WM_CHAR, 13, 0);
        PumpFor(100);
        CHECK(h.frame->LastBalloon().find(L"Incorrect folder name") == 0);
        CHECK(h.Items() == std::vector<tstring>{L"sub", L"All files"});
        SetWindowTextW(h.frame->AddressCombo(), L"c:\\OTHER\\");
        SetFocus(edit);
        PostMessageW(edit, WM_CHAR, 13, 0);
        PumpFor(100);
        CHECK(h.Address() == L"C:\\other");
        SetWindowTextW(h.frame->AddressCombo(), L"q:");
        SetFocus(edit);
        PostMessageW(edit, WM_CHAR, 13, 0);
        PumpFor(100);
        CHECK(h.Address() == L"C:");
    }
    SUBCASE("25 moves down a deep tree, the drop-down and Refresh") {
        h.Command(ID_DRIVE_FIRST + 1);  // D:
        REQUIRE(h.WaitReady());
        CHECK(h.frame->DriveText() == L"D:\\");
        h.DoubleClick(L"deep");
        for (int i = 0; i < 24; ++i)
            h.DoubleClick(L"d");
        size_t back = h.frame->History().BackEntries().size();
        CHECK((back == 20 || back == 21));
        CHECK(SendMessageW(h.frame->AddressCombo(), CB_GETCOUNT, 0, 0) == LRESULT(back));
        wchar_t oldest[1024] = L"";
        SendMessageW(h.frame->AddressCombo(), CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(oldest));
        CHECK(tstring(oldest) == TrimBackslashes(h.frame->Model()->BuildFolderPath(
                                     h.frame->History().BackEntries().front(), L"D:\\")));
        uint32_t current = h.frame->CurrentFolder();
        auto entries = h.frame->History().BackEntries();
        h.frame->ChooseHistory(false, 3);
        CHECK(h.frame->CurrentFolder() == entries[entries.size() - 3]);
        auto forward = h.frame->History().ForwardEntries();
        CHECK(forward == std::deque<uint32_t>{current, entries[entries.size() - 1], entries[entries.size() - 2]});

        tstring shown = h.Address();
        h.Command(ID_REFRESH);
        REQUIRE(h.WaitReady());
        CHECK(h.Address() == shown);
        CHECK(h.frame->History().BackEntries().empty());
        h.Command(ID_DRIVE_FIRST);  // C: again: its root
        REQUIRE(h.WaitReady());
        CHECK(h.Address() == L"C:");
    }
    CHECK(boxes.Boxes().empty());
}

TEST_CASE("drives, panes, links and the substituted-drive question") {
    BoxAnswerer boxes(IDYES);
    FrameHarness h;
    REQUIRE(h.Open());
    HWND bar = h.frame->DriveBar();
    CHECK(SendMessageW(bar, TB_BUTTONCOUNT, 0, 0) == 5);
    CHECK(ButtonEnabled(bar, ID_DRIVE_FIRST));
    CHECK(ButtonEnabled(bar, ID_DRIVE_FIRST + 1));
    CHECK_FALSE(ButtonEnabled(bar, ID_DRIVE_FIRST + 2));  // CD
    CHECK_FALSE(ButtonEnabled(bar, ID_DRIVE_FIRST + 3));  // FAT
    HMENU file = GetSubMenu(h.frame->Menu(), 0);
    CHECK(GetMenu(h.frame->Handle()) == nullptr);
    CHECK(GetMenuItemCount(file) == 5);  // C, D, S, separator, Exit
    CHECK(GetMenuItemID(file, 4) == ID_EXIT);

    uint64_t opens = h.source.Opens();
    h.Command(ID_SORT_NAMES);
    h.DoubleClick(L"docs");
    h.Command(ID_DRIVE_FIRST);  // the drive shown: its root, no scan
    CHECK(h.Address() == L"C:");
    h.Command(ID_DRIVE_FIRST + 4);  // S: is C:\docs
    CHECK(h.Address() == L"C:\\docs");
    CHECK(h.source.Opens() == opens);
    REQUIRE(boxes.Boxes().size() == 1);
    CHECK(boxes.Boxes()[0].text.find(L"Disk 'S:' looks like a virtual drive to a 'C:\\docs' folder.") == 0);
    h.drives.substitute = L"\\??\\C:\\gone\\";
    h.Command(ID_DRIVE_FIRST + 4);
    CHECK(h.Address() == L"C:");

    h.Command(ID_SORT_NAMES);
    h.frame->List().Select(h.IndexOf(L"other"));
    CHECK(Window(h.frame->Panel().Folder().Item(IDC_LINK)).Text().find(L"C:\\other") != tstring::npos);
    h.Command(ID_PROPERTIES);
    h.Command(ID_EXPLORE);
    REQUIRE(h.launcher.properties.size() == 1);
    CHECK(h.launcher.properties[0] == L"C:\\other\\");
    REQUIRE(h.launcher.opened.size() == 1);
    CHECK(h.launcher.opened[0] == L"C:\\other\\");
    h.launcher.opened.clear();

    h.frame->Send(WM_SCAN_DONE, 99999, 1);  // a link ID that is no shown folder
    h.frame->Send(WM_SCAN_DONE, 12, 1);
    CHECK(h.launcher.opened.empty());
    h.frame->Send(WM_SCAN_DONE, 5, 1);
    REQUIRE(h.launcher.opened.size() == 1);
    CHECK(h.launcher.opened[0] == L"C:\\");

    CollapsiblePanel::OwnerImage image{};
    CHECK(h.frame->Panel().Send(CollapsiblePanel::kGetOwnerImage, ExplorerPanel::DrivePane,
                                reinterpret_cast<LPARAM>(&image)) == 1);
    CHECK(image.headerHeight == 37);
    CHECK(image.width == 32);
    CHECK(h.frame->Panel().Send(CollapsiblePanel::kGetOwnerImage, ExplorerPanel::SuitePane,
                                reinterpret_cast<LPARAM>(&image)) == 1);
    CHECK(image.width == 127);
    CHECK(h.frame->Panel().Send(CollapsiblePanel::kGetOwnerImage, ExplorerPanel::SortPane,
                                reinterpret_cast<LPARAM>(&image)) == 0);

    h.frame->Show(SW_MINIMIZE);
    REQUIRE(h.frame->IsIconic());
    h.frame->Send(g_activateMessage);
    CHECK_FALSE(h.frame->IsIconic());
}

TEST_CASE("rescans while scanning, and a table too large for the model") {
    BoxAnswerer boxes;
    SUBCASE("50 rescans: only the last shows") {
        FrameHarness h;
        REQUIRE(h.Open());
        h.source.SetRecordDelay(1);
        for (int i = 0; i < 50; ++i) {
            h.Command(ID_DRIVE_FIRST + 1 - (i % 2));  // D:, C:, D: ...
            PumpFor(i % 5);
        }
        h.source.SetRecordDelay(0);
        REQUIRE(h.WaitReady());
        PumpFor(200);
        CHECK(h.frame->DriveText() == L"C:\\");
        CHECK(h.IndexOf(L"docs") >= 0);
        CHECK(boxes.Boxes().empty());
    }
    SUBCASE("60,000,000 records: the error box, then the window closes") {
        std::vector<uint8_t> bytes = LoadTestImage(L"small.img");
        uint64_t offset;
        uint32_t size;
        REQUIRE(ImageVolumeSource::LocateRecord(*ImageBytes::FromMemory(bytes), 0, offset, size));
        uint8_t* record = &bytes[offset];
        REQUIRE(ApplyFixups(record, size));
        uint32_t at = *reinterpret_cast<uint16_t*>(record + 0x14);
        while (*reinterpret_cast<uint32_t*>(record + at) != 0x80)
            at += *reinterpret_cast<uint32_t*>(record + at + 4);
        uint64_t length = 60000000ull * size;
        memcpy(record + at + 0x38, &length, 8);
        StoreFixups(record, size);
        FrameHarness h;
        ImageVolumeSource huge(ImageBytes::FromMemory(bytes));
        VolumeSource::Install(&huge);
        h.frame = std::make_unique<FolderSizeFrame>();
        REQUIRE(h.frame->CreateFrame(&h.loop));
        CHECK(PumpUntil([&] { return !h.frame->IsWindow(); }));
        REQUIRE(boxes.Boxes().size() == 1);
        CHECK(boxes.Boxes()[0].caption == L"Unexpected Error");
        CHECK(PrivateHeap::AllocatedBytes() < 0x100000);
    }
}

TEST_CASE("settings that cannot be written do not end the program") {
    BoxAnswerer boxes;
    // Only the program's own key is made read-only: the maker's key above it
    // holds other programs' settings.
    RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
    HKEY key = nullptr;
    REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
            ERROR_SUCCESS);
    PSECURITY_DESCRIPTOR readOnly = nullptr;
    REQUIRE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KR;;;WD)", SDDL_REVISION_1, &readOnly,
                                                                 nullptr));
    CHECK(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, readOnly) == ERROR_SUCCESS);
    LocalFree(readOnly);
    {
        FrameHarness h(false);
        REQUIRE(h.Open());
        h.Command(ID_VIEW_DETAILS);
        h.Command(ID_SORT_NAMES);
        CHECK(h.frame->IsWindow());
        CHECK(StoredSetting(L"View") == 0);
    }
    RegDeleteKeyW(key, L"");
    RegCloseKey(key);
    CHECK(boxes.Boxes().empty());
}

TEST_CASE("without the rights the program refuses to start") {
    BoxAnswerer boxes;
    CHECK(FolderSizeMain(GetModuleHandleW(nullptr), SW_SHOW, [] { return false; }) == 0);
    REQUIRE(boxes.Boxes().size() == 1);
    CHECK(boxes.Boxes()[0].caption == L"QUARN Drossel");
    CHECK(boxes.Boxes()[0].text == L"You must have administrator privileges to run QUARN Drossel");
}

TEST_CASE("a system without NTFS drives says so and scans nothing") {
    BoxAnswerer boxes;
    FrameHarness h;
    h.drives.letters = 1u << 5;  // F: only, FAT
    h.frame = std::make_unique<FolderSizeFrame>();
    REQUIRE(h.frame->CreateFrame(&h.loop));
    PumpFor(200);
    REQUIRE(boxes.Boxes().size() == 1);
    CHECK(boxes.Boxes()[0].text == L"It seems no NTFS drive on your system!");
    CHECK(boxes.Boxes()[0].caption == L"");
    CHECK_FALSE(IsWindowEnabled(h.frame->AddressCombo()));
    CHECK(h.source.Opens() == 0);
    CHECK(h.frame->List().Count() == 0);
}

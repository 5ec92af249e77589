#pragma once
#include <windows.h>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>
#include "common/tstring/tstring.h"
#include "common/ui/MessageLoop.h"
#include "diskexplorer/DriveSource.h"
#include "diskexplorer/ExplorerSettings.h"
#include "diskexplorer/FolderSizeFrame.h"
#include "diskexplorer/ShellLauncher.h"
#include "tests/diskexplorer/image/ImageVolumeSource.h"
#include "tests/diskexplorer/image/TestImages.h"
#include "TestLimits.h"

// A Unix path from the environment as the prefix sees it (through Z:).
inline tstring EnvironmentPath(const wchar_t* name) {
    wchar_t value[MAX_PATH] = L"";
    GetEnvironmentVariableW(name, value, MAX_PATH);
    tstring path = tstring(L"Z:") + value;
    for (auto& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

// Answers the message boxes of this process from a second thread, keeping
// their captions and texts.
class BoxAnswerer {
public:
    struct Box {
        tstring caption;
        tstring text;
    };
    // The boxes of process `process` (this one by default).
    explicit BoxAnswerer(int answer = IDOK, DWORD process = GetCurrentProcessId())
        : answer_(answer), process_(process), thread_([this] { Run(); }) {}
    ~BoxAnswerer() {
        stop_ = true;
        testlimit::Join(thread_, testlimit::kStep, "the message box answerer's thread");
    }
    std::vector<Box> Boxes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return boxes_;
    }
    void SetAnswer(int answer) { answer_ = answer; }

private:
    void Run() {
        while (!stop_) {
            EnumWindows(&BoxAnswerer::Visit, reinterpret_cast<LPARAM>(this));
            Sleep(20);
        }
    }
    static BOOL CALLBACK Visit(HWND window, LPARAM self) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        wchar_t name[32] = L"";
        GetClassNameW(window, name, 32);
        auto& answerer = *reinterpret_cast<BoxAnswerer*>(self);
        if (process != answerer.process_ || lstrcmpW(name, L"#32770") != 0 || !IsWindowVisible(window))
            return TRUE;
        wchar_t caption[256] = L"", text[1024] = L"";
        GetWindowTextW(window, caption, 256);
        GetDlgItemTextW(window, 0xFFFF, text, 1024);
        if (!GetDlgItem(window, 0xFFFF))
            return TRUE;  // not a message box
        {
            std::lock_guard<std::mutex> lock(answerer.mutex_);
            answerer.boxes_.push_back({caption, text});
        }
        int answer = answerer.answer_.load();
        if (!GetDlgItem(window, answer))
            answer = IDOK;
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
        Sleep(100);
        return TRUE;
    }
    std::atomic<int> answer_;
    DWORD process_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Box> boxes_;
    std::thread thread_;
};

// Keeps what would go to the shell.
struct RecordingLauncher : ShellLauncher {
    std::vector<tstring> opened, folders, properties;
    void Open(HWND, const tstring& file, const tstring& folder, int) override {
        opened.push_back(file);
        folders.push_back(folder);
    }
    void Properties(HWND, const tstring& path) override { properties.push_back(path); }
};

// Drives C: and D: (fixed NTFS), E: (CD), F: (fixed FAT) and S: (substituted
// by a test-chosen target).
struct TestDrives : DriveSource {
    DWORD letters = (1u << 2) | (1u << 3) | (1u << 4) | (1u << 5) | (1u << 18);
    tstring substitute = L"\\??\\C:\\docs";
    DWORD LogicalDrives() const override { return letters; }
    UINT DriveType(const tstring& root) const override { return root[0] == L'E' ? DRIVE_CDROM : DRIVE_FIXED; }
    DWORD MediaTypes(wchar_t, std::vector<DWORD>&) const override { return ERROR_NOT_SUPPORTED; }
    tstring FileSystemName(const tstring& root) const override { return root[0] == L'F' ? L"FAT32" : L"NTFS"; }
    bool DosDeviceTarget(const tstring& name, tstring& target) const override {
        target = name[0] == L'S' ? substitute : tstring(tstring(L"\\Device\\HarddiskVolume") + name.Left(1));
        return true;
    }
};

inline void PumpFor(DWORD milliseconds) {
    ULONGLONG end = GetTickCount64() + milliseconds;
    do {
        MessageLoop::PumpThread();
        Sleep(5);
    } while (GetTickCount64() < end);
}

template <class Condition>
bool PumpUntil(Condition condition, DWORD milliseconds = 30000) {
    ULONGLONG end = GetTickCount64() + milliseconds;
    while (!condition()) {
        if (GetTickCount64() > end)
            return false;
        MessageLoop::PumpThread();
        Sleep(5);
    }
    return true;
}

// A frame made in-process over the test images: C: is small.img, D: large.img.
struct FrameHarness {
    ImageVolumeSource source{ImageBytes::FromFile(TestImagePath(L"small.img"))};
    TestDrives drives;
    RecordingLauncher launcher;
    MessageLoop loop;
    std::unique_ptr<MessageLoopScope> scope;
    std::unique_ptr<FolderSizeFrame> frame;

    explicit FrameHarness(bool clearSettings = true) {
        source.AddDevice(L"\\\\.\\D:", ImageBytes::FromFile(TestImagePath(L"large.img")));
        VolumeSource::Install(&source);
        DriveSource::Install(&drives);
        ShellLauncher::Install(&launcher);
        if (clearSettings)
            RegDeleteTreeW(HKEY_CURRENT_USER, kSettingsKey);
        scope = std::make_unique<MessageLoopScope>(loop);
    }
    ~FrameHarness() {
        if (frame && frame->IsWindow())
            frame->Send(WM_CLOSE);
        frame.reset();
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
        VolumeSource::Install(nullptr);
        DriveSource::Install(nullptr);
        ShellLauncher::Install(nullptr);
    }
    bool Open(std::unique_ptr<FolderSizeFrame> made = nullptr) {
        frame = made ? std::move(made) : std::make_unique<FolderSizeFrame>();
        if (!frame->CreateFrame(&loop))
            return false;
        frame->Show(SW_SHOW);
        return WaitReady();
    }
    bool WaitReady() {
        return PumpUntil([&] { return frame->Model() && frame->List().Count() > 0; });
    }
    // Names of the list's items in index order.
    std::vector<tstring> Items() {
        std::vector<tstring> names;
        for (int i = 0; i < frame->List().Count(); ++i)
            names.push_back(frame->List().ItemText(i));
        return names;
    }
    int IndexOf(const wchar_t* name) {
        for (int i = 0; i < frame->List().Count(); ++i)
            if (frame->List().ItemText(i) == name)
                return i;
        return -1;
    }
    void Notify(HWND from, UINT code, int item = -1, WORD key = 0) {
        NMLVKEYDOWN keyDown{};
        NMITEMACTIVATE activate{};
        NMHDR* header = code == LVN_KEYDOWN ? &keyDown.hdr : &activate.hdr;
        header->hwndFrom = from;
        header->idFrom = GetDlgCtrlID(from);
        header->code = code;
        keyDown.wVKey = key;
        activate.iItem = item;
        frame->Send(WM_NOTIFY, header->idFrom, reinterpret_cast<LPARAM>(header));
    }
    void DoubleClick(const wchar_t* name) { Notify(frame->List(), NM_DBLCLK, IndexOf(name)); }
    void Key(WORD key) { Notify(frame->List(), LVN_KEYDOWN, -1, key); }
    void Command(UINT id) { frame->Send(WM_COMMAND, id, 0); }
    tstring Address() { return Window(frame->AddressCombo()).Text(); }
};

inline DWORD StoredSetting(const wchar_t* name) {
    DWORD value = 0, size = sizeof value;
    if (RegGetValueW(HKEY_CURRENT_USER, kSettingsKey, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return 0;
    return value;
}

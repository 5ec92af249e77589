#pragma once
#include <windows.h>
#include <atomic>
#include <thread>
#include <vector>
#include "compact/EventSink.h"
#include "TestLimits.h"

// Records the library's events in place of the event log, for one test.
class RecordingEventSink : public compact::EventSink {
public:
    RecordingEventSink() { previous_ = compact::SetEventSink(this); }
    ~RecordingEventSink() override { compact::SetEventSink(previous_); }
    void Write(compact::CompactEvent event) override { events.push_back(event); }

    std::vector<compact::CompactEvent> events;

private:
    compact::EventSink* previous_ = nullptr;
};

// Answers the message boxes with the caption given (the Windows 6 reboot box)
// with OK, for as long as the object lives.
class MessageBoxDismisser {
public:
    explicit MessageBoxDismisser(const wchar_t* caption) : caption_(caption) {
        thread_ = std::thread([this] {
            while (!stop_) {
                if (HWND box = FindWindowW(L"#32770", caption_)) {
                    PostMessageW(box, WM_COMMAND, IDOK, 0);
                    ++dismissed;
                }
                Sleep(20);
            }
        });
    }
    ~MessageBoxDismisser() {
        stop_ = true;
        testlimit::Join(thread_, testlimit::kStep, "the message box dismisser");
    }

    std::atomic<int> dismissed{0};

private:
    const wchar_t* caption_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

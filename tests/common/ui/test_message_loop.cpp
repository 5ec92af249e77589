#include <doctest/doctest.h>
#include <vector>
#include "common/ui/MessageLoop.h"
#include "TestLimits.h"

namespace {

const UINT kProbe = WM_APP + 5;

struct RecordingFilter : MessageFilter {
    RecordingFilter(std::vector<int>& log, int name, bool consume) : log(log), name(name), consume(consume) {}
    bool PreTranslateMessage(MSG& message) override {
        if (message.message != kProbe) return false;
        log.push_back(name);
        if (removeOther) loop->RemoveMessageFilter(removeOther);
        return consume;
    }
    std::vector<int>& log;
    int name;
    bool consume;
    MessageLoop* loop = nullptr;
    MessageFilter* removeOther = nullptr;
};

struct QuitWhenIdle : IdleHandler {
    int calls = 0;
    bool OnIdle() override {
        if (++calls == 1) ::PostQuitMessage(41);
        return false;
    }
};

}  // namespace

TEST_CASE("filters see thread messages newest first and may remove one another") {
    MessageLoop loop;
    MessageLoopScope scope(loop);
    CHECK(MessageLoop::ForCurrentThread() == &loop);

    std::vector<int> log;
    RecordingFilter older(log, 1, false), newer(log, 2, false), consumer(log, 3, true);
    loop.AddMessageFilter(&consumer);
    loop.AddMessageFilter(&older);
    loop.AddMessageFilter(&newer);
    loop.AddMessageFilter(&newer);  // registered once

    // newest first: 2, 1, then 3 consumes it.
    ::PostThreadMessage(::GetCurrentThreadId(), kProbe, 0, 0);
    CHECK(MessageLoop::PumpThread());
    CHECK(log == std::vector<int>{2, 1, 3});

    // A filter that removes an older one during the offer: the removed one is skipped.
    log.clear();
    newer.loop = &loop;
    newer.removeOther = &older;
    ::PostThreadMessage(::GetCurrentThreadId(), kProbe, 0, 0);
    CHECK(loop.Pump());
    CHECK(log == std::vector<int>{2, 3});
}

TEST_CASE("a nested pump hands WM_QUIT back to the outer loop, which runs idle handlers") {
    MessageLoop loop;
    MessageLoopScope scope(loop);

    ::PostQuitMessage(5);
    CHECK_FALSE(loop.Pump());
    // The quit came back: the outer loop ends with its code, before any idle run.
    QuitWhenIdle idle;
    loop.AddIdleHandler(&idle);
    CHECK(loop.Run() == 5);
    CHECK(idle.calls == 0);

    // With nothing queued, idle handlers run; this one asks the loop to end.
    CHECK(loop.Run() == 41);
    CHECK(idle.calls == 1);
    loop.RemoveIdleHandler(&idle);
}

TEST_CASE("loops are registered per thread") {
    MessageLoop outer, inner;
    MessageLoopScope outerScope(outer);
    {
        MessageLoopScope innerScope(inner);
        CHECK(MessageLoop::ForCurrentThread() == &inner);
        MessageLoop* seenByOtherThread = &inner;
        HANDLE thread = ::CreateThread(nullptr, 0, [](LPVOID p) -> DWORD {
            *static_cast<MessageLoop**>(p) = MessageLoop::ForCurrentThread();
            return 0;
        }, &seenByOtherThread, 0, nullptr);
        testlimit::Join(thread, testlimit::kStep, "the other thread's look at its loop");
        ::CloseHandle(thread);
        CHECK(seenByOtherThread == nullptr);
    }
    CHECK(MessageLoop::ForCurrentThread() == &outer);
}

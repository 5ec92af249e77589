#pragma once
#include <windows.h>
#include <vector>

// Sees every message of its thread's loop before it is translated and
// dispatched; returning true consumes the message.
class MessageFilter {
public:
    virtual bool PreTranslateMessage(MSG& message) = 0;

protected:
    ~MessageFilter() = default;
};

// Called when the thread's queue has run empty; returning true asks to be
// called again before the loop waits.
class IdleHandler {
public:
    virtual bool OnIdle() = 0;

protected:
    ~IdleHandler() = default;
};

// The message loop of one UI thread: its filters, its idle handlers, the
// outer loop and the nested pumps that long operations run. Register one per
// thread with MessageLoopScope; code that pumps finds it with ForCurrentThread.
//
// Filters are offered a message newest first. A filter or idle handler may
// remove itself or others while it is being called.
class MessageLoop {
public:
    MessageLoop() = default;
    MessageLoop(const MessageLoop&) = delete;
    MessageLoop& operator=(const MessageLoop&) = delete;

    void AddMessageFilter(MessageFilter* filter);
    void RemoveMessageFilter(MessageFilter* filter);
    void AddIdleHandler(IdleHandler* handler);
    void RemoveIdleHandler(IdleHandler* handler);

    // Offers the message to the filters; true when one consumed it.
    bool PreTranslate(MSG& message);

    // Runs until WM_QUIT and returns its exit code (the WPARAM).
    int Run();

    // Drains the queue without waiting: every message is offered to the
    // filters, then translated and dispatched. Returns false when it met
    // WM_QUIT, which it posts again so that the outer loop ends too.
    bool Pump();

    // The loop registered for the calling thread, or NULL.
    static MessageLoop* ForCurrentThread();
    // Pump on the calling thread's loop, or a plain drain (no filters) when
    // the thread has none. Returns false when WM_QUIT was met (posted again).
    static bool PumpThread();

private:
    bool RunIdleHandlers();
    static bool IsIdleBreaking(const MSG& message);

    std::vector<MessageFilter*> filters_;
    std::vector<IdleHandler*> idleHandlers_;
};

// Registers a loop for the calling thread for the life of the scope; the
// previous registration (if any) comes back at the end.
class MessageLoopScope {
public:
    explicit MessageLoopScope(MessageLoop& loop);
    ~MessageLoopScope();
    MessageLoopScope(const MessageLoopScope&) = delete;
    MessageLoopScope& operator=(const MessageLoopScope&) = delete;

private:
    MessageLoop* previous_;
};

#include "common/ui/MessageLoop.h"
#include <algorithm>

namespace {

// One loop per UI thread; a thread-local slot makes the lookup lock-free.
thread_local MessageLoop* currentLoop = nullptr;

template <class T>
bool Contains(const std::vector<T*>& list, T* item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

template <class T>
void Remove(std::vector<T*>& list, T* item) {
    list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

void TranslateAndDispatch(MSG& message) {
    ::TranslateMessage(&message);
    ::DispatchMessage(&message);
}

}  // namespace

void MessageLoop::AddMessageFilter(MessageFilter* filter) {
    if (filter && !Contains(filters_, filter)) filters_.push_back(filter);
}

void MessageLoop::RemoveMessageFilter(MessageFilter* filter) { Remove(filters_, filter); }

void MessageLoop::AddIdleHandler(IdleHandler* handler) {
    if (handler && !Contains(idleHandlers_, handler)) idleHandlers_.push_back(handler);
}

void MessageLoop::RemoveIdleHandler(IdleHandler* handler) { Remove(idleHandlers_, handler); }

bool MessageLoop::PreTranslate(MSG& message) {
    // A copy, since a filter may add or remove filters while it runs; one
    // removed meanwhile is no longer offered anything.
    std::vector<MessageFilter*> snapshot(filters_.rbegin(), filters_.rend());
    for (MessageFilter* filter : snapshot) {
        if (Contains(filters_, filter) && filter->PreTranslateMessage(message)) return true;
    }
    return false;
}

bool MessageLoop::RunIdleHandlers() {
    std::vector<IdleHandler*> snapshot(idleHandlers_);
    bool again = false;
    for (IdleHandler* handler : snapshot) {
        if (Contains(idleHandlers_, handler) && handler->OnIdle()) again = true;
    }
    return again;
}

bool MessageLoop::IsIdleBreaking(const MSG& message) {
    // Paint, timer and caret-blink messages come by themselves; only other
    // messages mean new work after which idle handlers should run again.
    return message.message != WM_PAINT && message.message != WM_TIMER && message.message != 0x0118;
}

int MessageLoop::Run() {
    bool doIdle = true;
    MSG message;
    for (;;) {
        while (doIdle && !::PeekMessage(&message, nullptr, 0, 0, PM_NOREMOVE)) {
            if (!RunIdleHandlers()) doIdle = false;
        }
        BOOL got = ::GetMessage(&message, nullptr, 0, 0);
        if (got == -1) continue;
        if (!got) return static_cast<int>(message.wParam);
        if (!PreTranslate(message)) TranslateAndDispatch(message);
        if (IsIdleBreaking(message)) doIdle = true;
    }
}

bool MessageLoop::Pump() {
    MSG message;
    while (::PeekMessage(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return false;
        }
        if (!PreTranslate(message)) TranslateAndDispatch(message);
    }
    return true;
}

MessageLoop* MessageLoop::ForCurrentThread() { return currentLoop; }

bool MessageLoop::PumpThread() {
    if (MessageLoop* loop = ForCurrentThread()) return loop->Pump();
    MSG message;
    while (::PeekMessage(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return false;
        }
        TranslateAndDispatch(message);
    }
    return true;
}

MessageLoopScope::MessageLoopScope(MessageLoop& loop) : previous_(currentLoop) { currentLoop = &loop; }

MessageLoopScope::~MessageLoopScope() { currentLoop = previous_; }

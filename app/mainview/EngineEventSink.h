#pragma once
#include <windows.h>
#include <oaidl.h>
#include <deque>
#include "common/system/CriticalSection.h"
#include "common/tstring/tstring.h"
#include "common/ui/WindowImpl.h"

// One engine event, carried from the engine's worker thread to the UI thread.
struct EngineEvent {
    DISPID id = 0;  // 1 OnFound, 2 OnFinish, 3 OnProgress, 4 OnStopped
    tstring item;
    long unionBit = 0;
    long second = 0;  // ErrorID or percentComplete
    long fixId = 0;
};

// Receives the engine's events on the UI thread.
class EngineEventReceiver {
public:
    virtual void OnEngineEvent(const EngineEvent& event) = 0;

protected:
    ~EngineEventReceiver() = default;
};

// The _ICrawlerEvents sink of the main view. The engine raises its events on
// its scan threads; the page may only be touched from the UI thread, so the
// sink queues a copy of each event and wakes a message-only window there. It
// aggregates the free-threaded marshaler, so the scan threads call it
// directly instead of waiting on the UI thread for every finding.
//
// No event may be lost (a lost OnFinish would leave the scan running with the
// operation lock held): the events wait in the sink's own queue, one wake
// message stands for all of them, and a timer of the window drains what a
// failed post (a full message queue) left behind.
class EngineEventSink : public IDispatch, private WindowImpl {
public:
    explicit EngineEventSink(EngineEventReceiver* receiver);
    // Creates the window on the calling (UI) thread; false on failure.
    bool Create();
    // Stops delivery and destroys the window (UI thread): later events and
    // those still queued are dropped.
    void Detach();

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override;

    // Reads the event's arguments (given in reverse order); false when they do
    // not fit the event.
    static bool ReadEvent(DISPID id, const DISPPARAMS* params, EngineEvent& event);

protected:
    ~EngineEventSink();
    const TCHAR* ClassName() const override { return TEXT("OrvaneEngineEvents"); }
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Wakes the UI thread (any thread); false when the post failed.
    virtual bool PostWake();

private:
    // Hands the queued events to the receiver, oldest first (UI thread).
    void Deliver();

    volatile LONG references_ = 1;
    IUnknown* marshaler_ = nullptr;
    EngineEventReceiver* volatile receiver_;
    CriticalSection queueLock_;
    std::deque<EngineEvent> queue_;
    bool wakePending_ = false;
};

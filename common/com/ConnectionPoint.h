#pragma once
#include <windows.h>
#include <ocidl.h>
#include <vector>
#include "common/com/ConnectionPointBase.h"
#include "common/system/CriticalSection.h"

// The connection point of one event interface, a member of the object that
// raises the events (its container, which also owns its reference count).
// Each advised sink is kept twice: as given, for events raised in the
// apartment that advised it, and in the Global Interface Table, through which
// an event raised in any other apartment reaches it marshaled.
class ConnectionPoint : public ConnectionPointBase {
public:
    ConnectionPoint(IConnectionPointContainer* container, REFIID events);
    ~ConnectionPoint() override;

    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
    STDMETHODIMP Unadvise(DWORD cookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** result) override;

    // Calls IDispatch::Invoke(id) of every sink advised when the call starts,
    // in advise order, as a method with the given arguments (last argument
    // first). A failing sink ends the event: its EXCEPINFO becomes the
    // thread's error information and its HRESULT is returned. S_OK without sinks.
    HRESULT Fire(DISPID id, DISPPARAMS& params) noexcept;
    size_t SinkCount() noexcept;

private:
    struct Apartment {
        APTTYPE type;
        DWORD thread;  // the STA's thread; 0 for the MTA
        bool operator==(const Apartment& other) const;
    };
    struct Sink {
        DWORD cookie;  // the Global Interface Table's cookie, also the connection's
        IDispatch* direct;
        Apartment home;
    };

    static Apartment CurrentApartment() noexcept;
    std::vector<Sink> Snapshot() noexcept;
    bool IsAdvised(DWORD cookie) noexcept;
    // The sink as the current apartment may call it; null when it is gone.
    static IDispatch* Reach(const Sink& sink, const Apartment& here) noexcept;

    CriticalSection lock_;
    std::vector<Sink> sinks_;
};

#pragma once
#include <windows.h>
#include <ocidl.h>

// What every connection point of this layer shares: it is a member of the
// object that raises the events (its container, which also owns its
// reference count) and serves one event interface.
class ConnectionPointBase : public IConnectionPoint {
public:
    ConnectionPointBase(IConnectionPointContainer* container, REFIID events)
        : container_(container), events_(events) {}
    virtual ~ConnectionPointBase() = default;
    ConnectionPointBase(const ConnectionPointBase&) = delete;
    ConnectionPointBase& operator=(const ConnectionPointBase&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP GetConnectionInterface(IID* iid) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** result) override;

protected:
    IConnectionPointContainer* container_;
    IID events_;
};

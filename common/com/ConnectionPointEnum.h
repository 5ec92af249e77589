#pragma once
#include <windows.h>
#include <ocidl.h>
#include <vector>
#include "common/com/ComModule.h"
#include "common/com/ComPtr.h"

// The connection points of a container, for IConnectionPointContainer::EnumConnectionPoints.
class ConnectionPointEnum : public IEnumConnectionPoints {
public:
    static HRESULT Create(const std::vector<IConnectionPoint*>& points, size_t position,
                          IEnumConnectionPoints** result) noexcept;

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP Next(ULONG count, IConnectionPoint** result, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumConnectionPoints** result) override;

private:
    ConnectionPointEnum() = default;
    virtual ~ConnectionPointEnum() = default;

    RefCount refs_;
    ModuleLock moduleLock_;
    std::vector<ComPtr<IConnectionPoint>> points_;
    size_t position_ = 0;
};

// IConnectionPointContainer::FindConnectionPoint over a list of points.
HRESULT FindConnectionPointIn(const std::vector<IConnectionPoint*>& points, REFIID iid,
                              IConnectionPoint** result) noexcept;

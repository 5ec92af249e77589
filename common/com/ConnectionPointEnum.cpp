#include "common/com/ConnectionPointEnum.h"
#include <olectl.h>
#include <new>

HRESULT ConnectionPointEnum::Create(const std::vector<IConnectionPoint*>& points, size_t position,
                                    IEnumConnectionPoints** result) noexcept {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    ConnectionPointEnum* e = new (std::nothrow) ConnectionPointEnum();
    if (!e)
        return E_OUTOFMEMORY;
    e->AddRef();
    try {
        for (IConnectionPoint* point : points)
            e->points_.push_back(point);
    } catch (...) {
        e->Release();
        return E_OUTOFMEMORY;
    }
    e->position_ = position;
    *result = e;
    return S_OK;
}

STDMETHODIMP ConnectionPointEnum::QueryInterface(REFIID iid, void** result) {
    if (!result)
        return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumConnectionPoints)) {
        *result = static_cast<IEnumConnectionPoints*>(this);
        AddRef();
        return S_OK;
    }
    *result = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) ConnectionPointEnum::AddRef() {
    return refs_.AddRef();
}

STDMETHODIMP_(ULONG) ConnectionPointEnum::Release() {
    ULONG n = refs_.Release();
    if (n == 0)
        delete this;
    return n;
}

STDMETHODIMP ConnectionPointEnum::Next(ULONG count, IConnectionPoint** result, ULONG* fetched) {
    if (!result || (count > 1 && !fetched))
        return E_POINTER;
    ULONG n = 0;
    while (n < count && position_ < points_.size()) {
        result[n] = points_[position_++];
        result[n]->AddRef();
        ++n;
    }
    if (fetched)
        *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

STDMETHODIMP ConnectionPointEnum::Skip(ULONG count) {
    size_t left = points_.size() - position_;
    position_ += count < left ? count : left;
    return count <= left ? S_OK : S_FALSE;
}

STDMETHODIMP ConnectionPointEnum::Reset() {
    position_ = 0;
    return S_OK;
}

STDMETHODIMP ConnectionPointEnum::Clone(IEnumConnectionPoints** result) {
    std::vector<IConnectionPoint*> points;
    for (const auto& point : points_)
        points.push_back(point);
    return Create(points, position_, result);
}

HRESULT FindConnectionPointIn(const std::vector<IConnectionPoint*>& points, REFIID iid,
                              IConnectionPoint** result) noexcept {
    if (!result)
        return E_POINTER;
    *result = nullptr;
    for (IConnectionPoint* point : points) {
        IID events;
        if (SUCCEEDED(point->GetConnectionInterface(&events)) && IsEqualIID(events, iid)) {
            *result = point;
            point->AddRef();
            return S_OK;
        }
    }
    return CONNECT_E_NOCONNECTION;
}

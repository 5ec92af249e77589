#pragma once
#include <windows.h>
#include <unknwn.h>
#include "common/com/ComModule.h"

// Makes one object of a class and answers riid on it; the object is not
// aggregatable. Returns the HRESULT of the creation or the QueryInterface.
using ObjectCreator = HRESULT (*)(REFIID iid, void** result);
// Makes one object of an aggregatable class inside outer (null: on its own).
// Aggregated, it hands out its inner, non-delegating IUnknown.
using AggregatingCreator = HRESULT (*)(IUnknown* outer, REFIID iid, void** result);

// The class object of a creatable class. It lives as long as its references
// and holds no module lock of its own: only LockServer and live objects keep
// the module loaded, as COM expects of an in-process server.
class ClassFactory : public IClassFactory {
public:
    explicit ClassFactory(ObjectCreator creator, AggregatingCreator aggregating = nullptr)
        : creator_(creator), aggregating_(aggregating) {}
    virtual ~ClassFactory() = default;

    // A new factory answering iid, or the HRESULT of the failure. A class
    // with an aggregating creator accepts an outer object.
    static HRESULT Create(ObjectCreator creator, REFIID iid, void** result) noexcept;
    static HRESULT Create(ObjectCreator creator, AggregatingCreator aggregating, REFIID iid,
                          void** result) noexcept;

    STDMETHODIMP QueryInterface(REFIID iid, void** result) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** result) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    ObjectCreator creator_;
    AggregatingCreator aggregating_;
    RefCount refs_;
};

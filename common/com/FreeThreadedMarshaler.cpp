#include "common/com/FreeThreadedMarshaler.h"

HRESULT FreeThreadedMarshaler::Create(IUnknown* outer) noexcept {
    return CoCreateFreeThreadedMarshaler(outer, inner_.Receive());
}

bool FreeThreadedMarshaler::Answers(REFIID iid, void** result) noexcept {
    if (!inner_ || !IsEqualIID(iid, IID_IMarshal))
        return false;
    return SUCCEEDED(inner_->QueryInterface(iid, result));
}

#include "common/errors/CheckObjects.h"

namespace {

template <class Error>
[[noreturn]] void ThrowWithContext(Error error, const tstring& context) {
    if (!context.empty())
        error.SetMessage(context + _T(": ") + error.Message());
    throw error;
}

}  // namespace

int BoolCheck::operator=(int result) {
    if (result == 0)
        ThrowWithContext(BoolError(), context_);
    return result;
}

HRESULT HRCheck::operator=(HRESULT hr) {
    if (hr < 0)
        ThrowWithContext(HRError(hr), context_);
    return hr;
}

LONG Win32Check::operator=(LONG status) {
    if (status != 0)
        ThrowWithContext(Win32Error(status), context_);
    return status;
}

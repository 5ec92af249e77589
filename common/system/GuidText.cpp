#include "common/system/GuidText.h"
#include <rpc.h>
#include "common/errors/ErrorBase.h"

namespace {

void ThrowRpc(RPC_STATUS status) {
    SetLastError(DWORD(status));
    throw BoolError();
}

// Frees the RPC runtime's string however the caller leaves.
class RpcText {
public:
    ~RpcText() {
        if (text_)
            RpcStringFree(&text_);
    }
#ifdef UNICODE
    RPC_WSTR* Address() { return &text_; }
#else
    RPC_CSTR* Address() { return &text_; }
#endif
    const TCHAR* Text() const { return reinterpret_cast<const TCHAR*>(text_); }

private:
#ifdef UNICODE
    RPC_WSTR text_ = nullptr;
#else
    RPC_CSTR text_ = nullptr;
#endif
};

}  // namespace

tstring NewGuidText() {
    UUID uuid;
    RPC_STATUS status = UuidCreate(&uuid);
    if (status != RPC_S_OK)
        ThrowRpc(status);
    RpcText text;
    status = UuidToString(&uuid, text.Address());
    if (status != RPC_S_OK)
        ThrowRpc(status);
    return tstring(text.Text());
}

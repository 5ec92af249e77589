#include "common/errors/ErrorBase.h"
#include "common/errors/ErrorText.h"

void ErrorBase::SetMessage(const tstring& message) {
    if (message.data() == message_.data())
        return;
    message_ = message;
}

int32_t FoldWin32(int32_t status) {
    return status > 0 ? int32_t(0x80070000u | (uint32_t(status) & 0xFFFFu)) : status;
}

HRESULT HResultOf(const ErrorBase& e) {
    int32_t code = e.Code();
    return code < 0 ? HRESULT(code) : E_FAIL;
}

BoolError::BoolError() {
    code_ = FoldWin32(int32_t(GetLastError()));
    message_ = ModuleErrorText(code_);
}

HRError::HRError(HRESULT hr) {
    code_ = hr;
    message_ = ModuleErrorText(code_);
}

Win32Error::Win32Error(int32_t status) {
    code_ = FoldWin32(status);
    message_ = ModuleErrorText(code_);
}

#pragma once
#include <windows.h>
#include "common/errors/ErrorBase.h"

// Hands an error to the caller of a COM method as the thread's error
// information, so that a client (a script, or a caller asking through
// ISupportErrorInfo) can read its text.
void SetComErrorInfo(const tstring& description, REFGUID source);

// Runs the body of a COM method: nothing may be thrown through a COM
// boundary, so an ErrorBase becomes its HRESULT and anything else E_FAIL.
template <class Body>
HRESULT ComCall(REFGUID source, Body&& body) noexcept {
    try {
        return body();
    } catch (const ErrorBase& e) {
        try {
            SetComErrorInfo(e.Message(), source);
        } catch (...) {
        }
        return HResultOf(e);
    } catch (...) {
        return E_FAIL;
    }
}

template <class Body>
HRESULT ComCall(Body&& body) noexcept {
    return ComCall(GUID_NULL, static_cast<Body&&>(body));
}

#include <doctest/doctest.h>
#include "common/com/ComBoundary.h"
#include <oleauto.h>
#include <stdexcept>

namespace {
tstring TakeErrorDescription() {
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return _T("<none>");
    BSTR text = nullptr;
    info->GetDescription(&text);
    tstring result = text ? text : L"";
    SysFreeString(text);
    info->Release();
    return result;
}
}

TEST_CASE("nothing thrown inside a COM method crosses its boundary") {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    SetErrorInfo(0, nullptr);

    CHECK(ComCall([] { return S_FALSE; }) == S_FALSE);

    HRESULT hr = ComCall([]() -> HRESULT { throw Win32Error(ERROR_ACCESS_DENIED); });
    CHECK(hr == HRESULT(0x80070005));
    CHECK(TakeErrorDescription() == Win32Error(ERROR_ACCESS_DENIED).Message());

    CHECK(ComCall([]() -> HRESULT { throw HRError(HRESULT(0x80040227)); }) ==
          HRESULT(0x80040227));
    // An error that carries no failure code must not travel as success.
    CHECK(ComCall([]() -> HRESULT { throw ErrorBase(0, _T("no code")); }) == E_FAIL);
    CHECK(ComCall([]() -> HRESULT { throw std::runtime_error("x"); }) == E_FAIL);
    CHECK(ComCall([]() -> HRESULT { throw 7; }) == E_FAIL);
    CoUninitialize();
}

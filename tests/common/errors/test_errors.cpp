#include <doctest/doctest.h>
#include "common/errors/CheckObjects.h"
#include "common/errors/ErrorText.h"
#include "messages.h"

namespace {
tstring SystemText(DWORD code) {
    wchar_t* buf = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_MAX_WIDTH_MASK,
                             nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    tstring s(buf, n);
    LocalFree(buf);
    return s;
}
}  // namespace

TEST_CASE("Win32Error folds positive status codes and keeps negative ones") {
    Win32Error e5(5);
    CHECK(uint32_t(e5.Code()) == 0x80070005u);
    CHECK(e5.Message() == SystemText(5));
    CHECK(!e5.Message().empty());
    Win32Error ef(int32_t(0x80004005));
    CHECK(uint32_t(ef.Code()) == 0x80004005u);
    CHECK(Win32Error(0).Code() == 0);
}

TEST_CASE("Win32Check passes 0 and throws with the context text") {
    Win32Check ck(_T("ctx"));
    CHECK_NOTHROW(ck = 0);
    try {
        ck = 2;
        FAIL("no throw");
    } catch (const Win32Error& e) {
        CHECK(uint32_t(e.Code()) == 0x80070002u);
        CHECK(e.Message() == tstring(_T("ctx: ")) + SystemText(2));
    }
    CHECK_THROWS_AS(Win32Check(LONG(5)), Win32Error);
}

TEST_CASE("HRCheck lets success codes through") {
    HRCheck hr(_T("x"));
    CHECK((hr = 1) == 1);
    CHECK_NOTHROW(hr = S_OK);
    try {
        hr = E_OUTOFMEMORY;
        FAIL("no throw");
    } catch (const HRError& e) {
        CHECK(e.Code() == E_OUTOFMEMORY);
        CHECK(e.Message().rfind(_T("x: "), 0) == 0);
    }
}

TEST_CASE("BoolCheck after a call that left no last error throws code 0, which boundaries turn into E_FAIL") {
    BoolCheck ck;
    SetLastError(0);
    try {
        ck = FALSE;
        FAIL("no throw");
    } catch (const BoolError& e) {
        CHECK(e.Code() == 0);
        CHECK(HResultOf(e) == E_FAIL);
    }
    SetLastError(ERROR_ACCESS_DENIED);
    try {
        BoolCheck c2(_T("open"));
        c2 = 0;
    } catch (const ErrorBase& e) {
        CHECK(HResultOf(e) == HRESULT(0x80070005));
        CHECK(e.Message() == tstring(_T("open: ")) + SystemText(5));
    }
    CHECK(HResultOf(ErrorBase(7, _T("x"))) == E_FAIL);
}

TEST_CASE("A message of a code with no system text is empty; with context it is 'context: '") {
    CHECK(ErrorText(int32_t(0x8004FFFE), nullptr).empty());
    try {
        HRCheck c(_T("ctx"));
        c = HRESULT(0x8004FFFE);
    } catch (const ErrorBase& e) {
        CHECK(e.Message() == _T("ctx: "));
    }
}

TEST_CASE("SetMessage replaces the text") {
    ErrorBase e;
    e.SetMessage(_T("Invalid CRC. File was corrupted or wrong file format."));
    CHECK(e.Message() == _T("Invalid CRC. File was corrupted or wrong file format."));
    e.SetMessage(e.Message());
    CHECK(e.Message() == _T("Invalid CRC. File was corrupted or wrong file format."));
}

TEST_CASE("the program's own message table is searched before the system's") {
    const int32_t own = int32_t(MSG_TEST_OWN_FAILURE);
    // The width mask turns the definition's line break into a blank.
    const tstring text = _T("The test program's own failure text. ");
    CHECK(ModuleErrorText(own) == text);
    CHECK(ErrorText(own, GetModuleHandle(nullptr)) == text);
    CHECK(ErrorText(own, nullptr).empty());
    HRError e(own);
    CHECK(e.Message() == text);
    // A Win32 code still reaches the system's table through the module search.
    CHECK(ModuleErrorText(int32_t(0x80070002)) == SystemText(2));
}

#include <doctest/doctest.h>
#include "common/system/WebAddress.h"

TEST_CASE("only whole http and https addresses count as web addresses") {
    CHECK(IsWebAddress(L"http://example.com/a?b=c#d"));
    CHECK(IsWebAddress(L"HTTPS://example.com"));
    const wchar_t* refused[] = {
        nullptr, L"", L"http://", L"http:example.com", L"ftp://example.com", L"mailto:a@b.c",
        L"file:///C:/x.htm", L"C:\\windows\\notepad.exe", L"javascript:alert(1)",
        L"http://a.com/\" --evil", L"http://a.com/ b", L"http://a.com/\tb", L" http://a.com",
    };
    for (const wchar_t* address : refused) {
        CAPTURE(address ? address : L"(null)");
        CHECK_FALSE(IsWebAddress(address));
        CHECK_FALSE(OpenWebAddress(address));
    }
}

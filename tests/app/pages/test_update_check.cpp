#include <doctest/doctest.h>
#include <windows.h>
#include <string>
#include "RecordingScriptSink.h"
#include "RecordingUiServices.h"
#include "app/ScanStartPage.h"
#include "app/UpdateCheck.h"

namespace {

bool Links(const tstring& script) { return script.find(L"<a ") != tstring::npos; }

std::wstring TempFile(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + name;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

TEST_CASE("update replies: a bracketed web address becomes a link, anything else stays text") {
    tstring plain = UpdateReplyScript("Version 4.1 is out: [http://127.0.0.1:8080/get?a=1&b=2] now");
    CHECK(plain == L"license_middle.innerHTML = \"Version 4.1 is out: [<a href=\\\"javascript:;\\\" "
                   L"onClick=\\\"GoUpdateOnline(\\'http://127.0.0.1:8080/get?a=1&amp;b=2\\');\\\">"
                   L"http://127.0.0.1:8080/get?a=1&amp;b=2</a>] now\"");
    const char* hostile[] = {"Get it [x');alert(1);//]", "Get it [http://x/');alert(1);//]",
                             "Get it [http://x\" onmouseover=\"alert(1)]", "Get it [&#39;);alert(1);//]",
                             "Get it [http://x/<b>]", "Get it [http://x/\\]", "Get it [javascript:alert(1)]",
                             "Get it ]x[http://x/", "[http://x/] first"};
    for (const char* reply : hostile) {
        CAPTURE(reply);
        tstring script = UpdateReplyScript(reply);
        CHECK_FALSE(Links(script));
        CHECK(JScriptParseError(script) == L"");
    }
    tstring quoted = UpdateReplyScript("a \"b\" <c> d\r\ne\xE2\x80\xA8");
    CHECK(quoted.find(L"\\\"b\\\" &lt;c&gt;") != tstring::npos);
    CHECK(JScriptParseError(quoted) == L"");
    // Text after a NUL is not part of the reply.
    CHECK(UpdateReplyScript(std::string("ok\0<b>", 6)) == L"license_middle.innerHTML = \"ok\"");
}

TEST_CASE("the support address carries every value percent-encoded as UTF-8") {
    tstring address = SupportAddress(L"http://127.0.0.1/support", L"A&B #1 O'Brien", L"m\u00fcller@x.test");
    CHECK(address.find(L"http://127.0.0.1/support?name=A%26B%20%231%20O%27Brien&email=m%C3%BCller%40x.test&product=OV" +
                       VersionCode() + L"&winver=") == 0);
    CHECK(address.size() > 3);
    CHECK(address.substr(address.size() - 12) == L"&platform=64");
    CHECK(VersionCode().size() <= 3);  // the test program has no version resource
    CHECK(IsUpdateLink(address));
}

TEST_CASE("downloads: the reply is read up to 64 KiB, a missing one fails and leaves no old reply") {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::wstring source = TempFile(L"update-reply.txt"), target = TempFile(L"updates.htm");
    WriteBytes(source, std::string(100000, 'x'));
    std::string reply;
    std::wstring url = L"file:///" + source;
    REQUIRE(UpdateChecker::Download(url, target, nullptr, reply));
    CHECK(reply.size() == 64 * 1024);
    DeleteFileW(source.c_str());
    CHECK_FALSE(UpdateChecker::Download(url, target, nullptr, reply));
    CHECK(GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES);
    LONG cancelled = 1;
    WriteBytes(source, "short");
    CHECK_FALSE(UpdateChecker::Download(url, target, &cancelled, reply));
    DeleteFileW(source.c_str());
    CoUninitialize();
}

TEST_CASE("start page: cancel shows its text at once and drops the cancelled check's answer") {
    // The check goes to a closed port of the loopback, never further.
    const wchar_t site[] = L"http://127.0.0.1:9";
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\QUARN\\Orvane", L"SiteBase", REG_SZ, site, sizeof(site));
    CHECK(ProductSite() == site);
    RecordingScriptSink sink;
    RecordingUiServices ui;
    ScanStartPage page;
    page.AttachControl(nullptr, 0, nullptr, &sink);
    auto send = [&](const wchar_t* name, const wchar_t* text) {
        BSTR n = SysAllocString(name), e = SysAllocString(L"");
        VARIANT param;
        param.vt = VT_BSTR;
        param.bstrVal = SysAllocString(text);
        int result = page.OnHTMLEvent(nullptr, n, e, &param);
        SysFreeString(n);
        SysFreeString(e);
        VariantClear(&param);
        return result;
    };
    CHECK(send(L"CheckUpdates", L"") == 0);
    CHECK(sink.scripts.at(0).text.find(L"Please wait...") != std::wstring::npos);
    CHECK(page.Updates().Running());
    send(L"CancelUpdates", L"");
    CHECK_FALSE(page.Updates().Running());
    CHECK(sink.scripts.back().text == L"checking = false");
    CHECK(sink.scripts[sink.scripts.size() - 2].text == L"license_middle.innerHTML = \"Operation was canceled by user.\"");
    size_t shown = sink.scripts.size();
    send(L"ShowUpdate", L"1|license_middle.innerHTML = \"late\"");
    CHECK(sink.scripts.size() == shown);

    // The support page opens only for a web base address.
    send(L"SubmitTicketOnline", L"javascript:alert(1)");
    send(L"SubmitTicketOnline", L"http://127.0.0.1/support");
    REQUIRE(ui.executes.size() == 1);
    CHECK(ui.executes[0].file.find(L"http://127.0.0.1/support?name=") == 0);
    send(L"SubmitTicketOnline", L"");
    REQUIRE(ui.executes.size() == 2);
    CHECK(ui.executes[1].file.find(L"http://127.0.0.1:9/support?name=") == 0);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\QUARN\\Orvane", L"SiteBase");
}

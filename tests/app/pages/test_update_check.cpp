// The update check and the support link against the local update server
// (update_server.py starts it and runs this program): the site address in
// HKCU picks the server's reply.
#include <doctest/doctest.h>
#include <windows.h>
#include <urlmon.h>
#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>
#include "FileBytes.h"
#include "PlantedBrowser.h"
#include "RecordingScriptSink.h"
#include "StartProcess.h"
#include "TestLimits.h"
#include "app/html/HtmlView.h"
#include "app/mainview/ScanStartPage.h"
#include "app/mainview/UpdateCheck.h"
#include "common/com/ComPtr.h"
#include "common/system/OsDescription.h"

namespace doctest {
template <>
struct StringMaker<std::wstring> {
    static String convert(const std::wstring& text) {
        std::string shown;
        for (wchar_t c : text.substr(0, 300)) shown += c < 0x80 ? char(c) : '?';
        return String(shown.c_str());
    }
};
}  // namespace doctest

namespace {

const wchar_t kCantConnect[] =
    L"license_middle.innerHTML = \"Can\\'t connect to server. Check your Internet connection or try again later.\"";
const wchar_t kCancelled[] = L"license_middle.innerHTML = \"Operation was canceled by user.\"";
// The test program's version resource says 7.3.5.0.
const wchar_t kVersionCode[] = L"735";
const char kSilentRequest[] = "GET /silent/vertest/orvane.php?ver=735 HTTP/1.1";
const wchar_t kChildOption[] = L"--update-child=";
// A check after a stuck one: the wait for the stuck worker (3 s), the reply
// and the page's half second, with room for a loaded machine.
const DWORD kAgainLimit = 40000;

bool Links(const tstring& script) { return script.find(L"<a ") != tstring::npos; }

std::wstring Env(const char* name) {
    const char* value = getenv(name);
    REQUIRE_MESSAGE(value, "run through update_server.py");
    return std::wstring(value, value + strlen(value));
}

std::wstring TempPath(const wchar_t* name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + name;
}

std::wstring Server() { return L"http://127.0.0.1:" + Env("ORVANE_UPDATE_PORT"); }

void SetSite(const std::wstring& site) {
    RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\QUARN\\Orvane", L"SiteBase", REG_SZ, site.c_str(),
                    DWORD((site.size() + 1) * sizeof(wchar_t)));
}

std::vector<std::string> RequestLog() {
    std::vector<std::string> lines;
    std::istringstream log(ReadAll(Env("ORVANE_UPDATE_LOG")));
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    return lines;
}

// An http handler whose Start does not return while the child lives: a
// download stuck where no abort reaches.
class StuckProtocol : public IInternetProtocol, public IClassFactory {
public:
    HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IInternetProtocolRoot || iid == IID_IInternetProtocol)
            *object = static_cast<IInternetProtocol*>(this);
        else if (iid == IID_IClassFactory)
            *object = static_cast<IClassFactory*>(this);
        else
            *object = nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        return outer ? CLASS_E_NOAGGREGATION : QueryInterface(iid, object);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
    STDMETHODIMP Start(LPCWSTR, IInternetProtocolSink*, IInternetBindInfo*, DWORD, HANDLE_PTR) override {
        SetEvent(started);
        Sleep(testlimit::kLong);
        return E_FAIL;
    }
    STDMETHODIMP Continue(PROTOCOLDATA*) override { return S_OK; }
    STDMETHODIMP Abort(HRESULT, DWORD) override { return S_OK; }
    STDMETHODIMP Terminate(DWORD) override { return S_OK; }
    STDMETHODIMP Suspend() override { return E_NOTIMPL; }
    STDMETHODIMP Resume() override { return E_NOTIMPL; }
    STDMETHODIMP Read(void*, ULONG, ULONG* read) override {
        if (read) *read = 0;
        return S_FALSE;
    }
    STDMETHODIMP Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) override { return E_NOTIMPL; }
    STDMETHODIMP LockRequest(DWORD) override { return S_OK; }
    STDMETHODIMP UnlockRequest() override { return S_OK; }
};
const CLSID kStuckProtocol = {0x5d1c7a3e, 0x2b8f, 0x4e61, {0x9a, 0x0d, 0x3c, 0x47, 0x18, 0xe2, 0x6b, 0x95}};

// The start page on the recording sink, with its worker's posted events
// coming back through a window of the test's thread.
struct CheckedPage {
    RecordingScriptSink sink;
    ScanStartPage page;
    PostedEventWindow events{&CheckedPage::Receive, this};

    CheckedPage() {
        events.SetEventMessage(WM_APP + 7);
        REQUIRE(events.Create());
        page.AttachControl(nullptr, WM_APP + 7, events.Handle(), &sink);
    }
    static void Receive(void* context, BSTR name, VARIANT* param) {
        BSTR element = SysAllocString(L"");
        static_cast<CheckedPage*>(context)->page.OnHTMLEvent(nullptr, name, element, param);
        SysFreeString(element);
    }
    void Send(const wchar_t* name, const wchar_t* text = L"") {
        BSTR n = SysAllocString(name), e = SysAllocString(L"");
        VARIANT param;
        param.vt = VT_BSTR;
        param.bstrVal = SysAllocString(text);
        page.OnHTMLEvent(nullptr, n, e, &param);
        SysFreeString(n);
        SysFreeString(e);
        VariantClear(&param);
    }
    // Pumps until the page has run `count` more scripts or the time is up.
    void PumpFor(DWORD milliseconds, size_t until = size_t(-1)) {
        DWORD start = GetTickCount();
        while (sink.scripts.size() < until && GetTickCount() - start < milliseconds) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        }
    }
    // Pumps until the server's log holds `line` past its first `from` lines, or 10 s have gone.
    bool AwaitLog(size_t from, const std::string& line) {
        for (int i = 0; i < 100; ++i, PumpFor(100)) {
            std::vector<std::string> log = RequestLog();
            if (log.size() > from && std::find(log.begin() + from, log.end(), line) != log.end()) return true;
        }
        return false;
    }
    // One whole check against `site`: the script that showed the reply.
    std::wstring Check(const std::wstring& site) {
        SetSite(site);
        sink.scripts.clear();
        Send(L"CheckUpdates");
        // Waiting text, then the check link, the reply and "checking = false".
        PumpFor(60000, 4);
        REQUIRE(sink.scripts.size() == 4);
        CHECK(sink.scripts[0].text.find(L"Please wait...") != std::wstring::npos);
        CHECK(sink.scripts[3].text == L"checking = false");
        CHECK_FALSE(page.Updates().Running());
        return sink.scripts[2].text;
    }
};

}  // namespace

TEST_CASE("update replies: a bracketed web address becomes a link, anything else stays text") {
    tstring plain = UpdateReplyScript("Version 4.1 is out: [http://127.0.0.1:8080/get?a=1&b=2] now");
    CHECK(plain == L"license_middle.innerHTML = \"Version 4.1 is out: [<a href=\\\"javascript:;\\\" "
                   L"onClick=\\\"GoUpdateOnline(\\'http://127.0.0.1:8080/get?a=1&amp;b=2\\');\\\">"
                   L"http://127.0.0.1:8080/get?a=1&amp;b=2</a>] now\"");
    const char* hostile[] = {"Get it [http://x/');alert(1);//]", "Get it [&#39;);alert(1);//]",
                             "Get it [http://x/<b>]", "Get it [http://x/\\]", "Get it [javascript:alert(1)]",
                             "[http://x/] first"};
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

TEST_CASE("update check against the update server: replies, failures, cancel and the next check") {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CheckedPage start;
    std::wstring server = Server();

    SUBCASE("the request carries the version code; a plain reply links its address") {
        size_t before = RequestLog().size();
        std::wstring shown = start.Check(server);
        CHECK(shown == L"license_middle.innerHTML = \"Version 9.9 is out. Get it at [<a href=\\\"javascript:;\\\" "
                       L"onClick=\\\"GoUpdateOnline(\\'http://127.0.0.1/download?x=1&amp;y=2\\');\\\">"
                       L"http://127.0.0.1/download?x=1&amp;y=2</a>] today.\"");
        std::vector<std::string> log = RequestLog();
        REQUIRE(log.size() == before + 1);
        CHECK(log.back() == "GET /vertest/orvane.php?ver=735 HTTP/1.1");
        // A failure afterwards shows no trace of the earlier reply.
        CHECK(start.Check(server + L"/404") == kCantConnect);
    }
    SUBCASE("hostile and reversed-bracket replies show as text") {
        for (const wchar_t* reply : {L"/hostile", L"/reversed"}) {
            std::wstring shown = start.Check(server + reply);
            CAPTURE(shown);
            CHECK_FALSE(Links(shown));
            CHECK(JScriptParseError(shown) == L"");
        }
    }
    SUBCASE("a 50 MB reply: its first 64 KiB are shown") {
        std::wstring shown = start.Check(server + L"/huge");
        CHECK(shown == L"license_middle.innerHTML = \"" + std::wstring(64 * 1024, L'x') + L"\"");
    }
    SUBCASE("a server that is gone or was never there: no connection") {
        CHECK(start.Check(server + L"/gone") == kCantConnect);
        CHECK(start.Check(L"http://127.0.0.1:" + Env("ORVANE_CLOSED_PORT")) == kCantConnect);
    }
    SUBCASE("cancel in the middle of a slow reply: its text at once, nothing later, the next check works") {
        SetSite(server + L"/slow");
        size_t before = RequestLog().size();
        start.Send(L"CheckUpdates");
        for (int i = 0; i < 100 && RequestLog().size() == before; ++i) start.PumpFor(100);
        REQUIRE(RequestLog().size() == before + 1);
        start.Send(L"CancelUpdates");
        CHECK_FALSE(start.page.Updates().Running());
        REQUIRE(start.sink.scripts.size() == 4);
        CHECK(start.sink.scripts[2].text == kCancelled);
        CHECK(start.sink.scripts[3].text == L"checking = false");

        // The cancel ended the stalled download itself: the next check, which
        // waits for the cancelled worker, is answered while the slow reply
        // still stalls.
        SetSite(server);
        start.Send(L"CheckUpdates");
        REQUIRE(start.sink.scripts.size() == 5);
        CHECK(start.sink.scripts[4].text.find(L"Please wait...") != std::wstring::npos);
        start.PumpFor(20000, 8);
        REQUIRE_MESSAGE(start.sink.scripts.size() == 8, "the next check was not answered within 20 s");
        CHECK(Links(start.sink.scripts[6].text));
        CHECK(start.sink.scripts[7].text == L"checking = false");
        CHECK(RequestLog().back() == "GET /vertest/orvane.php?ver=735 HTTP/1.1");
        std::wstring release = server + L"/release", released = TempPath(L"released.txt");
        REQUIRE(URLDownloadToFileW(nullptr, release.c_str(), released.c_str(), 0, nullptr) == S_OK);
        DeleteFileW(released.c_str());
        CHECK(start.AwaitLog(before, "slow released"));
    }
    SUBCASE("checks cancelled at any moment of their download: the next check is answered") {
        SetSite(server);
        for (DWORD wait = 0; wait < 200; wait += 10) {
            start.Send(L"CheckUpdates");
            start.PumpFor(wait);
            start.Send(L"CancelUpdates");
        }
        CHECK(Links(start.Check(server)));
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\QUARN\\Orvane", L"SiteBase");
    CoUninitialize();
}

// The start page in a process of its own, held as the view holds it: its
// check is cancelled once the download has started, then the page goes and
// the process ends. Orders: "silent" (a server that never answers), "stuck"
// (a download no abort reaches) or "again" (stuck, then a second check
// against the plain server once the stuck handler is gone), "|", the event
// to set on the cancel.
TEST_CASE("UpdateCheckChild" * doctest::skip()) {
    std::wstring orders = GetCommandLineW();
    REQUIRE(orders.find(kChildOption) != std::wstring::npos);
    orders = orders.substr(orders.find(kChildOption) + wcslen(kChildOption));
    orders = orders.substr(0, orders.find(L'"'));
    std::wstring mode = orders.substr(0, orders.find(L'|'));
    bool stuck = mode != L"silent";
    HANDLE cancelled = OpenEventW(EVENT_MODIFY_STATE, FALSE, orders.substr(orders.find(L'|') + 1).c_str());
    REQUIRE(cancelled);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    StuckProtocol protocol;
    ComPtr<IInternetSession> session;
    if (stuck) {
        REQUIRE(CoInternetGetSession(0, session.Receive(), 0) == S_OK);
        REQUIRE(session->RegisterNameSpace(&protocol, kStuckProtocol, L"http", 0, nullptr, 0) == S_OK);
    }
    {
        CheckedPage start;
        SetSite(Server() + (stuck ? L"" : L"/silent"));
        size_t before = RequestLog().size();
        start.Send(L"CheckUpdates");
        REQUIRE(stuck ? testlimit::Wait(protocol.started, testlimit::kStep, "the stuck download to start", true)
                      : start.AwaitLog(before, kSilentRequest));
        start.Send(L"CancelUpdates");
        if (mode == L"again") {
            // The cancelled download still sits in its handler; the next
            // check reaches the real server.
            REQUIRE(session->UnregisterNameSpace(&protocol, L"http") == S_OK);
            start.Send(L"CheckUpdates");
            start.PumpFor(kAgainLimit, 8);
            REQUIRE_MESSAGE(start.sink.scripts.size() == 8,
                            "the check after a cancelled download that never ends was not answered within 40 s");
            // Its end is ExitProcess: only a REQUIRE reaches its exit code.
            REQUIRE(Links(start.sink.scripts[6].text));
            REQUIRE(start.sink.scripts[7].text == L"checking = false");
            REQUIRE(RequestLog().back() == "GET /vertest/orvane.php?ver=735 HTTP/1.1");
        }
        SetEvent(cancelled);
    }
    ExitProcess(0);
}

// Starts this program's child case with its orders; its output goes where
// this program's goes.
PROCESS_INFORMATION StartChild(const wchar_t* mode, const std::wstring& event) {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(exe) + L"\" --no-skip -tc=UpdateCheckChild \"" + kChildOption + mode +
                        L"|" + event + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION child = {};
    REQUIRE(CreateProcessRetrying(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &child));
    return child;
}

TEST_CASE("a cancelled check keeps no process alive: a server that never answers, a download no abort reaches") {
    for (const wchar_t* mode : {L"silent", L"stuck"}) {
        std::string name(mode, mode + wcslen(mode));
        CAPTURE(name);
        std::wstring event = L"OrvaneUpdateCancelled-" + std::to_wstring(GetCurrentProcessId()) + L"-" + mode;
        HANDLE cancelled = CreateEventW(nullptr, TRUE, FALSE, event.c_str());
        PROCESS_INFORMATION child = StartChild(mode, event);
        HANDLE either[2] = {cancelled, child.hProcess};
        CHECK_MESSAGE(WaitForMultipleObjects(2, either, FALSE, testlimit::kLong) == WAIT_OBJECT_0,
                      "the child ended or took 120 s before its check was cancelled");
        // The page's end waits 3 s at most for the cancelled worker.
        if (!testlimit::Wait(child.hProcess, 15000, "the child holding the start page to end after the cancel"))
            TerminateProcess(child.hProcess, 9);
        DWORD code = 9;
        testlimit::Wait(child.hProcess, testlimit::kStep, "the child to end");
        GetExitCodeProcess(child.hProcess, &code);
        CHECK(code == 0);
        for (HANDLE handle : {cancelled, child.hProcess, child.hThread}) CloseHandle(handle);
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\QUARN\\Orvane", L"SiteBase");
}

TEST_CASE("a check after a cancelled one whose download never ends is answered") {
    std::wstring event = L"OrvaneUpdateCancelled-" + std::to_wstring(GetCurrentProcessId()) + L"-again";
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, event.c_str());
    PROCESS_INFORMATION child = StartChild(L"again", event);
    // The child says what it waited for when the second check stays silent.
    bool ended = testlimit::Wait(child.hProcess, testlimit::kLong, "the child with two checks to end");
    if (!ended) TerminateProcess(child.hProcess, 9);
    testlimit::Wait(child.hProcess, testlimit::kStep, "the child to end");
    DWORD code = 9;
    GetExitCodeProcess(child.hProcess, &code);
    CHECK_MESSAGE(WaitForSingleObject(done, 0) == WAIT_OBJECT_0, "the child's second check was not answered (above)");
    CHECK(code == 0);
    for (HANDLE handle : {done, child.hProcess, child.hThread}) CloseHandle(handle);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\QUARN\\Orvane", L"SiteBase");
}

TEST_CASE("the support page opens with every value intact") {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    SetSite(Server());
    PlantedBrowser browser(ORVANE_URL_RECORDER, L"update-check-urls.txt");
    CheckedPage start;
    start.page.SetSupportMail([] { return tstring(L"A&B #1 O'Brien"); });
    start.Send(L"SubmitTicketOnline", L"javascript:alert(1)");
    start.Send(L"SubmitTicketOnline", (Server() + L"/support?x=1").c_str());
    start.Send(L"SubmitTicketOnline", L"");
    // The shell starts the recorder and returns: give it time to write.
    std::vector<std::wstring> opened;
    for (int i = 0; i < 100 && (opened = browser.Opened()).empty(); ++i) Sleep(100);
    // A refused address would have started its recorder before this one.
    Sleep(500);
    opened = browser.Opened();
    REQUIRE(opened.size() == 1);
    std::wstring prefix = Server() + L"/support?";
    REQUIRE(opened[0].compare(0, prefix.size(), prefix) == 0);

    // Python's parse_qs reads the query back.
    std::wstring query = Server() + L"/query?" + opened[0].substr(prefix.size());
    std::wstring fields = TempPath(L"support-fields.txt");
    REQUIRE(URLDownloadToFileW(nullptr, query.c_str(), fields.c_str(), 0, nullptr) == S_OK);
    std::string text = ReadAll(fields);
    DeleteFileW(fields.c_str());
    std::wstring os = OsName();
    std::string osUtf8(os.begin(), os.end());
    std::wstring name = SupportUserName();
    CHECK(text == "name=" + std::string(name.begin(), name.end()) + "\nemail=A&B #1 O'Brien\nproduct=OV" +
                      std::string(kVersionCode, kVersionCode + 3) + "\nwinver=" + osUtf8 + "\nplatform=64\n");
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\QUARN\\Orvane", L"SiteBase");
    CoUninitialize();
}

#include <doctest/doctest.h>
#include <windows.h>
#include <oleauto.h>
#include "RecordingRestart.h"
#include "RecordingScriptSink.h"
#include "RecordingUiServices.h"
#include "TestStrings.h"
#include "app/AppUtilities.h"
#include "app/pages/CompactPage.h"
#include "app/resource.h"
#include "common/system/OsVersion.h"
#include "hives/CompactFlags.h"

// The compaction page through the recording script sink; its goldens are
// replayed into orvaneCompact.htm by the Chromium page tests.

namespace {

int Fire(HtmlPage& page, const wchar_t* name, VARIANT* param = nullptr) {
    BSTR event = SysAllocString(name);
    int result = page.OnHTMLEvent(nullptr, event, nullptr, param);
    SysFreeString(event);
    return result;
}

int FireBool(HtmlPage& page, const wchar_t* name, bool value) {
    VARIANT param;
    VariantInit(&param);
    param.vt = VT_BOOL;
    param.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return Fire(page, name, &param);
}

int FireText(HtmlPage& page, const wchar_t* name, const wchar_t* text) {
    VARIANT param;
    VariantInit(&param);
    param.vt = VT_BSTR;
    param.bstrVal = SysAllocString(text);
    int result = Fire(page, name, &param);
    VariantClear(&param);
    return result;
}

bool RunOnceValueExists() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", 0,
                      KEY_READ | KEY_WOW64_64KEY, &key))
        return false;
    char data[128] = {};
    DWORD size = sizeof data, type = 0;
    LONG status = RegQueryValueExA(key, "QUARN OrvaneCompact", nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return false;
    CHECK(type == REG_SZ);
    CHECK(std::string(data, size) == std::string("rundll32.exe OrvaneCompact.dll,OnRunOnce", 41));
    return true;
}

const wchar_t kHostileHive[] =
    L"HKLM_it's \\ \"q\" </script><img src=x onerror=\"window.external.OnHTMLEvent(document,'Hacked','','')\">";

// A page that refuses the rows: the analysis cannot go on.
class RefusingRows : public RecordingScriptSink {
public:
    HRESULT ExecScript(const wchar_t* code, const wchar_t* language) override {
        if (wcsncmp(code, L"GotOriginalSize", 15) == 0) return E_FAIL;
        return RecordingScriptSink::ExecScript(code, language);
    }
};

}  // namespace

TEST_CASE("analysis: rows with escaped names, the verdict, and the page back to life") {
    RecordingScriptSink sink;
    RecordingUiServices ui;
    CompactPage page;
    page.AttachControl(nullptr, 0, nullptr, &sink);

    CHECK(Fire(page, L"Analyze") == 0);
    REQUIRE(sink.scripts.size() > 4);
    CHECK(sink.scripts[1].text == L"DisableToolbars();");
    bool verdict = false;
    for (const RecordedScript& s : sink.scripts)
        verdict = verdict || s.text.find(L"document.getElementById('diagnosis').innerHTML=") == 0;
    CHECK(verdict);
    CHECK(sink.scripts.back().text.find(L"setBtnState(); window.external.OnHTMLEvent(document, 'SaveReport'") == 0);
    CHECK(sink.controlEnabled);
    CHECK_FALSE(page.CloseDisabled());

    // The golden: the report header, then rows whose names carry quotes,
    // backslashes and markup, as the analysis sink hands them on.
    sink.scripts.erase(sink.scripts.begin() + 2, sink.scripts.end());
    page.OnOriginalSize(kHostileHive, 1234567);
    page.OnOriginalSize(L"ProfilesTotal", 5000000000LL);
    page.OnCompactedSize(kHostileHive, 1000000, 18.996);
    page.OnCompactedSize(L"ProfilesTotal", 6000000000LL, 0);
    page.ExecScript(L"EnableToolbars();");
    CHECK(sink.CompareWithGolden("orvaneCompact", "analysis") == "");
    for (const RecordedScript& s : sink.scripts)
        CHECK(JScriptParseError(s.text) == L"");

    // A page that refuses the rows: the verdict's place says why, no report
    // is kept, and the page comes back to life.
    RefusingRows refusing;
    page.AttachControl(nullptr, 0, nullptr, &refusing);
    CHECK(Fire(page, L"Analyze") == 0);
    REQUIRE(refusing.scripts.size() >= 4);
    CHECK(refusing.scripts[refusing.scripts.size() - 3].text.find(L"The analysis failed") != std::wstring::npos);
    CHECK(refusing.scripts[refusing.scripts.size() - 2].text == L"EnableToolbars();");
    CHECK(refusing.controlEnabled);
    CHECK_FALSE(page.CloseDisabled());
}

TEST_CASE("the saved report comes back as it was sent, whatever it holds") {
    RecordingScriptSink sink;
    CompactPage page;
    page.AttachControl(nullptr, 0, nullptr, &sink);
    const wchar_t report[] =
        L"<TABLE id=reportTable><TBODY><TR><TD>C:\\x\\'q' \"d\"\nline &lt;/script&gt;&lt;img src=x "
        L"onerror=\"window.external.OnHTMLEvent(document,'Hacked','','')\"&gt;</TD><TD>1 234 bytes</TD></TR>"
        L"</TBODY></TABLE></script>\r\n<SPAN id=diagnosis>done</SPAN>";
    CHECK(FireText(page, L"SaveReport", report) == 0);
    CHECK(page.SavedReport() == report);
    CHECK(sink.scripts.empty());
    CHECK(Fire(page, L"PageLoaded") == 0);
    REQUIRE(sink.scripts.size() == 1);
    CHECK(sink.scripts[0].text.find(L"</script>") == std::wstring::npos);
    CHECK(JScriptParseError(sink.scripts[0].text) == L"");
    CHECK(sink.CompareWithGolden("orvaneCompact", "report") == "");
}

TEST_CASE("requests on Windows 6 toggle the RunOnce value; restart asks first") {
    REQUIRE(IsWindowsMajor6());
    RecordingScriptSink sink;
    RecordingUiServices ui;
    RecordingRestart restart;
    CompactPage page;
    page.AttachControl(nullptr, 0, nullptr, &sink);

    bool before = RunOnceValueExists();
    CHECK(FireBool(page, L"RCompactAll", true) == 0);
    CHECK(RunOnceValueExists() != before);
    CHECK(FireBool(page, L"RCompactAll", true) == 0);
    CHECK(RunOnceValueExists() == before);
    if (!before) {
        CHECK(FireBool(page, L"RCompactAll", false) == 0);
        CHECK(RunOnceValueExists());
        CHECK(FireBool(page, L"RCompactAll", false) == 0);
        CHECK_FALSE(RunOnceValueExists());
    }

    ui.boxAnswer = IDNO;
    CHECK(Fire(page, L"Restart") == 0);
    CHECK(restart.calls.empty());
    ui.boxAnswer = IDYES;
    CHECK(Fire(page, L"Restart") == 0);
    REQUIRE(restart.calls.size() == 1);
    CHECK(restart.calls[0].what == L"ExitWindowsEx");
    CHECK(restart.calls[0].flags == (EWX_REBOOT | EWX_FORCEIFHUNG));
    CHECK(restart.calls[0].reason == SHTDN_REASON_FLAG_PLANNED);
    REQUIRE(ui.boxes.size() == 2);
    CHECK(ui.boxes[0].text == L"Are you sure you want to reboot your system now?");
    CHECK(ui.boxes[0].type == (MB_ICONQUESTION | MB_YESNO));
}

TEST_CASE("user requests go into the shared list; a missing list is shown, not thrown") {
    RecordingScriptSink sink;
    RecordingUiServices ui;
    CompactPage page;
    page.AttachControl(nullptr, 0, nullptr, &sink);

    // No compaction library has created the list in this process yet.
    CHECK(FireBool(page, L"RCompactCurrent", true) == 0);
    REQUIRE(ui.boxes.size() == 1);
    CHECK(ui.boxes[0].type == MB_ICONERROR);

    CompactFlags created;
    created.Open(true);
    CHECK(Fire(page, L"RCompactChange") == 0);
    CHECK(page.Changed());
    CHECK(FireBool(page, L"RCompactCurrent", true) == 0);
    CHECK_FALSE(page.Changed());
    CompactFlags requests;
    requests.Open(false);
    CHECK(requests.IsCurrent());
    CHECK(FireBool(page, L"RCompactCurrent", true) == 0);
    CHECK(requests.Count() == 1);
    CHECK(FireBool(page, L"RCompactCurrent", false) == 0);
    CHECK(requests.Text().empty());

    CHECK(page.AskSaveChanges(nullptr) == IDNO);
    CHECK(Fire(page, L"RCompactChange") == 0);
    ui.boxAnswer = IDCANCEL;
    CHECK(page.AskSaveChanges(nullptr) == IDCANCEL);
    CHECK(page.Changed());
    ui.boxAnswer = IDYES;
    sink.scripts.clear();
    CHECK(page.AskSaveChanges(nullptr) == IDYES);
    CHECK_FALSE(page.Changed());
    REQUIRE(sink.scripts.size() == 1);
    CHECK(sink.scripts[0].text == L"OnApply();");
    CHECK(ui.boxes.back().text == L"Settings have been modified.\nDo you want to save changes?");
    CHECK(ui.boxes.back().type == (MB_YESNOCANCEL | MB_ICONQUESTION));
}

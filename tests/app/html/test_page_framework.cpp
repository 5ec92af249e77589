#include <doctest/doctest.h>
#include <windows.h>
#include <oleauto.h>
#include <string>
#include <vector>
#include "RecordingScriptSink.h"
#include "app/html/HtmlPage.h"
#include "app/html/HtmlView.h"
#include "app/html/MshtmlDocument.h"
#include "app/html/ScriptText.h"
#include "app/mainview/ScanStartPage.h"
#include "common/errors/ErrorBase.h"

namespace {

class NamedPage : public HtmlPage {
public:
    const wchar_t* PageName() const override { return L"scanStart.htm"; }
    int OnHTMLEvent(IDispatch*, BSTR eventName, BSTR, VARIANT*) override {
        seen.push_back(eventName ? eventName : L"");
        if (IsEvent(eventName, L"Mine")) return 0;
        return 1;
    }
    std::vector<std::wstring> seen;
};

struct Fallback : HtmlEventHandler {
    int OnHTMLEvent(IDispatch*, BSTR eventName, BSTR, VARIANT*) override {
        seen.push_back(eventName ? eventName : L"");
        return 0;
    }
    std::vector<std::wstring> seen;
};

struct Bstr {
    explicit Bstr(const wchar_t* text) : value(SysAllocString(text)) {}
    ~Bstr() { SysFreeString(value); }
    BSTR value;
};

}  // namespace

TEST_CASE("escaped text stays one literal that evaluates to the text with entities for angle brackets") {
    CHECK(EscapeScriptString(L"a\\\"b") == L"a\\\\\\\"b");
    CHECK(EscapeScriptString(L"<b>'x'") == L"&lt;b&gt;\\'x\\'");
    CHECK(EscapeScriptString(ShowLineBreaks(L"a\r\nb")) == L"a[CR][LF]b");

    const std::wstring injections[] = {
        L"plain",          L"quote \" and ' apostrophe", L"back\\slash\\",   L"</script><script>alert(1)</script>",
        L"line\rbreak\nand\r\n", L"sep\x2028para\x2029", L"');alert(1);//", L"\");external.OnHTMLEvent(1);//",
    };
    RecordingScriptSink sink;
    for (const std::wstring& input : injections) {
        std::wstring expected = input;
        tstring withEntities(expected);
        withEntities.Replace(L"<", L"&lt;");
        withEntities.Replace(L">", L"&gt;");
        for (const wchar_t* quote : {L"'", L"\""}) {
            std::wstring literal = quote + EscapeScriptString(input) + quote;
            std::wstring value;
            INFO("literal: " << tstring(literal).c_str());
            REQUIRE(JScriptEvaluate(literal, value));
            CHECK(value == withEntities);
        }
        // The same check as page script, for the page tests to replay in the browser.
        sink.ExecScript((L"var escaped = '" + EscapeScriptString(input) + L"'; if (escaped !== " +
                         JsonLiteral(withEntities) + L") { throw new Error('escaping'); }")
                            .c_str(),
                        L"JavaScript");
    }
    for (const RecordedScript& script : sink.scripts) CHECK(JScriptRunError(script.text) == L"");
    CHECK(sink.CompareWithGolden("scanStart", "escaped-text") == "");
}

TEST_CASE("an event goes to the current page first and to the main view when the page leaves it") {
    NamedPage page;
    Fallback view;
    Bstr mine(L"Mine"), other(L"mine"), element(L"");

    CHECK(DispatchHtmlEvent(&page, &view, nullptr, mine.value, element.value, nullptr) == 0);
    CHECK(view.seen.empty());
    // A name differing in case only is not the page's.
    CHECK(DispatchHtmlEvent(&page, &view, nullptr, other.value, element.value, nullptr) == 0);
    CHECK(view.seen == std::vector<std::wstring>{L"mine"});
    // Without document, name and element nobody is asked.
    CHECK(DispatchHtmlEvent(&page, &view, nullptr, nullptr, nullptr, nullptr) == 1);
    CHECK(page.seen.size() == 2);
    // No current page: straight to the view.
    CHECK(DispatchHtmlEvent(nullptr, &view, nullptr, mine.value, element.value, nullptr) == 0);
    CHECK(view.seen.size() == 2);

    // The start page answers its own request for the news (replayed by the page test).
    ScanStartPage start;
    RecordingScriptSink sink;
    start.AttachControl(nullptr, 0, nullptr, &sink);
    Bstr news(L"ShowNews");
    CHECK(DispatchHtmlEvent(&start, &view, nullptr, news.value, element.value, nullptr) == 0);
    CHECK(view.seen.size() == 2);
    CHECK(sink.CompareWithGolden("scanStart", "news") == "");
}

TEST_CASE("enabling a page marks the body and every element below it, then the cursor and the control") {
    RecordingScriptSink sink;
    auto table = sink.Add(nullptr, L"mainTable");
    auto button = sink.Add(table, L"apply");
    NamedPage page;
    page.AttachControl(nullptr, 0, nullptr, &sink);

    page.EnablePage(false);
    CHECK(sink.body->attributes[L"DISABLED"] == L"true");
    CHECK(button->attributes[L"DISABLED"] == L"true");
    CHECK_FALSE(sink.controlEnabled);
    page.EnablePage(true);
    CHECK(button->attributes.count(L"DISABLED") == 0);
    CHECK(sink.controlEnabled);
    CHECK(sink.CompareWithGolden("scanStart", "enable-page") == "");
    for (const RecordedScript& script : sink.scripts) CHECK(JScriptParseError(script.text) == L"");

    // One element only; a refused change stops there.
    CHECK(page.EnableElement(L"mainTable", false));
    CHECK(sink.body->attributes.count(L"DISABLED") == 0);
    CHECK(button->attributes[L"DISABLED"] == L"true");
    table->failAttributes = true;
    CHECK_FALSE(page.EnableElement(L"mainTable", true));
    CHECK(button->attributes[L"DISABLED"] == L"true");
    CHECK_FALSE(page.EnableElement(L"missing", true));

    // Script failures reach the caller as HRError; the window path defaults to JScript.
    sink.execResult = E_ACCESSDENIED;
    CHECK_THROWS_AS(page.ExecScript(L"x();"), HRError);
    sink.scripts.clear();
    page.RunScript(L"y();");
    page.RunScript(L"");
    REQUIRE(sink.scripts.size() == 1);
    CHECK(sink.scripts[0] == RecordedScript{L"JScript", L"y();"});
}

namespace {

// A page window whose execScript records its arguments, or fails as a script error.
struct FakePageWindow : IDispatch {
    std::vector<std::wstring> calls;
    STDMETHODIMP QueryInterface(REFIID, void** out) override {
        *out = this;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* id) override {
        if (wcscmp(names[0], L"execScript") != 0) return DISP_E_UNKNOWNNAME;
        *id = 7;
        return S_OK;
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT*, EXCEPINFO* exception,
                        UINT*) override {
        if (flags != DISPATCH_METHOD || parameters->cArgs != 2) return E_INVALIDARG;
        std::wstring code = parameters->rgvarg[1].bstrVal, language = parameters->rgvarg[0].bstrVal;
        calls.push_back(language + L":" + code);
        if (code != L"fail();") return S_OK;
        exception->bstrDescription = SysAllocString(L"'fail' is undefined");
        return DISP_E_EXCEPTION;
    }
};

}  // namespace

TEST_CASE("script through the page window names the method and the script's complaint when it fails") {
    FakePageWindow window;
    RunScript(&window, L"go();");
    RunScript(&window, L"go();", L"JavaScript");
    RunScript(&window, L"");
    CHECK(window.calls == std::vector<std::wstring>{L"JScript:go();", L"JavaScript:go();"});
    try {
        RunScript(&window, L"fail();");
        FAIL("no error");
    } catch (const HRError& e) {
        CHECK(e.Code() == DISP_E_EXCEPTION);
        CHECK(e.Message().find(L"Invoke failed. method: execScript ") == 0);
        CHECK(e.Message().find(L" exeption info: 'fail' is undefined") != tstring::npos);
    }
}

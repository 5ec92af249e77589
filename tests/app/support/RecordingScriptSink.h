#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>
#include "app/html/HtmlPage.h"

// The page side of page-object tests: records every script text a page runs
// (through the control or the page window) with its language, and answers
// document questions from a small fake DOM. Recorded texts are compared with
// goldens that the Chromium page tests replay in the real page.
struct FakeElement {
    std::wstring id;
    std::map<std::wstring, std::wstring> attributes;
    std::vector<std::shared_ptr<FakeElement>> children;
    int focusCount = 0;
    bool failAttributes = false;
};

struct RecordedScript {
    std::wstring language;
    std::wstring text;
    bool operator==(const RecordedScript& other) const { return language == other.language && text == other.text; }
};

class RecordingScriptSink : public PageHost {
public:
    RecordingScriptSink();

    HRESULT ExecScript(const wchar_t* code, const wchar_t* language) override;
    std::unique_ptr<PageDocument> Document() override;
    HWND ControlWindow() override { return controlWindow; }
    void SetControlEnabled(bool enabled) override { controlEnabled = enabled; }

    std::shared_ptr<FakeElement> Add(const std::shared_ptr<FakeElement>& parent, const std::wstring& id);
    std::shared_ptr<FakeElement> Find(const std::wstring& id) const;

    // "[{"language": ..., "text": ...}, ...]", one object a line.
    std::string ToJson() const;
    // Compares with goldens/<page>/<name>.json; with ORVANE_UPDATE_GOLDENS set
    // in the environment, writes it instead. Returns an empty text when equal,
    // else a description of the difference.
    std::string CompareWithGolden(const char* page, const char* name) const;

    std::vector<RecordedScript> scripts;
    std::shared_ptr<FakeElement> body;
    bool hasDocument = true;
    HRESULT execResult = S_OK;
    HWND controlWindow = nullptr;
    bool controlEnabled = true;
};

// Parses script text with the system's JScript engine without running it; an
// empty result when it parses, else the engine's complaint.
std::wstring JScriptParseError(const std::wstring& text);
// Runs script text with the system's JScript engine; empty when it ran
// without error.
std::wstring JScriptRunError(const std::wstring& text);
// A double-quoted script literal of the text (JSON's escapes).
std::wstring JsonLiteral(const std::wstring& text);
// Evaluates an expression with the system's JScript engine; the result as text.
bool JScriptEvaluate(const std::wstring& expression, std::wstring& result);

#include "RecordingScriptSink.h"
#include <activscp.h>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include "common/com/ComPtr.h"
#include "common/system/FileSystem.h"

namespace {

class FakePageElement : public PageElement {
public:
    FakePageElement(std::shared_ptr<FakeElement> element) : element_(std::move(element)) {}
    bool SetAttribute(const wchar_t* name, const wchar_t* value) override {
        if (element_->failAttributes) return false;
        element_->attributes[name] = value;
        return true;
    }
    bool RemoveAttribute(const wchar_t* name) override {
        if (element_->failAttributes) return false;
        element_->attributes.erase(name);
        return true;
    }
    std::vector<std::unique_ptr<PageElement>> Descendants() override {
        std::vector<std::unique_ptr<PageElement>> all;
        std::function<void(const FakeElement&)> walk = [&](const FakeElement& e) {
            for (auto& child : e.children) {
                all.push_back(std::make_unique<FakePageElement>(child));
                walk(*child);
            }
        };
        walk(*element_);
        return all;
    }
    bool Focus() override {
        ++element_->focusCount;
        return true;
    }

private:
    std::shared_ptr<FakeElement> element_;
};

class FakeDocument : public PageDocument {
public:
    explicit FakeDocument(RecordingScriptSink& sink) : sink_(sink) {}
    std::unique_ptr<PageElement> ElementById(const wchar_t* id) override {
        auto found = sink_.Find(id);
        return found ? std::make_unique<FakePageElement>(found) : nullptr;
    }
    std::unique_ptr<PageElement> Body() override { return std::make_unique<FakePageElement>(sink_.body); }
    void ExecScript(const wchar_t* code, const wchar_t* language) override {
        if (!code || !*code) return;
        sink_.scripts.push_back({(language && *language) ? language : L"JScript", code});
    }

private:
    RecordingScriptSink& sink_;
};

std::string Utf8(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::string JsonString(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        switch (c) {
        case L'"': out += "\\\""; break;
        case L'\\': out += "\\\\"; break;
        case L'\n': out += "\\n"; break;
        case L'\r': out += "\\r"; break;
        case L'\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x2028 || c == 0x2029) {
                char buffer[8];
                snprintf(buffer, sizeof buffer, "\\u%04x", unsigned(c));
                out += buffer;
            } else {
                out += Utf8(std::wstring(1, c));
            }
        }
    }
    return out + "\"";
}

// A script site that answers nothing: the tests' scripts use no host objects.
class QuietSite : public IActiveScriptSite {
public:
    std::wstring error;
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IActiveScriptSite) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetLCID(LCID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemInfo(LPCOLESTR, DWORD, IUnknown**, ITypeInfo**) override { return TYPE_E_ELEMENTNOTFOUND; }
    STDMETHODIMP GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
    STDMETHODIMP OnScriptError(IActiveScriptError* problem) override {
        EXCEPINFO info = {};
        problem->GetExceptionInfo(&info);
        error = info.bstrDescription ? info.bstrDescription : L"script error";
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrHelpFile);
        return S_OK;
    }
    STDMETHODIMP OnEnterScript() override { return S_OK; }
    STDMETHODIMP OnLeaveScript() override { return S_OK; }
};

// Not in mingw-w64's uuid library.
const IID kIidActiveScriptParse64 = {0xc7ef7658, 0xe1ee, 0x480e, {0x97, 0xea, 0xd5, 0x2c, 0xb4, 0xd7, 0x6d, 0x17}};
const CLSID kJScript = {0xf414c260, 0x6ac0, 0x11cf, {0xb6, 0xd1, 0x00, 0xaa, 0x00, 0xbb, 0xbb, 0x58}};

HRESULT RunJScript(const std::wstring& text, DWORD flags, VARIANT* result, std::wstring& error) {
    ComPtr<IActiveScript> engine;
    HRESULT hr = CoCreateInstance(kJScript, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript, engine.ReceiveVoid());
    if (FAILED(hr)) {
        error = L"no JScript engine";
        return hr;
    }
    ComPtr<IActiveScriptParse> parser;
    if (FAILED(engine.QueryInto(kIidActiveScriptParse64, parser))) {
        error = L"no script parser";
        return E_NOINTERFACE;
    }
    QuietSite site;
    engine->SetScriptSite(&site);
    parser->InitNew();
    EXCEPINFO info = {};
    hr = parser->ParseScriptText(text.c_str(), nullptr, nullptr, nullptr, 0, 0, flags, result, &info);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);
    engine->Close();
    error = site.error;
    if (FAILED(hr) && error.empty()) error = L"parse failed";
    return hr;
}

struct ComInit {
    ComInit() { CoInitialize(nullptr); }
    ~ComInit() { CoUninitialize(); }
};

}  // namespace

RecordingScriptSink::RecordingScriptSink() : body(std::make_shared<FakeElement>()) { body->id = L"body"; }

HRESULT RecordingScriptSink::ExecScript(const wchar_t* code, const wchar_t* language) {
    scripts.push_back({language ? language : L"", code ? code : L""});
    return execResult;
}

std::unique_ptr<PageDocument> RecordingScriptSink::Document() {
    if (!hasDocument) return nullptr;
    return std::make_unique<FakeDocument>(*this);
}

std::shared_ptr<FakeElement> RecordingScriptSink::Add(const std::shared_ptr<FakeElement>& parent,
                                                      const std::wstring& id) {
    auto element = std::make_shared<FakeElement>();
    element->id = id;
    (parent ? parent : body)->children.push_back(element);
    return element;
}

std::shared_ptr<FakeElement> RecordingScriptSink::Find(const std::wstring& id) const {
    std::function<std::shared_ptr<FakeElement>(const std::shared_ptr<FakeElement>&)> walk =
        [&](const std::shared_ptr<FakeElement>& e) -> std::shared_ptr<FakeElement> {
        for (auto& child : e->children) {
            if (child->id == id) return child;
            if (auto found = walk(child)) return found;
        }
        return nullptr;
    };
    return walk(body);
}

std::string RecordingScriptSink::ToJson() const {
    std::string json = "[\n";
    for (size_t i = 0; i < scripts.size(); ++i) {
        json += "  {\"language\": " + JsonString(scripts[i].language) + ", \"text\": " + JsonString(scripts[i].text) +
                "}";
        json += (i + 1 < scripts.size()) ? ",\n" : "\n";
    }
    return json + "]\n";
}

std::string RecordingScriptSink::CompareWithGolden(const char* page, const char* name) const {
    std::string path = std::string(ORVANE_GOLDENS_DIR) + "/" + page + "/" + name + ".json";
    // The goldens sit in the source tree, which the tests see through Wine's Z: drive.
    std::string windowsPath = "Z:" + path;
    for (char& c : windowsPath) {
        if (c == '/') c = '\\';
    }
    std::string actual = ToJson();
    if (getenv("ORVANE_UPDATE_GOLDENS")) {
        CreateFolderTree(tstring::FromNarrow(windowsPath.substr(0, windowsPath.find_last_of('\\')).c_str()));
        std::ofstream(windowsPath, std::ios::binary) << actual;
        return std::string();
    }
    std::ifstream file(windowsPath, std::ios::binary);
    if (!file) return "golden missing: " + path + "\nrecorded:\n" + actual;
    std::stringstream expected;
    expected << file.rdbuf();
    if (expected.str() == actual) return std::string();
    return "golden " + path + " differs\nexpected:\n" + expected.str() + "recorded:\n" + actual;
}

std::wstring JScriptParseError(const std::wstring& text) {
    ComInit com;
    std::wstring error;
    // Inside a function that is never called: parsed, not run.
    HRESULT hr = RunJScript(L"function parseOnly__() {\n" + text + L"\n}", 0, nullptr, error);
    return FAILED(hr) ? error : std::wstring();
}

bool JScriptEvaluate(const std::wstring& expression, std::wstring& result) {
    ComInit com;
    VARIANT value;
    VariantInit(&value);
    std::wstring error;
    HRESULT hr = RunJScript(expression, SCRIPTTEXT_ISEXPRESSION, &value, error);
    if (FAILED(hr)) {
        result = error;
        return false;
    }
    bool ok = SUCCEEDED(VariantChangeType(&value, &value, 0, VT_BSTR)) && value.vt == VT_BSTR;
    result = ok && value.bstrVal ? value.bstrVal : L"";
    VariantClear(&value);
    return ok;
}

std::wstring JScriptRunError(const std::wstring& text) {
    ComInit com;
    std::wstring error;
    HRESULT hr = RunJScript(text, 0, nullptr, error);
    return FAILED(hr) ? error : std::wstring();
}

std::wstring JsonLiteral(const std::wstring& text) {
    std::string utf8 = JsonString(text);
    int size = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), int(utf8.size()), nullptr, 0);
    std::wstring out(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), int(utf8.size()), &out[0], size);
    return out;
}

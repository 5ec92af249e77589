#include "app/html/MshtmlDocument.h"
#include "common/errors/ErrorBase.h"
#include "common/errors/ErrorText.h"

namespace {

// Owns a BSTR for one call.
struct Bstr {
    explicit Bstr(const wchar_t* text) : value(::SysAllocString(text ? text : L"")) {
        if (!value) throw HRError(E_OUTOFMEMORY);
    }
    ~Bstr() { ::SysFreeString(value); }
    BSTR value;
};

class MshtmlElement : public PageElement {
public:
    explicit MshtmlElement(IHTMLElement* element) : element_(element) {}

    bool SetAttribute(const wchar_t* name, const wchar_t* value) override {
        Bstr attribute(name);
        VARIANT text;
        text.vt = VT_BSTR;
        Bstr content(value);
        text.bstrVal = content.value;
        return SUCCEEDED(element_->setAttribute(attribute.value, text, 0));
    }
    bool RemoveAttribute(const wchar_t* name) override {
        Bstr attribute(name);
        VARIANT_BOOL removed = VARIANT_FALSE;
        return SUCCEEDED(element_->removeAttribute(attribute.value, 0, &removed));
    }
    std::vector<std::unique_ptr<PageElement>> Descendants() override {
        std::vector<std::unique_ptr<PageElement>> result;
        ComPtr<IDispatch> allDispatch;
        ComPtr<IHTMLElementCollection> all;
        if (FAILED(element_->get_all(allDispatch.Receive())) || !allDispatch ||
            FAILED(allDispatch.QueryInto(IID_IHTMLElementCollection, all)))
            return result;
        long length = 0;
        all->get_length(&length);
        for (long i = 0; i < length; ++i) {
            VARIANT index;
            index.vt = VT_I4;
            index.lVal = i;
            ComPtr<IDispatch> item;
            ComPtr<IHTMLElement> element;
            if (SUCCEEDED(all->item(index, index, item.Receive())) && item &&
                SUCCEEDED(item.QueryInto(IID_IHTMLElement, element)))
                result.push_back(std::make_unique<MshtmlElement>(element));
        }
        return result;
    }
    bool Focus() override {
        ComPtr<IHTMLElement2> element;
        return SUCCEEDED(element_.QueryInto(IID_IHTMLElement2, element)) && SUCCEEDED(element->focus());
    }

private:
    ComPtr<IHTMLElement> element_;
};

tstring SystemText(HRESULT hr) { return ModuleErrorText(hr); }

}  // namespace

ComPtr<IHTMLElement> MshtmlDocument::FindElement(IHTMLDocument2* document, const wchar_t* id) {
    ComPtr<IHTMLElement> element;
    ComPtr<IHTMLElementCollection> all;
    if (!document || FAILED(document->get_all(all.Receive())) || !all) return element;
    Bstr name(id);
    VARIANT key;
    key.vt = VT_BSTR;
    key.bstrVal = name.value;
    VARIANT index;
    VariantInit(&index);
    ComPtr<IDispatch> item;
    if (SUCCEEDED(all->item(key, index, item.Receive())) && item) item.QueryInto(IID_IHTMLElement, element);
    return element;
}

std::unique_ptr<PageElement> MshtmlDocument::ElementById(const wchar_t* id) {
    ComPtr<IHTMLElement> element = FindElement(document_, id);
    if (!element) return nullptr;
    return std::make_unique<MshtmlElement>(element);
}

std::unique_ptr<PageElement> MshtmlDocument::Body() {
    ComPtr<IHTMLElement> body;
    if (FAILED(document_->get_body(body.Receive())) || !body) return nullptr;
    return std::make_unique<MshtmlElement>(body);
}

void MshtmlDocument::InvokeByName(IDispatch* object, const wchar_t* method, const wchar_t* const* arguments,
                                  int count) {
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(method);
    HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_SYSTEM_DEFAULT, &id);
    if (FAILED(hr)) {
        HRError error(hr);
        error.SetMessage(tstring(L"GetIDsOfNames failed. method: ") + method + L" " + SystemText(hr));
        throw error;
    }
    // Automation takes the arguments last first.
    std::vector<VARIANT> values(count);
    std::vector<std::unique_ptr<Bstr>> texts;
    for (int i = 0; i < count; ++i) {
        texts.push_back(std::make_unique<Bstr>(arguments[i]));
        values[count - 1 - i].vt = VT_BSTR;
        values[count - 1 - i].bstrVal = texts.back()->value;
    }
    DISPPARAMS parameters = {values.data(), nullptr, static_cast<UINT>(count), 0};
    EXCEPINFO exception = {};
    VARIANT result;
    VariantInit(&result);
    hr = object->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &parameters, &result, &exception,
                        nullptr);
    VariantClear(&result);
    if (FAILED(hr)) {
        tstring text = tstring(L"Invoke failed. method: ") + method + L" " + SystemText(hr);
        if (hr == DISP_E_EXCEPTION) {
            text += L" exeption info: ";
            if (exception.bstrDescription) text += exception.bstrDescription;
        }
        ::SysFreeString(exception.bstrSource);
        ::SysFreeString(exception.bstrDescription);
        ::SysFreeString(exception.bstrHelpFile);
        HRError error(hr);
        error.SetMessage(text);
        throw error;
    }
}

void MshtmlDocument::ExecScript(const wchar_t* code, const wchar_t* language) {
    if (!code || !*code) return;
    ComPtr<IDispatch> window;
    HRESULT hr = document_->get_Script(window.Receive());
    if (FAILED(hr) || !window) throw HRError(FAILED(hr) ? hr : E_NOINTERFACE);
    RunScript(window, code, language);
}

void RunScript(IDispatch* pageWindow, const wchar_t* code, const wchar_t* language) {
    if (!code || !*code) return;
    if (!pageWindow) throw HRError(E_POINTER);
    const wchar_t* arguments[] = {code, (language && *language) ? language : L"JScript"};
    MshtmlDocument::InvokeByName(pageWindow, L"execScript", arguments, 2);
}

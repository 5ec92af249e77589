#pragma once
#include <mshtml.h>
#include "app/html/PageDocument.h"
#include "common/com/ComPtr.h"

// Runs script through a page window's "execScript" method (the document's
// Script object): "JScript" unless a language is given; empty code runs
// nothing. The engine's event callbacks use this way. Throws HRError as
// PageDocument::ExecScript describes.
void RunScript(IDispatch* pageWindow, const wchar_t* code, const wchar_t* language = nullptr);

// The page document seam over the browser's document.
class MshtmlDocument : public PageDocument {
public:
    explicit MshtmlDocument(IHTMLDocument2* document) : document_(document) {}

    std::unique_ptr<PageElement> ElementById(const wchar_t* id) override;
    std::unique_ptr<PageElement> Body() override;
    void ExecScript(const wchar_t* code, const wchar_t* language) override;

    // Calls a method of an automation object by name with BSTR arguments
    // (given in call order); errors as described for ExecScript.
    static void InvokeByName(IDispatch* object, const wchar_t* method, const wchar_t* const* arguments, int count);

    // The element with that id through document.all.item(id), or NULL.
    static ComPtr<IHTMLElement> FindElement(IHTMLDocument2* document, const wchar_t* id);

private:
    ComPtr<IHTMLDocument2> document_;
};

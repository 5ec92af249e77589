#pragma once
#include <windows.h>
#include <memory>
#include <vector>

// The little of a page's document that the page framework touches, as a seam:
// MshtmlDocument is the browser's, tests use a fake DOM.
class PageElement {
public:
    virtual ~PageElement() = default;
    virtual bool SetAttribute(const wchar_t* name, const wchar_t* value) = 0;
    virtual bool RemoveAttribute(const wchar_t* name) = 0;
    // Every element below this one (its `all` collection), in document order.
    virtual std::vector<std::unique_ptr<PageElement>> Descendants() = 0;
    virtual bool Focus() = 0;
};

class PageDocument {
public:
    virtual ~PageDocument() = default;
    // NULL when there is no element with that id.
    virtual std::unique_ptr<PageElement> ElementById(const wchar_t* id) = 0;
    virtual std::unique_ptr<PageElement> Body() = 0;
    // Runs script through the page window's "execScript" method. Throws
    // HRError: "GetIDsOfNames failed. method: execScript <system text>" or
    // "Invoke failed. method: execScript <system text>[ exeption info: <text>]".
    virtual void ExecScript(const wchar_t* code, const wchar_t* language) = 0;
};

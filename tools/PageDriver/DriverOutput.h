#pragma once
#include <windows.h>
#include <deque>
#include <memory>
#include <string>
#include "app/frame/UiServices.h"
#include "app/html/HtmlPage.h"
#include "app/pages/PrintTarget.h"

// One line on standard output, UTF-8. Line breaks inside the text show as
// "<CR>" and "<LF>" so that every event stays on one line.
void PrintLine(const std::wstring& line);
// From now on the messages the program writes to its log file at path show
// as "log: <message>" lines, each before the next printed line.
void ShowProgramLog(const std::wstring& path);
// Prints the log's messages written since the last line.
void FlushProgramLog();

// The control side of one page: prints every script it runs as
// "script <page>: <text>" (the language follows in brackets when it is not
// "JavaScript").
class PrintingHost : public PageHost {
public:
    explicit PrintingHost(std::wstring page) : page_(std::move(page)) {}
    HRESULT ExecScript(const wchar_t* code, const wchar_t* language) override;
    // Script through the page window prints as the control's does; element
    // changes print as "element <page>: <id> <attribute>=<value>".
    std::unique_ptr<PageDocument> Document() override;
    HWND ControlWindow() override { return nullptr; }
    void SetControlEnabled(bool) override {}

private:
    std::wstring page_;
};

// The system's windows as printed lines: "box", "open", "help" and the
// dialogs. Boxes answer with the queued answers, else the default answer or
// their first button;
// the folder picker and file dialogs with the queued path, else cancel; the
// print dialog with a memory context whose pages PrintingTarget prints.
class PrintingUiServices : public UiServices {
public:
    PrintingUiServices() { SetUiServices(this); }
    ~PrintingUiServices() override { SetUiServices(nullptr); }

    int ShowMessage(HWND owner, const wchar_t* text, const wchar_t* caption, UINT type) override;
    HWND ShowHtmlHelp(HWND owner, const wchar_t* file, UINT command, DWORD_PTR data) override;
    INT_PTR ShellExecuteFile(HWND owner, const wchar_t* verb, const wchar_t* file, const wchar_t* parameters,
                             const wchar_t* directory, int show) override;
    BOOL OpenFileDialog(OPENFILENAMEW* request) override { return FileAnswer(L"open", request); }
    BOOL SaveFileDialog(OPENFILENAMEW* request) override { return FileAnswer(L"save", request); }
    PIDLIST_ABSOLUTE BrowseForFolder(BROWSEINFOW* request) override;
    BOOL PrintDialog(PRINTDLGW* request) override;
    INT_PTR ShowAboutBox(HWND owner, const wchar_t* picturePath) override;

    std::deque<int> answers;
    int defaultAnswer = 0;
    std::deque<std::wstring> folders;
    std::deque<std::wstring> files;

private:
    BOOL FileAnswer(const wchar_t* kind, OPENFILENAMEW* request);
};

// A printer of A4 size at 96 dots per inch that measures on the memory
// context it gets and prints "print ..." lines: document, page, each drawn
// text with its font weight.
class PrintingTarget : public PrintTarget {
public:
    explicit PrintingTarget(HDC dc) : PrintTarget(dc) {}
    int Caps(int index) override;
    HGDIOBJ Select(HGDIOBJ object) override;
    void StartDocument(const wchar_t* name) override;
    void StartPrintedPage() override;
    void EndPrintedPage() override;
    void EndDocument() override;
    void Draw(const wchar_t* text, int length, RECT rect, UINT format) override;

    static std::unique_ptr<PrintTarget> Make(HDC dc) { return std::make_unique<PrintingTarget>(dc); }

private:
    int page_ = 0;
    LONG weight_ = 0;
};

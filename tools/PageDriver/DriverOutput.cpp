#include "DriverOutput.h"
#include <cstdio>
#include "common/tstring/tstring.h"

namespace {

// A4 at 96 dots per inch: the report's frame and line breaks come out as on
// a common printer.
const int kDotsPerInch = 96;
const int kPageWidth = 794;
const int kPageHeight = 1123;

std::wstring Hex(UINT value) { return FormatText(L"0x%08X", value); }

int FirstButton(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_YESNO:
    case MB_YESNOCANCEL: return IDYES;
    case MB_ABORTRETRYIGNORE: return IDABORT;
    case MB_RETRYCANCEL: return IDRETRY;
    default: return IDOK;
    }
}

}  // namespace

namespace {

// The program log as the driver shows it: each message written since the
// last look, as "log: <message>".
struct LogTail {
    std::wstring path;
    LONGLONG offset = 0;
    bool reading = false;
};
LogTail g_log;

void PrintText(const std::wstring& line);

void PrintNewLogLines() {
    if (g_log.path.empty() || g_log.reading) return;
    g_log.reading = true;
    HANDLE file = CreateFileW(g_log.path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    LARGE_INTEGER size = {};
    if (file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &size) && size.QuadPart > g_log.offset) {
        LARGE_INTEGER at;
        at.QuadPart = g_log.offset;
        std::wstring text(size_t(size.QuadPart - g_log.offset) / sizeof(wchar_t), L'\0');
        DWORD read = 0;
        if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
            ReadFile(file, &text[0], DWORD(text.size() * sizeof(wchar_t)), &read, nullptr)) {
            text.resize(read / sizeof(wchar_t));
            // Only whole lines: the rest is read with the next look.
            size_t end = text.rfind(L"\r\n");
            if (end != std::wstring::npos) {
                g_log.offset += LONGLONG(end + 2) * sizeof(wchar_t);
                size_t start = 0;
                for (size_t next; start < end && (next = text.find(L"\r\n", start)) != std::wstring::npos; start = next + 2) {
                    std::wstring line = text.substr(start, next - start);
                    if (!line.empty() && line[0] == 0xFEFF) line.erase(0, 1);
                    // "time TAB thread TAB 0xthread TAB "message"": the message alone.
                    size_t quote = line.find(L"\t\"");
                    if (quote != std::wstring::npos && line.size() >= quote + 3 && line.back() == L'"')
                        line = line.substr(quote + 2, line.size() - quote - 3);
                    PrintText(L"log: " + line);
                }
            }
        }
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    g_log.reading = false;
}

}  // namespace

void ShowProgramLog(const std::wstring& path) {
    g_log.path = path;
    g_log.offset = 0;
}

void PrintLine(const std::wstring& line) {
    PrintNewLogLines();
    PrintText(line);
}

void FlushProgramLog() { PrintNewLogLines(); }

namespace {

void PrintText(const std::wstring& line) {
    std::wstring shown;
    for (wchar_t c : line) {
        if (c == L'\r') shown += L"<CR>";
        else if (c == L'\n') shown += L"<LF>";
        else shown += c;
    }
    shown += L'\n';
    int size = WideCharToMultiByte(CP_UTF8, 0, shown.c_str(), int(shown.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? size : 0, '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, shown.c_str(), int(shown.size()), &bytes[0], size, nullptr, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), stdout);
    fflush(stdout);
}

}  // namespace

HRESULT PrintingHost::ExecScript(const wchar_t* code, const wchar_t* language) {
    std::wstring line = L"script " + page_;
    if (language && wcscmp(language, L"JavaScript") != 0) line += std::wstring(L" [") + language + L"]";
    PrintLine(line + L": " + (code ? code : L""));
    return S_OK;
}

namespace {

class PrintingElement : public PageElement {
public:
    PrintingElement(std::wstring page, std::wstring id) : page_(std::move(page)), id_(std::move(id)) {}
    bool SetAttribute(const wchar_t* name, const wchar_t* value) override {
        PrintLine(L"element " + page_ + L": " + id_ + L" " + name + L"=" + value);
        return true;
    }
    bool RemoveAttribute(const wchar_t* name) override {
        PrintLine(L"element " + page_ + L": " + id_ + L" " + name + L" removed");
        return true;
    }
    std::vector<std::unique_ptr<PageElement>> Descendants() override { return {}; }
    bool Focus() override { return true; }

private:
    std::wstring page_, id_;
};

class PrintingDocument : public PageDocument {
public:
    explicit PrintingDocument(PrintingHost& host, std::wstring page) : host_(host), page_(std::move(page)) {}
    std::unique_ptr<PageElement> ElementById(const wchar_t* id) override {
        return std::make_unique<PrintingElement>(page_, id ? id : L"");
    }
    std::unique_ptr<PageElement> Body() override { return std::make_unique<PrintingElement>(page_, L"body"); }
    void ExecScript(const wchar_t* code, const wchar_t* language) override { host_.ExecScript(code, language); }

private:
    PrintingHost& host_;
    std::wstring page_;
};

}  // namespace

std::unique_ptr<PageDocument> PrintingHost::Document() { return std::make_unique<PrintingDocument>(*this, page_); }

INT_PTR PrintingUiServices::ShowAboutBox(HWND, const wchar_t* picturePath) {
    PrintLine(std::wstring(L"about: ") + (picturePath ? picturePath : L""));
    return IDOK;
}

int PrintingUiServices::ShowMessage(HWND, const wchar_t* text, const wchar_t* caption, UINT type) {
    int answer = defaultAnswer ? defaultAnswer : FirstButton(type);
    if (!answers.empty()) {
        answer = answers.front();
        answers.pop_front();
    }
    PrintLine(L"box " + Hex(type) + L" \"" + (caption ? caption : L"") + L"\" -> " + std::to_wstring(answer) + L": " +
              (text ? text : L""));
    return answer;
}

HWND PrintingUiServices::ShowHtmlHelp(HWND, const wchar_t* file, UINT command, DWORD_PTR data) {
    PrintLine(L"help " + std::to_wstring(command) + L" " + std::to_wstring(data) + L": " + (file ? file : L""));
    return nullptr;
}

INT_PTR PrintingUiServices::ShellExecuteFile(HWND, const wchar_t* verb, const wchar_t* file, const wchar_t* parameters,
                                             const wchar_t*, int) {
    std::wstring line = L"open " + std::wstring(verb ? verb : L"") + L": " + (file ? file : L"");
    if (parameters && *parameters) line += std::wstring(L" ") + parameters;
    PrintLine(line);
    return 42;
}

BOOL PrintingUiServices::FileAnswer(const wchar_t* kind, OPENFILENAMEW* request) {
    std::wstring path;
    if (!files.empty()) {
        path = files.front();
        files.pop_front();
    }
    PrintLine(std::wstring(L"dialog ") + kind + L": " + (path.empty() ? L"(cancel)" : path));
    if (path.empty() || !request->lpstrFile || path.size() >= request->nMaxFile) return FALSE;
    wcscpy(request->lpstrFile, path.c_str());
    return TRUE;
}

PIDLIST_ABSOLUTE PrintingUiServices::BrowseForFolder(BROWSEINFOW*) {
    std::wstring path;
    if (!folders.empty()) {
        path = folders.front();
        folders.pop_front();
    }
    PrintLine(L"dialog folder: " + (path.empty() ? std::wstring(L"(cancel)") : path));
    return path.empty() ? nullptr : ILCreateFromPathW(path.c_str());
}

BOOL PrintingUiServices::PrintDialog(PRINTDLGW* request) {
    PrintLine(L"dialog print");
    request->hDC = CreateCompatibleDC(nullptr);
    return request->hDC != nullptr;
}

int PrintingTarget::Caps(int index) {
    switch (index) {
    case LOGPIXELSX:
    case LOGPIXELSY: return kDotsPerInch;
    case HORZRES: return kPageWidth;
    case VERTRES: return kPageHeight;
    default: return PrintTarget::Caps(index);
    }
}

HGDIOBJ PrintingTarget::Select(HGDIOBJ object) {
    LOGFONTW font = {};
    if (GetObjectW(object, sizeof(font), &font)) weight_ = font.lfWeight;
    return PrintTarget::Select(object);
}

void PrintingTarget::StartDocument(const wchar_t* name) { PrintLine(std::wstring(L"print document: ") + name); }

void PrintingTarget::StartPrintedPage() { PrintLine(L"print page " + std::to_wstring(++page_)); }

void PrintingTarget::EndPrintedPage() {}

void PrintingTarget::EndDocument() { PrintLine(L"print end"); }

void PrintingTarget::Draw(const wchar_t* text, int length, RECT rect, UINT format) {
    PrintLine(FormatText(L"print %d,%d %ld %s: ", int(rect.left), int(rect.top), long(weight_), Hex(format).c_str()) +
              std::wstring(text, length));
}

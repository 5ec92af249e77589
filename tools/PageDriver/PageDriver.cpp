// Feeds the main program's page objects events from a text file and prints
// what they do: every script text, message box, opened address, dialog and
// printed page (DriverOutput.h). No window, browser or printer is needed.
//
//   PageDriver [/engine <OrvaneEngine.dll>] [/browser] [/loadpump] <events file>
//
// With /loadpump every page the view shows pumps messages for a while before
// it counts as loaded, as the program's HTML view does while the browser
// loads the page: clicks queued before (see "click") are handled then. Every
// page show holds the operation lock while it is free, as the view's does.
// With /browser the browser's module is loaded, as the program's control
// loads it: the view then defers the handlers it defers with a browser of
// version 7 or later (they act on a posted copy of the event).
// The engine is created by its class (registered with regsvr32), or straight
// from the named DLL. The file holds one event a line, fields separated by
// TABs: page, event name, element, parameter. Pages: start, undo, settings,
// ignore (the settings page's ignore list), results, and view: the main view
// with the pages it owns, as the control hands them events (the page shown
// first, then the view); it connects its engine as the program does, by its
// registered class, prints "show <page>#<query>" for each page it shows and
// that page's script as "script view: ...". A missing parameter
// field sends no parameter; "i4:<n>" and "bool:true|false" send a number or
// a boolean; anything else is sent as text. Lines beginning with "#" are
// comments. Other first fields steer the driver:
//   wait <page> <event> <milliseconds>  pump messages until that page has
//                                       received the posted event
//   sleep <milliseconds>                pump messages for a while
//   answer <id>                         the next message box's answer
//   answers <id>                        the answer of every box after
//                                       the queued ones (0: the first button)
//   pump                                handle the messages posted so far
//   scanned <milliseconds>              pump messages until the view's
//                                       scan has ended
//   folder <path> / file <path>         the next folder picker's / file
//                                       dialog's choice
//   click <page> <event> [element] [param]  a user's click in the page: sent
//                                       as from page script once messages
//                                       are handled (by the next pump, a
//                                       page's load included)
//   job <n>                             a scheduled job of kind n (1 backup,
//                                       2 compaction, 3 scan and fix) handed
//                                       to the view as the frame's timer
//                                       does: once the operation lock can be
//                                       taken (within a minute), with it
// The program log's messages show as "log: <message>" lines.
#include <windows.h>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>
#include "DriverOutput.h"
#include "app/html/BrowserVersion.h"
#include "app/html/HtmlView.h"
#include "app/html/VariantText.h"
#include "app/mainview/MainView.h"
#include "app/mainview/ScanStartPage.h"
#include "app/AppUtilities.h"
#include "app/OperationLock.h"
#include "app/pages/MaintenancePages.h"
#include "app/pages/ReportPrinter.h"
#include "app/pages/ScanResultsPage.h"
#include "app/pages/SettingsPage.h"
#include "app/pages/UndoPage.h"
#include "common/com/ComPtr.h"
#include "common/log/Log.h"
#include "engine/engine.h"

namespace {

const UINT kPostedEvent = WM_APP + 0x42;

// Stands for the page's document in events that come from page script.
class StandInDocument : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = (iid == IID_IUnknown || iid == IID_IDispatch) ? this : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }
};

struct Bstr {
    explicit Bstr(const std::wstring& text) : value(SysAllocStringLen(text.data(), UINT(text.size()))) {}
    ~Bstr() { SysFreeString(value); }
    BSTR value;
};

void MakeParam(const std::vector<std::wstring>& fields, VARIANT& param);

// One page object with the host and the window its workers post to.
struct DrivenPage {
    DrivenPage(std::wstring name, HtmlPage* page)
        : name(name), page(page), host(name), events(&DrivenPage::Receive, this) {}

    static void Receive(void* context, BSTR eventName, VARIANT* param) {
        auto* self = static_cast<DrivenPage*>(context);
        std::wstring event = eventName ? eventName : L"";
        PrintLine(L"posted " + self->name + L": " + event + L" " + std::wstring(ParamText(param)));
        Bstr element(L"");
        self->page->OnHTMLEvent(nullptr, eventName, element.value, param);
        self->received.push_back(event);
    }

    std::wstring name;
    HtmlPage* page;
    PrintingHost host;
    PostedEventWindow events;
    std::vector<std::wstring> received;
};

// The main view with the program's pages, all shown into one printing host.
class DrivenView : public MainView {
public:
    DrivenView() : host_(L"view"), events_(&DrivenView::Receive, this) {}
    // How long a page show pumps messages before the page counts as loaded.
    void SetLoadPump(DWORD milliseconds) { loadPump_ = milliseconds; }
    bool Start(UINT message) {
        events_.SetEventMessage(message);
        return events_.Create();
    }
    int Send(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) {
        return DispatchHtmlEvent(current_, this, document, eventName, element, param);
    }
    std::vector<std::wstring> received;

protected:
    bool DisplayPage(HtmlPage* page, const wchar_t* query) override {
        // Held for the load when it is free, as the program's view holds it:
        // a job or an Apply handled while the page loads meets it.
        OperationScope lock;
        if (current_ && current_ != page) current_->Hide();
        page->AttachControl(nullptr, events_.EventMessage(), events_.Handle(), &host_);
        current_ = page;
        PrintLine(L"show " + std::wstring(page->PageName()) + L"#" + query);
        if (loadPump_) {
            WaitPumping(loadPump_);
            PrintLine(L"loaded " + std::wstring(page->PageName()));
        }
        if (current_ == page) page->OnShown();
        return true;
    }

private:
    // As the program's view: to the page that posted the event, shown or not.
    static void Receive(void* context, HtmlEventHandler* target, BSTR eventName, VARIANT* param) {
        auto* self = static_cast<DrivenView*>(context);
        std::wstring event = eventName ? eventName : L"";
        PrintLine(L"posted view: " + event + L" " + std::wstring(ParamText(param)));
        Bstr element(L"");
        HtmlEventHandler* page = target ? target : self->current_;
        if (DispatchHtmlEvent(page, self, nullptr, eventName, element.value, param) == 1)
            PrintLine(L"unhandled view: " + event);
        self->received.push_back(event);
    }

    PrintingHost host_;
    PostedEventWindow events_;
    HtmlPage* current_ = nullptr;
    DWORD loadPump_ = 0;
};

// Clicks queued for the view, handed over one a message as the user's clicks
// reach page script: in whatever pump runs next.
class ClickQueue {
public:
    using Pages = std::map<std::wstring, std::unique_ptr<DrivenPage>>;
    ClickQueue(DrivenView& view, Pages& pages, IDispatch* document) : view_(view), pages_(pages), document_(document) {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = &ClickQueue::Proc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"PageDriverClicks";
        RegisterClassW(&windowClass);
        window_ = CreateWindowW(L"PageDriverClicks", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        if (window_) SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~ClickQueue() {
        if (window_) DestroyWindow(window_);
    }
    bool Queue(const std::vector<std::wstring>& fields) {
        if (!window_) return false;
        clicks_.push_back(fields);
        return PostMessageW(window_, WM_APP, 0, 0) != FALSE;
    }

private:
    static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<ClickQueue*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message != WM_APP || !self || self->clicks_.empty()) return DefWindowProcW(window, message, wParam, lParam);
        std::vector<std::wstring> f = self->clicks_.front();
        self->clicks_.pop_front();
        PrintLine(L"click " + f[1] + L": " + f[2]);
        Bstr name(f[2]), element(f.size() > 3 ? f[3] : L"");
        VARIANT param;
        VariantInit(&param);
        std::vector<std::wstring> shifted(f.begin() + 1, f.end());
        MakeParam(shifted, param);
        auto page = self->pages_.find(f[1]);
        int result = page != self->pages_.end()
                         ? page->second->page->OnHTMLEvent(self->document_, name.value, element.value, &param)
                         : self->view_.Send(self->document_, name.value, element.value, &param);
        if (result == 1) PrintLine(L"unhandled " + f[1] + L": " + f[2]);
        VariantClear(&param);
        return 0;
    }

    DrivenView& view_;
    Pages& pages_;
    IDispatch* document_;
    HWND window_ = nullptr;
    std::deque<std::vector<std::wstring>> clicks_;
};

// As the frame's timer hands it over; failures show in the program log.
void RunJob(DrivenView& view, int operation) {
    PrintLine(FormatText(L"job %d", operation));
    RunQueuedOperation(view, operation);
    PrintLine(FormatText(L"job %d ended", operation));
}

std::vector<std::wstring> SplitTabs(const std::wstring& line) {
    std::vector<std::wstring> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find(L'\t', start)) != std::wstring::npos; start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
    fields.push_back(line.substr(start));
    return fields;
}

void MakeParam(const std::vector<std::wstring>& fields, VARIANT& param) {
    VariantInit(&param);
    if (fields.size() < 4) return;
    const std::wstring& text = fields[3];
    if (text.compare(0, 3, L"i4:") == 0) {
        param.vt = VT_I4;
        param.lVal = _wtol(text.c_str() + 3);
    } else if (text == L"bool:true" || text == L"bool:false") {
        param.vt = VT_BOOL;
        param.boolVal = text == L"bool:true" ? VARIANT_TRUE : VARIANT_FALSE;
    } else {
        param.vt = VT_BSTR;
        param.bstrVal = SysAllocStringLen(text.data(), UINT(text.size()));
    }
}

// Pumps messages until `done` says so or the time is up.
template <class Done>
bool PumpUntil(DWORD milliseconds, Done done) {
    DWORD start = GetTickCount();
    while (!done()) {
        DWORD spent = GetTickCount() - start;
        if (spent >= milliseconds) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - spent, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return true;
}

ComPtr<ICrawler> CreateEngine(const wchar_t* dll) {
    ComPtr<ICrawler> engine;
    if (!dll) {
        HRESULT hr = CoCreateInstance(CLSID_CCrawler, nullptr, CLSCTX_INPROC_SERVER, IID_ICrawler, engine.ReceiveVoid());
        if (FAILED(hr)) PrintLine(FormatText(L"error: the engine class: 0x%08lX", static_cast<unsigned long>(hr)));
        return engine;
    }
    // Kept loaded for the whole run: the engine's objects live in it.
    HMODULE module = LoadLibraryW(dll);
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    auto get = module ? reinterpret_cast<GetClassObject>(GetProcAddress(module, "DllGetClassObject")) : nullptr;
    ComPtr<IClassFactory> factory;
    if (get && SUCCEEDED(get(CLSID_CCrawler, IID_IClassFactory, factory.ReceiveVoid())))
        factory->CreateInstance(nullptr, IID_ICrawler, engine.ReceiveVoid());
    return engine;
}

std::vector<std::wstring> ReadLines(const wchar_t* path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    std::string text = bytes.str();
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    std::vector<std::wstring> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        int size = MultiByteToWideChar(CP_UTF8, 0, line.c_str(), int(line.size()), nullptr, 0);
        std::wstring wide(size > 0 ? size : 0, L'\0');
        if (size > 0) MultiByteToWideChar(CP_UTF8, 0, line.c_str(), int(line.size()), &wide[0], size);
        lines.push_back(wide);
    }
    return lines;
}

int Drive(const std::vector<std::wstring>& lines, ICrawler* engine, DWORD loadPump) {
    PrintingUiServices ui;
    SetPrintTargetMaker(&PrintingTarget::Make);
    ScanStartPage start;
    UndoPage undo;
    SettingsPage settings, ignore;
    ScanResultsPage results;
    ignore.SetIgnoreMode(true);
    undo.SetEngine(engine);
    settings.SetEngine(engine);
    ignore.SetEngine(engine);
    results.SetEngine(engine);
    ComPtr<ICrawler> mailSource(engine);
    start.SetSupportMail([mailSource]() {
        BSTR mail = nullptr;
        return mailSource && SUCCEEDED(mailSource->get_ReportMail(&mail)) ? std::wstring(TakeBstr(mail)) : std::wstring();
    });

    std::map<std::wstring, std::unique_ptr<DrivenPage>> pages;
    HtmlPage* objects[] = {&start, &undo, &settings, &ignore, &results};
    const wchar_t* names[] = {L"start", L"undo", L"settings", L"ignore", L"results"};
    for (int i = 0; i < 5; ++i) {
        auto driven = std::make_unique<DrivenPage>(names[i], objects[i]);
        driven->events.SetEventMessage(kPostedEvent);
        if (!driven->events.Create()) {
            PrintLine(L"error: no window for posted events");
            return 2;
        }
        objects[i]->AttachControl(nullptr, kPostedEvent, driven->events.Handle(), &driven->host);
        pages[names[i]] = std::move(driven);
    }

    // The view's pages are the program's; they take over what an older
    // version left as the program does when its view is created.
    MaintenancePages viewPages;
    SetPageNavigator(&viewPages);
    viewPages.ViewCreated();
    DrivenView view;
    view.SetLoadPump(loadPump);
    if (!view.Start(kPostedEvent)) {
        PrintLine(L"error: no window for posted events");
        SetPageNavigator(nullptr);
        return 2;
    }

    StandInDocument document;
    ClickQueue clicks(view, pages, &document);
    int failures = 0;
    for (size_t n = 0; n < lines.size(); ++n) {
        std::vector<std::wstring> f = SplitTabs(lines[n]);
        if (f[0].empty() || f[0][0] == L'#') continue;
        auto page = pages.find(f[0]);
        if (f[0] == L"view" && f.size() >= 2) {
            PrintLine(L"event view: " + f[1]);
            Bstr name(f[1]), element(f.size() > 2 ? f[2] : L"");
            VARIANT param;
            MakeParam(f, param);
            if (view.Send(&document, name.value, element.value, &param) == 1) PrintLine(L"unhandled view: " + f[1]);
            VariantClear(&param);
        } else if (f[0] == L"wait" && f.size() >= 4 && f[1] == L"view") {
            size_t seen = view.received.size();
            std::wstring event = f[2];
            if (!PumpUntil(DWORD(_wtol(f[3].c_str())), [&] {
                    return std::find(view.received.begin() + seen, view.received.end(), event) != view.received.end();
                })) {
                PrintLine(L"timeout view: " + event);
                ++failures;
            }
        } else if (page != pages.end() && f.size() >= 2) {
            PrintLine(L"event " + f[0] + L": " + f[1]);
            Bstr name(f[1]), element(f.size() > 2 ? f[2] : L"");
            VARIANT param;
            MakeParam(f, param);
            if (page->second->page->OnHTMLEvent(&document, name.value, element.value, &param) == 1)
                PrintLine(L"unhandled " + f[0] + L": " + f[1]);
            VariantClear(&param);
        } else if (f[0] == L"wait" && f.size() >= 4 && pages.count(f[1])) {
            DrivenPage& target = *pages[f[1]];
            size_t seen = target.received.size();
            std::wstring event = f[2];
            bool arrived = PumpUntil(DWORD(_wtol(f[3].c_str())), [&] {
                for (size_t i = seen; i < target.received.size(); ++i)
                    if (target.received[i] == event) return true;
                return false;
            });
            if (!arrived) {
                PrintLine(L"timeout " + f[1] + L": " + event);
                ++failures;
            }
        } else if (f[0] == L"sleep" && f.size() >= 2) {
            PumpUntil(DWORD(_wtol(f[1].c_str())), [] { return false; });
        } else if (f[0] == L"answers" && f.size() >= 2) {
            ui.defaultAnswer = _wtoi(f[1].c_str());
        } else if (f[0] == L"pump") {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        } else if (f[0] == L"scanned" && f.size() >= 2) {
            if (!PumpUntil(DWORD(_wtol(f[1].c_str())), [&] { return !view.IsScanRunning(); })) {
                PrintLine(L"timeout view: scan");
                ++failures;
            }
        } else if (f[0] == L"click" && f.size() >= 3 && (f[1] == L"view" || pages.count(f[1]))) {
            if (!clicks.Queue(f)) {
                PrintLine(L"error: the click could not be queued");
                ++failures;
            }
        } else if (f[0] == L"job" && f.size() >= 2) {
            if (PumpUntil(60000, [] { return TryBeginOperation(); })) {
                RunJob(view, _wtoi(f[1].c_str()));
            } else {
                PrintLine(L"timeout job: the operation lock");
                ++failures;
            }
        } else if (f[0] == L"answer" && f.size() >= 2) {
            ui.answers.push_back(_wtoi(f[1].c_str()));
        } else if (f[0] == L"folder" && f.size() >= 2) {
            ui.folders.push_back(f[1]);
        } else if (f[0] == L"file" && f.size() >= 2) {
            ui.files.push_back(f[1]);
        } else {
            PrintLine(L"error: line " + std::to_wstring(n + 1) + L" not understood: " + lines[n]);
            ++failures;
        }
    }
    // A check still running must not post to a window that is going away.
    start.Updates().Cancel();
    view.StartPage().Updates().Cancel();
    SetPageNavigator(nullptr);
    SetPrintTargetMaker(nullptr);
    return failures ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const wchar_t* dll = nullptr;
    const wchar_t* events = nullptr;
    bool browser = false;
    DWORD loadPump = 0;
    for (int i = 1; i < argc; ++i) {
        if ((wcscmp(argv[i], L"/engine") == 0 || wcscmp(argv[i], L"-engine") == 0) && i + 1 < argc)
            dll = argv[++i];
        else if (wcscmp(argv[i], L"/browser") == 0)
            browser = true;
        else if (wcscmp(argv[i], L"/loadpump") == 0)
            loadPump = 400;
        else
            events = argv[i];
    }
    // Kept loaded for the whole run, as the control keeps it.
    if (browser && (!LoadLibraryW(L"ieframe.dll") || !GetIEVersion().AtLeast(7, 0))) {
        fputs("the browser module is missing or older than version 7\n", stderr);
        return 2;
    }
    if (!events) {
        fputs("usage: PageDriver [/engine <OrvaneEngine.dll>] [/browser] [/loadpump] <events file>\n", stderr);
        return 2;
    }
    std::vector<std::wstring> lines = ReadLines(events);
    if (lines.empty()) {
        fputs("no events\n", stderr);
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // Every message of the program's log, shown inline.
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    std::wstring log = FormatText(L"%sPageDriver-%lu.log", folder, GetCurrentProcessId());
    DeleteFileW(log.c_str());
    Log::Instance().SetFileName(log);
    Log::Instance().SetLevel(LogAll);
    ShowProgramLog(log);
    int result;
    {
        ComPtr<ICrawler> engine = CreateEngine(dll);
        if (!engine) PrintLine(L"error: no engine; pages that need one do nothing");
        result = Drive(lines, engine.Get(), loadPump);
    }
    FlushProgramLog();
    Log::Instance().SetFileName(std::wstring());
    DeleteFileW(log.c_str());
    CoUninitialize();
    return result;
}

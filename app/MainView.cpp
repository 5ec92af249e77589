#include "app/MainView.h"
#include <htmlhelp.h>
#include "app/AppUtilities.h"
#include "app/MainViewRunnerHost.h"
#include "app/PageNavigator.h"
#include "app/UiServices.h"
#include "common/errors/ErrorBase.h"
#include "common/log/Log.h"
#include "common/system/WebAddress.h"

MainView::MainView() : html_(this) {}

MainView::~MainView() = default;

HWND MainView::CreateClient(HWND frame) {
    return Create(frame, nullptr, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
}

LRESULT MainView::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: {
        const DWORD childStyle = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
        if (!splitter_.Create(Handle(), nullptr, nullptr, childStyle)) return -1;
        if (!html_.Create(splitter_, nullptr, nullptr, childStyle)) return -1;
        splitter_.SetPanes(html_, nullptr);
        splitter_.ShowSinglePane(true);
        if (html_.ShowPage(&startPage_, startQuery_.c_str())) {
            try {
                startPage_.ExecScript(tstring(L"autofixbox.checked = ") + (autoFixBox_ ? L"true;" : L"false;"));
            } catch (const ErrorBase& e) {
                Log::Instance().Print(LogError, L"[error] Start page: %s", e.Message().c_str());
            }
        }
        return 0;
    }
    case WM_SIZE:
        splitter_.Move(RECT{0, 0, LOWORD(lParam), HIWORD(lParam)});
        return 0;
    case WM_DESTROY:
        GetUiServices().ShowHtmlHelp(GetMainWindow(), HelpFilePath().c_str(), HH_CLOSE_ALL, 0);
        return DefaultProc(message, wParam, lParam);
    default:
        return DefaultProc(message, wParam, lParam);
    }
}

int MainView::OnHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) {
    if (!document && !eventName && !element) return 1;
    if (IsEvent(eventName, L"GoWWW")) return OnGoWww(param);
    if (IsEvent(eventName, L"OutBarItemClicked")) return OnOutBarItem(param);
    return 1;
}

int MainView::AskToSaveChanges() {
    PageNavigator* pages = GetPageNavigator();
    return pages ? pages->AskToLeave(html_.CurrentPage(), nullptr) : IDOK;
}

int MainView::OnOutBarItem(VARIANT* param) {
    const wchar_t* item = (param && param->vt == VT_BSTR && param->bstrVal) ? param->bstrVal : L"";
    PageNavigator* pages = GetPageNavigator();
    if (!pages) return 0;
    if (wcscmp(item, L"Help") != 0 && pages->AskToLeave(html_.CurrentPage(), item) == IDCANCEL) return 0;
    HtmlPage* current = html_.CurrentPage();
    if (current) current->EnableControl(false);
    pages->ShowItem(html_, item);
    if (html_.CurrentPage()) html_.CurrentPage()->EnableControl(true);
    return 0;
}

int MainView::OnGoWww(VARIANT* param) {
    if (!param || param->vt != VT_BSTR || !param->bstrVal || !*param->bstrVal) return 0;
    OpenWebAddress(param->bstrVal);
    return 0;
}

bool MainView::RunScheduledJob(int operation) {
    MainViewRunnerHost host(*this);
    ScheduledRunner(host).Run(operation);
    return true;
}

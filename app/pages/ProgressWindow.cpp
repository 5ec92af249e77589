#include "app/pages/ProgressWindow.h"
#include <shlwapi.h>
#include "app/html/ScriptText.h"
#include "common/errors/ErrorBase.h"
#include "hives/HiveList.h"

namespace {

const wchar_t kCompletionEvent[] = L"QUARN_REG_BKP_EVENT_jkszdfhlasukdfhl";

int CountSubkeys(HKEY root, std::initializer_list<const wchar_t*> excluded) {
    int count = 0;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(root, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        bool skip = false;
        for (const wchar_t* e : excluded)
            skip = skip || wcsncmp(name, e, wcslen(e)) == 0;
        count += skip ? 0 : 1;
    }
    return count;
}

bool PostText(HtmlPage& page, const wchar_t* eventName, const tstring& text) {
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(text.c_str());
    bool posted = page.PostEvent(eventName, &value);
    VariantClear(&value);
    return posted;
}

}  // namespace

int ProgressPage::HiveCount() {
    HiveList profiles;
    try {
        profiles.Refresh(false);
    } catch (const ErrorBase&) {
    }
    return CountSubkeys(HKEY_LOCAL_MACHINE, {L"HARDWARE"}) +
           CountSubkeys(HKEY_USERS, {L"S-1-5-18", HiveList::kUserSidPrefix}) + 2 * int(profiles.size());
}

int ProgressPage::OnHTMLEvent(IDispatch*, BSTR eventName, BSTR, VARIANT* param) {
    tstring text = param ? tstring::FromVariant(*param) : tstring();
    try {
        if (IsEvent(eventName, L"Progress")) {
            int percent = step_ * 100 / total_;
            ++step_;
            ExecScript(FormatText(L"SetPercent(%d,'%s');", percent, EscapeScriptString(text).c_str()));
        } else if (IsEvent(eventName, L"OkClick")) {
            if (completion_)
                SetEvent(completion_);
        } else if (IsEvent(eventName, L"Done")) {
            ExecScript(L"OnDone('" + EscapeScriptString(PathFindFileNameW(text.c_str())) + L"');");
        } else {
            return 1;
        }
    } catch (const ErrorBase&) {
        // A page that cannot show progress does not stop the backup.
    }
    return 0;
}

ProgressWindow::ProgressWindow()
    : page_(ProgressPage::HiveCount()), view_(nullptr), completion_(CreateEventW(nullptr, FALSE, FALSE, kCompletionEvent)) {
    page_.SetCompletionEvent(completion_);
}

ProgressWindow::~ProgressWindow() {
    if (Handle())
        DestroyWindow(Handle());
    if (completion_) {
        ResetEvent(completion_);
        CloseHandle(completion_);
    }
}

void ProgressWindow::CreateFor(HWND parent) {
    if (Handle())
        return;
    RECT rect = {0, 0, 400, 125};
    if (!Create(parent, &rect, nullptr, WS_POPUP))
        return;
    RECT owner = {};
    if (parent && GetWindowRect(parent, &owner))
        SetWindowPos(Handle(), nullptr, (owner.left + owner.right - 400) / 2, (owner.top + owner.bottom - 125) / 2, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(Handle(), SW_SHOW);
}

bool ProgressWindow::PostDone(const tstring& path) {
    return PostText(page_, L"Done", path);
}

bool ProgressWindow::WaitForConfirmation(bool failed, const tstring& path) {
    HWND window = Handle();
    if (!window || !::IsWindow(window))
        return false;
    bool posted = failed ? page_.PostEvent(L"OkClick", nullptr) : PostDone(path);
    if (!posted)
        return false;
    // The user may take any time to confirm; a window that goes away meanwhile
    // can confirm nothing more.
    while (WaitForSingleObject(completion_, kConfirmationPoll) == WAIT_TIMEOUT)
        if (!::IsWindow(window))
            return false;
    return true;
}

int ProgressWindow::AddEntry(int level, const tstring&, const tstring& name) {
    if (level == 3)
        PostText(page_, L"Progress", name);
    return 0;
}

LRESULT ProgressWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: {
        LRESULT result = DefaultProc(message, wParam, lParam);
        RECT client = {};
        GetClientRect(Handle(), &client);
        // Without the control the window still holds the worker and lets it go.
        try {
            view_.Create(Handle(), &client, nullptr, WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
        } catch (...) {
        }
        return result;
    }
    case WM_SHOWWINDOW:
        if (!shown_ && wParam) {
            shown_ = true;
            if (view_.Handle())
                view_.ShowPage(&page_, L"");
        }
        return DefaultProc(message, wParam, lParam);
    case WM_CLOSE:
    case WM_SYSCOMMAND:
        return 0;
    default:
        return DefaultProc(message, wParam, lParam);
    }
}

#pragma once
#include <windows.h>
#include "app/html/HtmlPage.h"
#include "app/html/HtmlView.h"
#include "common/system/HandleHolder.h"
#include "common/ui/WindowImpl.h"
#include "hives/RLog.h"

// The page "progress.htm" of the progress window: a percentage of
// 2 x hives + 10 steps, the step running, and the finished file.
class ProgressPage : public HtmlPage {
public:
    // The hives a full backup will save (the walk's machine and users-root
    // hives and two per profile).
    static int HiveCount();

    explicit ProgressPage(int hives) : total_(2 * hives + 10) {}
    const wchar_t* PageName() const override { return L"progress.htm"; }
    DWORD HelpContextId() const override { return 5; }
    int OnHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) override;

    void SetCompletionEvent(HANDLE event) { completion_ = event; }
    int Total() const { return total_; }

private:
    int total_;
    int step_ = 1;
    HANDLE completion_ = nullptr;
};

// The small pop-up window that shows a new backup's progress and holds the
// backup worker until the user confirmed the result. The user can neither
// close nor move it.
class ProgressWindow : public WindowImpl, public RLog {
public:
    ProgressWindow();
    ~ProgressWindow() override;

    // Creates the window (400 x 125, a pop-up of parent), centres it on the
    // parent and shows it; nothing when it exists already.
    void CreateFor(HWND parent);

    ProgressPage& Page() { return page_; }
    HANDLE CompletionEvent() const { return completion_; }
    // Posts "Done" with the backup file's path.
    bool PostDone(const tstring& path);
    // From the worker: posts "OkClick" after a failure or "Done" with the
    // file, then waits for the confirmation that comes back, as long as the
    // window lives. False when nothing was posted or the window went away.
    bool WaitForConfirmation(bool failed, const tstring& path);

    // RLog: kind 3 becomes a "Progress" event of the page.
    int AddEntry(int level, const tstring& text, const tstring& name) override;
    void MarkDone(int) override {}

protected:
    // The layer's class defaults are this window's: CS_DBLCLKS, the window
    // colour, the arrow cursor, no icon.
    const TCHAR* ClassName() const override { return TEXT("QNOV_PROGRESS_WND"); }
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    static const DWORD kConfirmationPoll = 250;
    ProgressPage page_;
    HtmlView view_;
    bool shown_ = false;
    HANDLE completion_;
};

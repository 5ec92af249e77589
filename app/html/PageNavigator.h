#pragma once
#include <windows.h>
#include "app/OperationLock.h"

class HtmlPage;
class RLog;
struct ICrawler;

// Where the side bar's pages are shown: the main view, which remembers the
// page it shows.
class PageDisplay {
public:
    // False when the page could not be shown.
    virtual bool ShowPage(HtmlPage* page, const wchar_t* query) = 0;

protected:
    ~PageDisplay() = default;
};

// The scan's pages after the start page, and the page a scheduled run shows.
enum class ScanPageKind { SelectUnions, Progress, Results, Fixing, Background };

// The pages that live above the core (app/pages), as the main view reaches
// them: before another page is shown or the window closes, the current page
// may ask to save its changes; a side-bar item may be one of theirs.
class PageNavigator {
public:
    // item: the side-bar item about to be shown, or NULL when the window
    // closes. IDCANCEL keeps the current page; anything else lets it go.
    virtual int AskToLeave(HtmlPage* current, const wchar_t* item) = 0;
    // Shows the item's page; false when the item is not theirs.
    virtual bool ShowItem(PageDisplay& display, const wchar_t* item) = 0;
    // Whether the item's page works on the engine, which the view then
    // connects first when it has none.
    virtual bool NeedsEngine(const wchar_t* item) { return false; }
    // Once, when the main view's window exists: before any visit and before
    // a scheduled run, which both rely on what the pages set up.
    virtual void ViewCreated() {}
    // The scan page object of that kind, NULL when there is none. A results
    // page gets the engine it lists.
    virtual HtmlPage* ScanPage(ScanPageKind kind, ICrawler* engine) { return nullptr; }
    // The categories last chosen on the selection page.
    virtual long SelectedUnions() { return 0; }
    // The engine the pages work on; NULL when it went away.
    virtual void SetEngine(ICrawler* engine) {}
    // The view decided to fix: the fix counts as running (nothing leaves its
    // page) from now until StartFix, or until the view gives it up (false).
    virtual void ReserveFix(bool reserve) {}
    // A fix decided on, running, or its end not yet shown.
    virtual bool FixBusy() { return false; }
    // Starts fixing every record but the excluded FixIDs (" N N"), with the
    // operation lock the view took for it: the fix gives it back. Pages
    // without a fix start none, and give the lock back at once.
    virtual void StartFix(ICrawler* engine, const wchar_t* excluded) { EndOperation(); }
    // The progress window of a backup made before fixing, opened when absent
    // (over owner); NULL when there is none.
    virtual RLog* OpenBackupProgress(HWND owner) { return nullptr; }
    virtual void CloseBackupProgress() {}

protected:
    ~PageNavigator() = default;
};

// NULL (the default) leaves the main view with its own pages only. The object
// stays the caller's.
void SetPageNavigator(PageNavigator* navigator);
PageNavigator* GetPageNavigator();

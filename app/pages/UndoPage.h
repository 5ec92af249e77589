#pragma once
#include <windows.h>
#include <set>
#include <vector>
#include "app/html/HtmlPage.h"
#include "common/com/ComPtr.h"
#include "common/tstring/tstring.h"
#include "engine/engine.h"

// "undo.htm": the fix sessions the engine keeps as undo files, newest
// selected first; the fixes of the chosen session by category; undoing the
// checked ones and deleting a whole session.
class UndoPage : public HtmlPage {
public:
    const wchar_t* PageName() const override { return L"undo.htm"; }
    DWORD HelpContextId() const override { return 4; }
    int OnHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) override;

    // Takes the engine without touching the page (NULL detaches).
    void SetEngine(ICrawler* engine) { engine_ = engine; }
    // Takes the engine (NULL detaches) and lists the sessions again.
    void Refresh(ICrawler* engine);
    int SelectedSession() const { return selected_; }
    const std::vector<tstring>& Titles() const { return titles_; }

private:
    void ListSessions();
    // In red where the fixes are listed; the page stays usable.
    void ShowError(const tstring& message);
    void ShowSession(long index);
    void LoadSession(long index);
    void UndoFixes(const tstring& unchecked);
    void DeleteSession();
    void Script(const tstring& code);

    ComPtr<ICrawler> engine_;
    std::vector<tstring> titles_;
    int selected_ = -1;
};

// The unchecked row numbers of " 2 5": each preceded by one space.
std::set<long> ParseExcluded(const tstring& text);
// The fix row N of the undo list, as script-literal HTML.
tstring UndoRow(long n, const tstring& problem, const tstring& item, const tstring& detail, const tstring& value);

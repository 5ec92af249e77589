#pragma once
#include <windows.h>
#include "app/html/HtmlPage.h"
#include "common/tstring/tstring.h"
#include "hives/HiveAnalyzer.h"

// The page "orvaneCompact.htm": measures how much the hives would shrink and
// requests a compaction of all hives or of the current user's. Before
// Windows 6 a request goes into the shared request list, which the
// compaction library carries out at shutdown; on Windows 6 "compact all"
// toggles the RunOnce value that runs the library at the next start.
class CompactPage : public HtmlPage, public AnalysisSink {
public:
    const wchar_t* PageName() const override { return L"orvaneCompact.htm"; }
    DWORD HelpContextId() const override { return 6; }
    int OnHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) override;

    // Asks whether to apply changed boxes before the page is left: 7 (No)
    // when nothing changed, else the button of the question (2 = Cancel
    // stops the caller).
    int AskSaveChanges(HWND owner);

    // The analysis rows, run as page script with the names escaped.
    void OnOriginalSize(const tstring& name, int64_t size) override;
    void OnCompactedSize(const tstring& name, int64_t size, double percent) override;

    bool Changed() const { return changed_; }
    const tstring& SavedReport() const { return savedReport_; }

private:
    void OnCompactAll(const VARIANT* param);
    void OnCompactCurrent(const VARIANT* param);
    void OnAnalyze();
    void OnPageLoaded();
    void OnRestart();

    bool changed_ = false;
    // The last analysis as the page sent it back; shown again on the next load.
    tstring savedReport_;
};

// The RunOnce request of Windows 6: HKLM "...\RunOnce" in the 64-bit view,
// "QUARN OrvaneCompact" = "rundll32.exe OrvaneCompact.dll,OnRunOnce".
// ToggleRunOnceRequest writes it when absent and removes it when present.
void ToggleRunOnceRequest();
bool HasRunOnceRequest();

#pragma once
#include <windows.h>
#include "app/html/HtmlPage.h"
#include "app/records/GroupTable.h"
#include "common/com/ComPtr.h"
#include "engine/engine.h"

// The page "scanResults.htm": one checkable row per fixable finding, grouped
// by category, with ignore, registry-editor, web information and report
// requests. The list lives only in the page.
class ScanResultsPage : public HtmlPage {
public:
    const wchar_t* PageName() const override { return L"scanResults.htm"; }
    DWORD HelpContextId() const override { return 9; }
    int OnHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) override;

    void SetEngine(ICrawler* engine) { engine_ = engine; }

    // The HTML of one row (script-literal text) appended to its group.
    static void AddRow(GroupTable& table, long fixId, const tstring& item, const tstring& value, long errorId,
                       long unionBit);
    // The information page address of a finding; empty when it cannot be built.
    static tstring WebInfoAddress(const tstring& item, const tstring& value, long errorId, long unionBit);
    // Opens a record's information page; undo and ignore records carry no
    // category, so it comes from the kind.
    static void OpenRecordWebInfo(IqnRegRecord* record);

private:
    void InitResult();
    // The rows of every record with a FixID, the menu and the counters.
    void BuildList(GroupTable& table);
    void SkipItem(long fixId);
    void OpenLink(long fixId);
    void WebInfo(long fixId);
    void ErrorWebInfo(const tstring& text);
    void CopyReport(const tstring& running);
    void SaveReport(const tstring& running);
    void IgnoreSelected();

    ComPtr<ICrawler> engine_;
};

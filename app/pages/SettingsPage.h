#pragma once
#include <windows.h>
#include <vector>
#include "app/html/HtmlPage.h"
#include "common/com/ComPtr.h"
#include "common/tstring/tstring.h"
#include "engine/engine.h"

// "configuration.htm" in its two modes: the scan drive options, undo and
// backup folders and backup switches, or the user's ignore list. Edits stay
// here until "apply"; the engine holds the stored values and the list.
class SettingsPage : public HtmlPage {
public:
    const wchar_t* PageName() const override { return L"configuration.htm"; }
    DWORD HelpContextId() const override { return ignoreMode_ ? 10 : 8; }
    int OnHTMLEvent(IDispatch* document, BSTR eventName, BSTR element, VARIANT* param) override;

    // Set by the navigation before it shows the page.
    void SetIgnoreMode(bool ignoreMode) { ignoreMode_ = ignoreMode; }
    bool IgnoreMode() const { return ignoreMode_; }
    // NULL detaches (the engine went away): nothing more reaches it.
    void SetEngine(ICrawler* engine) { engine_ = engine; }
    bool IsModified() const { return modified_; }
    void SetModified(bool modified);
    // Before the window closes or another page shows: No (7) at once when
    // nothing is pending. Yes applies; when the apply is cancelled (the
    // undo-files question) or fails the answer becomes Cancel, edits kept.
    int AskSaveChanges(HWND owner);

    // The pending values, as the page shows them.
    const tstring& PendingUndoFolder() const { return undoFolder_; }
    const tstring& PendingBackupFolder() const { return backupFolder_; }
    long PendingSkipMask() const { return skipMask_; }
    bool Marked(long index) const { return index >= 1 && size_t(index) <= marks_.size() && marks_[index - 1]; }

    // Skip mask bits of this page; the default mask skips both.
    static const long kSkipNetwork = 2;
    static const long kSkipRemovable = 4;
    static const long kDefaultSkipMask = 6;

private:
    void Render();
    void RenderIgnoreList();
    void RenderSettings();
    // False when the user cancelled or the engine refused a value.
    bool Apply();
    // The settings the user changed, each put and then taken as shown: one
    // left alone may have been changed by another process since.
    void PutChangedSettings();
    // The marked removals (or the dismissal) and the save, when there are any.
    void ApplyIgnoreList();
    void ClearPending();
    void Reset();
    void BrowseForFolder(const tstring& id);
    void DeleteSelected(const tstring& numbers);
    void DeleteAll();
    void TransferIgnoreList(bool import);
    // Before a handler that needs the stored list: false when the user cancels.
    bool SettleChanges();
    void Script(const tstring& code);
    void Pump();

    ComPtr<ICrawler> engine_;
    bool ignoreMode_ = false;
    bool modified_ = false;
    tstring backupFolder_;
    tstring undoFolder_;
    long skipMask_ = kDefaultSkipMask;
    std::vector<bool> marks_;
    bool dismissAll_ = false;
    long retention_ = 1;
    long autoBackup_ = 0;
    // The settings as the engine gave them when the page showed them.
    struct Shown {
        tstring backupFolder;
        tstring undoFolder;
        long skipMask = kDefaultSkipMask;
        long retention = 1;
        long autoBackup = 0;
    } shown_;
};

// The folder for the engine: variables expanded, one trailing backslash.
tstring FullFolderPath(const tstring& folder);
// The same folder, whatever the case and trailing backslashes.
bool SameFolder(const tstring& a, const tstring& b);

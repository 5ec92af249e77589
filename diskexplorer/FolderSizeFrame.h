#pragma once
#include <windows.h>
#include <commctrl.h>
#include <atomic>
#include <memory>
#include "common/system/HandleHolder.h"
#include "common/ui/CommandBar.h"
#include "common/ui/Dialog.h"
#include "common/ui/MessageLoop.h"
#include "common/ui/SplitterWindow.h"
#include "common/ui/WindowImpl.h"
#include "diskexplorer/DriveList.h"
#include "diskexplorer/ExplorerPanel.h"
#include "diskexplorer/FolderHistory.h"
#include "diskexplorer/FolderList.h"
#include "diskexplorer/MftScanner.h"

// The registered activation message ("QUARN_Drossel_Activate_...").
extern const UINT g_activateMessage;

// The explorer's one top-level window: command bar, drive toolbar,
// navigation, address bar, side panel, folder list and status bar. It scans
// a volume on one worker thread and shows the folder-size model once the
// worker has ended; nothing on the UI thread reads the model while a worker
// runs. Its code lies in four files: this one's (creation, commands, keys),
// FolderSizeFrameScan.cpp, FolderSizeFrameNavigation.cpp and
// FolderSizeFrameBars.cpp.
class FolderSizeFrame : public WindowImpl, private MessageFilter, private IdleHandler, private ScanListener {
public:
    FolderSizeFrame();
    ~FolderSizeFrame() override;

    HWND CreateFrame(MessageLoop* loop);

    // "\\.\C:": scans that volume (stopping a running scan first).
    void StartScan(const tstring& devicePath);
    // Waits until a running worker has ended (its cancel flag set meanwhile).
    // Only painting and sent messages are served meanwhile; input is dropped,
    // and a request to close ends the process (EndProcessNow).
    void StopScan();
    void ShowFolder(int64_t record);
    void OpenInShell(int64_t record);
    int64_t EnterFolder(int item);

    // For tests and the panes: the state the window shows.
    bool IsScanning() const;
    const MftScanner* Model() const { return IsScanning() ? nullptr : model_; }
    uint32_t CurrentFolder() const { return current_; }
    const FolderHistory& History() const { return history_; }
    FolderList& List() { return list_; }
    ExplorerPanel& Panel() { return panel_; }
    HWND AddressCombo() const { return combo_; }
    HWND NavigationBar() const { return toolbar_; }
    // Menu 128, shown through the command bar (the window itself has no menu).
    HMENU Menu() const { return menu_; }
    CommandBar& Commands() { return commandBar_; }
    HWND StatusBar() const { return status_; }
    HWND DriveBar() const { return driveBar_; }
    const tstring& DriveText() const { return driveText_; }
    bool DetailsView() const { return details_; }
    int SortKey() const { return sortKey_; }
    tstring LastBalloon() const { return lastBalloon_; }
    // The k-th entry (1 = newest) of the Back or Forward drop-down.
    void ChooseHistory(bool forward, size_t k);

protected:
    const TCHAR* ClassName() const override { return L"QUARN_Drossel_Frame"; }
    void ModifyClass(WNDCLASSEX& windowClass) const override;
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    // A close asked for while a worker runs or is waited for: the window and
    // the model must outlive the worker, which only reads and may be stuck in
    // one read of a failing disk, so the process ends here without further ado.
    virtual void EndProcessNow();

private:
    bool PreTranslateMessage(MSG& message) override;
    bool OnIdle() override;
    bool OnScanProgress(int32_t percent) override;
    bool StopRequested() override { return cancel_; }

    static unsigned __stdcall ScanThreadProc(void* block);
    void RunScan(const wchar_t* devicePath, uint32_t number);
    void DrainWhileStopping(MSG& quit);
    bool IsCloseRequest(const MSG& message) const;

    LRESULT OnCreate();
    void CreateBars();
    void CreateDriveBar();
    HIMAGELIST LoadToolbarImages(UINT strip);
    void AddBand(HWND child, UINT style, int minWidth, int height, int extra, const wchar_t* title = nullptr);
    void OnMenuSelect(WORD item, WORD flags, HMENU menu);
    void OnCommand(WORD id);
    LRESULT OnNotify(NMHDR* header);
    void OnScanDone(WPARAM record, LPARAM open);
    void OnScanFailed(WPARAM code, LPARAM number);
    void OnDriveCommand(int index);
    void OnSort(int key);
    void OnView(bool details);
    void OnUp();
    void OnBack(bool forward, size_t steps);
    void OnAddressEnter();
    void OnItemActivate(int item);
    void OnSelectionInfo(int64_t record);
    void OnContextMenu(LPARAM position);
    void ShowDropDown(int button);
    void RefillAddressList();
    void SetStatus(const tstring& text);
    void EnableCommand(UINT id, bool enable);
    void CheckCommand(UINT id, bool check);
    bool IsShownFolder(int64_t record) const;
    tstring FolderPath(int64_t record) const;
    static int CALLBACK CompareItems(LPARAM a, LPARAM b, LPARAM self);

    MessageLoop* loop_ = nullptr;
    MftScanner* model_ = nullptr;
    int32_t cookie_ = 0;
    std::atomic<bool> cancel_{false};
    // Set by the worker just before it posts its end: a message of a worker
    // that has since been replaced finds it cleared.
    std::atomic<bool> finished_{false};
    // While StopScan waits: no scan starts and no scan's end is shown.
    bool stopping_ = false;
    // Counts the scans started: a failure posted by an earlier one is stale.
    uint32_t scanNumber_ = 0;
    HandleHolder worker_;
    tstring driveText_;
    tstring pendingPath_;
    uint32_t current_ = MftScanner::kRootRecord;
    FolderHistory history_;
    bool details_ = false;
    bool detailsWidthsSet_ = false;
    int sortKey_ = 0;
    DriveList drives_;
    tstring readyText_;
    // What pane 0 shows outside menus (a menu's help replaces it meanwhile).
    tstring statusText_;
    tstring lastBalloon_;

    HACCEL accelerators_ = nullptr;
    HMENU menu_ = nullptr;
    CommandBar commandBar_;
    HWND rebar_ = nullptr;
    HWND toolbar_ = nullptr;
    HWND driveBar_ = nullptr;
    HIMAGELIST toolbarImages_ = nullptr;
    HIMAGELIST toolbarHotImages_ = nullptr;
    HIMAGELIST driveImages_ = nullptr;
    Dialog addressBar_;
    HWND combo_ = nullptr;
    HWND status_ = nullptr;
    std::atomic<HWND> progress_{nullptr};
    SplitterWindow splitter_;
    ExplorerPanel panel_;
    FolderList list_;
};

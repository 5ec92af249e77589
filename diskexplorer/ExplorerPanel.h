#pragma once
#include "diskexplorer/CollapsiblePanel.h"
#include "diskexplorer/PaneDialog.h"
#include "diskexplorer/SuiteLink.h"

// A pane whose clicks go to the frame (its top-level window): the sort pane's
// radio buttons as commands, a link pane's link ID (a folder record) as the
// link message.
class FramePane : public PaneDialog {
public:
    void SetLinkText(const tstring& text) { Item(1007).SetText(text.c_str()); }

protected:
    bool OnCommand(WORD id, WORD code, HWND control) override;
    LRESULT OnNotify(int id, NMHDR* header, bool& handled) override;
};

// The explorer's side panel: sort pane, drive pane, folder pane and suite link.
class ExplorerPanel : public CollapsiblePanel {
public:
    enum Pane { SortPane = 0, DrivePane = 1, FolderPane = 2, SuitePane = 3 };

    ~ExplorerPanel() override;

    FramePane& Sort() { return sortPane_; }
    FramePane& Drive() { return drivePane_; }
    FramePane& Folder() { return folderPane_; }
    // The drive pane's header image: a share icon of `shares`, or image 0 for -1.
    void SetDriveImage(HIMAGELIST shares, int image);

protected:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void CreatePanes();

    FramePane sortPane_;
    FramePane drivePane_;
    FramePane folderPane_;
    SuiteLinkPane suitePane_;
    HIMAGELIST images_ = nullptr;
    HIMAGELIST banner_ = nullptr;
    HIMAGELIST shares_ = nullptr;
    int driveImage_ = -1;
};

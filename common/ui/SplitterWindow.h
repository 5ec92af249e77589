#pragma once
#include "common/ui/WindowImpl.h"

// A child window split into a left and a right pane by a vertical bar the
// user can drag. The panes are any child windows of the splitter; the
// splitter keeps them filling its client area on every resize. Their
// notifications (WM_NOTIFY, WM_COMMAND, WM_DRAWITEM) go on to the splitter's parent.
class SplitterWindow : public WindowImpl {
public:
    static const int kBarWidth = 4;
    static const int kMinPane = 0;

    void SetPanes(HWND left, HWND right);
    HWND LeftPane() const { return left_; }
    HWND RightPane() const { return right_; }

    // The bar's left edge in client pixels; kept inside the client area.
    void SetPosition(int position);
    int Position() const { return position_; }

    // Only the left pane shown over the whole area (the bar and the right pane
    // hidden), or both.
    void ShowSinglePane(bool single);

protected:
    const TCHAR* ClassName() const override { return TEXT("OrvaneSplitter"); }
    void ModifyClass(WNDCLASSEX& windowClass) const override;
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void Layout();
    int Clamp(int position) const;

    HWND left_ = nullptr;
    HWND right_ = nullptr;
    int position_ = 100;
    bool single_ = false;
    bool dragging_ = false;
};

#pragma once
#include <windows.h>
#include <commctrl.h>
#include <cstdint>
#include <vector>
#include "common/ui/WindowImpl.h"

// A vertically scrolling stack of child dialogs (panes), each under a header
// band with a title, an optional image and an expand/collapse button. A click
// on a header folds its pane away or opens it with a short animation; the
// parent gets WM_COMMAND with code 1 before and code 2 after.
class CollapsiblePanel : public WindowImpl {
public:
    enum PanelStyle : uint16_t {
        NoAnimation = 0x01,
        FlatHeaders = 0x02,
        OwnerDrawHeaders = 0x10,
        NoButton = 0x20,
        ButtonOnly = 0x40,
        HighlightFocused = 0x100,
    };
    enum Notification : WORD { PaneChanging = 1, PaneChanged = 2 };
    // Sent to the panel itself for panes whose image is -2: wParam the pane,
    // lParam an OwnerImage to fill; non-zero when filled.
    static const UINT kGetOwnerImage = WM_USER + 14;
    struct OwnerImage {
        HIMAGELIST list;
        int index;
        int width;
        int offset;
        int headerHeight;
        int imageHeight;
    };
    static const UINT_PTR kAnimationTimer = 22;
    static const UINT kAnimationStep = 50;
    static const DWORD kAnimationTime = 200;

    ~CollapsiblePanel() override;

    // Returns the new pane's index, or -1 when the title cannot be kept.
    int AddPane(HWND pane, const wchar_t* title, int image, int ownerValue);
    bool ExpandPane(int index, bool expand, bool animate);
    bool IsExpanded(int index) const;
    bool IsCollapsible(int index) const;
    void SetCollapsible(int index, bool collapsible);
    // The panel owns and destroys the icons.
    void SetButtonIcons(HICON expand, HICON collapse);
    // The 32 × 32 list of pane images; owned by the caller.
    void SetImageList(HIMAGELIST list);
    void SetPanelStyle(uint16_t style) { style_ = style; }
    uint16_t PanelStyle() const { return style_; }

    int PaneCount() const { return static_cast<int>(items_.size()); }
    HWND Pane(int index) const { return items_[index].window; }
    int PaneHeight(int index) const { return items_[index].current; }
    int FocusedPane() const { return focused_; }
    RECT HeaderRect(int index);
    RECT PaneRect(int index);
    bool IsAnimating() const;

protected:
    const TCHAR* ClassName() const override { return L"WTL_CollapsiblePanel"; }
    void ModifyClass(WNDCLASSEX& windowClass) const override;
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    struct Item {
        HWND window;
        int image;
        bool collapsible;
        bool expanded;
        std::wstring title;
        int ownerValue;
        COLORREF fill;
        COLORREF edge;
        int width;
        int fullHeight;
        DWORD animationEnd;
        int current;
    };

    void OnCreate();
    void Measure();
    int HeaderHeight(int index);
    int ContentBottom();
    void MovePanes();
    void UpdateScrollBar();
    void OnTimer();
    void OnClick(POINT point);
    void OnVScroll(int request);
    void Paint(HDC dc);
    void PaintHeader(HDC dc, int index, const RECT& rect);
    void Notify(WORD code);

    std::vector<Item> items_;
    int focused_ = -1;
    HFONT titleFont_ = nullptr;
    uint16_t style_ = 0;
    int headerHeight_ = 22;
    int imageHeaderHeight_ = 37;
    HIMAGELIST images_ = nullptr;
    HICON expandIcon_ = nullptr;
    HICON collapseIcon_ = nullptr;
    int scroll_ = 0;
};

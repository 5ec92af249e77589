#include <windows.h>
#include <vector>
#include "doctest/doctest.h"
#include "common/ui/WindowImpl.h"
#include "diskexplorer/CollapsiblePanel.h"
#include "diskexplorer/ExplorerResources.h"
#include "diskexplorer/PaneDialog.h"
#include "tests/diskexplorer/frame/FrameHarness.h"

namespace {
// Keeps the panel's notification codes.
struct Host : WindowImpl {
    std::vector<WORD> codes;
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_COMMAND && lParam)
            codes.push_back(HIWORD(wParam));
        return DefaultProc(message, wParam, lParam);
    }
    const TCHAR* ClassName() const override { return L"DrosselPanelHost"; }
};

struct PanelSetup {
    Host host;
    CollapsiblePanel panel;
    PaneDialog panes[3];
    PanelSetup() {
        RECT frame{0, 0, 300, 600};
        host.Create(nullptr, &frame, L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE);
        RECT inside{0, 0, 240, 500};
        panel.Create(host, &inside, L"", WS_CHILD | WS_VISIBLE | WS_VSCROLL, 0, 77);
        for (auto& pane : panes) {
            pane.Create(panel, IDD_LINK_PANE);
            panel.AddPane(pane, L"Pane", -1, -1);
        }
    }
    void ClickHeader(int index) {
        RECT header = panel.HeaderRect(index);
        panel.Send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(header.left + 20, (header.top + header.bottom) / 2));
    }
    int ScrollMax() {
        SCROLLINFO info{sizeof info, SIF_RANGE};
        GetScrollInfo(panel, SB_VERT, &info);
        return info.nMax;
    }
};
}  // namespace

TEST_CASE("side panel: a header click folds its pane in halving steps; the panes below follow") {
    PanelSetup s;
    int full = s.panel.PaneHeight(0);
    REQUIRE(full > 20);
    int below = s.panel.PaneRect(1).top;
    int range = s.ScrollMax();
    s.ClickHeader(0);
    CHECK(s.host.codes == std::vector<WORD>{1});
    CHECK(s.panel.PaneHeight(0) == full / 2);  // one step at once
    s.panel.Send(WM_TIMER, CollapsiblePanel::kAnimationTimer);
    CHECK(s.panel.PaneHeight(0) == full / 2 / 2);
    CHECK(s.panel.PaneRect(1).top == below - (full - full / 4));
    Sleep(CollapsiblePanel::kAnimationTime + 20);
    s.panel.Send(WM_TIMER, CollapsiblePanel::kAnimationTimer);
    CHECK(s.panel.PaneHeight(0) == 0);
    CHECK_FALSE(IsWindowVisible(s.panel.Pane(0)));
    CHECK(s.host.codes == std::vector<WORD>{1, 2});
    CHECK(s.panel.PaneRect(1).top == below - full);
    CHECK(s.ScrollMax() == range - full);
    CHECK_FALSE(s.panel.IsExpanded(0));

    SUBCASE("opening again, without animation") {
        s.panel.SetPanelStyle(CollapsiblePanel::NoAnimation);
        s.ClickHeader(0);
        CHECK(s.panel.PaneHeight(0) == full);
        CHECK(s.host.codes == std::vector<WORD>{1, 2, 1, 2});
        CHECK(s.ScrollMax() == range);
    }
    SUBCASE("a pane that cannot be collapsed ignores clicks") {
        s.panel.SetCollapsible(2, false);
        s.ClickHeader(2);
        CHECK(s.panel.IsExpanded(2));
        CHECK(s.host.codes.size() == 2);
        CHECK_FALSE(s.panel.ExpandPane(7, false, false));
    }
}

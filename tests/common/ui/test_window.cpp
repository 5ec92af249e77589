#include <doctest/doctest.h>
#include <stdexcept>
#include <vector>
#include "common/ui/CallbackError.h"
#include "common/ui/SplitterWindow.h"
#include "common/ui/WindowImpl.h"

namespace {

std::vector<tstring> reported;
void RecordReport(const TCHAR* where, const TCHAR* message) { reported.push_back(tstring(where) + TEXT("|") + message); }

class ProbeWindow : public WindowImpl {
public:
    bool failCreate = false;
    bool throwOnUser = false;
    int created = 0, finals = 0, users = 0;

protected:
    const TCHAR* ClassName() const override { return TEXT("OrvaneTestProbe"); }
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        switch (message) {
        case WM_CREATE:
            if (failCreate) throw std::runtime_error("create failed");
            ++created;
            return 0;
        case WM_USER:
            ++users;
            if (throwOnUser) throw std::runtime_error("boom");
            return 7;
        default:
            return DefaultProc(message, wParam, lParam);
        }
    }
    void OnFinalMessage(HWND) override { ++finals; }
};

// Counts the edit control's WM_SETTEXT on its way to the control's own procedure.
class EditSpy : public WindowImpl {
public:
    int texts = 0;

protected:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_SETTEXT) ++texts;
        return DefaultProc(message, wParam, lParam);
    }
};

}  // namespace

TEST_CASE("a window routes its messages to its object and no exception leaves the procedure") {
    SetCallbackErrorReporter(RecordReport);
    reported.clear();

    ProbeWindow probe;
    HWND window = probe.Create(nullptr, nullptr, TEXT("probe"), WS_OVERLAPPEDWINDOW);
    REQUIRE(window != nullptr);
    CHECK(probe.Handle() == window);
    CHECK(WindowImpl::FromHandle(window) == &probe);
    CHECK(probe.created == 1);
    CHECK(probe.Send(WM_USER) == 7);
    CHECK(probe.Text() == TEXT("probe"));

    probe.throwOnUser = true;
    CHECK(probe.Send(WM_USER) == 0);
    REQUIRE(reported.size() == 1);
    CHECK(reported[0] == TEXT("window procedure|boom"));

    CHECK(probe.Destroy());
    CHECK(probe.finals == 1);
    CHECK(probe.Handle() == nullptr);
    CHECK(WindowImpl::FromHandle(window) == nullptr);

    // A failing WM_CREATE fails the creation; the object is left without a window.
    ProbeWindow failing;
    failing.failCreate = true;
    CHECK(failing.Create(nullptr, nullptr, TEXT("x"), WS_OVERLAPPEDWINDOW) == nullptr);
    CHECK(failing.Handle() == nullptr);
    CHECK(failing.finals == 1);
    CHECK(reported.size() == 2);
    SetCallbackErrorReporter(nullptr);
}

TEST_CASE("a subclassed control keeps its own behaviour and is given back") {
    HWND edit = ::CreateWindowEx(0, TEXT("EDIT"), TEXT(""), WS_POPUP, 0, 0, 100, 20, nullptr, nullptr, nullptr, nullptr);
    REQUIRE(edit != nullptr);
    {
        EditSpy spy;
        REQUIRE(spy.Subclass(edit));
        CHECK_FALSE(EditSpy().Subclass(edit));  // one object per window
        Window(edit).SetText(TEXT("abc"));
        CHECK(spy.texts == 1);
        CHECK(Window(edit).Text() == TEXT("abc"));
    }
    // The spy's end gave the control its procedure back: the window lives on.
    CHECK(::IsWindow(edit));
    CHECK(WindowImpl::FromHandle(edit) == nullptr);
    Window(edit).SetText(TEXT("def"));
    CHECK(Window(edit).Text() == TEXT("def"));
    ::DestroyWindow(edit);
}

TEST_CASE("the splitter lays its panes out around the bar and keeps the wanted position") {
    ProbeWindow parent;
    RECT frame = {0, 0, 600, 400};
    REQUIRE(parent.Create(nullptr, &frame, TEXT("parent"), WS_OVERLAPPEDWINDOW));
    SplitterWindow splitter;
    RECT area = {0, 0, 400, 300};
    REQUIRE(splitter.Create(parent, &area, nullptr, WS_CHILD | WS_VISIBLE));
    HWND left = ::CreateWindowEx(0, TEXT("STATIC"), TEXT(""), WS_CHILD, 0, 0, 1, 1, splitter, nullptr, nullptr, nullptr);
    HWND right = ::CreateWindowEx(0, TEXT("STATIC"), TEXT(""), WS_CHILD, 0, 0, 1, 1, splitter, nullptr, nullptr, nullptr);
    splitter.SetPanes(left, right);
    splitter.SetPosition(120);

    auto paneRect = [&](HWND pane) {
        RECT r = Window(pane).WindowRect();
        ::MapWindowPoints(nullptr, splitter, reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    CHECK(paneRect(left).right == 120);
    CHECK(paneRect(right).left == 120 + SplitterWindow::kBarWidth);
    CHECK(paneRect(right).right == 400);

    // Shrunk below the bar, the bar stays inside; grown again, it comes back.
    splitter.SetPos(nullptr, 0, 0, 100, 300, SWP_NOZORDER);
    CHECK(paneRect(left).right == 100 - SplitterWindow::kBarWidth);
    splitter.SetPos(nullptr, 0, 0, 400, 300, SWP_NOZORDER);
    CHECK(paneRect(left).right == 120);

    splitter.ShowSinglePane(true);
    CHECK(paneRect(left).right == 400);
    CHECK_FALSE(::IsWindowVisible(right));
}

#include <doctest/doctest.h>
#include <exdisp.h>
#include "common/ui/AxHostWindow.h"

namespace {

struct ComScope {
    ComScope() { ::OleInitialize(nullptr); }
    ~ComScope() { ::OleUninitialize(); }
};

}  // namespace

TEST_CASE("the ActiveX host window activates a control in place and closes it with the window") {
    ComScope com;
    REQUIRE(AxHostWindow::RegisterClass());

    // A window of the class made with plain CreateWindowEx takes its control from its text.
    HWND plain = ::CreateWindowEx(0, TEXT("AtlAxWin71"), TEXT("Shell.Explorer.2"), WS_POPUP, 0, 0, 300, 200,
                                  nullptr, nullptr, nullptr, nullptr);
    REQUIRE(plain != nullptr);
    auto* host = static_cast<AxHostWindow*>(WindowImpl::FromHandle(plain));
    REQUIRE(host != nullptr);
    ComPtr<IWebBrowser2> browser;
    CHECK(host->QueryControl(IID_IWebBrowser2, browser) == S_OK);
    browser.Release();
    ::DestroyWindow(plain);  // frees its own object

    // An unknown ProgID fails the creation of such a window.
    CHECK(::CreateWindowEx(0, TEXT("AtlAxWin71"), TEXT("No.Such.Control"), WS_POPUP, 0, 0, 10, 10, nullptr,
                           nullptr, nullptr, nullptr) == nullptr);

    AxHostWindow owned;
    RECT rect = {0, 0, 300, 200};
    REQUIRE(owned.Create(nullptr, &rect, nullptr, WS_POPUP));
    CHECK(FAILED(owned.CreateControl(TEXT("No.Such.Control"))));
    CHECK_FALSE(owned.HasControl());
    REQUIRE(owned.CreateControl(TEXT("{8856F961-340A-11D0-A96B-00C04FD705A2}")) == S_OK);
    CHECK(owned.QueryControl(IID_IWebBrowser2, browser) == S_OK);
    owned.Destroy();
    CHECK_FALSE(owned.HasControl());
}

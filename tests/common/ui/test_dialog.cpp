#include <doctest/doctest.h>
#include <stdexcept>
#include "TestDialogIds.h"
#include "common/ui/CallbackError.h"
#include "common/ui/Dialog.h"

namespace {

void Quiet(const TCHAR*, const TCHAR*) {}

// Fills its edit box, then presses OK through a posted command.
class FillDialog : public Dialog {
public:
    bool throwInInit = false;
    tstring seen;
    int notifies = 0;

protected:
    bool OnInitDialog() override {
        if (throwInInit) throw std::runtime_error("no");
        Item(IDC_TEST_EDIT).SetText(TEXT("typed"));
        Post(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return true;
    }
    bool OnCommand(WORD id, WORD code, HWND control) override {
        if (id != IDOK) return Dialog::OnCommand(id, code, control);
        seen = Item(IDC_TEST_EDIT).Text();
        NMHDR header = {Item(IDC_TEST_EDIT), IDC_TEST_EDIT, 12345};
        Send(WM_NOTIFY, IDC_TEST_EDIT, reinterpret_cast<LPARAM>(&header));
        End(42);
        return true;
    }
    LRESULT OnNotify(int id, NMHDR* header, bool& handled) override {
        if (id == IDC_TEST_EDIT && header->code == 12345) ++notifies;
        return 0;
    }
};

}  // namespace

TEST_CASE("a modal dialog routes init, commands and notifications to its object") {
    FillDialog dialog;
    CHECK(dialog.DoModal(nullptr, IDD_TEST, ::GetModuleHandle(nullptr)) == 42);
    CHECK(dialog.seen == TEXT("typed"));
    CHECK(dialog.notifies == 1);
    CHECK(dialog.Handle() == nullptr);

    // Run again with the same object: it is free once the dialog has ended.
    CHECK(dialog.DoModal(nullptr, IDD_TEST, ::GetModuleHandle(nullptr)) == 42);
}

TEST_CASE("a dialog whose initialisation throws ends with -1") {
    SetCallbackErrorReporter(Quiet);
    FillDialog dialog;
    dialog.throwInInit = true;
    CHECK(dialog.DoModal(nullptr, IDD_TEST, ::GetModuleHandle(nullptr)) == -1);
    SetCallbackErrorReporter(nullptr);
}

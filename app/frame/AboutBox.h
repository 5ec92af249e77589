#pragma once
#include "common/tstring/tstring.h"
#include "common/ui/Dialog.h"

// The About box: the splash picture over an OK button, modal. A picture that
// cannot be read leaves the button alone in the box.
class AboutBox : public Dialog {
public:
    explicit AboutBox(const tstring& picturePath) : picturePath_(picturePath) {}
    ~AboutBox() override;
    // What the dialog ended with (IDOK, IDCANCEL), or -1.
    INT_PTR Run(HWND owner);

    static const int kPictureId = 100;

protected:
    bool OnInitDialog() override;

private:
    tstring picturePath_;
    HBITMAP bitmap_ = nullptr;
};

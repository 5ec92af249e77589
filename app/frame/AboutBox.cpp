#include "app/frame/AboutBox.h"
#include <vector>
#include "app/frame/Picture.h"

namespace {

const DWORD kStyle = DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU;
const wchar_t kTitle[] = L"About QUARN Orvane";
const int kButtonWidth = 80, kButtonHeight = 24, kMargin = 8;

// An empty dialog template in memory (the controls come in OnInitDialog):
// the header, no menu, the default class, the title.
std::vector<WORD> EmptyTemplate() {
    std::vector<WORD> words(sizeof(DLGTEMPLATE) / sizeof(WORD), 0);
    auto* header = reinterpret_cast<DLGTEMPLATE*>(words.data());
    header->style = kStyle;
    header->cx = 160;
    header->cy = 100;
    words.push_back(0);
    words.push_back(0);
    for (const wchar_t* c = kTitle; *c; ++c) words.push_back(WORD(*c));
    words.push_back(0);
    return words;
}

}  // namespace

AboutBox::~AboutBox() {
    if (bitmap_) DeleteObject(bitmap_);
}

INT_PTR AboutBox::Run(HWND owner) {
    std::vector<WORD> words = EmptyTemplate();
    return DoModal(owner, reinterpret_cast<const DLGTEMPLATE*>(words.data()), GetModuleHandleW(nullptr));
}

bool AboutBox::OnInitDialog() {
    bitmap_ = LoadBitmapFromFile(picturePath_.c_str());
    BITMAP size = {};
    if (!bitmap_ || !GetObjectW(bitmap_, sizeof(size), &size)) size.bmWidth = size.bmHeight = 0;
    int width = size.bmWidth > kButtonWidth + 2 * kMargin ? size.bmWidth : 240;
    HINSTANCE module = GetModuleHandleW(nullptr);
    if (bitmap_) {
        HWND picture = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_BITMAP, 0, 0, size.bmWidth,
                                       size.bmHeight, Handle(), reinterpret_cast<HMENU>(INT_PTR(kPictureId)), module,
                                       nullptr);
        SendMessageW(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap_));
    }
    HWND ok = CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                              width - kButtonWidth - kMargin, size.bmHeight + kMargin, kButtonWidth, kButtonHeight,
                              Handle(), reinterpret_cast<HMENU>(INT_PTR(IDOK)), module, nullptr);
    SendMessageW(ok, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), FALSE);
    // The client area fits the picture and the button row; then centred
    // again, since the template's size was only a placeholder.
    RECT frame = {0, 0, width, size.bmHeight + kButtonHeight + 2 * kMargin};
    AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
    int frameWidth = frame.right - frame.left, frameHeight = frame.bottom - frame.top;
    RECT area = {};
    HWND owner = GetParent(Handle());
    if (!owner || !GetWindowRect(owner, &area)) SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    SetWindowPos(Handle(), nullptr, (area.left + area.right - frameWidth) / 2, (area.top + area.bottom - frameHeight) / 2,
                 frameWidth, frameHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetFocus(ok);
    return false;
}

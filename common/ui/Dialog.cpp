#include "common/ui/Dialog.h"
#include "common/ui/CallbackError.h"

namespace {

const TCHAR kDialogProperty[] = TEXT("OrvaneDialog");

HINSTANCE TemplateModule(HINSTANCE module) { return module ? module : ResourceModule(); }

}  // namespace

Dialog::~Dialog() {
    HWND window = Handle();
    if (window && ::IsWindow(window) && FromHandle(window) == this) {
        ::RemoveProp(window, kDialogProperty);
        if (!modal_) ::DestroyWindow(window);
    }
}

Dialog* Dialog::FromHandle(HWND window) { return static_cast<Dialog*>(::GetProp(window, kDialogProperty)); }

INT_PTR Dialog::DoModal(HWND parent, UINT templateId, HINSTANCE module) {
    if (Handle()) return -1;
    modal_ = true;
    return ::DialogBoxParam(TemplateModule(module), MAKEINTRESOURCE(templateId), parent, &Dialog::DialogProc,
                            reinterpret_cast<LPARAM>(this));
}

INT_PTR Dialog::DoModal(HWND parent, const DLGTEMPLATE* dialogTemplate, HINSTANCE module) {
    if (Handle()) return -1;
    modal_ = true;
    return ::DialogBoxIndirectParam(TemplateModule(module), dialogTemplate, parent, &Dialog::DialogProc,
                                    reinterpret_cast<LPARAM>(this));
}

HWND Dialog::Create(HWND parent, UINT templateId, HINSTANCE module) {
    if (Handle()) return nullptr;
    modal_ = false;
    return ::CreateDialogParam(TemplateModule(module), MAKEINTRESOURCE(templateId), parent, &Dialog::DialogProc,
                               reinterpret_cast<LPARAM>(this));
}

void Dialog::End(INT_PTR result) {
    if (modal_) {
        ::EndDialog(Handle(), result);
    } else {
        Destroy();
    }
}

bool Dialog::IsDialogMessage(MSG& message) {
    return Handle() && ::IsDialogMessage(Handle(), &message) != FALSE;
}

bool Dialog::OnCommand(WORD id, WORD code, HWND control) {
    if (id == IDOK || id == IDCANCEL) {
        End(id);
        return true;
    }
    return false;
}

INT_PTR Dialog::Route(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog() ? TRUE : FALSE;
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
    case WM_NOTIFY: {
        bool handled = true;
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        LRESULT result = OnNotify(static_cast<int>(header->idFrom), header, handled);
        if (!handled) return FALSE;
        ::SetWindowLongPtr(Handle(), DWLP_MSGRESULT, result);
        return TRUE;
    }
    default: {
        INT_PTR result = 0;
        if (!OnMessage(message, wParam, lParam, result)) return FALSE;
        return result;
    }
    }
}

INT_PTR CALLBACK Dialog::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Dialog* dialog = FromHandle(window);
    if (!dialog && message == WM_INITDIALOG) {
        dialog = reinterpret_cast<Dialog*>(lParam);
        dialog->Attach(window);
        ::SetProp(window, kDialogProperty, dialog);
    }
    if (!dialog) return FALSE;

    INT_PTR result = 0;
    try {
        result = dialog->Route(message, wParam, lParam);
    } catch (...) {
        ReportCurrentException(TEXT("dialog procedure"));
        if (message == WM_INITDIALOG) {
            if (dialog->modal_) {
                ::EndDialog(window, -1);
            } else {
                ::DestroyWindow(window);
            }
            return FALSE;
        }
        result = TRUE;
    }
    if (message == WM_NCDESTROY) {
        ::RemoveProp(window, kDialogProperty);
        dialog->Detach();
        GuardCallback(TEXT("final message"), 0, [&] {
            dialog->OnFinalMessage(window);
            return 0;
        });
    }
    return result;
}

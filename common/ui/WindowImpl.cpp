#include "common/ui/WindowImpl.h"
#include "common/ui/CallbackError.h"

namespace {

// The object of a window is kept in a window property rather than in the
// user data or class extra bytes, so that the same lookup serves windows of
// our own classes and subclassed windows of foreign ones.
const TCHAR kObjectProperty[] = TEXT("OrvaneWindowImpl");

}  // namespace

WindowImpl::~WindowImpl() {
    HWND window = Handle();
    if (window && ::IsWindow(window) && FromHandle(window) == this) {
        if (previousProc_) {
            Unsubclass();
        } else {
            ::DestroyWindow(window);
        }
    }
}

HINSTANCE WindowImpl::ClassModule() {
    HMODULE module = nullptr;
    ::GetModuleHandleEx(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                        reinterpret_cast<LPCTSTR>(&WindowImpl::WindowProc), &module);
    return module;
}

bool WindowImpl::RegisterOnce() {
    HINSTANCE module = ClassModule();
    WNDCLASSEX existing = {};
    existing.cbSize = sizeof(existing);
    if (::GetClassInfoEx(module, ClassName(), &existing)) return true;

    WNDCLASSEX windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = &WindowImpl::WindowProc;
    windowClass.hInstance = module;
    windowClass.hCursor = ::LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = ClassName();
    ModifyClass(windowClass);
    return ::RegisterClassEx(&windowClass) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND WindowImpl::Create(HWND parent, const RECT* rect, const TCHAR* title, DWORD style, DWORD exStyle,
                        UINT_PTR menuOrId) {
    if (Handle() != nullptr || !RegisterOnce()) return nullptr;
    int x = CW_USEDEFAULT, y = CW_USEDEFAULT, cx = CW_USEDEFAULT, cy = CW_USEDEFAULT;
    if (rect) {
        x = rect->left;
        y = rect->top;
        cx = rect->right - rect->left;
        cy = rect->bottom - rect->top;
    } else if (style & WS_CHILD) {
        x = y = cx = cy = 0;
    }
    return ::CreateWindowEx(exStyle, ClassName(), title, style, x, y, cx, cy, parent,
                            reinterpret_cast<HMENU>(menuOrId), ClassModule(), this);
}

void WindowImpl::Bind(HWND window, WindowImpl* object) {
    object->Attach(window);
    ::SetProp(window, kObjectProperty, object);
}

WindowImpl* WindowImpl::FromHandle(HWND window) {
    return static_cast<WindowImpl*>(::GetProp(window, kObjectProperty));
}

bool WindowImpl::Subclass(HWND window) {
    if (Handle() != nullptr || window == nullptr || FromHandle(window) != nullptr) return false;
    Bind(window, this);
    previousProc_ = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtr(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowImpl::WindowProc)));
    if (previousProc_ == nullptr) {
        ::RemoveProp(window, kObjectProperty);
        Detach();
        return false;
    }
    return true;
}

HWND WindowImpl::Unsubclass() {
    HWND window = Handle();
    if (!window || !previousProc_) return nullptr;
    ::SetWindowLongPtr(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previousProc_));
    ::RemoveProp(window, kObjectProperty);
    previousProc_ = nullptr;
    return Detach();
}

LRESULT WindowImpl::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefaultProc(message, wParam, lParam);
}

LRESULT WindowImpl::DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (previousProc_) return ::CallWindowProc(previousProc_, Handle(), message, wParam, lParam);
    return ::DefWindowProc(Handle(), message, wParam, lParam);
}

LRESULT WindowImpl::Route(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT failed = (message == WM_CREATE) ? -1 : 0;  // WM_NCCREATE fails with FALSE, which is 0
    return GuardCallback(TEXT("window procedure"), failed, [&] { return OnMessage(message, wParam, lParam); });
}

LRESULT CALLBACK WindowImpl::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowImpl* object = FromHandle(window);
    if (!object && message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCT*>(lParam);
        object = static_cast<WindowImpl*>(create->lpCreateParams);
        if (object) Bind(window, object);
    }
    if (!object) return ::DefWindowProc(window, message, wParam, lParam);

    LRESULT result = object->Route(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        // A subclassed window's previous procedure has seen its last message.
        if (object->previousProc_) {
            ::SetWindowLongPtr(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(object->previousProc_));
            object->previousProc_ = nullptr;
        }
        ::RemoveProp(window, kObjectProperty);
        object->Detach();
        GuardCallback(TEXT("final message"), 0, [&] {
            object->OnFinalMessage(window);
            return 0;
        });
    }
    return result;
}

#include <windows.h>
#include <objbase.h>
#include "restore/RestoreDialog.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // The folder browser is a shell dialog and wants an apartment.
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    {
        RestoreDialog dialog(instance);
        dialog.Run();
    }
    if (SUCCEEDED(com))
        CoUninitialize();
    return 0;
}

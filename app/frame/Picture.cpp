#include "app/frame/Picture.h"
#include "common/system/HandleHolder.h"

namespace {

// A movable global block that is freed unless a stream takes it over.
struct GlobalBlock {
    HGLOBAL handle = nullptr;
    ~GlobalBlock() {
        if (handle) ::GlobalFree(handle);
    }
};

}  // namespace

bool LoadPictureFile(const wchar_t* path, ComPtr<IPicture>& picture) {
    picture.Release();
    HandleHolder file(::CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid()) return false;
    DWORD size = ::GetFileSize(file, nullptr);
    if (size == INVALID_FILE_SIZE || size == 0) return false;
    GlobalBlock block;
    block.handle = ::GlobalAlloc(GMEM_MOVEABLE, size);
    if (!block.handle) return false;
    void* bytes = ::GlobalLock(block.handle);
    if (!bytes) return false;
    DWORD read = 0;
    BOOL ok = ::ReadFile(file, bytes, size, &read, nullptr);
    ::GlobalUnlock(block.handle);
    if (!ok || read != size) return false;

    ComPtr<IStream> stream;
    if (FAILED(::CreateStreamOnHGlobal(block.handle, TRUE, stream.Receive()))) return false;
    block.handle = nullptr;  // the stream frees it now
    return SUCCEEDED(::OleLoadPicture(stream, static_cast<LONG>(size), FALSE, IID_IPicture, picture.ReceiveVoid())) &&
           picture;
}

HBITMAP LoadBitmapFromFile(const wchar_t* path) {
    ComPtr<IPicture> picture;
    if (!LoadPictureFile(path, picture)) return nullptr;
    OLE_HANDLE handle = 0;
    SHORT type = 0;
    if (FAILED(picture->get_Type(&type)) || type != PICTYPE_BITMAP) return nullptr;
    if (FAILED(picture->get_Handle(&handle)) || !handle) return nullptr;
    // The picture owns its bitmap; the caller gets a copy of its own.
    return static_cast<HBITMAP>(
        ::CopyImage(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(handle)), IMAGE_BITMAP, 0, 0, 0));
}

bool CopyBitmapToClipboard(HBITMAP bitmap) {
    if (!bitmap || !::OpenClipboard(nullptr)) return false;
    ::EmptyClipboard();
    bool placed = ::SetClipboardData(CF_BITMAP, bitmap) != nullptr;
    ::CloseClipboard();
    return placed;
}

bool CopyPictureFileToClipboard(const wchar_t* path) {
    HBITMAP bitmap = LoadBitmapFromFile(path);
    if (!bitmap) return false;
    if (CopyBitmapToClipboard(bitmap)) return true;  // the clipboard owns it now
    ::DeleteObject(bitmap);
    return false;
}

bool CopyBitmapResourceToClipboard(HINSTANCE module, const wchar_t* name, bool mappedColours) {
    HBITMAP bitmap = mappedColours
                         ? static_cast<HBITMAP>(::LoadImageW(module, name, IMAGE_BITMAP, 0, 0,
                                                             LR_LOADMAP3DCOLORS | LR_LOADTRANSPARENT))
                         : ::LoadBitmapW(module, name);
    if (!bitmap) return false;
    if (CopyBitmapToClipboard(bitmap)) return true;
    ::DeleteObject(bitmap);
    return false;
}

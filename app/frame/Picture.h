#pragma once
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include "common/com/ComPtr.h"

// Picture files (JPEG, GIF, BMP and what else OLE picture loading reads) as
// bitmaps, and bitmaps on the clipboard.

// False on any failed step (missing file, unreadable or damaged picture).
bool LoadPictureFile(const wchar_t* path, ComPtr<IPicture>& picture);
// A bitmap the caller owns (DeleteObject), or NULL.
HBITMAP LoadBitmapFromFile(const wchar_t* path);
bool CopyPictureFileToClipboard(const wchar_t* path);
bool CopyBitmapToClipboard(HBITMAP bitmap);
bool CopyBitmapResourceToClipboard(HINSTANCE module, const wchar_t* name, bool mappedColours);

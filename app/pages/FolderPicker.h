#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// The shell's folder picker of the pages: new dialog style, file-system
// folders and their ancestors only (0x49), opening on initial when it is not
// empty. OK is enabled only while the selection is a folder, whose path the
// dialog shows as its status text. Returns the chosen folder, or an empty
// text when the user cancelled.
tstring PickFolder(HWND owner, const tstring& initial);

#pragma once
#include <windows.h>
#include <cstdint>
#include "common/tstring/tstring.h"

// How a read of a file that other processes share went wrong. A file that is
// only busy (another holder keeps it from us for a moment: the other program
// saving it, a virus scanner or backup tool reading it) is sound and must be
// neither judged damaged nor written over; a missing one may be created.

const int kBusyFileAttempts = 5;
const DWORD kBusyFileRetryMs = 100;

// ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND, folded.
bool IsMissingFileCode(int32_t code);
// A sharing or lock violation, folded.
bool IsBusyFileCode(int32_t code);

// Moves a file that fails its checks to "<path>.damaged" beside it (an older
// copy there is replaced), for whoever wants to look at it, so that a sound
// file can take its place. 0, or the code of the failed move.
int32_t SetDamagedFileAside(const tstring& path);
tstring DamagedFileCopy(const tstring& path);

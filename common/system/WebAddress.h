#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// True for an absolute "http://" or "https://" address (scheme in any case)
// that can go onto a browser's command line as one argument: no quote, no
// space and no control character.
bool IsWebAddress(const wchar_t* address);

// Opens a web address in the user's default browser through the shell's
// "open" verb. Anything that is not a web address (file:, ftp:, mailto:, a
// program path...) is refused and nothing is started. True when the shell
// reports the start.
bool OpenWebAddress(const wchar_t* address);

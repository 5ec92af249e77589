#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// The C runtime's "%c" form of a local time (the process keeps the "C"
// locale, so the form is the same on every system); empty when the time
// cannot be shown.
tstring TimeText(const SYSTEMTIME& local);

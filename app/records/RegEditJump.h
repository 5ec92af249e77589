#pragma once
#include "common/tstring/tstring.h"

// Brings the system registry editor to the front with keyPath ("HKLM\..." and
// the other root abbreviations) selected in its tree and valueName selected in
// its list. 1 when the editor was reached, 0 otherwise; failures are quiet.
int RegEditJump(const tstring& keyPath, const tstring& valueName);

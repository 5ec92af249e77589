#pragma once
#include <windows.h>
#include <cstdint>
#include "common/tstring/tstring.h"

// What the list pages and reports show of a record: its category, problem and
// reason texts, the help topic of its problem kind, and the group it lists under.

// The category of a scan category bit; the alternate names are the ones the
// maker's information pages use in their addresses.
tstring CategoryText(int32_t unionBit, bool alternate = false);
// The problem text of a kind (the high word of an ErrorID).
tstring ErrorIdText(int32_t kind);
// The reason text (the low word of an ErrorID); 100 has none.
tstring ReasonText(int32_t reason);
// The help topic ("errors_...") of a kind; empty when it has none.
tstring HelpTopic(int32_t kind);
// The category bit of a kind, for records that carry none (undo and ignore records).
int32_t FixerTypeToUnion(int32_t kind);
// The list group 0..7 of a category bit.
int32_t UnionToGroup(int32_t unionBit);

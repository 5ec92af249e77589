#pragma once
#include "common/tstring/tstring.h"
#include "engine/engine.h"

// What a list page reads of one engine record. A property the record does not
// give stays empty (0).
struct ListedRecord {
    tstring item;
    tstring reason;
    long errorId = 0;
};

ListedRecord ReadListedRecord(IqnRegRecord* record);

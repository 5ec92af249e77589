#pragma once
#include <cstdint>
#include "common/tstring/tstring.h"

// An entry test's verdict. ErrorID 0 means the entry is sound; otherwise it is
// a check result code (common/records/CheckResultCode.h) and the texts describe
// the finding.
struct CheckResult {
    int32_t ErrorID = 0;
    tstring Item;       // the thing that is wrong, as shown to the user
    tstring Reason;     // what explains it, as a rule the offending data
    tstring KeyPath;    // full path of the key
    tstring ValueName;  // empty for the default value

    void Clear() {
        ErrorID = 0;
        Item.clear();
        Reason.clear();
        KeyPath.clear();
        ValueName.clear();
    }
};

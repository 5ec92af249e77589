#pragma once
#include "common/tstring/tstring.h"

// What the restore tells its user. The program's dialog takes its progress
// window down before the box, so the box is never hidden behind it.
class RestoreReport {
public:
    virtual ~RestoreReport() = default;
    virtual void ShowError(const tstring& text) = 0;
    // A backup entry named as a machine hive that this Windows has no hive
    // file for: it is left out, and the closing message names it.
    virtual void PassOver(const tstring& entryName) = 0;
};

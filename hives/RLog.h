#pragma once
#include "common/tstring/tstring.h"

// Where the hive walkers and the backup manager report their steps: the
// progress window in the main program, the compaction dialog in the
// compaction library.
class RLog {
public:
    // Shows one line; returns its row.
    virtual int AddEntry(int level, const tstring& text, const tstring& name) = 0;
    // Marks a row as finished.
    virtual void MarkDone(int row) = 0;

protected:
    ~RLog() = default;
};

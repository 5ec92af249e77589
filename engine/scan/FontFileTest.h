#pragma once
#include "engine/scan/EntryTest.h"

// Fonts: a REG_SZ value's data names the font file, as a full path or as a
// name in the fonts folder. Item: value name; Reason: data.
class FontFileTest : public EntryTest {
public:
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;

    // The shell's fonts folder, asked once per process; empty when unknown.
    static tstring FontsFolder();
};

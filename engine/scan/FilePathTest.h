#pragma once
#include "engine/scan/EntryTest.h"

// Entry tests whose data (or value name) is a file path that must exist
// (PathExistsForCheck). Each reports its own problem code with reason
// "File not found"; KeyPath is the tested key and ValueName the tested value
// unless said otherwise.

// Shared tools: the data is the tool's path. A folder that exists counts,
// since tools register their folders too. Item: key name; Reason: data.
class FilePathTest : public EntryTest {
public:
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;
};

// Dialog history: the data is a file path. Item: key name + "\" + value name.
class KeyValuePathTest : public EntryTest {
public:
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;
};

// Shared DLLs: the value's name is the path. Item: value name; Reason empty.
class SharedFileTest : public EntryTest {
public:
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;
};

// Help files: a REG_SZ value names the file and its data the folder holding
// it. Item: value name; Reason: data followed by the value name.
class HelpFileTest : public EntryTest {
public:
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;
};

// Reinstall entries: "ReinstallString" names the saved driver files, usually
// a folder. Item and Reason: data; ValueName "ReinstallString".
class ReinstallStringTest : public EntryTest {
public:
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;
};

// Fills a finding of a tested value: ErrorID, Item, Reason, the key's full
// path and the value's name.
void FillFinding(CheckResult& result, uint32_t errorId, const tstring& item, const tstring& reason,
                 const RegValue& value);

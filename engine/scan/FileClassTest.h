#pragma once
#include "engine/scan/EntryTest.h"

class NamedCache;

// File extensions: the class an extension names ("HKCR\.ext" default value)
// must exist and be good: a ProgID must be a key under HKCR that the ProgID
// checker did not mark invalid ("Invalid_ProgID_Cache"), a "CLSID\{...}"
// reference a class with a good verdict ("Invalid_CLSID_Cache"). Begin waits
// for both caches. Item: the extension; Reason: the data.
class FileClassTest : public EntryTest {
public:
    void Begin(ScanRule& rule) override;
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;

private:
    NamedCache* invalidProgIds_ = nullptr;
    NamedCache* clsidCache_ = nullptr;
};

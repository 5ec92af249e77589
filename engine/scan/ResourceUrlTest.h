#pragma once
#include "engine/scan/EntryTest.h"

// Browser menu extensions and scripts: the data is a file path or an address.
// "res://module/resource" needs the module, "file://path" the file, a plain
// path the file; any other address is not judged. Item: key name; Reason:
// data; reason code "Cannot find registered script file".
class ResourceUrlTest : public EntryTest {
public:
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;

    // True when the file or module that the text addresses exists.
    static bool ResourceExists(const tstring& text, CheckResult& result);
};

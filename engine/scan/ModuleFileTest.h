#pragma once
#include "engine/scan/EntryTest.h"

// Entry tests whose data names a program or module that is searched for along
// the system's search path (FindProgramFile, FindModuleFile).

// Application paths: the data is the program; a bare name may lie in the
// folder of the entry's "Path" value. Item: key name; Reason: data.
class ProgramFileTest : public EntryTest {
public:
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;
};

// Control Panel applets: the data is the applet module, relative names
// allowed. Item: value name; Reason: data.
class ModulePathTest : public EntryTest {
public:
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;
};

// Default icons (and the COM checks' module references): "module,index".
// The module is the data up to its last ',' when an icon index follows it,
// else the whole data. Empty data is a finding. Item: the name of the
// tested key's parent; Reason: the whole data; ValueName empty.
class ModuleFileTest : public EntryTest {
public:
    explicit ModuleFileTest(bool relativeAllowed = true) : relativeAllowed_(relativeAllowed) {}
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;

    // The module part of "module,index".
    static tstring ModulePart(const tstring& data);

private:
    bool relativeAllowed_;
};

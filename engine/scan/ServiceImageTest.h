#pragma once
#include "engine/scan/EntryTest.h"

class NamedCache;
class RegKey;

// Services: a Win32 service (own or shared process) whose image program is
// gone. The walk visits each service key once; the verdict of every service
// also goes, under its upper-cased name, into "Service_Cache" for the AppID
// checks. Item: the service's key name; Reason: the image path; ValueName
// "ImagePath".
class ServiceImageTest : public EntryTest {
public:
    // Takes "Service_Cache".
    void Begin(ScanRule& rule) override;
    // Marks "Service_Cache" ready.
    void End(ScanRule& rule) override;
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;

    // The verdict for one service key; fills the finding when it is false.
    bool Check(const RegKey& key, CheckResult& result);
    // True when the image path names an existing program, with or without
    // arguments, quoted or not.
    static bool ImageExists(const tstring& imagePath);

private:
    NamedCache* cache_ = nullptr;
};

#pragma once
#include <set>
#include "engine/scan/CachedClsidTest.h"

class RegKey;

// Judges every MIME content type key: the class its "CLSID" value names must
// be a sound class (the class checker's verdict) and the file extension its
// "Extension" value names must be registered in HKCR. A type is sound when
// either one is good, or when it names neither.
class MimeTypeTest : public CachedClsidTest {
public:
    // Waits for the class verdicts, then takes the registered extensions once.
    MimeTypeTest();

    void Begin(ScanRule&) override {}
    void End(ScanRule&) override {}
    // value: any value of the content type key; the key is what is judged.
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;

    // The upper-cased names of the subkeys of the root that begin with '.'.
    // An enumeration that keeps failing ends the list.
    static std::set<tstring> RegisteredExtensions(HKEY root);

private:
    bool UnjudgedClass(const tstring& clsid) const;

    std::set<tstring> extensions_;
};

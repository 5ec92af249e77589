#pragma once
#include <cstdint>
#include "engine/scan/EntryTest.h"

class NamedCache;

// The base of the tests that judge a CLSID by the COM group's verdict in
// "Invalid_CLSID_Cache" instead of judging the class again. Building one
// waits until the COM group has finished that cache (or a stop released the
// wait). With the fallback, a GUID without a good class verdict may still be
// a known good type library ("TypeLib_Cache").
class CachedClsidTest : public EntryTest {
public:
    explicit CachedClsidTest(bool fallback = false);

    // The verdict for the upper-cased text; fills nothing. No verdict to be
    // had (the cache is not ready) counts as good. The fallback reads the
    // type library verdict for the clients of the given registry view.
    bool TestClsid(const tstring& clsid, bool wow64View = false) const;
    // TestClsid of the data; fills nothing.
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;

protected:
    bool fallback_;
    NamedCache* clsidCache_ = nullptr;
    NamedCache* typeLibCache_ = nullptr;
};

// A CLSID named by a key, a value or its data must be a good class: shell
// and browser extensions. The finding has the given problem code with reason
// "Invalid Class Identifier".
class ClsidNameTest : public CachedClsidTest {
public:
    enum KeySource {
        KeyName,    // the tested key's name; Item and Reason the key name
        ValueName,  // the tested value's name; Item and Reason the value name
        // The data, unless it is empty or the key's own name is a CLSID ("{"),
        // then the key's name; Item the key's full path, Reason the CLSID.
        DataOrKeyName,
    };

    ClsidNameTest(KeySource source, uint16_t problem) : source_(source), problem_(problem) {}
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;

private:
    KeySource source_;
    uint16_t problem_;
};

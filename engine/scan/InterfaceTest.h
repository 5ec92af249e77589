#pragma once
#include "engine/scan/CachedClsidTest.h"

class RegKey;

// Interfaces: the type library and the proxy/stub class an interface names
// must be good (the type library judged by "TypeLib_Cache" through the
// fallback, as the clients of the interface's own registry view load it; a
// registered library the cache has no verdict for is not judged). A bad type
// library is withdrawn when a good proxy/stub class other than the
// type-library marshaler serves the interface. Item: the
// interface's name (or its key name); ValueName "(Default)"; KeyPath the
// offending subkey.
class InterfaceTest : public CachedClsidTest {
public:
    InterfaceTest() : CachedClsidTest(true) {}
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;

private:
    bool TypeLibIsBad(const tstring& guid, bool wow64View) const;
};

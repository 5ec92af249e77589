#pragma once
#include "engine/scan/CachedClsidTest.h"

// Browser extensions (toolbar buttons and menu items): the extension works
// when one of what it names works, tried in this order: the COM class
// "ClsidExtension", the band "BandCLSID", the script "Script", the program
// "Exec". An extension naming none of them is not judged. The finding is
// that of the last one tried: ValueName its name, Reason its data, Item the
// key name.
class BrowserExtensionTest : public CachedClsidTest {
public:
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;
};

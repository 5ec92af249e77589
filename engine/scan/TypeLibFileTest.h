#pragma once
#include <cstdint>
#include "engine/scan/EntryTest.h"

class NamedCache;

// Judges the "win32" file entry of every registered type library version and
// locale: the file must be found on the search path or load as a type
// library (an entry may name a resource inside a module, "x.dll\2", which no
// file search finds). Produces "TypeLib_Cache": one verdict per library,
// keyed by the upper-cased library GUID; the last version and locale walked
// decides it.
class TypeLibFileTest : public EntryTest {
public:
    // Takes "TypeLib_Cache" as its producer.
    void Begin(ScanRule& rule) override;
    // Marks "TypeLib_Cache" ready.
    void End(ScanRule& rule) override;
    // value: a value of a HKCR\TypeLib\{guid}\version\locale\win32 key.
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;

private:
    NamedCache* typeLibCache_ = nullptr;
};

// Removes every occurrence of the character from the text; the number removed.
int32_t RemoveCharacter(tstring& text, wchar_t character);

// True when the file loads as a type library; nothing is registered.
bool TypeLibraryLoads(const tstring& path);

// The path moved from the system folder to the 32-bit system folder; empty
// when the path is not below the system folder or there is no 32-bit one.
tstring In32BitSystemFolder(const tstring& path);

#pragma once
#include <cstdint>
#include "engine/scan/EntryTest.h"

class NamedCache;
class RegKey;

// Judges the platform entries ("win32", "win64") of every registered type
// library version and locale: the file must be found on the search path or
// load as a type library (an entry may name a resource inside a module,
// "x.dll\2", which no file search finds). Produces "TypeLib_Cache": per
// library one verdict for each platform's clients, as the type library loader
// finds the library for them; the last version and locale walked decides it.
class TypeLibFileTest : public EntryTest {
public:
    // The cache key of a library's verdict for the clients of a registry
    // view: 64-bit clients (the native view) read the win64 entry and fall
    // back to win32 where a version and locale has no win64 entry; 32-bit
    // clients read win32 only.
    static tstring CacheKey(const tstring& guid, bool wow64View);

    // Takes "TypeLib_Cache" as its producer.
    void Begin(ScanRule& rule) override;
    // Marks "TypeLib_Cache" ready.
    void End(ScanRule& rule) override;
    // value: a value of a HKCR\TypeLib\{guid}\version\locale\win32 or win64 key.
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override;

private:
    void KeepVerdict(const RegKey& entry, bool found);

    NamedCache* typeLibCache_ = nullptr;
};

// Removes every occurrence of the character from the text; the number removed.
int32_t RemoveCharacter(tstring& text, wchar_t character);

// True when the file loads as a type library; nothing is registered.
bool TypeLibraryLoads(const tstring& path);

// The path moved from the system folder to the 32-bit system folder; empty
// when the path is not below the system folder or there is no 32-bit one.
tstring In32BitSystemFolder(const tstring& path);

#pragma once
#include <windows.h>
#include <vector>
#include "common/errors/ErrorBase.h"
#include "common/tstring/tstring.h"

// What unregistration does with a key of the table.
enum class OnUnregister { Remove, Keep };

// The registry entries a server writes when it registers itself, all under
// one root; every value is a string. Unregistration deletes the trees of the
// keys marked Remove and leaves the keys marked Keep (shared keys such as
// "CLSID" or "AppID", which hold other servers' entries too).
class RegistryTable {
public:
    explicit RegistryTable(HKEY root) : root_(root) {}

    RegistryTable& Key(const tstring& key, OnUnregister rule = OnUnregister::Remove);
    // valueName empty: the key's unnamed value.
    RegistryTable& Value(const tstring& key, const tstring& valueName, const tstring& value,
                         OnUnregister rule = OnUnregister::Remove);

    // Writes every entry in table order; throws Win32Error on the first failure.
    void Register() const;
    // Deletes the Remove keys in reverse table order; a key already gone is
    // no failure. Throws Win32Error for any other failure.
    void Unregister() const;

private:
    struct Entry {
        tstring key;
        tstring valueName;
        tstring value;
        bool hasValue;
        OnUnregister rule;
    };
    HKEY root_;
    std::vector<Entry> entries_;
};

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case, as the registry keeps class ids.
tstring GuidText(REFGUID guid);

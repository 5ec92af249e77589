#pragma once
#include <windows.h>
#include <cstdint>
#include <vector>
#include "common/system/SharedBuffer.h"
#include "common/tstring/tstring.h"

class Archive;

// A saved registry key: its level name, its security as SDDL text (owner,
// group, DACL) and, unless saved without contents, its subkeys in enumeration
// order and its values with their exact bytes and registry types. The whole
// tree is read before a record is written and parsed before anything of it
// is restored, so a record is written whole or not at all and a damaged one
// changes nothing.
//
// Record: text name; text SDDL; with contents also int32 subkey count, the
// subkey records, int32 value count, and per value text name, data block,
// int32 type code (UndoTypeCode).
class KeyTreeRecord {
public:
    struct Value {
        tstring name;
        SharedBuffer data;
        DWORD type = REG_NONE;
        // False for a value whose type the record's writer could not keep.
        bool restorable = true;
    };

    tstring name;
    tstring security;
    std::vector<KeyTreeRecord> subkeys;
    std::vector<Value> values;

    // Reads the key behind the handle (KEY_READ is enough). A name holding a
    // NUL character cannot be written back through these functions, so it
    // fails the read (ERROR_INVALID_NAME) rather than being left out; so does
    // a value whose type has no code (ERROR_UNSUPPORTED_TYPE).
    LONG Read(HKEY key, const tstring& levelName, bool withContents);
    void Write(Archive& archive, bool withContents) const;
    // False for a short or damaged record; the stream is then where it began.
    bool Parse(Archive& archive, bool withContents);
    // Creates the subkeys and writes the values below the handle, then sets
    // the security last, so that a descriptor that shuts the caller out does
    // not stop the filling. Values and descriptors that already match are
    // left as they are; a value that is not restorable is left out
    // (ERROR_UNSUPPORTED_TYPE). Every item is tried; the first failure is
    // the result.
    LONG ApplyTo(HKEY key) const;

private:
    LONG ReadLevel(HKEY key, const tstring& levelName, bool withContents, int depth);
    bool ParseLevel(Archive& archive, bool withContents, int depth);
};

// Owner, group and DACL of a key as SDDL text; empty when it has none.
LONG ReadKeySecurity(HKEY key, tstring& sddl);
// Sets owner, group and DACL; when the owner may not be set (that needs a
// privilege the process may lack), the DACL alone.
LONG WriteKeySecurity(HKEY key, const tstring& sddl);

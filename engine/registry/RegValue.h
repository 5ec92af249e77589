#pragma once
#include <windows.h>
#include <cstdint>
#include <vector>
#include "common/system/SharedBuffer.h"
#include "common/tstring/tstring.h"
#include "engine/registry/RegKey.h"

// One named value of an open key, read lazily. It keeps its own copy of the
// key, so it stays usable after the key object it came from is gone. The
// data-changing operations act on the object only; nothing reaches the
// registry before Write.
class RegValue : public RegKey {
public:
    // The engine's own type codes (not the REG_* numbers).
    enum TypeCode : int32_t {
        NotRead = -3,
        Reading = -2,
        Absent = -1,
        OtherType = 0,     // any other registry type, kept raw, never written
        String = 1,        // REG_SZ
        ExpandString = 2,  // REG_EXPAND_SZ
        MultiString = 3,   // REG_MULTI_SZ
        Number32 = 4,      // REG_DWORD
        Number64 = 5,      // REG_QWORD
        Binary = 6,        // REG_BINARY
        KeepType = NotRead // as an argument of the setters: keep the current type
    };

    // "(Default)" in any case names the unnamed value.
    RegValue(const RegKey& key, const tstring& name);
    RegValue(const RegValue& other);
    RegValue& operator=(const RegValue& other);
    // Moving neither reads nor copies the data; the source is left empty.
    RegValue(RegValue&& other) noexcept;
    RegValue& operator=(RegValue&& other) noexcept;

    const RegKey& Key() const { return *this; }
    // Empty for the key's default value.
    tstring Name() const { return valueName_; }
    int32_t Type() const { return type_; }

    // Reads type and data; false when the value does not exist.
    bool Query();
    // Takes type and data that were read with the value's name (an
    // enumeration of the key's values) as this value's read.
    void Store(DWORD registryType, const BYTE* bytes, DWORD read);
    // Reads first when not read yet.
    const SharedBuffer& Data();
    tstring DataText();
    // The text of a REG_EXPAND_SZ value as the registry holds it, its
    // %NAME% references not expanded; DataText for every other type.
    tstring StoredText();

    bool SetText(const tstring& text, int32_t type = KeepType);
    bool SetBytes(const void* bytes, uint32_t count, int32_t type = KeepType);
    void SetData(const SharedBuffer& data, int32_t type = KeepType);

    // False (nothing written) when the type code has no registry type.
    bool Write();
    void Delete();

    // REG_* number of an engine type code (REG_NONE for none) and back.
    static DWORD RegistryType(int32_t code);
    static int32_t CodeOf(DWORD registryType);

private:
    void Forget();

    tstring valueName_;
    SharedBuffer data_;
    // The bytes of the last read until someone asks for them as a buffer
    // (data_ is empty meanwhile): a buffer's count changes each take a named
    // lock, and most reads only ever want the text.
    std::vector<BYTE> read_;
    int32_t type_ = NotRead;
    bool textCached_ = false;
    tstring text_;
};

#pragma once
#include <windows.h>
#include <cstdint>
#include <memory>
#include "common/system/SharedBuffer.h"
#include "common/tstring/tstring.h"

class Archive;

// How the undo data of a value action stores the value's type: the Win32
// actions and the key tree records store the codes of UndoTypeCode, the
// native value action the registry type's own number.
enum class SavedTypes { EngineCodes, RegistryNumbers };

// One undoable registry operation of a fix. Apply, SaveUndo and Restore
// return HRESULT-style codes (0 = success, negative = failure) and never
// raise: they run inside fix and undo sessions, where one failing action must
// not take the others' results with it.
//
// SaveUndo writes the action's undo data whole or not at all. Restore reads
// exactly what SaveUndo wrote; when it cannot even read that (damaged or
// short data) it returns UndoDataDamaged, because the stream is then no longer
// in step and no later record of the same stream can be trusted.
class FixAction {
public:
    enum ActionKind : int32_t {
        KindDeleteValue = 1,
        KindSetValue = 2,
        KindDeleteKey = 3,
        KindNtDeleteValue = 4,
        KindNtDeleteKey = 5,
    };

    static constexpr int32_t UndoDataDamaged = int32_t(0x8007000D);  // ERROR_INVALID_DATA

    virtual ~FixAction() = default;
    FixAction(const FixAction&) = delete;
    FixAction& operator=(const FixAction&) = delete;

    // An empty action of that kind, to be filled by Serialize; none for an
    // unknown kind.
    static std::unique_ptr<FixAction> Create(int32_t kind);

    int32_t Kind() const { return kind_; }
    const tstring& KeyPath() const { return keyPath_; }
    const tstring& ValueName() const { return valueName_; }

    virtual tstring Target() const;
    virtual int32_t Apply() = 0;
    virtual int32_t SaveUndo(Archive& archive) = 0;
    virtual int32_t Restore(Archive& archive) = 0;
    // Writes (storing) or reads the action's own fields, not its kind.
    // Reading checks every count against the bytes left.
    virtual bool Serialize(Archive& archive, bool storing) = 0;

protected:
    FixAction(int32_t kind, const tstring& keyPath, const tstring& valueName)
        : kind_(kind), keyPath_(keyPath), valueName_(valueName) {}

    // Runs body and turns anything it raises into a failure code.
    template <typename Body>
    static int32_t Guarded(Body body);
    static int32_t CodeOfCurrentException();

    int32_t kind_;
    tstring keyPath_;
    tstring valueName_;
};

// What the Win32 and the native value deletions have in common: the key path
// and the value name, which together name the deleted value.
class ValueDeletionAction : public FixAction {
public:
    tstring Target() const override;
    // Puts the saved bytes and type back; a value that was not there is
    // handled by RestoreAbsent, a value whose type was not kept fails
    // (ERROR_UNSUPPORTED_TYPE).
    int32_t Restore(Archive& archive) override;
    // Key path, then value name.
    bool Serialize(Archive& archive, bool storing) override;

protected:
    using FixAction::FixAction;

    virtual LONG PutBack(DWORD type, const SharedBuffer& data) = 0;
    virtual SavedTypes TypeCoding() const { return SavedTypes::EngineCodes; }
    // Nothing was there to delete.
    virtual int32_t RestoreAbsent() { return 0; }
};

// What the Win32 and the native key deletions have in common: the key path
// and whether the key may go only when it is empty.
class KeyDeletionAction : public FixAction {
public:
    int32_t OnlyWithoutSubkeys() const { return onlyWithoutSubkeys_; }
    // Key path, then the flag as one byte (read back as 0 or 1).
    bool Serialize(Archive& archive, bool storing) override;

protected:
    KeyDeletionAction(int32_t kind, const tstring& keyPath, int32_t onlyWithoutSubkeys)
        : FixAction(kind, keyPath, tstring()), onlyWithoutSubkeys_(onlyWithoutSubkeys ? 1 : 0) {}

    int32_t onlyWithoutSubkeys_;
};

template <typename Body>
int32_t FixAction::Guarded(Body body) {
    try {
        return body();
    } catch (...) {
        return CodeOfCurrentException();
    }
}

// Stream helpers shared by the actions and the fix entry. Texts are written
// as an int32 byte count and UTF-16LE units (embedded NULs kept); data blocks
// as an int32 byte count and the bytes. The readers refuse a count that is
// negative or larger than the bytes left, and leave the stream where the item
// began when they refuse.
namespace UndoStream {
void WriteText(Archive& archive, const tstring& text);
bool ReadText(Archive& archive, tstring& text);
bool ReadBlock(Archive& archive, SharedBuffer& data);
bool ReadInt(Archive& archive, int32_t& value);
bool ReadByte(Archive& archive, BYTE& value);
// A count of items each at least minimumEach bytes long.
bool ReadCount(Archive& archive, uint32_t minimumEach, uint32_t& count);
}  // namespace UndoStream

// The value's type and bytes exactly as the registry holds them.
// ERROR_FILE_NOT_FOUND when it does not exist.
LONG ReadRawValue(HKEY key, const tstring& name, DWORD& type, SharedBuffer& data);
LONG WriteRawValue(HKEY key, const tstring& name, DWORD type, const SharedBuffer& data);
// Undo data marks a value that did not exist with this type. A value whose
// type would be stored as this (or as another code that names no type) is
// refused by the save (ERROR_UNSUPPORTED_TYPE), and its fix is not applied.
const int32_t AbsentValueType = -1;
// The int32 that undo data stores for a value read with that status and
// type; a failure code when it cannot be stored faithfully.
int32_t SavedTypeOf(LONG status, DWORD type, SavedTypes coding, int32_t& saved);
// The registry type of a stored code other than AbsentValueType; false for a
// code that names none (a value an older writer could not keep).
bool RegistryTypeOf(int32_t saved, SavedTypes coding, DWORD& type);
// The undo data of a value read with that status: its bytes, then its saved
// type. A failure code, with nothing written, when it cannot be stored
// faithfully.
int32_t WriteSavedValue(Archive& archive, LONG status, DWORD type, const SharedBuffer& data, SavedTypes coding);
// Both the old bytes and the stored type code, or neither: a refusal leaves
// the stream where the data began.
bool ReadSavedValue(Archive& archive, SharedBuffer& data, int32_t& type);
// "(Default)" in any case names the unnamed value, as elsewhere in the engine.
tstring Win32ValueName(const tstring& name);
// HRESULT of a Win32 status (0 stays 0).
int32_t Win32Code(LONG status);

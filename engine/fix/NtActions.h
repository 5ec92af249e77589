#pragma once
#include "engine/fix/FixAction.h"

// The native-function twins of DeleteValueAction and DeleteKeyAction, for
// names that hold NUL characters. Key paths and value names are marked texts
// in which each "(null)" stands for one NUL character.

// Undo data: the value's bytes and the number of its registry type as the
// native read returns them (AbsentValueType when there was no such value).
class NtDeleteValueAction : public ValueDeletionAction {
public:
    NtDeleteValueAction(const tstring& keyPath, const tstring& valueName);

    int32_t Apply() override;
    int32_t SaveUndo(Archive& archive) override;

protected:
    LONG PutBack(DWORD type, const SharedBuffer& data) override;
    SavedTypes TypeCoding() const override { return SavedTypes::RegistryNumbers; }
};

// Undo data: the native key tree record (NativeRegistry::SaveTree) named by
// the last level of the key path. The only-without-subkeys flag is kept for
// the record layout; the native delete always takes the tree.
class NtDeleteKeyAction : public KeyDeletionAction {
public:
    NtDeleteKeyAction(const tstring& keyPath, int32_t onlyWithoutSubkeys);

    int32_t Apply() override;
    int32_t SaveUndo(Archive& archive) override;
    int32_t Restore(Archive& archive) override;
};

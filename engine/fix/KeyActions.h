#pragma once
#include "engine/fix/FixAction.h"

// Deletes a key with all its subkeys through the Win32 registry functions.
// With OnlyWithoutSubkeys set the key goes only when it is empty (neither
// subkeys nor values), and its undo data is only its name and security;
// otherwise the undo data is the whole tree (KeyTreeRecord).
class DeleteKeyAction : public KeyDeletionAction {
public:
    DeleteKeyAction(const tstring& keyPath, int32_t onlyWithoutSubkeys);

    int32_t Apply() override;
    int32_t SaveUndo(Archive& archive) override;
    int32_t Restore(Archive& archive) override;
};

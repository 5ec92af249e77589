#include "engine/fix/KeyActions.h"
#include "common/archive/Archive.h"
#include "common/errors/CheckObjects.h"
#include "engine/fix/KeyTreeRecord.h"
#include "engine/registry/RegKey.h"

DeleteKeyAction::DeleteKeyAction(const tstring& keyPath, int32_t onlyWithoutSubkeys)
    : KeyDeletionAction(KindDeleteKey, keyPath, onlyWithoutSubkeys) {}

int32_t DeleteKeyAction::Apply() {
    return Guarded([this] {
        RegKey key = RegKey::OpenPath(keyPath_, false, true);
        if (onlyWithoutSubkeys_) {
            DWORD subkeys = 0, values = 0;
            Win32Check ck(keyPath_);
            ck = RegQueryInfoKeyW(key.Handle(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                  nullptr, nullptr, nullptr, nullptr);
            // The undo data of such a key holds no contents, so a key with
            // contents must stay.
            if (subkeys || values)
                return 0;
        }
        key.DeleteTree(true);
        return 0;
    });
}

int32_t DeleteKeyAction::SaveUndo(Archive& archive) {
    return Guarded([this, &archive] {
        RegKey key = RegKey::OpenPath(keyPath_, false, false);
        // Whole hives are never saved nor deleted by a fix.
        if (key.IsRoot())
            return int32_t(E_INVALIDARG);
        KeyTreeRecord tree;
        LONG status = tree.Read(key.Handle(), key.Name(), onlyWithoutSubkeys_ == 0);
        if (status != ERROR_SUCCESS)
            return Win32Code(status);
        tree.Write(archive, onlyWithoutSubkeys_ == 0);
        return 0;
    });
}

int32_t DeleteKeyAction::Restore(Archive& archive) {
    return Guarded([this, &archive] {
        KeyTreeRecord tree;
        if (!tree.Parse(archive, onlyWithoutSubkeys_ == 0))
            return UndoDataDamaged;
        RegKey key = RegKey::OpenPath(keyPath_, true);
        if (key.IsRoot())
            return int32_t(E_INVALIDARG);
        return Win32Code(tree.ApplyTo(key.Handle()));
    });
}

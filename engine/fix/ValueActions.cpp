#include "engine/fix/ValueActions.h"
#include "common/archive/Archive.h"
#include "common/errors/CheckObjects.h"
#include "engine/registry/RegKey.h"

DeleteValueAction::DeleteValueAction(const tstring& keyPath, const tstring& valueName)
    : ValueDeletionAction(KindDeleteValue, keyPath, valueName) {}

DeleteValueAction::DeleteValueAction(int32_t kind, const tstring& keyPath, const tstring& valueName)
    : ValueDeletionAction(kind, keyPath, valueName) {}

int32_t DeleteValueAction::Apply() {
    return Guarded([this] {
        RegKey key = RegKey::OpenPath(keyPath_, false, true);
        LONG status = RegDeleteValueW(key.Handle(), Win32ValueName(valueName_).c_str());
        // Already gone is what the fix wants.
        return status == ERROR_FILE_NOT_FOUND ? 0 : Win32Code(status);
    });
}

int32_t DeleteValueAction::SaveValue(Archive& archive) const {
    RegKey key = RegKey::OpenPath(keyPath_, false, false);
    DWORD type = REG_NONE;
    SharedBuffer data;
    LONG status = ReadRawValue(key.Handle(), Win32ValueName(valueName_), type, data);
    return WriteSavedValue(archive, status, type, data, SavedTypes::EngineCodes);
}

int32_t DeleteValueAction::SaveUndo(Archive& archive) {
    return Guarded([this, &archive] { return SaveValue(archive); });
}

LONG DeleteValueAction::PutBack(DWORD type, const SharedBuffer& data) {
    RegKey key = RegKey::OpenPath(keyPath_, false, true);
    return WriteRawValue(key.Handle(), Win32ValueName(valueName_), type, data);
}

SetValueAction::SetValueAction(const tstring& keyPath, const tstring& valueName, const tstring& dataText)
    : DeleteValueAction(KindSetValue, keyPath, valueName), dataText_(dataText) {}

tstring SetValueAction::Target() const {
    return tstring();
}

int32_t SetValueAction::Apply() {
    if (readBack_)
        return int32_t(E_UNEXPECTED);
    return Guarded([this] {
        RegKey key = RegKey::OpenPath(keyPath_, false, true);
        tstring name = Win32ValueName(valueName_);
        DWORD type = REG_NONE;
        SharedBuffer old;
        LONG status = ReadRawValue(key.Handle(), name, type, old);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            return Win32Code(status);
        // The new text replaces a text: a path with environment variables
        // must stay expandable, or it would stop resolving.
        DWORD written = status == ERROR_SUCCESS && type == REG_EXPAND_SZ ? REG_EXPAND_SZ : REG_SZ;
        SharedBuffer data(dataText_.c_str(), uint32_t((dataText_.size() + 1) * sizeof(wchar_t)));
        return Win32Code(WriteRawValue(key.Handle(), name, written, data));
    });
}

bool SetValueAction::Serialize(Archive& archive, bool storing) {
    // The third text is the name of a value object that older writers kept
    // beside the path; the data text itself is never stored, because a
    // read-back action is only ever restored from its undo data. A read-back
    // name is written back as it was: an undone mark is rewritten in place,
    // which needs the entry to keep its length.
    if (!ValueDeletionAction::Serialize(archive, storing))
        return false;
    try {
        if (storing) {
            UndoStream::WriteText(archive, heldName_);
            return true;
        }
        readBack_ = true;
        dataText_.clear();
        return UndoStream::ReadText(archive, heldName_);
    } catch (...) {
        return false;
    }
}

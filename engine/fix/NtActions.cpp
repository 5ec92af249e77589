#include "engine/fix/NtActions.h"
#include <winternl.h>
#include "common/archive/Archive.h"
#include "engine/registry/NativeRegistry.h"

namespace {

const ULONG kObjCaseInsensitive = 0x40;

// A key opened through ZwOpenKey, closed with the object.
class NtKeyHolder {
public:
    NtKeyHolder() = default;
    ~NtKeyHolder() {
        if (handle_)
            nsNT::ZwClose(handle_);
    }
    NtKeyHolder(const NtKeyHolder&) = delete;
    NtKeyHolder& operator=(const NtKeyHolder&) = delete;

    // A Win32 code.
    LONG Open(const tstring& markedPath, ACCESS_MASK access) {
        NtUnicodeString name = NativeRegistry::CountedName(NativeRegistry::ToNativePath(markedPath));
        if (!name.IsValid())
            return ERROR_FILENAME_EXCED_RANGE;
        OBJECT_ATTRIBUTES attributes = {};
        attributes.Length = sizeof attributes;
        attributes.ObjectName = name.Get();
        attributes.Attributes = kObjCaseInsensitive;
        NTSTATUS status = nsNT::ZwOpenKey(&handle_, access, &attributes);
        if (status != 0) {
            handle_ = nullptr;
            return LONG(nsNT::RtlNtStatusToDosError(status));
        }
        return ERROR_SUCCESS;
    }
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_ = nullptr;
};

}  // namespace

NtDeleteValueAction::NtDeleteValueAction(const tstring& keyPath, const tstring& valueName)
    : ValueDeletionAction(KindNtDeleteValue, keyPath, valueName) {}

int32_t NtDeleteValueAction::Apply() {
    return Guarded([this] {
        LONG status = NativeRegistry::DeleteValue(keyPath_, valueName_);
        return status == ERROR_FILE_NOT_FOUND ? 0 : Win32Code(status);
    });
}

int32_t NtDeleteValueAction::SaveUndo(Archive& archive) {
    return Guarded([this, &archive] {
        DWORD type = REG_NONE;
        SharedBuffer data;
        LONG status = NativeRegistry::ReadValue(keyPath_, valueName_, type, data);
        return WriteSavedValue(archive, status, type, data, SavedTypes::RegistryNumbers);
    });
}

LONG NtDeleteValueAction::PutBack(DWORD type, const SharedBuffer& data) {
    return NativeRegistry::SetValue(keyPath_, valueName_, type, data);
}

NtDeleteKeyAction::NtDeleteKeyAction(const tstring& keyPath, int32_t onlyWithoutSubkeys)
    : KeyDeletionAction(KindNtDeleteKey, keyPath, onlyWithoutSubkeys) {}

int32_t NtDeleteKeyAction::Apply() {
    return Guarded([this] { return Win32Code(NativeRegistry::DeleteKey(keyPath_)); });
}

int32_t NtDeleteKeyAction::SaveUndo(Archive& archive) {
    return Guarded([this, &archive] {
        // Only what the save needs: a key that may be read but not changed
        // must still be saved, and a key that cannot be opened has no undo
        // data, so the fix must not go on.
        if (keyPath_.find(L'\\') == tstring::npos)
            return int32_t(E_INVALIDARG);
        NtKeyHolder key;
        LONG status = key.Open(keyPath_, KEY_READ);
        if (status != ERROR_SUCCESS)
            return Win32Code(status);
        return Win32Code(NativeRegistry::SaveTree(key.Get(), PathFileName(keyPath_), archive));
    });
}

int32_t NtDeleteKeyAction::Restore(Archive& archive) {
    return Guarded([this, &archive] {
        uint32_t start = archive.Position();
        LONG status = NativeRegistry::RestoreTree(keyPath_, archive);
        // A record that could not be parsed leaves the stream where it began.
        if (status != ERROR_SUCCESS && archive.Position() == start)
            return UndoDataDamaged;
        return Win32Code(status);
    });
}

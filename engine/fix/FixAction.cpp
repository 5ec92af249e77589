#include "engine/fix/FixAction.h"
#include <new>
#include <vector>
#include "common/archive/Archive.h"
#include "common/errors/ErrorBase.h"
#include "engine/fix/KeyActions.h"
#include "engine/fix/NtActions.h"
#include "engine/fix/UndoTypeCode.h"
#include "engine/fix/ValueActions.h"

std::unique_ptr<FixAction> FixAction::Create(int32_t kind) {
    switch (kind) {
    case KindDeleteValue: return std::unique_ptr<FixAction>(new DeleteValueAction(tstring(), tstring()));
    case KindSetValue: return std::unique_ptr<FixAction>(new SetValueAction(tstring(), tstring(), tstring()));
    case KindDeleteKey: return std::unique_ptr<FixAction>(new DeleteKeyAction(tstring(), 0));
    case KindNtDeleteValue: return std::unique_ptr<FixAction>(new NtDeleteValueAction(tstring(), tstring()));
    case KindNtDeleteKey: return std::unique_ptr<FixAction>(new NtDeleteKeyAction(tstring(), 0));
    default: return nullptr;
    }
}

tstring FixAction::Target() const {
    return tstring();
}

int32_t FixAction::CodeOfCurrentException() {
    try {
        throw;
    } catch (const ErrorBase& e) {
        return int32_t(HResultOf(e));
    } catch (const std::bad_alloc&) {
        return int32_t(E_OUTOFMEMORY);
    } catch (...) {
        return int32_t(E_FAIL);
    }
}

tstring ValueDeletionAction::Target() const {
    return keyPath_ + L"\\" + valueName_;
}

int32_t ValueDeletionAction::Restore(Archive& archive) {
    return Guarded([this, &archive] {
        SharedBuffer data;
        int32_t saved = 0;
        if (!ReadSavedValue(archive, data, saved))
            return UndoDataDamaged;
        if (saved == AbsentValueType)
            return RestoreAbsent();
        DWORD type = REG_NONE;
        if (!RegistryTypeOf(saved, TypeCoding(), type))
            return Win32Code(ERROR_UNSUPPORTED_TYPE);
        return Win32Code(PutBack(type, data));
    });
}

bool ValueDeletionAction::Serialize(Archive& archive, bool storing) {
    try {
        if (storing) {
            UndoStream::WriteText(archive, keyPath_);
            UndoStream::WriteText(archive, valueName_);
            return true;
        }
        return UndoStream::ReadText(archive, keyPath_) && UndoStream::ReadText(archive, valueName_);
    } catch (...) {
        return false;
    }
}

bool KeyDeletionAction::Serialize(Archive& archive, bool storing) {
    try {
        if (storing) {
            UndoStream::WriteText(archive, keyPath_);
            archive.WriteByte(BYTE(onlyWithoutSubkeys_));
            return true;
        }
        BYTE only = 0;
        if (!UndoStream::ReadText(archive, keyPath_) || !UndoStream::ReadByte(archive, only))
            return false;
        onlyWithoutSubkeys_ = only ? 1 : 0;
        return true;
    } catch (...) {
        return false;
    }
}

namespace UndoStream {

void WriteText(Archive& archive, const tstring& text) {
    if (text.size() > 0x3FFFFFFF)
        throw HRError(HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW));
    archive.WriteInt(int32_t(text.size() * sizeof(wchar_t)));
    archive.WriteRaw(text.c_str(), uint32_t(text.size() * sizeof(wchar_t)));
}

bool ReadInt(Archive& archive, int32_t& value) {
    if (archive.Remaining() < 4)
        return false;
    value = archive.ReadInt();
    return true;
}

bool ReadByte(Archive& archive, BYTE& value) {
    if (archive.Remaining() < 1)
        return false;
    value = archive.ReadByte();
    return true;
}

bool ReadCount(Archive& archive, uint32_t minimumEach, uint32_t& count) {
    uint32_t start = archive.Position();
    int32_t value = 0;
    if (!ReadInt(archive, value))
        return false;
    if (value < 0 || (minimumEach && uint32_t(value) > archive.Remaining() / minimumEach)) {
        archive.Seek(start, 0);
        return false;
    }
    count = uint32_t(value);
    return true;
}

bool ReadText(Archive& archive, tstring& text) {
    uint32_t start = archive.Position();
    uint32_t bytes = 0;
    if (!ReadCount(archive, 1, bytes))
        return false;
    if (bytes % sizeof(wchar_t) != 0) {
        archive.Seek(start, 0);
        return false;
    }
    std::vector<wchar_t> units(bytes / sizeof(wchar_t));
    if (bytes)
        archive.ReadRaw(units.data(), bytes);
    text.assign(units.data(), units.size());
    return true;
}

bool ReadBlock(Archive& archive, SharedBuffer& data) {
    uint32_t bytes = 0;
    if (!ReadCount(archive, 1, bytes))
        return false;
    data.Release();
    if (bytes) {
        data = SharedBuffer(bytes);
        archive.ReadRaw(data.Data(), bytes);
    }
    return true;
}

}  // namespace UndoStream

LONG ReadRawValue(HKEY key, const tstring& name, DWORD& type, SharedBuffer& data) {
    for (;;) {
        DWORD size = 0;
        LONG status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
        if (status != ERROR_SUCCESS)
            return status;
        SharedBuffer buffer(size ? size : 1);
        DWORD read = size;
        status = RegQueryValueExW(key, name.c_str(), nullptr, &type, buffer.Data(), &read);
        if (status == ERROR_MORE_DATA)
            continue;  // the value grew between the two calls
        if (status != ERROR_SUCCESS)
            return status;
        buffer.Resize(read);
        data = read ? buffer : SharedBuffer();
        return ERROR_SUCCESS;
    }
}

LONG WriteRawValue(HKEY key, const tstring& name, DWORD type, const SharedBuffer& data) {
    return RegSetValueExW(key, name.c_str(), 0, type, data.Data(), data.Size());
}

int32_t SavedTypeOf(LONG status, DWORD type, SavedTypes coding, int32_t& saved) {
    if (status == ERROR_FILE_NOT_FOUND) {
        saved = AbsentValueType;
        return 0;
    }
    if (status != ERROR_SUCCESS)
        return Win32Code(status);
    if (coding == SavedTypes::EngineCodes)
        return UndoTypeCode::Encode(type, saved) ? 0 : Win32Code(ERROR_UNSUPPORTED_TYPE);
    if (int32_t(type) == AbsentValueType)
        return Win32Code(ERROR_UNSUPPORTED_TYPE);
    saved = int32_t(type);
    return 0;
}

bool RegistryTypeOf(int32_t saved, SavedTypes coding, DWORD& type) {
    if (coding == SavedTypes::EngineCodes)
        return UndoTypeCode::Decode(saved, type);
    type = DWORD(saved);
    return saved != AbsentValueType;
}

int32_t WriteSavedValue(Archive& archive, LONG status, DWORD type, const SharedBuffer& data, SavedTypes coding) {
    int32_t saved = 0;
    int32_t result = SavedTypeOf(status, type, coding, saved);
    if (result != 0)
        return result;
    archive.WriteBlock(status == ERROR_SUCCESS ? data : SharedBuffer());
    archive.WriteInt(saved);
    return 0;
}

bool ReadSavedValue(Archive& archive, SharedBuffer& data, int32_t& type) {
    uint32_t start = archive.Position();
    if (UndoStream::ReadBlock(archive, data) && UndoStream::ReadInt(archive, type))
        return true;
    archive.Seek(start, 0);
    return false;
}

tstring Win32ValueName(const tstring& name) {
    return name.CompareNoCase(L"(Default)") == 0 ? tstring() : name;
}

int32_t Win32Code(LONG status) {
    return FoldWin32(int32_t(status));
}

#include "engine/fix/KeyTreeRecord.h"
#include <sddl.h>
#include <cstring>
#include "common/archive/Archive.h"
#include "common/system/RegKeyHolder.h"
#include "engine/fix/FixAction.h"
#include "engine/fix/UndoTypeCode.h"

namespace {

// The registry nests at most 512 levels; a deeper record is damaged.
const int kMaxDepth = 512;
const DWORD kKeyNameRoom = 256;
const DWORD kValueNameRoom = 16384;
// Smallest nested key record: two empty texts and two zero counts; smallest
// value: an empty name, an empty block and the type.
const uint32_t kMinimumKeyRecord = 16;
const uint32_t kMinimumValue = 12;
const SECURITY_INFORMATION kAllParts =
    OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

// The name of a key's index-th subkey (or value); ERROR_NO_MORE_ITEMS past
// the last. A name with a NUL inside is refused (ERROR_INVALID_NAME): these
// functions could not recreate it by name.
LONG EnumName(HKEY key, DWORD index, bool value, std::vector<wchar_t>& buffer, tstring& name) {
    DWORD length = value ? kValueNameRoom : kKeyNameRoom;
    LONG status = value ? RegEnumValueW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr)
                        : RegEnumKeyExW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    if (length != DWORD(lstrlenW(buffer.data())))
        return ERROR_INVALID_NAME;
    name.assign(buffer.data(), length);
    return ERROR_SUCCESS;
}

LONG CreateForRestore(HKEY parent, const tstring& name, RegKeyHolder& child) {
    static const REGSAM kAccess[] = {
        KEY_READ | KEY_WRITE | WRITE_DAC | WRITE_OWNER,
        KEY_READ | KEY_WRITE | WRITE_DAC,
        KEY_READ | KEY_WRITE,
        // A key that survived and may not be changed: what it already holds
        // may well be what is to be restored.
        KEY_READ,
    };
    // An empty level would open the parent itself, a backslash another key, a NUL
    // cut the name short: all three would write into the wrong key.
    if (name.empty() || name.find(L'\\') != tstring::npos || name.find(L'\0') != tstring::npos)
        return ERROR_INVALID_NAME;
    LONG status = ERROR_ACCESS_DENIED;
    for (REGSAM access : kAccess) {
        status = RegCreateKeyExW(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                                 child.Receive(), nullptr);
        if (status != ERROR_ACCESS_DENIED)
            break;
    }
    return status;
}

// Only what differs is written back: a restore over a key that a failed fix
// never reached must not fail on a key it may not change.
bool HoldsValue(HKEY key, const KeyTreeRecord::Value& value) {
    DWORD type = REG_NONE;
    SharedBuffer data;
    if (ReadRawValue(key, value.name, type, data) != ERROR_SUCCESS || type != value.type ||
        data.Size() != value.data.Size())
        return false;
    return data.Size() == 0 || memcmp(data.Data(), value.data.Data(), data.Size()) == 0;
}

}  // namespace

LONG ReadKeySecurity(HKEY key, tstring& sddl) {
    sddl.clear();
    DWORD size = 0;
    LONG status = RegGetKeySecurity(key, kAllParts, nullptr, &size);
    if (status != ERROR_INSUFFICIENT_BUFFER)
        return status;
    std::vector<BYTE> descriptor(size);
    status = RegGetKeySecurity(key, kAllParts, descriptor.data(), &size);
    if (status != ERROR_SUCCESS)
        return status;
    LPWSTR text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1, kAllParts, &text,
                                                              nullptr))
        return LONG(GetLastError());
    sddl = text;
    LocalFree(text);
    return ERROR_SUCCESS;
}

LONG WriteKeySecurity(HKEY key, const tstring& sddl) {
    if (sddl.empty())
        return ERROR_SUCCESS;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return LONG(GetLastError());
    LONG status = RegSetKeySecurity(key, kAllParts, descriptor);
    if (status != ERROR_SUCCESS)
        status = RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
    return status;
}

LONG KeyTreeRecord::Read(HKEY key, const tstring& levelName, bool withContents) {
    *this = KeyTreeRecord();
    return ReadLevel(key, levelName, withContents, 0);
}

LONG KeyTreeRecord::ReadLevel(HKEY key, const tstring& levelName, bool withContents, int depth) {
    if (depth > kMaxDepth)
        return ERROR_INVALID_DATA;
    name = levelName;
    LONG status = ReadKeySecurity(key, security);
    if (status != ERROR_SUCCESS || !withContents)
        return status;
    std::vector<wchar_t> buffer(kValueNameRoom);
    for (DWORD index = 0;; ++index) {
        tstring childName;
        status = EnumName(key, index, false, buffer, childName);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS)
            return status;
        RegKeyHolder child;
        status = RegOpenKeyExW(key, childName.c_str(), 0, KEY_READ, child.Receive());
        if (status != ERROR_SUCCESS)
            return status;
        subkeys.emplace_back();
        status = subkeys.back().ReadLevel(child.Get(), childName, true, depth + 1);
        if (status != ERROR_SUCCESS)
            return status;
    }
    for (DWORD index = 0;; ++index) {
        Value value;
        status = EnumName(key, index, true, buffer, value.name);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS)
            return status;
        status = ReadRawValue(key, value.name, value.type, value.data);
        if (status != ERROR_SUCCESS)
            return status;
        int32_t code = 0;
        if (!UndoTypeCode::Encode(value.type, code))
            return ERROR_UNSUPPORTED_TYPE;
        values.push_back(std::move(value));
    }
    return ERROR_SUCCESS;
}

void KeyTreeRecord::Write(Archive& archive, bool withContents) const {
    UndoStream::WriteText(archive, name);
    UndoStream::WriteText(archive, security);
    if (!withContents)
        return;
    archive.WriteInt(int32_t(subkeys.size()));
    for (const KeyTreeRecord& subkey : subkeys)
        subkey.Write(archive, true);
    archive.WriteInt(int32_t(values.size()));
    for (const Value& value : values) {
        UndoStream::WriteText(archive, value.name);
        archive.WriteBlock(value.data);
        // Read refuses the types that have no code.
        int32_t code = UndoTypeCode::Unrestorable;
        if (value.restorable)
            UndoTypeCode::Encode(value.type, code);
        archive.WriteInt(code);
    }
}

bool KeyTreeRecord::Parse(Archive& archive, bool withContents) {
    uint32_t start = archive.Position();
    *this = KeyTreeRecord();
    if (ParseLevel(archive, withContents, 0))
        return true;
    archive.Seek(start, 0);
    *this = KeyTreeRecord();
    return false;
}

bool KeyTreeRecord::ParseLevel(Archive& archive, bool withContents, int depth) {
    if (depth > kMaxDepth)
        return false;
    if (!UndoStream::ReadText(archive, name) || !UndoStream::ReadText(archive, security))
        return false;
    if (!withContents)
        return true;
    uint32_t count = 0;
    if (!UndoStream::ReadCount(archive, kMinimumKeyRecord, count))
        return false;
    subkeys.resize(count);
    for (KeyTreeRecord& subkey : subkeys)
        if (!subkey.ParseLevel(archive, true, depth + 1))
            return false;
    if (!UndoStream::ReadCount(archive, kMinimumValue, count))
        return false;
    values.resize(count);
    for (Value& value : values) {
        int32_t code = 0;
        if (!UndoStream::ReadText(archive, value.name) || !UndoStream::ReadBlock(archive, value.data) ||
            !UndoStream::ReadInt(archive, code))
            return false;
        value.restorable = UndoTypeCode::Decode(code, value.type);
    }
    return true;
}

LONG KeyTreeRecord::ApplyTo(HKEY key) const {
    LONG result = ERROR_SUCCESS;
    auto keep = [&result](LONG status) {
        if (result == ERROR_SUCCESS)
            result = status;
    };
    for (const KeyTreeRecord& subkey : subkeys) {
        RegKeyHolder child;
        LONG status = CreateForRestore(key, subkey.name, child);
        if (status != ERROR_SUCCESS) {
            keep(status);
            continue;
        }
        keep(subkey.ApplyTo(child.Get()));
    }
    for (const Value& value : values) {
        if (!value.restorable)
            keep(ERROR_UNSUPPORTED_TYPE);
        else if (value.name.find(L'\0') != tstring::npos)
            keep(ERROR_INVALID_NAME);
        else if (!HoldsValue(key, value))
            keep(WriteRawValue(key, value.name, value.type, value.data));
    }
    tstring current;
    if (ReadKeySecurity(key, current) != ERROR_SUCCESS || current != security)
        keep(WriteKeySecurity(key, security));
    return result;
}

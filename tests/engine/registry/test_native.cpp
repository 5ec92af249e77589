#include <doctest/doctest.h>
#include <windows.h>
#include <sddl.h>
#include <cstring>
#include <map>
#include <string>
#include <vector>
#include "RegExport.h"
#include "RegistryTestKey.h"
#include "common/archive/Archive.h"
#include "common/errors/ErrorBase.h"
#include "engine/registry/NativeRegistry.h"
#include "engine/registry/RegKey.h"
#include "engine/registry/RegValue.h"

namespace {

// A native key handle for the tests, opened by engine path or relative name.
class TestNativeKey {
public:
    TestNativeKey(HANDLE root, NtUnicodeString name, ACCESS_MASK access) {
        OBJECT_ATTRIBUTES attributes = {};
        attributes.Length = sizeof attributes;
        attributes.RootDirectory = root;
        attributes.ObjectName = name.Get();
        attributes.Attributes = 0x40;  // case-insensitive
        status_ = nsNT::ZwOpenKey(&handle_, access, &attributes);
    }
    TestNativeKey(const tstring& markedPath, ACCESS_MASK access)
        : TestNativeKey(nullptr, NativeRegistry::CountedName(NativeRegistry::ToNativePath(markedPath)), access) {}
    ~TestNativeKey() {
        if (handle_)
            nsNT::ZwClose(handle_);
    }
    HANDLE Handle() const { return handle_; }
    NTSTATUS Status() const { return status_; }

private:
    HANDLE handle_ = nullptr;
    NTSTATUS status_ = 0;
};

SharedBuffer Buffer(const void* bytes, uint32_t size) {
    return SharedBuffer(bytes, size);
}

std::vector<BYTE> Bytes(const SharedBuffer& data) {
    return data.Size() ? std::vector<BYTE>(data.Data(), data.Data() + data.Size()) : std::vector<BYTE>();
}

tstring TempFile(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return FormatText(L"%sorvane-native-%s-%u.bin", folder, name, unsigned(GetCurrentProcessId()));
}

const wchar_t kDenyAll[] = L"D:P(D;;KA;;;WD)";
const wchar_t kAllowAll[] = L"D:P(A;;KA;;;WD)";

void SetDacl(HANDLE key, const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    REQUIRE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
    RegSetKeySecurity(HKEY(key), DACL_SECURITY_INFORMATION, descriptor);
    LocalFree(descriptor);
}

// Gives a key that shuts everyone out an open DACL again (the owner keeps WRITE_DAC).
void OpenUp(const tstring& markedPath) {
    TestNativeKey key(markedPath, WRITE_DAC);
    if (key.Handle())
        SetDacl(key.Handle(), kAllowAll);
}

tstring DaclOf(HANDLE key) {
    DWORD size = 0;
    RegGetKeySecurity(HKEY(key), DACL_SECURITY_INFORMATION, nullptr, &size);
    std::vector<BYTE> descriptor(size ? size : 1);
    if (RegGetKeySecurity(HKEY(key), DACL_SECURITY_INFORMATION, descriptor.data(), &size) != 0)
        return L"?";
    LPWSTR text = nullptr;
    ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1,
                                                         DACL_SECURITY_INFORMATION, &text, nullptr);
    tstring result(text ? text : L"");
    LocalFree(text);
    return result;
}

// Everything below a key as the native functions see it: path (marked) ->
// DACL and values (raw name -> type and bytes).
struct KeyContent {
    tstring dacl;
    std::map<std::wstring, std::pair<DWORD, std::vector<BYTE>>> values;
    bool operator==(const KeyContent& other) const { return dacl == other.dacl && values == other.values; }
};
using Snapshot = std::map<tstring, KeyContent>;

void Capture(HANDLE key, const tstring& path, Snapshot& snapshot) {
    KeyContent& content = snapshot[path];
    content.dacl = DaclOf(key);
    std::vector<wchar_t> buffer(16384);
    wchar_t* name = buffer.data();
    for (DWORD i = 0;; ++i) {
        DWORD length = 16384;
        if (RegEnumValueW(HKEY(key), i, name, &length, nullptr, nullptr, nullptr, nullptr) != 0)
            break;
        DWORD type = 0;
        SharedBuffer data;
        CHECK(NativeRegistry::QueryValue(key, NativeRegistry::NameText(name, length), type, data) == 0);
        content.values[std::wstring(name, length)] = {type, Bytes(data)};
    }
    for (DWORD i = 0;; ++i) {
        DWORD length = 16384;
        if (RegEnumKeyExW(HKEY(key), i, name, &length, nullptr, nullptr, nullptr, nullptr) != 0)
            break;
        TestNativeKey child(key, NtUnicodeString(name, length), KEY_READ);
        REQUIRE(child.Status() == 0);
        Capture(child.Handle(), path + L"\\" + NativeRegistry::NameText(name, length), snapshot);
    }
}

Snapshot Capture(const tstring& markedPath) {
    Snapshot snapshot;
    TestNativeKey key(markedPath, KEY_READ);
    if (key.Handle())
        Capture(key.Handle(), PathFileName(markedPath), snapshot);
    return snapshot;
}

std::string ExportText(const tstring& path) {
    return RegExportTo(RegExePath(path), TempFile(L"export") + L".reg");
}

}  // namespace

TEST_CASE("NativeRegistry: marked names and counted strings") {
    NtUnicodeString name = NativeRegistry::CountedName(L"a(null)b");
    REQUIRE(name.IsValid());
    CHECK(name.Get()->Length == 6);
    CHECK(name.Get()->MaximumLength == 8);
    CHECK(std::memcmp(name.Units(), L"a\0b\0", 8) == 0);
    CHECK(NativeRegistry::NameText(name.Units(), name.UnitCount()) == L"a(null)b");

    NtUnicodeString two = NativeRegistry::CountedName(L"(null)(null)x(NULL)");
    CHECK(two.UnitCount() == 9);
    CHECK(NativeRegistry::NameText(two.Units(), two.UnitCount()) == L"(null)(null)x(NULL)");

    CHECK(NtUnicodeString(L"abc\0def", NtUnicodeString::UpToNul).UnitCount() == 3);
    NtUnicodeString copy(name);
    CHECK(copy.Units() != name.Units());
    CHECK(NativeRegistry::NameText(copy.Units(), copy.UnitCount()) == L"a(null)b");

    // Too long for a 16-bit byte count: refused whole, never cut short.
    tstring tooLong(0x8000, L'x');
    CHECK_FALSE(NtUnicodeString(tooLong.c_str(), tooLong.size()).IsValid());
    CHECK(NtUnicodeString(tooLong.c_str(), NtUnicodeString::MaxUnits).IsValid());

    CHECK(PathFileName(L"HKCU\\a\\b(null)c") == L"b(null)c");
    CHECK(PathFileName(L"plain") == L"plain");
}

TEST_CASE("NativeRegistry: native paths") {
    CHECK(NativeRegistry::ToNativePath(L"HKLM\\Software\\x") == L"\\Registry\\Machine\\Software\\x");
    tstring user = NativeRegistry::ToNativePath(L"HKCU\\Software");
    CHECK(user.compare(0, 17, L"\\Registry\\User\\S-") == 0);
    CHECK(user.substr(user.size() - 9) == L"\\Software");
    CHECK(NativeRegistry::ToNativePath(L"hklm\\Software") == L"\\Software");
    CHECK(NativeRegistry::ToNativePath(L"HKLM") == L"HKLM");
}

TEST_CASE("NativeRegistry: the binder") {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    CHECK(NativeRegistry::Bind(L"nsNT::ZwOpenKey") == reinterpret_cast<void*>(GetProcAddress(ntdll, "ZwOpenKey")));
    CHECK(NativeRegistry::Bind(L"nsNT::ZwOpenKey") == NativeRegistry::Bind(L"nsNT::ZwOpenKey"));
    try {
        NativeRegistry::Bind(L"nsNT::ZwNoSuchFunction");
        FAIL("a missing function was bound");
    } catch (const Win32Error& e) {
        CHECK(e.Code() == int32_t(0x8007007F));
    }
}

TEST_CASE("NativeRegistry: names holding NULs are created, read, set and deleted") {
    RegistryTestKey scratch(L"nativenul");
    tstring key = scratch.Path() + L"\\k(null)ey";
    CHECK(NativeRegistry::CreateKey(key) == 0);
    CHECK(NativeRegistry::CreateKey(key + L"\\inner(null)") == 0);

    // What the Win32 functions list: the whole name comes back only with its length.
    wchar_t name[256];
    DWORD length = 256;
    REQUIRE(RegEnumKeyExW(scratch.Handle(), 0, name, &length, nullptr, nullptr, nullptr, nullptr) == 0);
    CHECK(length == 4);
    CHECK(NativeRegistry::NameText(name, length) == L"k(null)ey");
    CHECK(KeySubKeyCount(scratch.Handle()) == 1);
    // The key object leaves out what it cannot open.
    int listed = 0;
    for (RegKey& child : RegKey::OpenPath(scratch.Path()).SubKeys())
        listed += child.IsEmpty() ? 0 : 1;
    CHECK(listed == 0);

    const wchar_t text[] = L"longer than four bytes";
    CHECK(NativeRegistry::SetValue(scratch.Path(), L"v(null)1", REG_SZ, Buffer(text, sizeof text)) == 0);
    CHECK(NativeRegistry::SetValue(scratch.Path(), L"v", REG_DWORD, Buffer("\x01\x02\x03\x04", 4)) == 0);
    CHECK(KeyValueCount(scratch.Handle()) == 2);

    DWORD type = 0;
    SharedBuffer data;
    CHECK(NativeRegistry::ReadValue(scratch.Path(), L"v(null)1", type, data) == 0);
    CHECK(type == REG_SZ);
    CHECK(data.Size() == sizeof text);
    CHECK(std::memcmp(data.Data(), text, sizeof text) == 0);
    CHECK(NativeRegistry::ReadValue(scratch.Path(), L"v", type, data) == 0);
    CHECK(Bytes(data) == std::vector<BYTE>{1, 2, 3, 4});
    // The Win32 value list must not hand out the cut name "v" twice.
    std::vector<RegValue> values = RegKey::OpenPath(scratch.Path()).Values();
    REQUIRE(values.size() == 1);
    CHECK(values[0].DataText() == L"0x04030201");

    CHECK(NativeRegistry::DeleteValue(scratch.Path(), L"v(null)1") == 0);
    CHECK(NativeRegistry::ReadValue(scratch.Path(), L"v(null)1", type, data) == ERROR_FILE_NOT_FOUND);
    CHECK(NativeRegistry::DeleteValue(scratch.Path(), L"v(null)1") == ERROR_FILE_NOT_FOUND);
    CHECK(NativeRegistry::ReadValue(scratch.Path() + L"\\missing", L"v", type, data) == ERROR_FILE_NOT_FOUND);

    CHECK(NativeRegistry::DeleteKey(key) == 0);
    CHECK(KeySubKeyCount(scratch.Handle()) == 0);
    CHECK(NativeRegistry::DeleteKey(key) == 0);
    CHECK(NativeRegistry::DeleteKey(scratch.Path() + L"\\no\\such\\path") == 0);
}

TEST_CASE("NativeRegistry: RegKey::DeleteTree also removes keys with NUL names") {
    RegistryTestKey scratch(L"nativekeytree");
    REQUIRE(NativeRegistry::CreateKey(scratch.Path() + L"\\top") == 0);
    REQUIRE(NativeRegistry::CreateKey(scratch.Path() + L"\\top\\a(null)b") == 0);
    REQUIRE(NativeRegistry::CreateKey(scratch.Path() + L"\\top\\a(null)b\\c(null)") == 0);
    REQUIRE(NativeRegistry::CreateKey(scratch.Path() + L"\\top\\a") == 0);
    RegKey::OpenPath(scratch.Path() + L"\\top").DeleteTree(true);
    CHECK(KeySubKeyCount(scratch.Handle()) == 0);
}

TEST_CASE("NativeRegistry: failure codes are converted once") {
    RegistryTestKey scratch(L"nativecodes");
    tstring top = scratch.Path() + L"\\top";
    REQUIRE(NativeRegistry::CreateKey(top) == 0);
    REQUIRE(NativeRegistry::CreateKey(top + L"\\mid") == 0);
    REQUIRE(NativeRegistry::CreateKey(top + L"\\mid\\shut") == 0);
    {
        TestNativeKey shut(top + L"\\mid\\shut", WRITE_DAC);
        SetDacl(shut.Handle(), kDenyAll);
    }
    CHECK(NativeRegistry::SetValue(top + L"\\mid\\shut", L"v", REG_SZ, Buffer(L"x", 4)) == ERROR_ACCESS_DENIED);
    // The denial two levels down comes back as 5, not as 5 converted again.
    CHECK(NativeRegistry::DeleteKey(top) == ERROR_ACCESS_DENIED);
    CHECK(KeySubKeyCount(TestNativeKey(top, KEY_READ).Handle()) == 1);

    Archive archive(TempFile(L"codes"), Archive::ModeCreate);
    {
        TestNativeKey key(top, KEY_READ);
        CHECK(NativeRegistry::SaveTree(key.Handle(), L"top", archive) == ERROR_ACCESS_DENIED);
    }
    // Nothing of the record was written.
    CHECK(archive.Size() == 0);
    archive.Close();
    DeleteFileW(TempFile(L"codes").c_str());
    OpenUp(top + L"\\mid\\shut");
    CHECK(NativeRegistry::DeleteKey(top) == 0);
}

TEST_CASE("NativeRegistry: paths too long for a counted string are refused") {
    RegistryTestKey scratch(L"nativelong");
    // A byte count cut to 16 bits would name the scratch key itself.
    tstring native = NativeRegistry::ToNativePath(scratch.Path());
    tstring path = scratch.Path() + L"\\" + tstring(0x8000 - 1, L'x');
    REQUIRE(NativeRegistry::ToNativePath(path).size() == native.size() + 0x8000);
    CHECK(NativeRegistry::DeleteKey(path) == ERROR_FILENAME_EXCED_RANGE);
    CHECK(NativeRegistry::CreateKey(path) == ERROR_FILENAME_EXCED_RANGE);
    DWORD type = 0;
    SharedBuffer data;
    CHECK(NativeRegistry::ReadValue(path, L"v", type, data) == ERROR_FILENAME_EXCED_RANGE);
    CHECK(KeyExists(HKEY_CURRENT_USER, scratch.Relative()));
}

TEST_CASE("NativeRegistry: a saved tree is restored whole") {
    RegistryTestKey scratch(L"nativesave");
    tstring top = scratch.Path() + L"\\tree";
    REQUIRE(NativeRegistry::CreateKey(top) == 0);
    REQUIRE(NativeRegistry::CreateKey(top + L"\\plain") == 0);
    REQUIRE(NativeRegistry::CreateKey(top + L"\\nul(null)key") == 0);
    REQUIRE(NativeRegistry::CreateKey(top + L"\\nul(null)key\\deep(null)(null)er") == 0);
    REQUIRE(NativeRegistry::CreateKey(top + L"\\secured") == 0);

    uint64_t qword = 0x0102030405060708ull;
    const wchar_t multi[] = L"a\0b\0";
    struct {
        const wchar_t* name;
        DWORD type;
        const void* data;
        uint32_t size;
    } values[] = {
        {L"", REG_SZ, L"default", 16},
        {L"sz", REG_SZ, L"text", 10},
        {L"expand", REG_EXPAND_SZ, L"%TEMP%", 14},
        {L"multi", REG_MULTI_SZ, multi, sizeof multi},
        {L"dword", REG_DWORD, "\x1F\0\0\0", 4},
        {L"qword", REG_QWORD, &qword, 8},
        {L"binary", REG_BINARY, "\x00\xFF\x10", 3},
        {L"none", REG_NONE, "\x01", 1},
        {L"empty", REG_BINARY, nullptr, 0},
        {L"va(null)lue", REG_SZ, L"hidden", 14},
        {L"(null)lead", REG_DWORD, "\x05\0\0\0", 4},
    };
    // The keys with NUL names take their values through handles.
    for (const wchar_t* path : {L"", L"\\nul(null)key\\deep(null)(null)er", L"\\plain"}) {
        TestNativeKey key(top + path, KEY_SET_VALUE);
        REQUIRE(key.Status() == 0);
        for (auto& v : values)
            CHECK(NativeRegistry::SetValueByHandle(key.Handle(), v.name, v.type,
                                                   v.size ? Buffer(v.data, v.size) : SharedBuffer()) == 0);
    }
    {
        TestNativeKey secured(top + L"\\secured", WRITE_DAC);
        SetDacl(secured.Handle(), L"D:P(A;;KA;;;WD)(A;;KR;;;BU)");
    }

    Snapshot before = Capture(top);
    REQUIRE(before.size() == 5);
    CHECK(before[L"tree\\nul(null)key\\deep(null)(null)er"].values.size() == 11);
    CHECK(before[L"tree\\secured"].dacl == L"D:P(A;;KA;;;WD)(A;;KR;;;BU)");
    std::string exportBefore = ExportText(scratch.Path());

    tstring file = TempFile(L"tree");
    {
        Archive archive(file, Archive::ModeCreate);
        TestNativeKey key(top, KEY_READ);
        CHECK(NativeRegistry::SaveTree(key.Handle(), PathFileName(top), archive) == 0);
        archive.WriteInt(0x5EA1);  // whatever follows the record stays readable
    }
    CHECK(NativeRegistry::DeleteKey(top) == 0);
    CHECK(Capture(top).empty());

    Archive archive(file, Archive::ModeRead);
    CHECK(NativeRegistry::RestoreTree(top, archive) == 0);
    CHECK(archive.ReadInt() == 0x5EA1);
    archive.Close();
    DeleteFileW(file.c_str());

    Snapshot after = Capture(top);
    CHECK(after.size() == before.size());
    for (auto& [path, content] : before) {
        CAPTURE(path);
        CHECK(after[path] == content);
    }
    CHECK(ExportText(scratch.Path()) == exportBefore);
    CHECK_FALSE(exportBefore.empty());
}

TEST_CASE("NativeRegistry: a damaged record changes nothing") {
    RegistryTestKey scratch(L"nativedamaged");
    tstring top = scratch.Path() + L"\\saved";
    REQUIRE(NativeRegistry::CreateKey(top) == 0);
    REQUIRE(NativeRegistry::CreateKey(top + L"\\child") == 0);
    REQUIRE(NativeRegistry::SetValue(top + L"\\child", L"v", REG_BINARY, Buffer("\x01\x02\x03\x04\x05", 5)) == 0);
    tstring file = TempFile(L"damaged");
    uint32_t whole = 0;
    {
        Archive archive(file, Archive::ModeCreate);
        TestNativeKey key(top, KEY_READ);
        REQUIRE(NativeRegistry::SaveTree(key.Handle(), L"saved", archive) == 0);
        whole = archive.Size();
    }
    REQUIRE(NativeRegistry::DeleteKey(top) == 0);

    SUBCASE("cut short anywhere") {
        for (uint32_t cut = 0; cut < whole; cut += 3) {
            Archive archive(file, Archive::ModeRead);
            SharedBuffer bytes;
            archive.ReadBuffer(bytes, cut);
            Archive shortened(file + L".cut", Archive::ModeCreate);
            shortened.WriteBuffer(bytes);
            shortened.Close();
            shortened.Open(file + L".cut", Archive::ModeRead);
            CHECK(NativeRegistry::RestoreTree(top, shortened) == ERROR_INVALID_DATA);
            CHECK(shortened.Position() == 0);
        }
        DeleteFileW((file + L".cut").c_str());
    }
    SUBCASE("a count far beyond the data") {
        Archive archive(file, Archive::ModeReadWrite);
        // The subkey count follows the two strings "saved" and the DACL text.
        archive.Seek(0, 0);
        int32_t nameBytes = archive.ReadInt();
        archive.Seek(nameBytes, 1);
        int32_t daclBytes = archive.ReadInt();
        archive.Seek(daclBytes, 1);
        archive.WriteInt(0x7FFFFFFF);
        archive.Close();
        archive.Open(file, Archive::ModeRead);
        CHECK(NativeRegistry::RestoreTree(top, archive) == ERROR_INVALID_DATA);
    }
    CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, scratch.Relative() + L"\\saved"));
    DeleteFileW(file.c_str());
}

TEST_CASE("NativeRegistry: nested records restore below a parent") {
    RegistryTestKey scratch(L"nativenested");
    REQUIRE(NativeRegistry::CreateKey(scratch.Path() + L"\\src") == 0);
    REQUIRE(NativeRegistry::CreateKey(scratch.Path() + L"\\src\\n(null)") == 0);
    REQUIRE(NativeRegistry::SetValue(scratch.Path() + L"\\src", L"v", REG_SZ, Buffer(L"x", 4)) == 0);
    tstring file = TempFile(L"nested");
    {
        Archive archive(file, Archive::ModeCreate);
        TestNativeKey key(scratch.Path() + L"\\src", KEY_READ);
        REQUIRE(NativeRegistry::SaveTree(key.Handle(), L"copy(null)", archive) == 0);
    }
    Archive archive(file, Archive::ModeRead);
    TestNativeKey parent(scratch.Path(), KEY_WRITE);
    CHECK(NativeRegistry::RestoreSubKeys(parent.Handle(), archive) == 0);
    archive.Close();
    DeleteFileW(file.c_str());
    Snapshot copy = Capture(scratch.Path() + L"\\copy(null)");
    CHECK(copy.size() == 2);
    CHECK(copy.count(L"copy(null)\\n(null)") == 1);
    CHECK(copy[L"copy(null)"].values[L"v"].first == REG_SZ);
}

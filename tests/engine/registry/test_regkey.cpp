#include <doctest/doctest.h>
#include <windows.h>
#include <sddl.h>
#include <atomic>
#include <set>
#include <thread>
#include "RegistryTestKey.h"
#include "common/errors/ErrorBase.h"
#include "engine/registry/RegKey.h"
#include "engine/registry/RegValue.h"

namespace {

int32_t CodeOf(void (*action)(const tstring&), const tstring& argument) {
    try {
        action(argument);
    } catch (const ErrorBase& e) {
        return e.Code();
    }
    return 0;
}

bool HandleIsOpen(HKEY key) {
    DWORD subkeys = 0;
    return RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr, nullptr) == ERROR_SUCCESS;
}

DWORD SubkeyCount(HKEY key) {
    DWORD subkeys = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
    return subkeys;
}

// A DACL that shuts everyone out; the owner keeps READ_CONTROL and WRITE_DAC,
// which lets the test open the key up again.
const wchar_t kDenyAll[] = L"D:P(D;;KA;;;WD)";
const wchar_t kAllowAll[] = L"D:P(A;;KA;;;WD)";

void SetDacl(HKEY parent, const tstring& name, const wchar_t* sddl) {
    RegKey key = RegKey::OpenChild(RegKey(parent), name, true, true);
    key.SetSecurity(key.GetSecurity().substr(0, key.GetSecurity().find(L"D:")) + sddl);
}

// Opens a key that denies everything by giving it back an open DACL.
void OpenUp(HKEY parent, const tstring& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(parent, name.c_str(), 0, WRITE_DAC, &key) != ERROR_SUCCESS)
        return;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(kAllowAll, 1, &descriptor, nullptr)) {
        RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
        LocalFree(descriptor);
    }
    RegCloseKey(key);
}

}  // namespace

TEST_CASE("RegKey: roots open by every spelling, in any case") {
    CHECK(RegKey(HKEY_LOCAL_MACHINE).Name() == L"HKLM");
    CHECK(RegKey(HKEY_USERS).Name() == L"HKU");
    CHECK(RegKey(nullptr).Name().empty());

    const wchar_t* names[] = {L"HKLM", L"HKCR", L"HKCU", L"HKCC", L"HKDD", L"HKU",
                              L"HKEY_LOCAL_MACHINE", L"HKEY_CLASSES_ROOT", L"HKEY_CURRENT_USER",
                              L"HKEY_CURRENT_CONFIG", L"HKEY_DYN_DATA", L"HKEY_USERS"};
    HKEY keys[] = {HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_CURRENT_CONFIG, HKEY_DYN_DATA,
                   HKEY_USERS};
    for (int i = 0; i < 12; ++i) {
        RegKey root = RegKey::OpenPath(names[i]);
        CHECK(root.Handle() == keys[i % 6]);
        CHECK(root.Name() == names[i]);
        CHECK(root.IsRoot());
    }
    RegKey lower = RegKey::OpenPath(L"hkey_local_machine");
    CHECK(lower.Handle() == HKEY_LOCAL_MACHINE);
    CHECK(lower.Name() == L"hkey_local_machine");

    CHECK(RegKey::OpenPath(L"HKEY_LOCAL_MACHINE\\SOFTWARE").FullPath() == L"HKLM\\SOFTWARE");
    CHECK(RegKey::OpenPath(L"hkcu\\Software").FullPath() == L"HKCU\\Software");
    CHECK(RegKey::OpenPath(L"HKEY_CURRENT_USER\\Software").Ancestor(0).Handle() == HKEY_CURRENT_USER);
    CHECK(RegKey::OpenPath(L"HKCR\\CLSID").FullPath() == L"HKCR\\CLSID");
    CHECK(RegKey::OpenPath(L"HKU\\.DEFAULT").FullPath() == L"HKU\\.DEFAULT");
    CHECK(RegKey::OpenPath(L"HKEY_USERS\\.DEFAULT\\Software").FullPath() == L"HKU\\.DEFAULT\\Software");

    CHECK(OpenKeyByPath(L"HKEY_CURRENT_USER\\Software") == ERROR_SUCCESS);
    CHECK(OpenKeyByPath(L"hkcu\\Software\\OrvaneTest-missing-key") == ERROR_FILE_NOT_FOUND);
}

TEST_CASE("RegKey: unknown roots and empty levels are refused") {
    auto open = [](const tstring& path) { RegKey::OpenPath(path); };
    CHECK(CodeOf(open, L"HKXX\\Software") == FoldWin32(ERROR_BAD_PATHNAME));
    CHECK(CodeOf(open, L"Software") == FoldWin32(ERROR_BAD_PATHNAME));
    CHECK(CodeOf(open, L"HKCU\\") == FoldWin32(ERROR_BAD_PATHNAME));
    CHECK(CodeOf(open, L"HKCU\\\\Software") == FoldWin32(ERROR_BAD_PATHNAME));
    CHECK(CodeOf(open, L"HKCU\\Software\\") == FoldWin32(ERROR_BAD_PATHNAME));
    CHECK_THROWS_AS(RegKey::OpenChild(RegKey(HKEY_CURRENT_USER), L""), ErrorBase);
    CHECK_THROWS_AS(RegKey::OpenChild(RegKey(), L"Software"), ErrorBase);

    CHECK(OpenKeyByPath(L"HKCU\\") == ERROR_BAD_PATHNAME);
    CHECK(OpenKeyByPath(L"HKCU") == ERROR_BAD_PATHNAME);
    CHECK(OpenKeyByPath(L"HKXX\\Software") == ERROR_BAD_PATHNAME);
}

TEST_CASE("RegKey: a root is never deleted or emptied") {
    RegistryTestKey scratch(L"rootguard");
    // Were the empty level accepted, the object would be HKCU itself.
    CHECK_THROWS_AS(RegKey::OpenPath(L"HKCU\\", true, true).DeleteTree(true), ErrorBase);
    RegKey root = RegKey::OpenPath(L"HKCU");
    try {
        root.DeleteTree(true);
        FAIL("a root was accepted for deletion");
    } catch (const ErrorBase& e) {
        CHECK(e.Code() == FoldWin32(ERROR_ACCESS_DENIED));
    }
    CHECK_THROWS_AS(RegKey(HKEY_CURRENT_USER).DeleteTree(false), ErrorBase);
    CHECK(root.Handle() == HKEY_CURRENT_USER);
    CHECK(KeyExists(HKEY_CURRENT_USER, L"Software"));
    CHECK(KeyExists(HKEY_CURRENT_USER, scratch.Relative()));
}

TEST_CASE("RegKey: copies share one handle, closed with the last copy") {
    RegistryTestKey scratch(L"copies");
    HKEY handle = nullptr;
    {
        RegKey copy;
        {
            RegKey key = RegKey::OpenPath(scratch.Path());
            handle = key.Handle();
            copy = key;
            RegKey second(key);
            CHECK(second.Handle() == handle);
        }
        CHECK(copy.Handle() == handle);
        CHECK(HandleIsOpen(handle));
        CHECK(copy.FullPath() == scratch.Path());
    }
    CHECK_FALSE(HandleIsOpen(handle));

    RegKey key = RegKey::OpenPath(scratch.Path());
    key = key;
    CHECK(HandleIsOpen(key.Handle()));
    // Assigning an ancestor to its own descendant must not free what it copies.
    key = key.Ancestor(0);
    CHECK(key.FullPath() == L"HKCU\\Software\\OrvaneTest\\registry");
    CHECK(HandleIsOpen(key.Handle()));
}

TEST_CASE("RegKey: ancestors and full paths") {
    RegistryTestKey scratch(L"ancestors");
    CreateKey(scratch.Handle(), L"A");
    RegKey b = RegKey::OpenPath(scratch.Path() + L"\\A\\B", true, true);
    CHECK(b.FullPath() == scratch.Path() + L"\\A\\B");
    CHECK(b.Name() == L"B");
    CHECK(b.Ancestor(0).FullPath() == scratch.Path() + L"\\A");
    CHECK(b.AncestorCount() == 6);
    CHECK(b.Ancestor(5).Handle() == HKEY_CURRENT_USER);
    CHECK(b.Ancestor(5).Name() == L"HKCU");
    CHECK_THROWS_AS(b.Ancestor(6), ErrorBase);
    CHECK_THROWS_AS(b.Ancestor(-1), ErrorBase);
}

TEST_CASE("RegKey: opening and creating missing keys") {
    RegistryTestKey scratch(L"missing");
    try {
        RegKey::OpenPath(scratch.Path() + L"\\Nope");
        FAIL("a missing key opened");
    } catch (const ErrorBase& e) {
        CHECK(e.Code() == int32_t(0x80070002));
    }
    RegKey created = RegKey::OpenPath(scratch.Path() + L"\\New", true);
    CHECK(KeyExists(HKEY_CURRENT_USER, scratch.Relative() + L"\\New"));
    // Only the last level is created.
    CHECK_THROWS_AS(RegKey::OpenPath(scratch.Path() + L"\\Gone\\Deeper", true), ErrorBase);
    CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, scratch.Relative() + L"\\Gone"));
    // Read access refuses writes; writable access allows them.
    DWORD one = 1;
    CHECK(RegSetValueExW(RegKey::OpenPath(scratch.Path() + L"\\New").Handle(), L"v", 0, REG_DWORD,
                         reinterpret_cast<BYTE*>(&one), 4) == ERROR_ACCESS_DENIED);
    CHECK(RegSetValueExW(RegKey::OpenPath(scratch.Path() + L"\\New", false, true).Handle(), L"v", 0, REG_DWORD,
                         reinterpret_cast<BYTE*>(&one), 4) == ERROR_SUCCESS);
}

TEST_CASE("RegKey: subkeys enumerate in batches") {
    RegistryTestKey scratch(L"batches");
    for (int i = 0; i < 250; ++i)
        CreateKey(scratch.Handle(), FormatText(L"k%03d", i));
    RegKey key = RegKey::OpenPath(scratch.Path());

    SUBCASE("batches of 100") {
        SubKeyList list = key.SubKeys();
        std::set<tstring> seen;
        int expected = 0;
        for (auto it = list.Begin(); it != list.End(); ++it) {
            CHECK(it.Index() == expected++);
            CHECK(it->Ancestor(0).FullPath() == scratch.Path());
            seen.insert(it->Name());
        }
        CHECK(seen.size() == 250);
        CHECK(seen.count(L"k000") == 1);
        CHECK(seen.count(L"k249") == 1);
        // Begin starts again from the first subkey.
        CHECK(list.Begin()->Name() == L"k000");
    }
    SUBCASE("all at once") {
        int count = 0;
        for (RegKey& child : key.SubKeys(true)) {
            CHECK(HandleIsOpen(child.Handle()));
            ++count;
        }
        CHECK(count == 250);
    }
    SUBCASE("children that cannot be opened are left out, the rest is listed") {
        // A whole batch of unreadable children must not end the list early.
        for (int i = 0; i < 120; ++i)
            SetDacl(scratch.Handle(), FormatText(L"k%03d", i), kDenyAll);
        int count = 0;
        for (RegKey& child : key.SubKeys()) {
            CHECK(child.Name().compare(L"k120") >= 0);
            ++count;
        }
        for (int i = 0; i < 120; ++i)
            OpenUp(scratch.Handle(), FormatText(L"k%03d", i));
        CHECK(count == 130);
    }
    SUBCASE("erase hands over the next child") {
        SubKeyList list = key.SubKeys();
        int count = 0;
        for (auto it = list.Begin(); it != list.End(); it = list.Erase(it))
            ++count;
        CHECK(count == 250);
    }
}

TEST_CASE("RegKey: an enumeration error ends the list") {
    RegistryTestKey scratch(L"enumerror");
    CreateKey(scratch.Handle(), L"a");
    RegKey key = RegKey::OpenPath(scratch.Path());
    SubKeyList list = key.SubKeys();
    auto it = list.Begin();
    REQUIRE(it != list.End());
    // The parent goes away under the list: every further index fails.
    RegDeleteTreeW(HKEY_CURRENT_USER, scratch.Relative().c_str());
    int steps = 0;
    while (it != list.End() && steps < 10) {
        ++it;
        ++steps;
    }
    CHECK(it == list.End());
    CHECK(steps == 1);

    // A key whose enumeration fails for every index (Wine's performance
    // counter key answers ERROR_INVALID_HANDLE forever) yields a finite list.
    RegKey perflib = RegKey::OpenPath(L"HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib\\009");
    SubKeyList list2 = perflib.SubKeys();
    int n = 0;
    for (auto child = list2.Begin(); child != list2.End() && n <= 100000; ++child)
        ++n;
    CHECK(n < 100000);
}

TEST_CASE("RegKey: DeleteTree removes a whole tree") {
    RegistryTestKey scratch(L"deletetree");
    RegKey top = RegKey::OpenPath(scratch.Path() + L"\\Top", true, true);
    int made = 0;
    for (int i = 0; i < 200; ++i, ++made)
        CreateKey(top.Handle(), FormatText(L"sibling%03d", i));
    for (int i = 0; i < 10; ++i, made += 5)
        CreateKey(top.Handle(), FormatText(L"sibling%03d\\a\\b\\c\\d\\e", i * 7));
    tstring longName(255, L'x');
    longName[0] = L'L';
    CreateKey(top.Handle(), longName + L"\\" + longName);
    made += 2;
    CHECK(made >= 250);
    REQUIRE(KeyExists(HKEY_CURRENT_USER, scratch.Relative() + L"\\Top\\" + longName + L"\\" + longName));
    HKEY value = nullptr;
    RegCreateKeyExW(top.Handle(), L"sibling001", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &value, nullptr);
    RegSetValueExW(value, L"v", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
    RegCloseKey(value);

    SUBCASE("keep the key") {
        top.DeleteTree(false);
        CHECK(SubkeyCount(top.Handle()) == 0);
        CHECK(KeyExists(HKEY_CURRENT_USER, scratch.Relative() + L"\\Top"));
        CHECK(top.FullPath() == scratch.Path() + L"\\Top");
    }
    SUBCASE("with the key") {
        RegKey copy = top;
        top.DeleteTree(true);
        CHECK(top.IsEmpty());
        CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, scratch.Relative() + L"\\Top"));
        CHECK(SubkeyCount(scratch.Handle()) == 0);
    }
}

TEST_CASE("RegKey: DeleteTree stops at a child that denies access") {
    RegistryTestKey scratch(L"denied");
    RegKey top = RegKey::OpenPath(scratch.Path() + L"\\Top", true, true);
    CreateKey(top.Handle(), L"open\\inner");
    CreateKey(top.Handle(), L"shut\\inner");
    SetDacl(top.Handle(), L"shut", kDenyAll);
    try {
        top.DeleteTree(true);
        FAIL("the tree was deleted although a child denies access");
    } catch (const ErrorBase& e) {
        CHECK(e.Code() == int32_t(0x80070005));
    }
    CHECK(KeyExists(HKEY_CURRENT_USER, scratch.Relative() + L"\\Top"));
    OpenUp(top.Handle(), L"shut");
    top.DeleteTree(true);
    CHECK_FALSE(KeyExists(HKEY_CURRENT_USER, scratch.Relative() + L"\\Top"));
}

TEST_CASE("RegKey: security reads and writes as SDDL text") {
    RegistryTestKey scratch(L"security");
    RegKey key = RegKey::OpenPath(scratch.Path() + L"\\Secured", true);
    tstring original = key.GetSecurity();
    CHECK(original.find(L"O:") == 0);
    CHECK(original.find(L"G:") != tstring::npos);
    CHECK(original.find(L"D:") != tstring::npos);
    key.SetSecurity(original);
    CHECK(key.GetSecurity() == original);

    tstring custom = original.substr(0, original.find(L"D:")) + L"D:P(A;;KA;;;WD)(A;;KR;;;BU)";
    key.SetSecurity(custom);
    CHECK(RegKey::OpenPath(scratch.Path() + L"\\Secured").GetSecurity() == custom);

    // A text with the DACL alone leaves owner and group as they are.
    key.SetSecurity(L"D:P(A;;KA;;;WD)");
    tstring daclOnly = key.GetSecurity();
    CHECK(daclOnly.substr(0, daclOnly.find(L"D:")) == original.substr(0, original.find(L"D:")));
    CHECK(daclOnly.substr(daclOnly.find(L"D:")) == L"D:P(A;;KA;;;WD)");

    CHECK_THROWS_AS(key.SetSecurity(L"not a descriptor"), ErrorBase);
    // Read access carries no WRITE_DAC.
    CHECK_THROWS_AS(RegKey::OpenPath(scratch.Path() + L"\\Secured").SetSecurity(original), ErrorBase);
}

TEST_CASE("RegKey: values are listed by name, not read") {
    RegistryTestKey scratch(L"values");
    const wchar_t* names[] = {L"", L"one", L"two"};
    for (const wchar_t* name : names)
        RegSetValueExW(scratch.Handle(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
    std::vector<RegValue> values = RegKey::OpenPath(scratch.Path()).Values();
    REQUIRE(values.size() == 3);
    std::set<tstring> seen;
    for (RegValue& value : values) {
        CHECK(value.Type() == RegValue::NotRead);
        CHECK(value.FullPath() == scratch.Path());
        seen.insert(value.Name());
    }
    CHECK(seen == std::set<tstring>{L"", L"one", L"two"});
}

TEST_CASE("RegKey: a value deleted while the values are read ends the list, not the read") {
    RegistryTestKey scratch(L"vanishing");
    RegSetValueExW(scratch.Handle(), L"keep", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"x"), 4);
    // Too large to come with its name, the last value's name is asked again: after another thread deleted it.
    const std::vector<BYTE> large(0x2000, 7);
    std::atomic<bool> done(false);
    std::thread toggler([&] {
        for (; !done; RegDeleteValueW(scratch.Handle(), L"large"))
            RegSetValueExW(scratch.Handle(), L"large", 0, REG_BINARY, large.data(), DWORD(large.size()));
    });
    int kept = 0;
    for (int round = 0; round < 1000; ++round) {
        try {
            kept += RegKey::OpenPath(scratch.Path()).ValuesRead().at(0).Name() == L"keep";
        } catch (const ErrorBase&) {}
    }
    done = true;
    toggler.join();
    CHECK(kept == 1000);
}

#include <doctest/doctest.h>
#include <algorithm>
#include "test_category_support.h"
#include "engine/registry/NativeRegistry.h"
#include "engine/scan/NulNameScan.h"

using namespace cattest;

namespace {

SharedBuffer Text(const wchar_t* text) { return SharedBuffer(text, DWORD((lstrlenW(text) + 1) * sizeof(wchar_t))); }

}  // namespace

TEST_CASE("The NUL scan finds key and value names with NUL characters in both hives") {
    const tstring tag = Tag() + L"nul";
    PlantedKey user(HKEY_CURRENT_USER, L"Software\\OrvaneTest\\" + tag);
    PlantedKey machine(HKEY_LOCAL_MACHINE, L"SOFTWARE\\" + tag);
    const tstring userPath = L"HKCU\\" + user.Path();
    const tstring machinePath = L"HKLM\\" + machine.Path();

    // The registry keeps its own letter case of the machine's Software key.
    // x NUL y, with a subkey below it that the scan must not enter.
    REQUIRE(NativeRegistry::CreateKey(userPath + L"\\A") == 0);
    REQUIRE(NativeRegistry::CreateKey(userPath + L"\\A\\x(null)y") == 0);
    REQUIRE(NativeRegistry::CreateKey(userPath + L"\\A\\x(null)y\\below(null)") == 0);
    REQUIRE(NativeRegistry::SetValue(machinePath, L"v(null)", REG_SZ, Text(L"data")) == 0);
    REQUIRE(NativeRegistry::SetValue(machinePath, L"(null)(null)", REG_DWORD, SharedBuffer("\1\0\0\0", 4)) == 0);
    // Sound twins: plain names give nothing.
    user.Set(L"A\\xy", L"v", L"plain");
    machine.Set(L"", L"v", L"plain");

    TestSink sink;
    ScanGroup group(&sink, 128, NullNamesGroupProc);
    DWORD started = GetTickCount();
    CHECK(RunGroup(group) == ScanGroup::ExitDone);
    // Two whole hives of a fresh prefix take seconds; a minute means a walk gone wrong.
    CHECK(GetTickCount() - started < 60000);
    CHECK(sink.finished == std::vector<uint32_t>{128});
    CHECK(sink.errors.empty());

    std::vector<TestSink::Found> mine = FindingsAbout(sink, tag);
    std::sort(mine.begin(), mine.end(),
              [](const TestSink::Found& a, const TestSink::Found& b) { return a.result.Item < b.result.Item; });
    REQUIRE(mine.size() == 3);

    const TestSink::Found& bothNul = mine[1];
    CHECK(bothNul.result.ErrorID == 0x01490064);
    CHECK(SameText(bothNul.result.Item, machinePath + L"\\(null)(null)"));
    CHECK(SameText(bothNul.keyPath, machinePath));
    CHECK(bothNul.valueName == L"(null)(null)");
    CHECK(bothNul.result.ValueName == L"(null)(null)");
    CHECK(SameText(bothNul.result.KeyPath, machinePath));
    CHECK(bothNul.result.Reason.empty());
    CHECK(bothNul.groupBit == 128);

    const TestSink::Found& value = mine[2];
    CHECK(value.result.ErrorID == 0x01490064);
    CHECK(SameText(value.result.Item, machinePath + L"\\v(null)"));
    CHECK(SameText(value.keyPath, machinePath));
    CHECK(value.valueName == L"v(null)");

    const TestSink::Found& key = mine[0];
    CHECK(key.result.ErrorID == 0x014A0064);
    CHECK(key.result.Item == userPath + L"\\A\\x(null)y");
    CHECK(key.result.KeyPath == key.result.Item);
    CHECK(key.keyPath == key.result.Item);
    CHECK(key.valueName.empty());
    CHECK(key.result.ValueName.empty());
    CHECK(key.result.Reason.empty());

    // A fresh prefix holds no such names: every other finding is another test's.
    for (const TestSink::Found& f : sink.found)
        CHECK_MESSAGE(!IsPrefixOwn(f), Describe(f));

    // Progress moved in steps and never beyond the whole.
    for (int32_t p : sink.progress) CHECK((p >= 0 && p <= 100));
    CHECK(group.SubtaskCount() == 0);

    NativeRegistry::DeleteKey(userPath + L"\\A\\x(null)y");
    NativeRegistry::DeleteValue(machinePath, L"v(null)");
    NativeRegistry::DeleteValue(machinePath, L"(null)(null)");
}

TEST_CASE("A stop during the machine hive ends the NUL scan before the user hive") {
    const tstring tag = Tag() + L"nulstop";
    PlantedKey user(HKEY_CURRENT_USER, L"Software\\OrvaneTest\\" + tag);
    const tstring userPath = L"HKCU\\" + user.Path();
    REQUIRE(NativeRegistry::CreateKey(userPath + L"\\k(null)") == 0);

    TestSink sink;
    ScanGroup group(&sink, 128);
    group.RequestStop();
    // Called on this thread: Start would clear the stop flag.
    CHECK(NullNamesGroupProc(group) == ScanGroup::ExitStopped);
    CHECK(sink.finished == std::vector<uint32_t>{128});
    CHECK(FindingsAbout(sink, tag).empty());
    CHECK(group.SubtaskCount() == 0);
    NativeRegistry::DeleteKey(userPath + L"\\k(null)");
}

TEST_CASE("WalkHive reports per key and moves progress by the four-levels-down keys") {
    const tstring tag = Tag() + L"walk";
    PlantedKey base(HKEY_CURRENT_USER, L"Software\\OrvaneTest\\" + tag);
    const tstring basePath = L"HKCU\\" + base.Path();
    // Ten keys three levels below the walked key: walked from depth 1, they sit at depth 4.
    for (int i = 0; i < 10; ++i) base.MakeSub(FormatText(L"a\\b\\k%d", i));
    REQUIRE(NativeRegistry::SetValue(basePath + L"\\a\\b", L"n(null)1", REG_SZ, Text(L"x")) == 0);
    // A link to "a" beside it, as CurrentControlSet is one: the value is still one finding.
    HKEY target = nullptr, link = nullptr;
    tstring targetName;
    REQUIRE(RegOpenKeyExW(HKEY_CURRENT_USER, (base.Path() + L"\\a").c_str(), 0, KEY_READ, &target) == 0);
    REQUIRE(NativeRegistry::KeyObjectName(target, targetName) == 0);
    RegCloseKey(target);
    REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, (base.Path() + L"\\link").c_str(), 0, nullptr,
                            REG_OPTION_VOLATILE | REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_CREATE_LINK, nullptr,
                            &link, nullptr) == 0);
    REQUIRE(RegSetValueExW(link, L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(targetName.c_str()),
                           DWORD(targetName.size() * sizeof(wchar_t))) == 0);

    TestSink sink;
    ScanGroup group(&sink, 128);
    HiveWalkProgress progress;
    progress.group = &group;
    progress.subtaskId = group.RegisterSubtask();
    progress.increment = 1.5;

    HKEY key = nullptr;
    REQUIRE(RegOpenKeyExW(HKEY_CURRENT_USER, base.Path().c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS);
    WalkHive(key, basePath, group, progress, 1, false);
    RegCloseKey(key);

    // The link walks the ten keys once more. Every fourth key brings 6 pending
    // points (> 5), which are sent; after the twentieth nothing is left over.
    CHECK(progress.current == doctest::Approx(30.0));
    CHECK(progress.pending == doctest::Approx(0.0));
    CHECK(sink.progress == std::vector<int32_t>{6, 12, 18, 24, 30});
    REQUIRE(sink.found.size() == 1);
    CHECK(sink.found[0].result.Item == basePath + L"\\a\\b\\n(null)1");
    CHECK(sink.found[0].keyPath == basePath + L"\\a\\b");
    NativeRegistry::DeleteValue(basePath + L"\\a\\b", L"n(null)1");
    // A link key is removed only through its own handle.
    auto deleteKey = reinterpret_cast<LONG(NTAPI*)(HANDLE)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtDeleteKey")));
    CHECK(deleteKey(link) == 0);
    RegCloseKey(link);
}

TEST_CASE("The walk of a key deleted under it ends instead of retrying every index") {
    const tstring tag = Tag() + L"gone";
    HKEY key = nullptr;
    {
        PlantedKey doomed(HKEY_CURRENT_USER, L"Software\\OrvaneTest\\" + tag);
        doomed.MakeSub(L"child");
        REQUIRE(RegOpenKeyExW(HKEY_CURRENT_USER, doomed.Path().c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS);
    }
    // Every enumeration of the open handle now fails with the same error.
    wchar_t name[64];
    DWORD length = 64;
    LONG rc = RegEnumKeyExW(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    CHECK(rc != ERROR_SUCCESS);
    CHECK(rc != ERROR_NO_MORE_ITEMS);

    TestSink sink;
    ScanGroup group(&sink, 128);
    struct Walk {
        HKEY key;
        ScanGroup* group;
    } walk{key, &group};
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID p) -> DWORD {
            Walk* w = static_cast<Walk*>(p);
            HiveWalkProgress progress;
            WalkHive(w->key, L"HKCU\\gone", *w->group, progress, 0, false);
            return 0;
        },
        &walk, 0, nullptr);
    REQUIRE(thread != nullptr);
    bool ended = WaitForSingleObject(thread, 30000) == WAIT_OBJECT_0;
    if (!ended) TerminateThread(thread, 1);
    CloseHandle(thread);
    RegCloseKey(key);
    CHECK(ended);
    CHECK(sink.found.empty());
}

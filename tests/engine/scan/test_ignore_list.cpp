#include <doctest/doctest.h>
#include <memory>
#include <thread>
#include "common/errors/ErrorBase.h"
#include "common/system/FileSaveLock.h"
#include "engine/scan/IgnoreFile.h"
#include "engine/scan/IgnoreList.h"
#include "HeldFile.h"
#include "test_ignore_files.h"

using namespace ignoretest;

namespace {

ScanRecord Finding(int32_t errorId, const wchar_t* key, const wchar_t* value, const wchar_t* item = L"item") {
    CheckResult c;
    c.ErrorID = errorId;
    c.KeyPath = key;
    c.ValueName = value;
    c.Item = item;
    c.Reason = L"reason";
    return ScanRecord(c);
}

// A user and a system file in a folder of their own.
struct Lists {
    TempFolder folder{L"ignore"};
    tstring user = folder.File(L"ignores.dat");
    tstring system = folder.File(L"SystemIgnores.dat");
    IgnoreList list{user, system};
};

std::vector<tstring> Keys(const std::vector<ScanRecord>& records) {
    std::vector<tstring> keys;
    for (const auto& r : records)
        keys.push_back(r.KeyPath);
    return keys;
}

}  // namespace

TEST_CASE("A missing user file is created empty; a missing system file is a failed load") {
    Lists l;
    CHECK_FALSE(l.list.Loaded());
    CHECK(l.list.Load(IgnoreList::User) == 0);
    CHECK(l.list.Loaded());
    CHECK(ReadAll(l.user) == std::string(4, '\0'));
    CHECK(l.list.Load(IgnoreList::System) == -1);
    CHECK_FALSE(FileExists(l.system));
    CHECK(l.list.UserRecords().empty());
    CHECK(l.list.SystemRecords().empty());
}

TEST_CASE("A user file with a flipped byte loads nothing and is kept beside an empty one") {
    Lists l;
    IgnoreBytes b;
    b.Full(L"HKCU\\a", L"", L"", L"", 1);
    std::string bytes = b.Bytes();
    bytes[bytes.size() - 2] ^= 0x40;
    WriteAll(l.user, bytes);
    CHECK(l.list.Load(IgnoreList::User) == -1);
    CHECK(l.list.UserRecords().empty());
    // The damaged list is left for the user to see; saves go on in a new one.
    CHECK(ReadAll(l.user + L".damaged") == bytes);
    CHECK(ReadAll(l.user) == std::string(4, '\0'));
    CHECK(l.list.Loaded());
    l.list.Add(Finding(2, L"HKCU\\b", L""));
    l.list.Save();
    IgnoreList reread(l.user, l.system);
    REQUIRE(reread.Load(IgnoreList::User) == 0);
    CHECK(Keys(reread.UserRecords()) == std::vector<tstring>{L"HKCU\\b"});

    // A file damaged after the load is set aside by the save, which writes
    // the list this object holds.
    WriteAll(l.user, "not a list");
    l.list.Add(Finding(3, L"HKCU\\c", L""));
    l.list.Save();
    CHECK(ReadAll(l.user + L".damaged") == "not a list");
    REQUIRE(reread.Load(IgnoreList::User) == 0);
    CHECK(Keys(reread.UserRecords()) == std::vector<tstring>{L"HKCU\\b", L"HKCU\\c"});
}

TEST_CASE("A busy user file: read again shortly, else never written over until it is read") {
    Lists l;
    IgnoreBytes b;
    b.Full(L"HKCU\\kept1", L"", L"", L"", 1).Full(L"HKCU\\kept2", L"v", L"", L"", 2);
    const std::string bytes = b.Bytes();
    WriteAll(l.user, bytes);

    SUBCASE("held for a moment: the load waits it out") {
        std::unique_ptr<IgnoreList> list;
        int loaded = -2;
        REQUIRE_MESSAGE(WhileHeldForAMoment(l.user, 150, 400,
                                            [&] {
                                                list.reset(new IgnoreList(l.user, l.system));
                                                loaded = list->Load(IgnoreList::User);
                                            }),
                        "the list's holder was never let go within the load's retries");
        CHECK(loaded == 0);
        CHECK(Keys(list->UserRecords()) == std::vector<tstring>{L"HKCU\\kept1", L"HKCU\\kept2"});
        CHECK_FALSE(list->Unread());
    }
    SUBCASE("held past the retries: marked, the save refused, the file read before the next save") {
        HeldFile held(l.user);
        REQUIRE(held.Held());
        CHECK(l.list.Load(IgnoreList::User) == -1);
        CHECK(l.list.Unread());
        l.list.Add(Finding(3, L"HKCU\\mine", L""));
        CHECK_THROWS_AS(l.list.Save(), ErrorBase);
        held.Release();
        CHECK(ReadAll(l.user) == bytes);
        l.list.Save();
        CHECK_FALSE(l.list.Unread());
        IgnoreList reread(l.user, l.system);
        REQUIRE(reread.Load(IgnoreList::User) == 0);
        CHECK(Keys(reread.UserRecords()) ==
              std::vector<tstring>{L"HKCU\\kept1", L"HKCU\\kept2", L"HKCU\\mine"});
        CHECK(Keys(l.list.UserRecords()) == Keys(reread.UserRecords()));
    }
    SUBCASE("held past the retries, free before the listing: the listing catches up") {
        {
            HeldFile held(l.user);
            CHECK(l.list.Load(IgnoreList::User) == -1);
        }
        l.list.CatchUp();
        CHECK(Keys(l.list.UserRecords()) == std::vector<tstring>{L"HKCU\\kept1", L"HKCU\\kept2"});
        CHECK(ReadAll(l.user) == bytes);
    }
}

TEST_CASE("Two lists over one file: each save puts its own changes on the other's records") {
    Lists l;
    IgnoreBytes b;
    b.Full(L"HKCU\\kept1", L"", L"", L"", 1).Full(L"HKCU\\kept2", L"", L"", L"", 2);
    WriteAll(l.user, b.Bytes());
    IgnoreList other(l.user, l.system);
    REQUIRE(l.list.Load(IgnoreList::User) == 0);
    REQUIRE(other.Load(IgnoreList::User) == 0);

    other.Add(Finding(5, L"HKCU\\addedByOther", L""));
    other.Save();
    // This one removes a record and adds one of its own; the other's stays.
    REQUIRE(l.list.Remove(1));
    l.list.Add(Finding(6, L"HKCU\\mine", L""));
    l.list.Save();
    const std::vector<tstring> expected{L"HKCU\\kept2", L"HKCU\\addedByOther", L"HKCU\\mine"};
    CHECK(Keys(l.list.UserRecords()) == expected);
    IgnoreList reread(l.user, l.system);
    REQUIRE(reread.Load(IgnoreList::User) == 0);
    CHECK(Keys(reread.UserRecords()) == expected);

    // The same finding ignored in both is stored once; a dismissal takes what
    // that list held, not what the other added since.
    l.list.Add(Finding(7, L"HKCU\\both", L""));
    other.Add(Finding(7, L"HKCU\\both", L""));
    l.list.Save();
    other.Save();
    REQUIRE(reread.Load(IgnoreList::User) == 0);
    CHECK(Keys(reread.UserRecords()) ==
          std::vector<tstring>{L"HKCU\\kept2", L"HKCU\\addedByOther", L"HKCU\\mine", L"HKCU\\both"});
    l.list.Add(Finding(8, L"HKCU\\late", L""));
    l.list.Save();
    other.Dismiss();
    other.Save();
    REQUIRE(reread.Load(IgnoreList::User) == 0);
    CHECK(Keys(reread.UserRecords()) == std::vector<tstring>{L"HKCU\\late"});
}

TEST_CASE("A save waits for another saver's lock, then keeps what that saver wrote") {
    Lists l;
    REQUIRE(l.list.Load(IgnoreList::User) == 0);
    l.list.Add(Finding(1, L"HKCU\\mine", L""));
    bool saved = false;
    std::thread saver;
    {
        // Any saver of the file: another engine object, in this process or another.
        FileSaveLock other(_T("OrvaneIgnores-"), l.user, 0);
        REQUIRE(other.Owned());
        saver = std::thread([&] {
            try {
                l.list.Save();
                saved = true;
            } catch (const ErrorBase&) {
            }
        });
        Sleep(1000);
        IgnoreBytes theirs;
        theirs.Full(L"HKCU\\theirs", L"", L"", L"", 2);
        WriteAll(l.user, theirs.Bytes());
    }
    testlimit::Join(saver, testlimit::kStep, "the save waiting for the lock");
    CHECK(saved);
    IgnoreList reread(l.user, l.system);
    REQUIRE(reread.Load(IgnoreList::User) == 0);
    CHECK(Keys(reread.UserRecords()) == std::vector<tstring>{L"HKCU\\theirs", L"HKCU\\mine"});
}

TEST_CASE("Full records join the user list from either file, short ones only the system list") {
    Lists l;
    IgnoreBytes user;
    user.Full(L"HKCU\\u", L"", L"r", L"i", 3).Short(1, L"HKCU\\dropped", L"");
    WriteAll(l.user, user.Bytes());
    IgnoreBytes system;
    system.Short(1, L"HKLM\\Software\\Sys", L"").Full(L"HKLM\\fromsystem", L"v", L"", L"", 4);
    WriteAll(l.system, system.Bytes());

    REQUIRE(l.list.Load(IgnoreList::User) == 0);
    REQUIRE(l.list.Load(IgnoreList::System) == 0);
    CHECK(Keys(l.list.UserRecords()) == std::vector<tstring>{L"HKCU\\u", L"HKLM\\fromsystem"});
    CHECK(Keys(l.list.SystemRecords()) == std::vector<tstring>{L"HKLM\\Software\\Sys"});
    CHECK(l.list.Knows(Finding(4, L"HKLM\\fromsystem", L"v")));

    // Reloading one list leaves the other as it is.
    REQUIRE(l.list.Load(IgnoreList::User) == 0);
    CHECK(Keys(l.list.UserRecords()) == std::vector<tstring>{L"HKCU\\u"});
    CHECK(l.list.SystemRecords().size() == 1);
}

TEST_CASE("Export and import: a fresh list takes each record once") {
    Lists source;
    source.list.Load(IgnoreList::User);
    source.list.Add(Finding(0x012D0065, L"HKCR\\CLSID\\{1}", L"", L"{1}"));
    source.list.Add(Finding(0x012E0066, L"HKCU\\Software\\x", L"name", L"file.dll"));
    tstring exported = source.folder.File(L"export.dat");
    source.list.Export(exported);

    Lists target;
    REQUIRE(target.list.Load(IgnoreList::User) == 0);
    target.list.Import(exported);
    target.list.Import(exported);
    auto records = target.list.UserRecords();
    REQUIRE(records.size() == 2);
    CHECK(records[0].ErrorID == 0x012D0065);
    CHECK(records[0].Item == L"{1}");
    CHECK(records[0].Reason == L"reason");
    CHECK(records[1].ValueName == L"name");
    // Import saves the user file.
    CHECK(ReadAll(target.user) == ReadAll(exported));

    Lists reread;
    WriteAll(reread.user, ReadAll(target.user));
    REQUIRE(reread.list.Load(IgnoreList::User) == 0);
    CHECK(reread.list.UserRecords().size() == 2);
}

TEST_CASE("An import skips flag-1 records and takes other flags as full records") {
    Lists l;
    l.list.Load(IgnoreList::User);
    tstring path = l.folder.File(L"mixed.dat");
    IgnoreBytes b;
    b.Short(1, L"HKLM\\short", L"v").Full(L"HKCU\\next", L"", L"", L"", 2);
    b.Byte(5).Text(L"HKCU\\five").Text(L"").Text(L"").Text(L"").Int(5);
    WriteAll(path, b.Bytes());
    l.list.Import(path);
    auto records = l.list.UserRecords();
    CHECK(Keys(records) == std::vector<tstring>{L"HKCU\\next", L"HKCU\\five"});
    CHECK(records[1].Flag == 0);
    // What the engine wrote must read back as full records in its own lists.
    REQUIRE(l.list.Load(IgnoreList::User) == 0);
    CHECK(l.list.UserRecords().size() == 2);
}

TEST_CASE("A damaged import merges nothing and leaves the user file alone") {
    Lists l;
    l.list.Load(IgnoreList::User);
    l.list.Add(Finding(1, L"HKCU\\kept", L""));
    l.list.Save();
    std::string saved = ReadAll(l.user);
    tstring path = l.folder.File(L"bad.dat");

    IgnoreBytes good;
    good.Full(L"HKCU\\first", L"", L"", L"", 1).Full(L"HKCU\\second", L"", L"", L"", 2);
    std::string goodBytes = good.Bytes();

    SUBCASE("flipped") {
        std::string bytes = goodBytes;
        bytes[9] ^= 0x01;
        WriteAll(path, bytes);
        CHECK_THROWS_AS(l.list.Import(path), ErrorBase);
    }
    SUBCASE("truncated") {
        WriteAll(path, goodBytes.substr(0, goodBytes.size() - 3));
        CHECK_THROWS_AS(l.list.Import(path), ErrorBase);
    }
    SUBCASE("crafted: a valid record, then a count beyond the file") {
        IgnoreBytes crafted;
        crafted.Full(L"HKCU\\first", L"", L"", L"", 1).Byte(0).Int(0x40000000);
        WriteAll(path, crafted.Bytes());
        CHECK_THROWS_AS(l.list.Import(path), ErrorBase);
    }
    SUBCASE("missing") {
        CHECK_THROWS_AS(l.list.Import(l.folder.File(L"absent.dat")), ErrorBase);
    }
    CHECK(Keys(l.list.UserRecords()) == std::vector<tstring>{L"HKCU\\kept"});
    CHECK(ReadAll(l.user) == saved);
}

TEST_CASE("The index keeps one entry per ErrorID, KeyPath and ValueName") {
    Lists l;
    IgnoreBytes twice;
    twice.Full(L"HKCU\\dup", L"v", L"r1", L"i1", 8).Full(L"HKCU\\dup", L"v", L"r2", L"i2", 8);
    WriteAll(l.user, twice.Bytes());
    REQUIRE(l.list.Load(IgnoreList::User) == 0);
    CHECK(l.list.UserRecords().size() == 2);

    // Item and Reason do not make a record new.
    tstring path = l.folder.File(L"one.dat");
    IgnoreBytes one;
    one.Full(L"HKCU\\dup", L"v", L"other", L"other", 8);
    WriteAll(path, one.Bytes());
    l.list.Import(path);
    CHECK(l.list.UserRecords().size() == 2);

    // Removing one copy forgets the entry, so the same import now adds it.
    CHECK(l.list.Remove(1));
    CHECK_FALSE(l.list.Knows(Finding(8, L"HKCU\\dup", L"v")));
    l.list.Import(path);
    auto records = l.list.UserRecords();
    REQUIRE(records.size() == 2);
    CHECK(records[0].Reason == L"r2");
    CHECK(records[1].Reason == L"other");
}

TEST_CASE("Positions count from 1; outside the list nothing changes") {
    Lists l;
    l.list.Load(IgnoreList::User);
    l.list.Add(Finding(1, L"HKCU\\a", L""));
    l.list.Add(Finding(2, L"HKCU\\b", L""));
    l.list.Add(Finding(3, L"HKCU\\c", L""));
    CHECK_FALSE(l.list.Remove(0));
    CHECK_FALSE(l.list.Remove(4));
    CHECK_FALSE(l.list.Remove(-1));
    CHECK(l.list.UserRecords().size() == 3);
    CHECK(l.list.Remove(2));
    CHECK(Keys(l.list.UserRecords()) == std::vector<tstring>{L"HKCU\\a", L"HKCU\\c"});
    CHECK(l.list.Remove(2));
    CHECK(l.list.Remove(1));
    CHECK_FALSE(l.list.Remove(1));
    l.list.Add(Finding(1, L"HKCU\\a", L""));
    l.list.Dismiss();
    CHECK(l.list.UserRecords().empty());
    CHECK_FALSE(l.list.Knows(Finding(1, L"HKCU\\a", L"")));
}

TEST_CASE("Saving and exporting report a failed write") {
    TempFolder folder(L"ignore");
    IgnoreList list(folder.File(L"missing folder\\ignores.dat"), folder.File(L"SystemIgnores.dat"));
    list.Add(Finding(1, L"HKCU\\a", L""));
    CHECK_THROWS_AS(list.Save(), ErrorBase);
    CHECK_THROWS_AS(list.Export(folder.File(L"missing folder\\export.dat")), ErrorBase);
    // Nor can an empty user list be created there.
    CHECK(list.Load(IgnoreList::User) == -1);
}

TEST_CASE("A user record covers key paths that begin with its own, in the same letter case") {
    Lists l;
    l.list.Load(IgnoreList::User);
    l.list.Add(Finding(1, L"HKCU\\Software\\App", L""));
    l.list.Add(Finding(2, L"HKLM\\Run", L"Tool"));

    CHECK(l.list.Covers(L"HKCU\\Software\\App", L""));
    CHECK(l.list.Covers(L"HKCU\\Software\\App\\Sub", L"any"));
    CHECK(l.list.Covers(L"HKCU\\Software\\Application", L""));
    CHECK_FALSE(l.list.Covers(L"HKCU\\software\\app", L""));
    CHECK_FALSE(l.list.Covers(L"HKCU\\Software", L""));

    CHECK(l.list.Covers(L"HKLM\\Run", L"Tool"));
    CHECK(l.list.Covers(L"HKLM\\Run\\x", L"Toolbar"));
    CHECK_FALSE(l.list.Covers(L"HKLM\\Run", L"tool"));
    CHECK_FALSE(l.list.Covers(L"HKLM\\Run", L""));
    CHECK_FALSE(l.list.Covers(L"HKLM\\Run", L"Too"));
}

TEST_CASE("A system record covers key paths in any letter case, value names exactly") {
    Lists l;
    IgnoreBytes system;
    system.Short(1, L"HKLM\\Software\\Vendor", L"").Short(1, L"HKCR\\.ext", L"Cmd");
    WriteAll(l.system, system.Bytes());
    REQUIRE(l.list.Load(IgnoreList::System) == 0);

    CHECK(l.list.Covers(L"HKLM\\SOFTWARE\\vendor\\x", L"v"));
    CHECK(l.list.Covers(L"hkcr\\.EXT", L"Cmd2"));
    CHECK_FALSE(l.list.Covers(L"hkcr\\.EXT", L"cmd"));
    CHECK_FALSE(l.list.Covers(L"HKLM\\Software", L""));

    // An empty key path in a record covers everything it names a value for.
    Lists all;
    IgnoreBytes everything;
    everything.Short(1, L"", L"Legacy");
    WriteAll(all.system, everything.Bytes());
    REQUIRE(all.list.Load(IgnoreList::System) == 0);
    CHECK(all.list.Covers(L"HKU\\S-1\\x", L"Legacy"));
    CHECK_FALSE(all.list.Covers(L"HKU\\S-1\\x", L"Other"));
}

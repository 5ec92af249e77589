#include <doctest/doctest.h>
#include <windows.h>
#include <map>
#include "UndoTestSupport.h"
#include "common/errors/ErrorBase.h"
#include "engine/fix/UndoCatalogue.h"
#include "engine/fix/UndoFile.h"

using namespace undotest;

namespace {

// Creation times cannot be set on every file system (nor under Wine), so the
// tests give each file its time by name.
class TestClock : public UndoClock {
public:
    FILETIME Now() const override { return now; }
    FILETIME CreationTime(const tstring& path, const WIN32_FIND_DATAW& found) const override {
        auto it = created.find(found.cFileName);
        return it != created.end() ? it->second : now;
    }

    FILETIME now = {};
    std::map<tstring, FILETIME> created;
};

SYSTEMTIME Time(int year, int month, int day, int hour = 12, int minute = 0, int second = 0, int ms = 0) {
    SYSTEMTIME t = {};
    t.wYear = WORD(year);
    t.wMonth = WORD(month);
    t.wDay = WORD(day);
    t.wHour = WORD(hour);
    t.wMinute = WORD(minute);
    t.wSecond = WORD(second);
    t.wMilliseconds = WORD(ms);
    return t;
}

FILETIME Utc(int year, int month, int day, int hour = 12) {
    SYSTEMTIME t = Time(year, month, day, hour);
    FILETIME f = {};
    SystemTimeToFileTime(&t, &f);
    return f;
}

bool SameTime(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
           a.wMinute == b.wMinute && a.wSecond == b.wSecond && a.wMilliseconds == b.wMilliseconds;
}

// An undo file with entries, of which the first `undone` are marked undone.
void MakeUndoFile(const tstring& path, int entries, int undone = 0) {
    {
        UndoFile file;
        file.Create(path);
        for (int i = 0; i < entries; ++i)
            file.WriteEntry(*EmptyEntry(FormatText(L"item %d", i)));
        file.Close();
    }
    if (!undone)
        return;
    UndoFile file;
    file.Open(path);
    UndoEntryList list;
    file.ReadEntries(list, true);
    for (int i = 0; i < undone; ++i)
        file.UndoEntry(list, size_t(i));
    for (auto& entry : list)
        file.WriteEntry(*entry);
    file.Close();
}

std::vector<tstring> Names(const std::vector<UndoFileInfo>& list) {
    std::vector<tstring> names;
    for (const UndoFileInfo& info : list)
        names.push_back(info.FileName);
    return names;
}

}  // namespace

TEST_CASE("UndoCatalogue: an empty, missing or undo-less folder lists nothing") {
    TempFolder folder(ScratchFolder(L"catnone"));
    CHECK(UndoCatalogue(folder.Path()).List().empty());
    CHECK(UndoCatalogue(folder / L"missing").List().empty());
    WriteWholeFile(folder / L"notes.txt", {1, 2, 3, 4});
    MakeUndoFile(folder / L"undo.bak", 1);
    CHECK(UndoCatalogue(folder.Path()).List().empty());
    CHECK(folder.Files().size() == 2);
    // No folder is not the current directory.
    CHECK(UndoCatalogue(L"").List().empty());
    CHECK_THROWS_AS(UndoCatalogue(L"").NewFileName(), ErrorBase);
}

TEST_CASE("UndoCatalogue: usable files oldest first; used-up ones deleted; damaged and foreign ones kept") {
    TempFolder folder(ScratchFolder(L"catlist"));
    TestClock clock;
    clock.now = Utc(2026, 12, 8);
    MakeUndoFile(folder / L"a.dat", 2);
    MakeUndoFile(folder / L"b.dat", 1);
    MakeUndoFile(folder / L"c.dat", 3, 1);
    clock.created[L"a.dat"] = Utc(2026, 3, 3);
    clock.created[L"b.dat"] = Utc(2026, 1, 1);
    clock.created[L"c.dat"] = Utc(2026, 2, 2);

    WriteWholeFile(folder / L"tiny.dat", {0x51, 0x4E, 0x52});
    WriteWholeFile(folder / L"other.dat", std::vector<BYTE>(100, 0x20));
    MakeUndoFile(folder / L"empty.dat", 0);
    MakeUndoFile(folder / L"used.dat", 2, 2);
    MakeUndoFile(folder / L"crc.dat", 1);
    std::vector<BYTE> damaged = ReadWholeFile(folder / L"crc.dat");
    damaged[0x30] ^= 0x40;
    WriteWholeFile(folder / L"crc.dat", damaged);
    MakeUndoFile(folder / L"newer.dat", 1);
    std::vector<BYTE> newer = ReadWholeFile(folder / L"newer.dat");
    PutIntAt(newer, 8, 0x00020000);
    Reseal(newer);
    WriteWholeFile(folder / L"newer.dat", newer);

    std::vector<UndoFileInfo> list = UndoCatalogue(folder.Path(), clock).List();
    CHECK(Names(list) == std::vector<tstring>{L"b.dat", L"c.dat", L"a.dat"});
    REQUIRE(list.size() == 3);
    CHECK(list[0].FixesCount == 1);
    CHECK(list[1].FixesCount == 2);
    CHECK(list[2].FixesCount == 2);
    CHECK(SameTime(list[0].Time, Time(2026, 1, 1)));
    CHECK(SameTime(list[2].Time, Time(2026, 3, 3)));
    CHECK_FALSE(list[0].DateText.empty());
    CHECK(list[0].DateText != list[2].DateText);

    CHECK(folder.Files() == std::vector<tstring>{L"a.dat", L"b.dat", L"c.dat", L"crc.dat", L"newer.dat",
                                                  L"other.dat", L"tiny.dat"});
    // The kept files are still exactly as they were.
    CHECK(ReadWholeFile(folder / L"crc.dat") == damaged);
    CHECK(ReadWholeFile(folder / L"newer.dat") == newer);
}

TEST_CASE("UndoCatalogue: the purge keeps the 30 newest files and every file of this month") {
    TempFolder folder(ScratchFolder(L"catpurge"));
    TestClock clock;
    clock.now = Utc(2026, 12, 20);
    for (int i = 0; i < 31; ++i) {
        tstring name = FormatText(L"f%02d.dat", i);
        MakeUndoFile(folder / name, 1);
        clock.created[name] = Utc(2026, 12, 1 + i % 19, i % 24);
    }
    UndoCatalogue catalogue(folder.Path(), clock);

    SUBCASE("31 files of this month stay") {
        catalogue.Purge();
        CHECK(folder.Files().size() == 31);
    }
    SUBCASE("the oldest of 31, made last month, goes") {
        clock.created[L"f07.dat"] = Utc(2026, 11, 30, 23);
        catalogue.Purge();
        std::vector<tstring> files = folder.Files();
        CHECK(files.size() == 30);
        CHECK(std::find(files.begin(), files.end(), L"f07.dat") == files.end());
    }
    SUBCASE("old files among the 30 newest stay; beyond them, files of last year go") {
        clock.now = Utc(2027, 1, 2);
        clock.created[L"f01.dat"] = Utc(2025, 12, 31);
        clock.created[L"f02.dat"] = Utc(2026, 12, 31);
        for (int i = 3; i < 31; ++i)
            clock.created[FormatText(L"f%02d.dat", i)] = Utc(2027, 1, 1, i % 24);
        clock.created[L"f00.dat"] = Utc(2027, 1, 2, 0);
        catalogue.Purge();
        std::vector<tstring> files = folder.Files();
        CHECK(files.size() == 30);
        CHECK(std::find(files.begin(), files.end(), L"f01.dat") == files.end());
        CHECK(std::find(files.begin(), files.end(), L"f02.dat") != files.end());
    }
}

TEST_CASE("UndoCatalogue: new file names from the local time and the process id") {
    CHECK(UndoCatalogue::FormatFileName(Time(2026, 3, 5, 7, 8, 9, 45), 1234) == L"0305202607080904512341234.dat");
    CHECK(UndoCatalogue::FormatFileName(Time(2026, 12, 31, 23, 59, 59, 999), 8) == L"1231202623595999988.dat");
    // Two processes in the same millisecond.
    CHECK(UndoCatalogue::FormatFileName(Time(2026, 3, 5), 41) != UndoCatalogue::FormatFileName(Time(2026, 3, 5), 4));

    TempFolder folder(ScratchFolder(L"catname"));
    TestClock clock;
    clock.now = Utc(2026, 6, 15, 10);
    FILETIME localTime;
    FileTimeToLocalFileTime(&clock.now, &localTime);
    SYSTEMTIME local;
    FileTimeToSystemTime(&localTime, &local);
    tstring expected = UndoCatalogue::FormatFileName(local, GetCurrentProcessId());

    UndoCatalogue catalogue(folder.Path().substr(0, folder.Path().size() - 1), clock);
    tstring first = catalogue.NewFileName();
    CHECK(first == folder / expected);

    // A name already taken is never handed out again.
    MakeUndoFile(first, 1);
    tstring second = catalogue.NewFileName();
    CHECK(second == folder / (expected.substr(0, expected.size() - 4) + L"-2.dat"));
    MakeUndoFile(second, 1);
    CHECK(catalogue.NewFileName() == folder / (expected.substr(0, expected.size() - 4) + L"-3.dat"));
    CHECK(catalogue.List().size() == 2);
}

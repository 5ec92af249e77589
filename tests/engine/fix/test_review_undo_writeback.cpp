#include <doctest/doctest.h>
#include <windows.h>
#include "UndoTestSupport.h"
#include "engine/fix/UndoFile.h"

using namespace undotest;

namespace {

void Int(std::vector<BYTE>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(BYTE(v >> (8 * i)));
}

void Text(std::vector<BYTE>& b, const tstring& text) {
    Int(b, uint32_t(text.size() * 2));
    for (wchar_t c : text) {
        b.push_back(BYTE(c));
        b.push_back(BYTE(c >> 8));
    }
}

}  // namespace

// Older writers kept the name of a value object as the third text of a value
// change; the undone mark of such an entry must still reach the file, or the
// fix would be listed and undone a second time over whatever came since.
TEST_CASE("UndoFile: a value change written with a held value name is marked undone in place") {
    TempFolder folder(ScratchFolder(L"heldname"));
    TestKey key(L"heldname");
    SetString(key.Handle(), L"", L"v", L"new text");
    tstring path = folder / L"heldname.dat";

    std::vector<BYTE> b;
    Int(b, UndoFile::Magic);
    Int(b, 0);
    Int(b, uint32_t(UndoFile::CurrentVersion));
    Int(b, 0x4000);
    Int(b, 2);
    Int(b, 2);
    for (int i = 0; i < 2; ++i) {
        Text(b, L"I");
        Text(b, L"R");
        Int(b, 0x014D0064);
        Text(b, key.Path());
        Text(b, L"v");
        b.push_back(0);
        Int(b, 1);
        Int(b, FixAction::KindSetValue);
        Text(b, key.Path());
        Text(b, L"v");
        Text(b, i == 0 ? L"held value" : L"");
        Int(b, i == 0 ? 0 : 14);
    }
    b.resize(0x4000, 0);
    // Undo data of both: "ab" as a string.
    for (int i = 0; i < 2; ++i) {
        Int(b, 6);
        b.insert(b.end(), {'a', 0, 'b', 0, 0, 0});
        Int(b, REG_SZ);
    }
    Reseal(b);
    WriteWholeFile(path, b);

    {
        UndoFile file;
        file.Open(path);
        REQUIRE(file.IsValid());
        UndoEntryList entries;
        file.ReadEntries(entries, true);
        REQUIRE(entries.size() == 2);
        CHECK(file.UndoAll(entries) == 0);
        for (auto& entry : entries)
            CHECK_NOTHROW(file.WriteEntry(*entry));
        CHECK(file.ActiveCount() == 0);
        file.Close();
    }
    std::vector<BYTE> rewritten = ReadWholeFile(path);
    REQUIRE(rewritten.size() == b.size());
    CHECK(StoredCrcMatches(rewritten));
    int32_t fixes = -1;
    CHECK(CheckUndoFile(path, fixes) == UndoFileUsedUp);

    UndoFile file;
    file.Open(path);
    UndoEntryList entries;
    file.ReadEntries(entries, true);
    REQUIRE(entries.size() == 2);
    CHECK(entries[0]->Undone());
    CHECK(entries[1]->Undone());
    file.Close();
}

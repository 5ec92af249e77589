#include <doctest/doctest.h>
#include <windows.h>
#include <initializer_list>
#include "UndoTestSupport.h"
#include "common/archive/Archive.h"
#include "common/errors/ErrorBase.h"
#include "engine/fix/UndoFile.h"

using namespace undotest;

namespace {

// The bytes of a file as the layout describes them, written out field by field.
class Bytes {
public:
    Bytes& Raw(std::initializer_list<BYTE> bytes) {
        b.insert(b.end(), bytes);
        return *this;
    }
    Bytes& Int(uint32_t v) { return Raw({BYTE(v), BYTE(v >> 8), BYTE(v >> 16), BYTE(v >> 24)}); }
    Bytes& Byte(BYTE v) { return Raw({v}); }
    Bytes& Text(const tstring& text) {
        Int(uint32_t(text.size() * 2));
        for (wchar_t c : text)
            Raw({BYTE(c), BYTE(c >> 8)});
        return *this;
    }
    Bytes& ZerosTo(size_t size) {
        b.resize(size, 0);
        return *this;
    }
    std::vector<BYTE> b;
};

// Applies its fix by failing; its undo data is that of a value that was absent.
class FailingAction : public FixAction {
public:
    FailingAction(const tstring& keyPath, int32_t restoreResult = 0)
        : FixAction(KindDeleteValue, keyPath, L"failing"), restoreResult_(restoreResult) {}
    int32_t Apply() override { return int32_t(E_ACCESSDENIED); }
    int32_t SaveUndo(Archive& archive) override {
        archive.WriteInt(0);
        archive.WriteInt(AbsentValueType);
        return 0;
    }
    int32_t Restore(Archive& archive) override {
        archive.ReadInt();
        archive.ReadInt();
        return restoreResult_;
    }
    bool Serialize(Archive& archive, bool storing) override {
        UndoStream::WriteText(archive, keyPath_);
        UndoStream::WriteText(archive, valueName_);
        return true;
    }

private:
    int32_t restoreResult_;
};

tstring LongReason(int i, size_t length) {
    tstring reason = FormatText(L"reason %d: ", i);
    while (reason.size() < length)
        reason += wchar_t(L'a' + (reason.size() + i) % 26);
    return reason;
}

int32_t CodeOf(void (*action)(UndoFile&), UndoFile& file) {
    try {
        action(file);
    } catch (const ErrorBase& e) {
        return e.Code() ? e.Code() : -1;
    }
    return 0;
}

// An undo file with the given value entries applied, closed.
void WriteValueFile(const tstring& path, const TestKey& key, int count) {
    UndoFile file;
    file.Create(path);
    for (int i = 0; i < count; ++i) {
        SetString(key.Handle(), L"", FormatText(L"v%d", i), FormatText(L"data %d", i));
        auto entry = ValueEntry(key.Path(), FormatText(L"v%d", i));
        REQUIRE(file.WriteAndApply(*entry) == 0);
    }
    file.Close();
}

}  // namespace

TEST_CASE("UndoFile: the test's own CRC is CRC-32/BZIP2") {
    const char check[] = "123456789";
    CHECK(Crc32Bzip2(reinterpret_cast<const BYTE*>(check), 9) == 0xFC891918u);
}

TEST_CASE("UndoFile: a new file with one entry holds exactly the bytes of the layout") {
    TempFolder folder(ScratchFolder(L"golden"));
    TestKey key(L"golden");
    SetString(key.Handle(), L"", L"v", L"ab");
    tstring path = folder / L"golden.dat";

    std::unique_ptr<FixEntry> entry(new FixEntry);
    entry->SetError(Finding(L"I", L"R", key.Path(), L"v", 0x01320064));
    entry->Push(std::unique_ptr<FixAction>(new DeleteValueAction(key.Path(), L"v")));
    {
        UndoFile file;
        file.Create(path);
        REQUIRE(file.WriteAndApply(*entry) == 0);
        CHECK(file.RecordCount() == 1);
        CHECK(file.NextDataPosition() == 0x4000 + 14);
        file.Close();
    }
    CHECK(RegQueryValueExW(key.Handle(), L"v", nullptr, nullptr, nullptr, nullptr) == ERROR_FILE_NOT_FOUND);

    Bytes expected;
    expected.Raw({0x51, 0x4E, 0x52, 0x55}).Int(0).Raw({0x00, 0x00, 0x01, 0x00}).Raw({0x00, 0x40, 0x00, 0x00});
    expected.Raw({0x01, 0x00, 0x00, 0x00}).Raw({0x01, 0x00, 0x00, 0x00});
    expected.Text(L"I").Text(L"R").Int(0x01320064).Text(key.Path()).Text(L"v").Byte(0).Int(1);
    expected.Int(1).Text(key.Path()).Text(L"v");
    expected.Int(0);  // undo data offset from the data start
    expected.ZerosTo(0x4000);
    expected.Int(6).Raw({'a', 0, 'b', 0, 0, 0}).Int(REG_SZ);
    Reseal(expected.b);

    std::vector<BYTE> actual = ReadWholeFile(path);
    CHECK(actual.size() == expected.b.size());
    CHECK(actual == expected.b);
    CHECK(StoredCrcMatches(actual));

    int32_t fixes = 0;
    CHECK(CheckUndoFile(path, fixes) == UndoFileListable);
    CHECK(fixes == 1);
}

TEST_CASE("UndoFile: a new empty file, and no file is ever created over another") {
    TempFolder folder(ScratchFolder(L"empty"));
    tstring path = folder / L"empty.dat";
    {
        UndoFile file;
        file.Create(path);
        CHECK(file.IsValid());
        CHECK(file.NextEntryPosition() == 0x18);
        file.Close();
    }
    std::vector<BYTE> bytes = ReadWholeFile(path);
    REQUIRE(bytes.size() == 0x4000);
    CHECK(IntAt(bytes, 0) == 0x55524E51u);
    CHECK(IntAt(bytes, 8) == 0x00010000u);
    CHECK(IntAt(bytes, 12) == 0x4000u);
    CHECK(IntAt(bytes, 16) == 0);
    CHECK(IntAt(bytes, 20) == 0);
    CHECK(StoredCrcMatches(bytes));
    int32_t fixes = -1;
    CHECK(CheckUndoFile(path, fixes) == UndoFileUsedUp);
    CHECK(fixes == 0);

    UndoFile again;
    CHECK_THROWS_AS(again.Create(path), ErrorBase);
    CHECK_FALSE(again.IsOpen());
    CHECK(ReadWholeFile(path) == bytes);
}

TEST_CASE("UndoFile: without an open file nothing is written and no fix is applied") {
    TempFolder folder(ScratchFolder(L"closed"));
    TestKey key(L"closed");
    SetString(key.Handle(), L"", L"v", L"kept");
    auto entry = ValueEntry(key.Path(), L"v");

    UndoFile file;
    CHECK(CodeOf([](UndoFile& f) { f.UpdateCrc(); }, file) == 0);
    CHECK_THROWS_AS(file.WriteEntry(*entry), ErrorBase);
    CHECK(file.WriteAndApply(*entry) < 0);

    file.Create(folder / L"closed.dat");
    file.Close();
    CHECK(file.WriteAndApply(*entry) < 0);
    CHECK_THROWS_AS(file.RollbackLast(*entry), ErrorBase);
    CHECK(RegQueryValueExW(key.Handle(), L"v", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS);
}

TEST_CASE("UndoFile: 60 entries with long reasons grow the entry area and each undoes exactly") {
    TempFolder folder(ScratchFolder(L"sixty"));
    TestKey key(L"sixty");
    tstring path = folder / L"sixty.dat";
    const std::vector<BYTE> binary = {0, 1, 2, 0xFF, 0, 0x80};
    for (int i = 0; i < 60; ++i) {
        tstring name = FormatText(L"v%02d", i);
        switch (i % 4) {
        case 0: SetString(key.Handle(), L"", name, FormatText(L"text %d", i)); break;
        case 1: SetString(key.Handle(), L"", name, L"%SystemRoot%\\x.dll", REG_EXPAND_SZ); break;
        case 2: SetBinary(key.Handle(), L"", name, binary); break;
        default: SetBinary(key.Handle(), L"", name, {BYTE(i), 0, 0, 0}, REG_DWORD); break;
        }
        if (i % 10 == 5) {
            tstring sub = FormatText(L"k%02d\\inner", i);
            SetString(key.Handle(), sub, L"", L"default");
            SetBinary(key.Handle(), sub, L"bin", binary);
        }
    }
    const std::vector<tstring> before = Snapshot(key);

    {
        UndoFile file;
        file.Create(path);
        uint32_t growths = 0, start = file.DataStart();
        for (int i = 0; i < 60; ++i) {
            // One entry alone is larger than a whole step of the entry area.
            size_t length = i == 30 ? 12000 : 2000;
            auto entry = ValueEntry(key.Path(), FormatText(L"v%02d", i), LongReason(i, length));
            if (i % 10 == 5)
                entry->Push(std::unique_ptr<FixAction>(
                    new DeleteKeyAction(key.Path() + FormatText(L"\\k%02d", i), 0)));
            REQUIRE(file.WriteAndApply(*entry) == 0);
            if (file.DataStart() != start)
                ++growths;
            start = file.DataStart();
            CHECK(file.NextEntryPosition() <= file.DataStart());
        }
        CHECK(growths > 5);
        CHECK(file.DataStart() % 0x4000 == 0);
        file.Close();
    }
    CHECK(Snapshot(key).empty());

    std::vector<BYTE> bytes = ReadWholeFile(path);
    CHECK(StoredCrcMatches(bytes));
    CHECK(IntAt(bytes, 16) == 60);
    CHECK(IntAt(bytes, 20) == 60);

    UndoFile file;
    file.Open(path);
    REQUIRE(file.IsValid());
    UndoEntryList entries;
    file.ReadEntries(entries, true);
    REQUIRE(entries.size() == 60);
    for (int i = 0; i < 60; ++i) {
        CHECK(entries[i]->GetError().Reason == LongReason(i, i == 30 ? 12000 : 2000));
        CHECK(entries[i]->GetError().ValueName == FormatText(L"v%02d", i));
        CHECK(entries[i]->ActionCount() == (i % 10 == 5 ? 2u : 1u));
        CHECK(file.DataPositions()[i] >= file.DataStart());
        if (i)
            CHECK(file.DataPositions()[i] > file.DataPositions()[i - 1]);
    }
    CHECK(file.UndoAll(entries) == 0);
    CHECK(Snapshot(key) == before);

    for (auto& entry : entries)
        file.WriteEntry(*entry);
    CHECK(file.ActiveCount() == 0);
    file.Close();
    int32_t fixes = -1;
    CHECK(CheckUndoFile(path, fixes) == UndoFileUsedUp);
}

TEST_CASE("UndoFile: entries are undone newest first") {
    TempFolder folder(ScratchFolder(L"order"));
    TestKey key(L"order");
    SetString(key.Handle(), L"sub", L"v", L"value");
    SetString(key.Handle(), L"sub", L"w", L"other");
    const std::vector<tstring> before = Snapshot(key);
    tstring path = folder / L"order.dat";
    {
        UndoFile file;
        file.Create(path);
        auto value = ValueEntry(key.Path() + L"\\sub", L"v");
        auto subkey = KeyEntry(key.Path() + L"\\sub");
        REQUIRE(file.WriteAndApply(*value) == 0);
        REQUIRE(file.WriteAndApply(*subkey) == 0);
        file.Close();
    }
    CHECK(Snapshot(key).empty());

    UndoFile file;
    file.Open(path);
    UndoEntryList entries;
    file.ReadEntries(entries, true);
    REQUIRE(entries.size() == 2);
    CHECK(UndoFile::UndoOrder(entries) == std::vector<size_t>{1, 0});
    // The value's key exists again only after the later fix is undone.
    CHECK(file.UndoAll(entries) == 0);
    CHECK(Snapshot(key) == before);
    CHECK(entries[0]->Undone());
    CHECK(entries[1]->Undone());
}

TEST_CASE("UndoFile: a failed fix is rolled back and its place taken by the next entry") {
    TempFolder folder(ScratchFolder(L"rollback"));
    TestKey key(L"rollback");
    SetString(key.Handle(), L"", L"a", L"first");
    SetString(key.Handle(), L"", L"b", L"second");
    const std::vector<tstring> before = Snapshot(key);
    tstring path = folder / L"rollback.dat";

    UndoFile file;
    file.Create(path);
    auto failing = ValueEntry(key.Path(), L"a");
    failing->Push(std::unique_ptr<FixAction>(new FailingAction(key.Path())));
    CHECK(file.WriteAndApply(*failing) == int32_t(E_ACCESSDENIED));
    CHECK(RegQueryValueExW(key.Handle(), L"a", nullptr, nullptr, nullptr, nullptr) == ERROR_FILE_NOT_FOUND);

    file.RollbackLast(*failing);
    CHECK(Snapshot(key) == before);
    CHECK(file.RecordCount() == 0);
    CHECK(file.NextEntryPosition() == 0x18);
    CHECK(file.NextDataPosition() == 0x4000);
    // The entry stays fixable: it is not marked undone.
    CHECK_FALSE(failing->Undone());
    CHECK_THROWS_AS(file.RollbackLast(*failing), ErrorBase);

    auto good = ValueEntry(key.Path(), L"b");
    REQUIRE(file.WriteAndApply(*good) == 0);
    file.Close();

    std::vector<BYTE> bytes = ReadWholeFile(path);
    CHECK(StoredCrcMatches(bytes));
    CHECK(bytes.size() == 0x4000 + 4 + 14 + 4);
    file.Open(path);
    UndoEntryList entries;
    file.ReadEntries(entries, true);
    REQUIRE(entries.size() == 1);
    CHECK(entries[0]->GetError().ValueName == L"b");
    CHECK(file.UndoEntry(entries, 0) == 0);
    CHECK(Snapshot(key) == before);
}

TEST_CASE("UndoFile: a rollback whose restore fails keeps the entry in the file") {
    TempFolder folder(ScratchFolder(L"keep"));
    TestKey key(L"keep");
    SetString(key.Handle(), L"", L"a", L"first");
    tstring path = folder / L"keep.dat";
    {
        UndoFile file;
        file.Create(path);
        auto failing = ValueEntry(key.Path(), L"a");
        failing->Push(std::unique_ptr<FixAction>(new FailingAction(key.Path(), int32_t(E_ACCESSDENIED))));
        CHECK(file.WriteAndApply(*failing) == int32_t(E_ACCESSDENIED));
        CHECK_THROWS_AS(file.RollbackLast(*failing), HRError);
        CHECK(file.RecordCount() == 1);
        file.Close();
    }
    int32_t fixes = 0;
    CHECK(CheckUndoFile(path, fixes) == UndoFileListable);
    CHECK(fixes == 1);
}

TEST_CASE("UndoFile: an entry whose undo data cannot be saved is neither written nor applied") {
    TempFolder folder(ScratchFolder(L"nosave"));
    TestKey key(L"nosave");
    SetString(key.Handle(), L"", L"a", L"first");
    tstring path = folder / L"nosave.dat";
    UndoFile file;
    file.Create(path);
    auto entry = ValueEntry(key.Path(), L"a");
    entry->Push(std::unique_ptr<FixAction>(new DeleteKeyAction(key.Path() + L"\\absent", 0)));
    CHECK(file.WriteAndApply(*entry) < 0);
    CHECK(RegQueryValueExW(key.Handle(), L"a", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS);
    CHECK(file.RecordCount() == 0);
    CHECK(file.NextEntryPosition() == 0x18);
    file.Close();
    CHECK(ReadWholeFile(path).size() == 0x4000);
}

TEST_CASE("UndoFile: undone marks are written back in place and recount the active entries") {
    TempFolder folder(ScratchFolder(L"writeback"));
    TestKey key(L"writeback");
    tstring path = folder / L"writeback.dat";
    WriteValueFile(path, key, 3);
    std::vector<BYTE> written = ReadWholeFile(path);

    UndoFile file;
    file.Open(path);
    UndoEntryList entries;
    file.ReadEntries(entries, true);
    REQUIRE(entries.size() == 3);
    CHECK(file.UndoEntry(entries, 3) == int32_t(E_FAIL));
    CHECK(file.UndoEntry(entries, 1) == 0);
    CHECK(RegQueryValueExW(key.Handle(), L"v1", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS);
    CHECK(RegQueryValueExW(key.Handle(), L"v0", nullptr, nullptr, nullptr, nullptr) == ERROR_FILE_NOT_FOUND);

    // An entry that is not the one it would overwrite is refused.
    auto stranger = ValueEntry(key.Path(), L"a much longer value name than v0");
    CHECK_THROWS_AS(file.WriteEntry(*stranger), ErrorBase);
    for (auto& entry : entries)
        file.WriteEntry(*entry);
    CHECK_THROWS_AS(file.WriteEntry(*entries[0]), ErrorBase);
    CHECK(file.ActiveCount() == 2);
    file.Close();

    std::vector<BYTE> rewritten = ReadWholeFile(path);
    REQUIRE(rewritten.size() == written.size());
    CHECK(StoredCrcMatches(rewritten));
    CHECK(IntAt(rewritten, 20) == 2);
    size_t differing = 0;
    for (size_t i = 8; i < written.size(); ++i)
        if (written[i] != rewritten[i] && i != 20)
            ++differing;
    CHECK(differing == 1);  // the one undone flag

    int32_t fixes = 0;
    CHECK(CheckUndoFile(path, fixes) == UndoFileListable);
    CHECK(fixes == 2);
    file.Open(path);
    file.ReadEntries(entries, true);
    CHECK_FALSE(entries[0]->Undone());
    CHECK(entries[1]->Undone());
    CHECK(file.UndoAll(entries) == 0);
    CHECK(RegQueryValueExW(key.Handle(), L"v0", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS);
}

TEST_CASE("UndoFile: damaged, foreign and crafted files are refused without harm") {
    TempFolder folder(ScratchFolder(L"damaged"));
    TestKey key(L"damaged");
    tstring good = folder / L"good.dat";
    WriteValueFile(good, key, 3);
    const std::vector<BYTE> original = ReadWholeFile(good);
    REQUIRE(original.size() > 0x4000);
    tstring path = folder / L"crafted.dat";
    UndoEntryList entries;
    int32_t fixes = 0;

    SUBCASE("one changed byte after offset 7 is an invalid CRC") {
        for (size_t at : {size_t(8), size_t(0x20), size_t(0x3FFF), original.size() - 1}) {
            std::vector<BYTE> bytes = original;
            bytes[at] ^= 0x01;
            WriteWholeFile(path, bytes);
            UndoFile file;
            try {
                file.Open(path);
                FAIL("opened");
            } catch (const ErrorBase& e) {
                CHECK(e.Message() == L"Invalid CRC");
            }
            CHECK(CheckUndoFile(path, fixes) == UndoFileSuspect);
        }
    }
    SUBCASE("files that are not undo files leave the object not valid") {
        std::vector<BYTE> other = original;
        other[0] = 'X';
        for (const std::vector<BYTE>& bytes : {std::vector<BYTE>(), std::vector<BYTE>{0x51, 0x4E, 0x52}, other}) {
            WriteWholeFile(path, bytes);
            UndoFile file;
            file.Open(path);
            CHECK_FALSE(file.IsValid());
            CHECK_THROWS_AS(file.ReadEntries(entries, true), ErrorBase);
            CHECK_THROWS_AS(file.WriteEntry(*EmptyEntry(L"x")), ErrorBase);
            file.Close();
            CHECK(ReadWholeFile(path) == bytes);
            CHECK(CheckUndoFile(path, fixes) == UndoFileForeign);
        }
        std::vector<BYTE> newer = original;
        PutIntAt(newer, 8, 0x00020000);
        Reseal(newer);
        WriteWholeFile(path, newer);
        UndoFile file;
        file.Open(path);
        CHECK_FALSE(file.IsValid());
        file.Close();
        CHECK(CheckUndoFile(path, fixes) == UndoFileSuspect);
    }
    SUBCASE("header counts and positions that do not fit the file") {
        const std::pair<size_t, uint32_t> crafted[] = {
            {12, 0x7FFFFFF0u}, {12, 0x10u}, {12, 0x80000000u}, {16, 0x7FFFFFFFu},
            {16, 0xFFFFFFFFu}, {16, 0x4000u}, {20, 4u},        {20, 0xFFFFFFFFu},
        };
        for (const auto& field : crafted) {
            std::vector<BYTE> bytes = original;
            PutIntAt(bytes, field.first, field.second);
            Reseal(bytes);
            WriteWholeFile(path, bytes);
            UndoFile file;
            CHECK_THROWS_AS(file.Open(path), ErrorBase);
            CHECK(CheckUndoFile(path, fixes) == UndoFileSuspect);
        }
    }
    SUBCASE("entry lengths and undo data offsets that point past the bytes") {
        std::vector<BYTE> text = original;
        PutIntAt(text, 0x18, 0x7FFFFFF0u);  // the first entry's item text
        Reseal(text);
        WriteWholeFile(path, text);
        {
            UndoFile file;
            file.Open(path);
            CHECK_THROWS_AS(file.ReadEntries(entries, true), ErrorBase);
        }
        // The last entry's undo data offset is the int32 before the free area.
        UndoFile reader;
        reader.Open(good);
        reader.ReadEntries(entries, false);
        uint32_t offsetAt = reader.NextEntryPosition() - 4;
        reader.Close();
        std::vector<BYTE> offset = original;
        PutIntAt(offset, offsetAt, 0x00100000u);
        Reseal(offset);
        WriteWholeFile(path, offset);
        UndoFile file;
        file.Open(path);
        CHECK_THROWS_AS(file.ReadEntries(entries, true), ErrorBase);
    }
    SUBCASE("a truncated file never undoes") {
        for (size_t cut = 8; cut < original.size(); cut += (cut < 0x4000 ? 509 : 3)) {
            std::vector<BYTE> bytes(original.begin(), original.begin() + cut);
            Reseal(bytes);
            WriteWholeFile(path, bytes);
            int32_t result = 0;
            try {
                UndoFile file;
                file.Open(path);
                if (!file.IsValid())
                    continue;
                file.ReadEntries(entries, true);
                result = file.UndoAll(entries);
            } catch (const ErrorBase& e) {
                result = e.Code() ? e.Code() : -1;
            }
            CHECK_MESSAGE(result < 0, "cut at ", cut);
        }
    }
}

TEST_CASE("UndoFile: a file in use by a writing session is not judged") {
    TempFolder folder(ScratchFolder(L"inuse"));
    tstring path = folder / L"inuse.dat";
    UndoFile file;
    file.Create(path);
    file.WriteEntry(*EmptyEntry(L"one"));
    int32_t fixes = 0;
    CHECK(CheckUndoFile(path, fixes) == UndoFileSuspect);
    file.Close();
    CHECK(CheckUndoFile(path, fixes) == UndoFileListable);
    CHECK(fixes == 1);
}

TEST_CASE("UndoFile: writing back after a reading stopped at a damaged entry keeps the unread ones counted") {
    TempFolder folder(ScratchFolder(L"partial"));
    TestKey key(L"partial");
    tstring path = folder / L"partial.dat";
    WriteValueFile(path, key, 3);
    std::vector<BYTE> bytes = ReadWholeFile(path);
    // The third entry's value name "v2" gets an odd byte count.
    const BYTE pattern[] = {4, 0, 0, 0, 'v', 0, '2', 0};
    auto at = std::search(bytes.begin(), bytes.end(), std::begin(pattern), std::end(pattern));
    REQUIRE(at != bytes.end());
    *at = 5;
    Reseal(bytes);
    WriteWholeFile(path, bytes);

    UndoFile file;
    file.Open(path);
    UndoEntryList entries;
    CHECK_THROWS_AS(file.ReadEntries(entries, true), ErrorBase);
    REQUIRE(entries.size() == 2);
    CHECK(file.UndoEntry(entries, 0) == 0);
    for (auto& entry : entries)
        file.WriteEntry(*entry);
    file.Close();
    int32_t fixes = 0;
    CHECK(CheckUndoFile(path, fixes) == UndoFileListable);
    CHECK(fixes == 2);
}

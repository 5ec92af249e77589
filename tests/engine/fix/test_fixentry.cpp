#include <doctest/doctest.h>
#include <string>
#include <vector>
#include "common/archive/Archive.h"
#include "common/errors/ErrorBase.h"
#include "engine/fix/FixEntry.h"
#include "engine/fix/KeyActions.h"
#include "engine/fix/NtActions.h"
#include "engine/fix/ValueActions.h"

namespace {

// An action that records its calls in a shared log and fails where told.
class ScriptedAction : public FixAction {
public:
    ScriptedAction(const char* name, std::string& log) : FixAction(KindDeleteValue, L"HKCU\\x", L"v"), name_(name), log_(log) {}

    int32_t applyResult = 0;
    int32_t saveResult = 0;
    int32_t restoreResult = 0;

    int32_t Apply() override {
        log_ += std::string("A") + name_;
        return applyResult;
    }
    int32_t SaveUndo(Archive& archive) override {
        log_ += std::string("S") + name_;
        archive.WriteByte(BYTE(name_[0]));
        return saveResult;
    }
    int32_t Restore(Archive& archive) override {
        log_ += std::string("R") + name_;
        BYTE mark = 0;
        if (archive.Remaining() < 1 || (mark = archive.ReadByte()) != BYTE(name_[0]))
            return UndoDataDamaged;
        return restoreResult;
    }
    bool Serialize(Archive&, bool) override { return true; }

private:
    const char* name_;
    std::string& log_;
};

struct ScriptedEntry {
    std::string log;
    FixEntry entry;
    ScriptedAction* a;
    ScriptedAction* b;
    ScriptedAction* c;

    ScriptedEntry() {
        a = new ScriptedAction("a", log);
        b = new ScriptedAction("b", log);
        c = new ScriptedAction("c", log);
        entry.Push(std::unique_ptr<FixAction>(a));
        entry.Push(std::unique_ptr<FixAction>(b));
        entry.Push(std::unique_ptr<FixAction>(c));
    }
};

const int32_t kFailure = int32_t(0x80070005);
const int32_t kOther = int32_t(0x80070002);

std::vector<BYTE> Bytes(Archive& archive) {
    std::vector<BYTE> bytes(archive.Size());
    archive.Seek(0, 0);
    if (!bytes.empty())
        archive.ReadRaw(bytes.data(), uint32_t(bytes.size()));
    return bytes;
}

}  // namespace

TEST_CASE("fix entry: actions apply in order, save and restore last first") {
    ScriptedEntry s;
    Archive undo;
    REQUIRE(s.entry.SaveUndoData(undo) == 0);
    CHECK(s.log == "ScSbSa");
    CHECK(undo.Size() == 3);
    s.log.clear();
    CHECK(s.entry.Apply([] { return int32_t(0); }) == 0);
    CHECK(s.log == "AaAbAc");
    CHECK(s.entry.AppliedCount() == 3);
    // One save, one apply.
    CHECK(s.entry.Apply([] { return int32_t(0); }) == int32_t(E_UNEXPECTED));
    CHECK(s.log == "AaAbAc");
    s.log.clear();
    undo.Seek(0, 0);
    CHECK(s.entry.Undo(undo) == 0);
    CHECK(s.log == "RcRbRa");
    CHECK(s.entry.Undone());
    s.log.clear();
    undo.Seek(0, 0);
    CHECK(s.entry.Undo(undo) == 0);
    CHECK(s.log.empty());
}

TEST_CASE("fix entry: nothing is applied without undo data on disk") {
    ScriptedEntry s;
    SUBCASE("undo data never saved") {
        CHECK(s.entry.Apply([] { return int32_t(0); }) == int32_t(E_UNEXPECTED));
        CHECK(s.log.empty());
    }
    SUBCASE("an action cannot save: nothing reaches the stream") {
        s.b->saveResult = kFailure;
        Archive undo;
        undo.WriteInt(7);
        CHECK(s.entry.SaveUndoData(undo) == kFailure);
        CHECK(undo.Size() == 4);
        s.log.clear();
        CHECK(s.entry.Apply([] { return int32_t(0); }) == int32_t(E_UNEXPECTED));
        CHECK(s.log.empty());
    }
    SUBCASE("the persist step fails") {
        Archive undo;
        REQUIRE(s.entry.SaveUndoData(undo) == 0);
        s.log.clear();
        bool called = false;
        CHECK(s.entry.Apply([&called] {
            called = true;
            return kOther;
        }) == kOther);
        CHECK(called);
        CHECK(s.log.empty());
        CHECK(s.entry.Apply([]() -> int32_t { throw Win32Error(ERROR_DISK_FULL); }) == FoldWin32(ERROR_DISK_FULL));
        CHECK(s.entry.Apply([] { return int32_t(1); }) == int32_t(E_FAIL));
        CHECK(s.entry.Apply(nullptr) == int32_t(E_UNEXPECTED));
        CHECK(s.log.empty());
    }
}

TEST_CASE("fix entry: a failed apply stops; undo restores everything") {
    ScriptedEntry s;
    Archive undo;
    REQUIRE(s.entry.SaveUndoData(undo) == 0);
    s.log.clear();
    s.b->applyResult = kFailure;
    CHECK(s.entry.Apply([] { return int32_t(0); }) == kFailure);
    CHECK(s.log == "AaAb");
    CHECK(s.entry.AppliedCount() == 1);

    s.log.clear();
    s.b->restoreResult = kOther;
    undo.Seek(0, 0);
    CHECK(s.entry.Undo(undo) == kOther);
    CHECK(s.log == "RcRbRa");
    CHECK_FALSE(s.entry.Undone());

    s.log.clear();
    s.b->restoreResult = 0;
    undo.Seek(0, 0);
    CHECK(s.entry.Undo(undo) == 0);
    CHECK(s.entry.Undone());
}

TEST_CASE("fix entry: damaged undo data ends the undo, the entry stays pending") {
    ScriptedEntry s;
    Archive undo;
    undo.WriteByte('c');
    undo.WriteByte('x');
    undo.WriteByte('a');
    undo.Seek(0, 0);
    CHECK(s.entry.Undo(undo) == FixAction::UndoDataDamaged);
    CHECK(s.log == "RcRb");
    CHECK_FALSE(s.entry.Undone());
}

namespace {

void FillAllKinds(FixEntry& entry) {
    CheckResult error;
    error.ErrorID = 0x014D0068;
    error.Item = L"Item \x00e9";
    error.Reason = L"\"quoted\"";
    error.KeyPath = L"HKCU\\Software\\Key";
    error.ValueName = L"Value";
    entry.SetError(error);
    entry.Push(std::unique_ptr<FixAction>(new DeleteValueAction(L"HKCU\\A", L"one")));
    entry.Push(std::unique_ptr<FixAction>(new SetValueAction(L"HKCU\\B", L"two", L"data")));
    entry.Push(std::unique_ptr<FixAction>(new DeleteKeyAction(L"HKCU\\C", 1)));
    entry.Push(std::unique_ptr<FixAction>(new NtDeleteValueAction(L"HKCU\\D", L"x(null)y")));
    entry.Push(std::unique_ptr<FixAction>(new NtDeleteKeyAction(L"HKCU\\E(null)", 0)));
    entry.SetUndone(true);
}

}  // namespace

TEST_CASE("fix entry: a record written and read back is the same entry") {
    FixEntry written;
    FillAllKinds(written);
    Archive archive;
    REQUIRE(written.Serialize(archive, true));
    std::vector<BYTE> bytes = Bytes(archive);

    // Item "Item é" begins the record: its byte count, then UTF-16LE.
    REQUIRE(bytes.size() > 16);
    CHECK(bytes[0] == 12);
    CHECK(bytes[4] == 'I');
    CHECK(bytes[5] == 0);
    CHECK(bytes[14] == 0xE9);

    archive.Seek(0, 0);
    FixEntry read;
    REQUIRE(read.Serialize(archive, false));
    CHECK(archive.Remaining() == 0);
    CheckResult error = read.GetError();
    CHECK(error.ErrorID == 0x014D0068);
    CHECK(error.Item == L"Item \x00e9");
    CHECK(error.Reason == L"\"quoted\"");
    CHECK(error.KeyPath == L"HKCU\\Software\\Key");
    CHECK(error.ValueName == L"Value");
    CHECK(read.Undone());
    REQUIRE(read.ActionCount() == 5);
    for (size_t i = 0; i < 5; ++i) {
        CHECK(read.Action(i).Kind() == int32_t(i + 1));
        CHECK(read.Action(i).KeyPath() == written.Action(i).KeyPath());
        CHECK(read.Action(i).ValueName() == written.Action(i).ValueName());
    }
    CHECK(static_cast<const DeleteKeyAction&>(read.Action(2)).OnlyWithoutSubkeys() == 1);

    Archive again;
    REQUIRE(read.Serialize(again, true));
    CHECK(Bytes(again) == bytes);
}

TEST_CASE("fix entry: short or damaged records are refused") {
    FixEntry written;
    FillAllKinds(written);
    Archive archive;
    REQUIRE(written.Serialize(archive, true));
    std::vector<BYTE> bytes = Bytes(archive);

    SUBCASE("every truncation") {
        for (size_t length = 0; length < bytes.size(); ++length) {
            Archive cut;
            cut.WriteRaw(bytes.data(), uint32_t(length));
            cut.Seek(0, 0);
            FixEntry read;
            CHECK_MESSAGE(!read.Serialize(cut, false), "length ", length);
        }
    }
    SUBCASE("every single byte set to 0xFF or 0x7F never crashes") {
        for (size_t at = 0; at < bytes.size(); ++at) {
            for (BYTE mark : {BYTE(0xFF), BYTE(0x7F)}) {
                std::vector<BYTE> damaged = bytes;
                damaged[at] = mark;
                Archive broken;
                broken.WriteRaw(damaged.data(), uint32_t(damaged.size()));
                broken.Seek(0, 0);
                FixEntry read;
                read.Serialize(broken, false);
                CHECK(read.ActionCount() <= 5);
            }
        }
    }
    SUBCASE("unknown action kind") {
        FixEntry one;
        one.Push(std::unique_ptr<FixAction>(new DeleteValueAction(L"HKCU\\A", L"v")));
        Archive record;
        REQUIRE(one.Serialize(record, true));
        std::vector<BYTE> raw = Bytes(record);
        // Four empty texts, the error code, the flag, the count: the kind follows.
        size_t kindAt = 4 * 4 + 4 + 1 + 4;
        REQUIRE(raw[kindAt] == 1);
        for (BYTE kind : {BYTE(0), BYTE(6)}) {
            raw[kindAt] = kind;
            Archive bad;
            bad.WriteRaw(raw.data(), uint32_t(raw.size()));
            bad.Seek(0, 0);
            FixEntry read;
            CHECK_FALSE(read.Serialize(bad, false));
            CHECK(read.ActionCount() == 0);
        }
    }
    SUBCASE("an action count far beyond the bytes left") {
        Archive record;
        for (int i = 0; i < 4; ++i)
            record.WriteInt(0);
        record.WriteInt(0);  // ErrorID between Reason and KeyPath
        record.WriteByte(0);
        record.WriteInt(0x7FFFFFFF);
        record.Seek(0, 0);
        FixEntry read;
        CHECK_FALSE(read.Serialize(record, false));
    }
    SUBCASE("a text count that is odd or negative") {
        for (int32_t count : {3, -2}) {
            Archive record;
            record.WriteInt(count);
            record.WriteRaw("abcdef", 6);
            record.Seek(0, 0);
            FixEntry read;
            CHECK_FALSE(read.Serialize(record, false));
        }
    }
}

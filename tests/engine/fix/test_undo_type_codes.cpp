#include <doctest/doctest.h>
#include "UndoTestSupport.h"
#include "engine/fix/UndoSession.h"
#include "test_planner_fixture.h"

TEST_CASE("Undo type codes: a file of the stored format is undone with the right types; the native kind keeps REG_*") {
    TempFolder folder(undotest::ScratchFolder(L"typecodes"));
    undotest::TestKey key(L"typecodes");
    struct Fields {
        std::vector<BYTE> b;
        Fields& Int(uint32_t v) { return Raw(&v, 4); }
        Fields& Raw(const void* p, size_t n) {
            b.insert(b.end(), static_cast<const BYTE*>(p), static_cast<const BYTE*>(p) + n);
            return *this;
        }
        Fields& Text(const tstring& t) { return Int(uint32_t(t.size() * 2)).Raw(t.c_str(), t.size() * 2); }
        Fields& Value(uint32_t code) { return Int(8).Raw("a\0\0\0b\0\0\0", 8).Int(code); }
    };
    Fields entries, data;
    auto entry = [&](uint32_t kind, const tstring& keyPath, const tstring& name) {
        entries.Text(L"item").Text(L"reason").Int(0x01320064).Text(keyPath).Text(name).Raw("", 1).Int(1).Int(kind);
        (kind == 3 ? entries.Text(keyPath).Raw("", 1) : entries.Text(keyPath).Text(name)).Int(data.b.size());
    };
    auto value = [&](uint32_t kind, const wchar_t* name, uint32_t code) {
        entry(kind, key.Path(), name);
        data.Value(code);
    };
    value(1, L"Multi", 3);
    value(1, L"Bin", 6);
    entry(3, key.Path(L"Tree"), L"");
    data.Text(L"Tree").Text(L"").Int(0).Int(3).Text(L"Exp").Value(2).Text(L"Qword").Value(5);
    data.Text(L"Link").Value(0x40000000 | REG_LINK);
    value(4, L"Native", REG_MULTI_SZ);  // the native kind keeps the registry's number
    // Codes that name no type: 0 (a type its writer could not keep) and codes
    // neither 1-6 nor marked with bit 30, alone and inside a key's record.
    const uint32_t typeless[] = {0, 7, 11, 0x3FFFFFFF};
    auto typelessName = [](uint32_t code) { return FormatText(L"Code%x", unsigned(code)); };
    for (uint32_t code : typeless)
        value(1, typelessName(code).c_str(), code);
    entry(3, key.Path(L"Odd"), L"");
    data.Text(L"Odd").Text(L"").Int(0).Int(4);
    for (uint32_t code : typeless)
        data.Text(typelessName(code)).Value(code);
    const int32_t entryCount = 9;
    Fields file;
    file.Raw("QNRU", 4).Int(0).Int(0x00010000).Int(0x4000).Int(entryCount).Int(entryCount);
    file.Raw(entries.b.data(), entries.b.size());
    file.b.resize(0x4000);
    file.Raw(data.b.data(), data.b.size());
    undotest::Reseal(file.b);
    undotest::WriteWholeFile(folder / L"12012026120000000.dat", file.b);
    SessionLatch latch;
    tstring path = folder.Path();
    UndoSession undo(latch, [path] { return path; });
    int32_t count = 0;
    REQUIRE(undo.RefreshCatalogue(count) == S_OK);
    REQUIRE(undo.Read(0) == S_OK);
    REQUIRE(undo.PendingCount() == size_t(entryCount));
    // A value without a type is left out, and said so.
    for (int32_t id = 1; id <= entryCount; ++id)
        CHECK_MESSAGE(undo.Undo(id) == (id > 4 ? FoldWin32(ERROR_UNSUPPORTED_TYPE) : S_OK), "entry ", id);
    CHECK(undo.Finalize() == S_OK);
    for (uint32_t code : typeless) {
        CHECK_MESSAGE(!HasValue(key.Relative(), typelessName(code).c_str()), "code ", code);
        CHECK_MESSAGE(!HasValue(key.Relative(L"Odd"), typelessName(code).c_str()), "code ", code);
    }
    CHECK(ValueType(key.Relative(), L"Multi") == REG_MULTI_SZ);
    CHECK(ValueType(key.Relative(), L"Bin") == REG_BINARY);
    CHECK(ValueType(key.Relative(L"Tree"), L"Exp") == REG_EXPAND_SZ);
    CHECK(ValueType(key.Relative(L"Tree"), L"Qword") == REG_QWORD);
    CHECK(ValueType(key.Relative(L"Tree"), L"Link") == REG_LINK);
    CHECK(ValueType(key.Relative(), L"Native") == REG_MULTI_SZ);
    // This build writes the same codes.
    Archive written;
    REQUIRE(DeleteValueAction(key.Path(), L"Multi").SaveUndo(written) == 0);
    written.Seek(-4, FILE_END);
    CHECK(written.ReadInt() == 3);
}

#include <doctest/doctest.h>
#include "UndoTestSupport.h"
#include "common/archive/Archive.h"
#include "common/errors/ErrorBase.h"
#include "engine/fix/UndoSession.h"

using namespace undotest;

namespace {

struct Fields {
    std::vector<BYTE> b;
    Fields& Int(uint32_t v) { return Raw(&v, 4); }
    Fields& Raw(const void* p, size_t n) {
        b.insert(b.end(), static_cast<const BYTE*>(p), static_cast<const BYTE*>(p) + n);
        return *this;
    }
    Fields& Text(const tstring& t) { return Int(uint32_t(t.size() * 2)).Raw(t.c_str(), t.size() * 2); }
};

// Name, stored code, the type it must come back with (-1: not at all).
struct Saved { const wchar_t* name; uint32_t code; DWORD type; };

}  // namespace

TEST_CASE("Undo type codes: a file of the stored format is undone with the right types; the native kind keeps REG_*") {
    TempFolder folder(ScratchFolder(L"typecodes"));
    TestKey key(L"typecodes");
    const BYTE bytes[] = {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0};
    const Saved values[] = {{L"Multi", 3, REG_MULTI_SZ}, {L"Bin", 6, REG_BINARY}, {L"Zero", 0, DWORD(-1)}};
    const Saved tree[] = {{L"Exp", 2, REG_EXPAND_SZ}, {L"Qword", 5, REG_QWORD}, {L"Link", 0x40000006, REG_LINK}};
    Fields entries, data;
    auto entry = [&](uint32_t kind, const tstring& keyPath, const tstring& name) {
        entries.Text(L"item").Text(L"reason").Int(0x01320064).Text(keyPath).Text(name).Raw("", 1).Int(1).Int(kind);
        (kind == 3 ? entries.Text(keyPath).Raw("", 1) : entries.Text(keyPath).Text(name)).Int(data.b.size());
    };
    for (const Saved& v : values) {
        entry(1, key.Path(), v.name);
        data.Int(sizeof bytes).Raw(bytes, sizeof bytes).Int(v.code);
    }
    entry(3, key.Path(L"Tree"), L"");
    data.Text(L"Tree").Text(L"").Int(0).Int(3);
    for (const Saved& v : tree)
        data.Text(v.name).Int(8).Raw(bytes, 8).Int(v.code);
    entry(4, key.Path(), L"Native");
    data.Int(sizeof bytes).Raw(bytes, sizeof bytes).Int(REG_MULTI_SZ);
    Fields file;
    file.Raw("QNRU", 4).Int(0).Int(0x00010000).Int(0x4000).Int(5).Int(5).Raw(entries.b.data(), entries.b.size());
    file.b.resize(0x4000);
    file.Raw(data.b.data(), data.b.size());
    Reseal(file.b);
    WriteWholeFile(folder / L"12012026120000000.dat", file.b);

    SessionLatch latch;
    tstring path = folder.Path();
    UndoSession undo(latch, [path] { return path; });
    int32_t count = 0;
    REQUIRE(undo.RefreshCatalogue(count) == S_OK);
    REQUIRE(undo.Read(0) == S_OK);
    REQUIRE(undo.PendingCount() == 5);
    // A value whose type its writer could not keep is left out, and said so.
    for (int32_t id = 1; id <= 5; ++id)
        CHECK(undo.Undo(id) == (id == 3 ? FoldWin32(ERROR_UNSUPPORTED_TYPE) : S_OK));
    CHECK(undo.Finalize() == S_OK);
    auto typeOf = [&](const tstring& below, const wchar_t* name) {
        HKEY open = nullptr;
        DWORD type = 0;
        LONG status = RegOpenKeyExW(HKEY_CURRENT_USER, key.Relative(below).c_str(), 0, KEY_READ, &open);
        if (status == ERROR_SUCCESS) {
            status = RegQueryValueExW(open, name, nullptr, &type, nullptr, nullptr);
            RegCloseKey(open);
        }
        return status == ERROR_SUCCESS ? type : DWORD(-1);
    };
    for (const Saved& v : values)
        CHECK(typeOf(L"", v.name) == v.type);
    for (const Saved& v : tree)
        CHECK(typeOf(L"Tree", v.name) == v.type);
    CHECK(typeOf(L"", L"Native") == REG_MULTI_SZ);

    // This build writes the same codes.
    Archive saved;
    REQUIRE(DeleteValueAction(key.Path(), L"Multi").SaveUndo(saved) == 0);
    saved.Seek(-4, FILE_END);
    CHECK(saved.ReadInt() == 3);
}

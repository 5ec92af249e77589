// Also compiled into the ANSI test (tests/common/narrow), so TCHAR throughout.
#include <doctest/doctest.h>
#include <cstring>
#include <string>
#include <vector>
#include "common/archive/Crc32.h"
#include "common/errors/ErrorBase.h"
#include "common/filepack/FilePack.h"
#include "common/system/FileSystem.h"
#include "common/system/HandleHolder.h"
#include "TempFolder.h"

namespace {

using Bytes = std::vector<BYTE>;

const TCHAR kCrcText[] = _T("Invalid CRC. File was corrupted or wrong file format.");

void WriteBytes(const tstring& path, const Bytes& bytes) {
    size_t slash = path.rfind(_T('\\'));
    CreateFolderTree(path.substr(0, slash));
    HandleHolder file(CreateFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    REQUIRE(file.IsValid());
    DWORD written = 0;
    if (!bytes.empty())
        REQUIRE(WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr));
}

void WriteText(const tstring& path, const char* text) { WriteBytes(path, Bytes(text, text + strlen(text))); }

bool Exists(const tstring& path) { return GetFileAttributes(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

Bytes ReadBytes(const tstring& path) {
    HandleHolder file(CreateFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    REQUIRE_MESSAGE(file.IsValid(), "cannot read the file");
    LARGE_INTEGER size;
    GetFileSizeEx(file, &size);
    Bytes bytes(size_t(size.QuadPart));
    DWORD got = 0;
    if (!bytes.empty())
        ReadFile(file, bytes.data(), DWORD(bytes.size()), &got, nullptr);
    return bytes;
}

Bytes Text(const char* text) { return Bytes(text, text + strlen(text)); }

uint32_t U32At(const Bytes& b, size_t at) {
    uint32_t v;
    memcpy(&v, &b[at], 4);
    return v;
}

void PutU32(Bytes& b, size_t at, uint32_t v) { memcpy(&b[at], &v, 4); }

void FixCrc(Bytes& pack) { PutU32(pack, 0, Crc32::Of(pack.data() + 8, pack.size() - 8)); }

struct RawEntry {
    const wchar_t* name;
    std::string data;
};

// A container built byte by byte, so damaged and hostile packs can be made.
Bytes CraftPack(const std::vector<RawEntry>& entries) {
    Bytes pack(8, 0);
    PutU32(pack, 4, uint32_t(entries.size()));
    for (const RawEntry& e : entries) {
        size_t n = wcslen(e.name) * 2;
        size_t at = pack.size();
        pack.resize(at + 4 + n + 4 + e.data.size());
        PutU32(pack, at, uint32_t(n));
        memcpy(&pack[at + 4], e.name, n);
        PutU32(pack, at + 4 + n, uint32_t(e.data.size()));
        memcpy(&pack[at + 8 + n], e.data.data(), e.data.size());
    }
    FixCrc(pack);
    return pack;
}

tstring OpenFailure(const tstring& path, bool readOnly) {
    FilePack pack;
    try {
        pack.Open(path, readOnly);
    } catch (const ErrorBase& e) {
        CHECK_FALSE(pack.IsOpen());
        return e.Message();
    }
    return _T("opened");
}

Bytes EntryBytes(FilePack& pack, const TCHAR* name) {
    SharedBuffer out;
    REQUIRE(pack.ReadEntry(name, out));
    return Bytes(out.Data(), out.Data() + out.Size());
}

// The sample tree: two plain files, an empty one, a nested folder, a hidden
// file, a hidden folder and a name to exclude.
void MakeTree(const TempFolder& root) {
    WriteText(root / _T("src\\a.txt"), "alpha");
    WriteBytes(root / _T("src\\zero.bin"), Bytes());
    WriteText(root / _T("src\\sub\\b.htm"), "<p>beta</p>");
    Bytes binary(3000);
    for (size_t i = 0; i < binary.size(); ++i)
        binary[i] = BYTE(i * 7);
    WriteBytes(root / _T("src\\sub\\deeper\\c.dat"), binary);
    WriteText(root / _T("src\\hidden.txt"), "secret");
    SetFileAttributes((root / _T("src\\hidden.txt")).c_str(), FILE_ATTRIBUTE_HIDDEN);
    WriteText(root / _T("src\\cache\\x.txt"), "in hidden folder");
    SetFileAttributes((root / _T("src\\cache")).c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY);
    WriteText(root / _T("src\\skip.me"), "excluded");
    WriteText(root / _T("src\\keep.txt"), "kept");
}

}  // namespace

TEST_CASE("a folder tree packs and extracts identically") {
    TempFolder root(_T("tree"));
    MakeTree(root);
    tstring packPath = root / _T("tree.qna");
    {
        FilePack pack(packPath, tstring());
        pack.AddFolder(root / _T("src"), false, tstring(), _T("skip.me\0KEEP.TXT\0"));
        CHECK(pack.Count() == 5);
        pack.Close();
    }
    Bytes raw = ReadBytes(packPath);
    REQUIRE(raw.size() > 8);
    CHECK(U32At(raw, 4) == 5);
    CHECK(U32At(raw, 0) == Crc32::Of(raw.data() + 8, raw.size() - 8));

    FilePack pack;
    pack.Open(packPath, true);
    REQUIRE(pack.Count() == 5);
    CHECK(pack.Find(_T("sub\\deeper\\c.dat")) != pack.End());
    CHECK(pack.Find(_T("hidden.txt")) == pack.End());
    CHECK(pack.Find(_T("cache\\x.txt")) == pack.End());
    CHECK(pack.Find(_T("skip.me")) == pack.End());
    CHECK(pack.Find(_T("keep.txt")) != pack.End());  // exclusions compare with case

    pack.ExtractAll(root / _T("out\\"));
    for (const TCHAR* name : {_T("a.txt"), _T("zero.bin"), _T("sub\\b.htm"), _T("sub\\deeper\\c.dat"), _T("keep.txt")})
        CHECK(ReadBytes(root / (tstring(_T("src\\")) + name).c_str()) == ReadBytes(root / (tstring(_T("out\\")) + name).c_str()));
    CHECK(ReadBytes(root / _T("out\\zero.bin")).empty());
    CHECK_FALSE(Exists(root / _T("out\\hidden.txt")));
    CHECK_FALSE(Exists(root / _T("out\\skip.me")));
    CHECK_FALSE(Exists(root / _T("out\\cache")));

    // With hidden items included, the hidden file and folder come along.
    FilePack all(root / _T("all.qna"), tstring());
    all.AddFolder(root / _T("src"), true, _T("ui"));
    CHECK(all.Count() == 8);
    CHECK(EntryBytes(all, _T("ui\\cache\\x.txt")) == Text("in hidden folder"));
}

TEST_CASE("the folder constructor packs all but hidden files and skips the pack itself") {
    TempFolder root(_T("ctor"));
    MakeTree(root);
    {
        FilePack pack(root / _T("src\\self.qna"), root / _T("src"));
        CHECK(pack.Count() == 6);
        CHECK(pack.Find(_T("self.qna")) == pack.End());
    }
    FilePack again;
    CHECK(again.Open(root / _T("src\\self.qna"), true).empty());
    CHECK(again.Count() == 6);
    CHECK(again.FileName() == root / _T("src\\self.qna"));
}

TEST_CASE("lookups find the canonical entry") {
    TempFolder root(_T("find"));
    MakeTree(root);
    FilePack pack(root / _T("p.qna"), root / _T("src"));
    auto canonical = pack.Find(_T("sub\\b.htm"));
    REQUIRE(canonical != pack.End());
    for (const TCHAR* name : {_T("sub/b.htm"), _T("SUB\\B.HTM"), _T("\\sub\\b.htm"), _T("\\\\\\sub\\b.htm"),
                              _T("sub\\.\\b.htm"), _T(".\\sub\\b.htm"), _T("sub\\deeper\\..\\b.htm"),
                              _T("/Sub//deeper/../B.htm")}) {
        CAPTURE(tstring(name));
        CHECK(pack.Find(name) == canonical);
    }
    CHECK(EntryBytes(pack, _T("sub/B.HTM")) == Text("<p>beta</p>"));
    CHECK(pack.Find(_T("b.htm")) == pack.End());
    CHECK(pack.Find(_T("sub\\..\\..\\b.htm")) == pack.End());

    SharedBuffer out;
    CHECK_FALSE(pack.ReadEntry(_T("missing.txt"), out));
    CHECK_FALSE(pack.ExtractEntry(_T("missing.txt"), root / _T("missing.txt")));
    CHECK_FALSE(Exists(root / _T("missing.txt")));
    CHECK(pack.ExtractEntry(_T("SUB/DEEPER/C.DAT"), root / _T("c.copy")));
    CHECK(ReadBytes(root / _T("c.copy")) == ReadBytes(root / _T("src\\sub\\deeper\\c.dat")));
    CHECK(pack.ReadEntry(_T("zero.bin"), out));
    CHECK(out.Size() == 0);
}

TEST_CASE("opening where no pack is") {
    TempFolder root(_T("open"));
    SUBCASE("read/write creates an empty pack that opens again") {
        {
            FilePack pack;
            pack.Open(root / _T("new.qna"), false);
            CHECK(pack.Count() == 0);
        }
        CHECK(ReadBytes(root / _T("new.qna")) == Bytes(8, 0));
        FilePack pack;
        pack.Open(root / _T("new.qna"), true);
        CHECK(pack.Count() == 0);
    }
    SUBCASE("read-only fails with file not found and creates nothing") {
        FilePack pack;
        try {
            pack.Open(root / _T("none.qna"), true);
            FAIL("no exception");
        } catch (const ErrorBase& e) {
            CHECK(uint32_t(e.Code()) == 0x80070002u);
        }
        CHECK_FALSE(Exists(root / _T("none.qna")));
        CHECK_FALSE(pack.IsOpen());
    }
    SUBCASE("a folder cannot become a pack") {
        CreateFolderTree(root / _T("dir.qna"));
        FilePack pack;
        CHECK_THROWS_AS(pack.Open(root / _T("dir.qna"), false), Win32Error);
        CHECK(Exists(root / _T("dir.qna")));
    }
    SUBCASE("an empty file becomes an empty pack") {
        WriteBytes(root / _T("zero.qna"), Bytes());
        {
            FilePack pack(root / _T("zero.qna"), tstring());
            CHECK(pack.Count() == 0);
        }
        CHECK(ReadBytes(root / _T("zero.qna")) == Bytes(8, 0));
        CHECK(OpenFailure(root / _T("zero.qna"), true) == _T("opened"));
    }
}

TEST_CASE("a damaged pack is refused") {
    TempFolder root(_T("damage"));
    tstring path = root / _T("d.qna");
    Bytes good = CraftPack({{L"a.txt", "alpha"}, {L"sub\\b.txt", "beta"}, {L"c.txt", "gamma"}});
    WriteBytes(path, good);
    CHECK(OpenFailure(path, true) == _T("opened"));

    SUBCASE("a flipped data byte breaks the CRC") {
        Bytes bad = good;
        bad.back() ^= 0x01;
        WriteBytes(path, bad);
        CHECK(OpenFailure(path, true) == kCrcText);
        CHECK(OpenFailure(path, false) == kCrcText);
        CHECK(ReadBytes(path) == bad);  // a refused read/write open leaves the file alone
    }
    SUBCASE("a lowered count") {
        Bytes bad = good;
        PutU32(bad, 4, 2);
        WriteBytes(path, bad);
        tstring message = OpenFailure(path, true);
        CHECK(message != _T("opened"));
        CHECK(message != kCrcText);
    }
    SUBCASE("a raised or negative count") {
        for (uint32_t count : {4u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
            Bytes bad = good;
            PutU32(bad, 4, count);
            WriteBytes(path, bad);
            CHECK(OpenFailure(path, true) != _T("opened"));
        }
    }
    SUBCASE("an oversized data length") {
        Bytes bad = good;
        size_t lengthField = 8 + 4 + 10;  // after "a.txt"
        REQUIRE(U32At(bad, lengthField) == 5);
        for (uint32_t length : {6u, 0x10000000u, 0x80000000u}) {
            PutU32(bad, lengthField, length);
            FixCrc(bad);
            WriteBytes(path, bad);
            CHECK(OpenFailure(path, true) != _T("opened"));
        }
    }
    SUBCASE("an oversized or negative name length") {
        Bytes bad = good;
        for (uint32_t length : {0x100u, 0xFFFFFFF0u}) {
            PutU32(bad, 8, length);
            FixCrc(bad);
            WriteBytes(path, bad);
            CHECK(OpenFailure(path, true) != _T("opened"));
        }
    }
    SUBCASE("bytes after the last entry") {
        Bytes bad = good;
        bad.push_back(0);
        FixCrc(bad);
        WriteBytes(path, bad);
        CHECK(OpenFailure(path, true) != _T("opened"));
    }
    SUBCASE("a file shorter than the header") {
        WriteBytes(path, Bytes(5, 0));
        CHECK(OpenFailure(path, true) != _T("opened"));
    }
}

TEST_CASE("entry names that leave the target folder are refused") {
    TempFolder root(_T("escape"));
    tstring target = root / _T("target\\inner");
    for (const wchar_t* hostile : {L"..\\escape.txt", L"sub\\..\\..\\escape.txt", L"../escape.txt", L"\\escape.txt",
                                   L"C:\\escape.txt", L"C:escape.txt", L"sub\\...\\escape.txt", L"ok.txt:stream"}) {
        CAPTURE(std::wstring(hostile));
        tstring path = root / _T("hostile.qna");
        WriteBytes(path, CraftPack({{L"ok.txt", "fine"}, {hostile, "bad"}}));
        FilePack pack;
        pack.Open(path, true);
        REQUIRE(pack.Count() == 2);
        CHECK_THROWS_AS(pack.ExtractAll(target), ErrorBase);
        CHECK_THROWS_AS(pack.CreateFolders(target), ErrorBase);
        CHECK_FALSE(Exists(target + _T("\\ok.txt")));
        CHECK_FALSE(Exists(root / _T("target\\escape.txt")));
        CHECK_FALSE(Exists(root / _T("escape.txt")));
    }
    // A name that only looks like a path with a drive is still refused one by one.
    WriteBytes(root / _T("drive.qna"), CraftPack({{L"C:x.txt", "bad"}}));
    FilePack pack;
    pack.Open(root / _T("drive.qna"), true);
    CHECK_THROWS_AS(pack.ExtractEntry(_T("C:x.txt"), root / _T("x.txt")), ErrorBase);
    CHECK_FALSE(Exists(root / _T("x.txt")));

    CHECK(FilePack::IsSafeEntryName(_T("a\\b.txt")));
    CHECK(FilePack::IsSafeEntryName(_T("a/b..txt")));
    CHECK_FALSE(FilePack::IsSafeEntryName(_T("")));
    CHECK_FALSE(FilePack::IsSafeEntryName(_T("a\\\\b")));
    CHECK_FALSE(FilePack::IsSafeEntryName(_T("a\\ .. \\b")));
}

TEST_CASE("adding an existing name replaces the entry") {
    TempFolder root(_T("replace"));
    WriteText(root / _T("one\\A.txt"), "first");
    WriteText(root / _T("one\\b.txt"), "bee");
    WriteText(root / _T("one\\c.txt"), "sea");
    WriteText(root / _T("two\\a.txt"), "second and longer");
    tstring path = root / _T("r.qna");
    {
        FilePack pack(path, root / _T("one"));
        REQUIRE(pack.Count() == 3);
        pack.AddFile(_T("a.txt"), root / _T("two"));
        CHECK(pack.Count() == 3);
        CHECK(EntryBytes(pack, _T("a.txt")) == Text("second and longer"));
        CHECK(EntryBytes(pack, _T("b.txt")) == Text("bee"));
        CHECK(EntryBytes(pack, _T("c.txt")) == Text("sea"));
    }
    Bytes raw = ReadBytes(path);
    CHECK(U32At(raw, 4) == 3);
    // The new entry went to the end.
    const char tail[] = "second and longer";
    CHECK(memcmp(raw.data() + raw.size() - strlen(tail), tail, strlen(tail)) == 0);
    FilePack pack;
    pack.Open(path, true);
    CHECK(pack.Count() == 3);
    CHECK(EntryBytes(pack, _T("c.txt")) == Text("sea"));
    CHECK_THROWS(pack.AddFile(_T("b.txt"), root / _T("one")));  // read-only
}

TEST_CASE("an absolute entry name keeps only its last component") {
    TempFolder root(_T("absolute"));
    WriteText(root / _T("src\\f.txt"), "file");
    FilePack pack(root / _T("abs.qna"), tstring());
    pack.AddFile(root / _T("elsewhere\\f.txt"), root / _T("src"));
    REQUIRE(pack.Count() == 1);
    CHECK(pack.Begin()->first == _T("f.txt"));
    CHECK_THROWS_AS(pack.AddFile(_T("missing.txt"), root / _T("src")), Win32Error);
    CHECK(pack.Count() == 1);
    CHECK_THROWS_AS(pack.AddFolder(root / _T("no-such-folder"), false), Win32Error);
}

TEST_CASE("entries larger than a copy chunk survive the round trip") {
    TempFolder root(_T("large"));
    Bytes big(0x280123);
    uint32_t x = 12345;
    for (BYTE& b : big) {
        x = x * 1103515245u + 12345u;
        b = BYTE(x >> 24);
    }
    WriteBytes(root / _T("src\\big.bin"), big);
    WriteText(root / _T("src\\small.txt"), "small");
    {
        FilePack pack(root / _T("big.qna"), root / _T("src"));
        // Replacing the first entry moves the large one down.
        pack.AddFile(_T("big.bin"), root / _T("src"));
    }
    FilePack pack;
    pack.Open(root / _T("big.qna"), true);
    pack.CreateFolders(root / _T("out"));
    CHECK(ReadBytes(root / _T("out\\big.bin")) == big);
    CHECK(ReadBytes(root / _T("out\\small.txt")) == Text("small"));
}

TEST_CASE("stored names with forward slashes are found and extracted with backslashes") {
    TempFolder root(_T("slash"));
    WriteBytes(root / _T("s.qna"), CraftPack({{L"sub/hive.dat", "hive"}, {L"HKLM_SOFTWARE.dat", "soft"}}));
    {
        FilePack pack;
        pack.Open(root / _T("s.qna"), true);
        REQUIRE(pack.Count() == 2);
        CHECK(EntryBytes(pack, _T("sub\\HIVE.DAT")) == Text("hive"));
        CHECK(EntryBytes(pack, _T("hklm_software.dat")) == Text("soft"));
        pack.CreateFolders(root / _T("out"));
    }
    CHECK(ReadBytes(root / _T("out\\sub\\hive.dat")) == Text("hive"));
    CHECK(ReadBytes(root / _T("out\\HKLM_SOFTWARE.dat")) == Text("soft"));
}

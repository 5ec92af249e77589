#include <doctest/doctest.h>
#include <cstring>
#include <string>
#include <thread>
#include "FileBytes.h"
#include "TempFolder.h"
#include "TestLimits.h"
#include "common/archive/Crc32.h"
#include "common/compress/ZlibFile.h"
#include "common/errors/ErrorBase.h"
#include "common/filepack/FilePack.h"
#include "hives/BackupCatalogue.h"
#include "hives/InflateReader.h"

namespace {

std::string Pattern(size_t n) {
    std::string bytes(n, '\0');
    uint32_t x = 12345;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245 + 12345;
        bytes[i] = char((i % 7 == 0) ? (x >> 16) : 'a' + i % 13);
    }
    return bytes;
}

std::string Int32(int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

std::string Text16(const wchar_t* text) {
    std::string bytes(reinterpret_cast<const char*>(text), wcslen(text) * 2);
    return Int32(int32_t(bytes.size())) + bytes;
}

std::string WithCrc(std::string body) {
    uint32_t crc = Crc32::Of(body.data() + 8, body.size() - 8);
    memcpy(&body[4], &crc, 4);
    return body;
}

FILETIME Time(uint64_t v) {
    FILETIME t;
    t.dwLowDateTime = DWORD(v);
    t.dwHighDateTime = DWORD(v >> 32);
    return t;
}

}  // namespace

TEST_CASE("Whole files compress and inflate in blocks; damage is reported, early ends keep what was inflated") {
    TempFolder dir(_T("zlib"));
    std::string content = Pattern(0x40000 * 3 + 17);
    WriteAll(dir / _T("in"), content);
    REQUIRE(CompressFile(dir / _T("in"), dir / _T("z"), -1) == 0);
    std::string z = ReadAll(dir / _T("z"));
    CHECK(z.substr(0, 2) == "\x78\x9C");
    CHECK(IsZlibFile(dir / _T("z")));
    CHECK_FALSE(IsZlibFile(dir / _T("in")));
    REQUIRE(DecompressFile(dir / _T("z"), dir / _T("out")) == 0);
    CHECK(ReadAll(dir / _T("out")) == content);

    WriteAll(dir / _T("empty"), "");
    CHECK(CompressFile(dir / _T("empty"), dir / _T("ez"), -1) == 0);
    CHECK(DecompressFile(dir / _T("ez"), dir / _T("eout")) == 0);
    CHECK(ReadAll(dir / _T("eout"), "missing").empty());
    CHECK_FALSE(IsZlibFile(dir / _T("empty")));

    WriteAll(dir / _T("short"), z.substr(0, z.size() / 2));
    CHECK(DecompressFile(dir / _T("short"), dir / _T("partial")) == -3);
    std::string partial = ReadAll(dir / _T("partial"));
    CHECK(partial.size() > 0);
    CHECK(content.compare(0, partial.size(), partial) == 0);

    std::string flipped = z;
    flipped[z.size() / 3] ^= 0x55;
    flipped[z.size() / 3 + 1] ^= 0x55;
    WriteAll(dir / _T("flipped"), flipped);
    CHECK(DecompressFile(dir / _T("flipped"), dir / _T("bad")) == -3);
    CHECK_FALSE(FileExists(dir / _T("bad")));

    CHECK(CompressFile(dir / _T("none"), dir / _T("nz"), -1) == -1);
    CHECK_FALSE(FileExists(dir / _T("nz")));
    CHECK(CompressFile(dir / _T("in"), dir / _T("no\\such\\folder"), -1) == -3);
}

TEST_CASE("A backup file being compressed or read back can be deleted meanwhile; it goes when closed") {
    TempFolder dir(_T("zlibheld"));
    tstring source = FormatText(_T("\\\\.\\pipe\\orvane-compress-%u"), unsigned(GetCurrentProcessId()));
    // A source that never delivers keeps the target open, as a hung write does.
    HANDLE pipe = CreateNamedPipe(source.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0,
                                  nullptr);
    REQUIRE(pipe != INVALID_HANDLE_VALUE);
    tstring target = dir / _T("held.z");
    std::thread compressor([&] { CompressFile(source, target, -1); });
    for (int i = 0; i < 300 && !FileExists(target); ++i)
        Sleep(100);
    CHECK(FileExists(target));
    CHECK(DeleteFile(target.c_str()));
    CloseHandle(pipe);
    testlimit::Join(compressor, testlimit::kStep, "the compressor after its source closed");
    CHECK_FALSE(FileExists(target));

    // So can one that is being read back.
    WriteAll(dir / _T("plain"), Pattern(1000));
    REQUIRE(CompressFile(dir / _T("plain"), target, -1) == 0);
    {
        InflateReader reader(target);
        char first = 0;
        CHECK(reader.Read(&first, 1));
        CHECK(DeleteFile(target.c_str()));
    }
    CHECK_FALSE(FileExists(target));
}

TEST_CASE("The catalogue: exact empty file, round trip, normalised paths, older layout") {
    TempFolder dir(_T("catalogue"));
    BackupCatalogue catalogue;
    catalogue.Load(dir / _T("backups.lst"));
    CHECK(catalogue.Count() == 0);
    catalogue.Save(dir / _T("backups.lst"));
    CHECK(ReadAll(dir / _T("backups.lst")) == std::string("\x00\x08\x00\x00\x84\x22\xFB\x38\x00\x00\x00\x00", 12));

    FILETIME t1 = Time(0x01C72E3F12345678ull), t2 = Time(0x01C72E3F87654321ull);
    catalogue.AddEntry(1, _T("C:\\b\\\\full.bkp"), _T("first\r\ncomment"), &t1);
    catalogue.AddEntry(0, _T("\\\\server\\share//x.bkp"), _T("second"), &t2);
    CHECK(catalogue.Entry(0).path == _T("C:\\b\\full.bkp"));
    CHECK(catalogue.Entry(1).path == _T("\\\\server\\share/x.bkp"));
    // Same file in another spelling: replaced and moved to the end.
    catalogue.AddEntry(1, _T("c:\\B\\full.bkp"), _T("again"), &t1);
    REQUIRE(catalogue.Count() == 2);
    CHECK(catalogue.Entry(1).comment == _T("again"));
    CHECK(catalogue.Find(_T("C:\\\\B\\FULL.BKP")) == 1);
    catalogue.Save(dir / _T("backups.lst"));

    BackupCatalogue again;
    again.Load(dir / _T("backups.lst"));
    REQUIRE(again.Count() == 2);
    CHECK(again.Entry(0).kind == 0);
    CHECK(again.Entry(1).path == _T("c:\\B\\full.bkp"));
    CHECK(again.Entry(1).time.dwLowDateTime == t1.dwLowDateTime);
    CHECK(again.Entry(1).time.dwHighDateTime == t1.dwHighDateTime);
    CHECK_FALSE(again.TimeText(1).empty());

    // Older layout: count first, no CRC, no times; kind 7 reads as a full backup.
    WriteAll(dir / _T("x.bkp"), "data");
    std::string older = Int32(1) + Int32(7) + Text16((dir / _T("x.bkp")).c_str()) + Text16(L"old");
    WriteAll(dir / _T("old.lst"), older);
    BackupCatalogue old;
    old.Load(dir / _T("old.lst"));
    REQUIRE(old.Count() == 1);
    CHECK(old.Entry(0).kind == 1);
    CHECK(old.Entry(0).comment == _T("old"));
    CHECK(old.Entry(0).time.dwHighDateTime != 0);
    old.Save(dir / _T("old.lst"));
    CHECK(ReadAll(dir / _T("old.lst")).substr(0, 4) == Int32(2048));
}

TEST_CASE("Damaged catalogues fail clearly") {
    TempFolder dir(_T("catalogue"));
    std::string entry = Int32(1) + Text16(L"C:\\a.bkp") + Text16(L"c") + std::string(8, '\x01');
    std::string good = WithCrc(Int32(2048) + Int32(0) + Int32(1) + entry);
    std::string flipped = good;
    flipped[20] ^= 1;
    std::string oddText = Int32(1) + Int32(1) + Int32(3) + "abc" + Text16(L"c");
    const std::string hostile[] = {
        flipped,                                                     // changed after the CRC
        WithCrc(Int32(2048) + Int32(0) + Int32(-1) + entry),         // negative count
        WithCrc(Int32(2048) + Int32(0) + Int32(0x7FFFFFFF) + entry), // huge count
        WithCrc(Int32(2048) + Int32(0) + Int32(2) + entry),          // count past the entries
        oddText,                                                     // older layout, odd string length
        Int32(1) + Int32(1) + Int32(-4),                             // negative string length
        Int32(5),                                                    // older count with nothing behind
        good + "x",                                                  // bytes behind the last entry... and the CRC
        std::string("\x00\x08", 2),
    };
    int n = 0;
    for (const std::string& bytes : hostile) {
        CAPTURE(n++);
        WriteAll(dir / _T("bad.lst"), bytes);
        BackupCatalogue catalogue;
        CHECK_THROWS_AS(catalogue.Load(dir / _T("bad.lst")), ErrorBase);
        CHECK(catalogue.Count() == 0);
    }
    WriteAll(dir / _T("good.lst"), good);
    BackupCatalogue catalogue;
    catalogue.Load(dir / _T("good.lst"));
    CHECK(catalogue.Count() == 1);
}

TEST_CASE("An existing backup file is listed when it is zlib data or a valid pack") {
    TempFolder dir(_T("existing"));
    BackupCatalogue catalogue;
    catalogue.Load(dir / _T("backups.lst"));
    CreateDirectory((dir / _T("src")).c_str(), nullptr);
    WriteAll(dir / _T("src\\HKLM_x.dat"), "hive");
    {
        FilePack pack(dir / _T("plain.bkp"), dir / _T("src"));
        pack.Close();
    }
    REQUIRE(CompressFile(dir / _T("plain.bkp"), dir / _T("zlib.bkp"), -1) == 0);
    WriteAll(dir / _T("junk.bkp"), "this is neither zlib data nor a pack");
    CHECK(catalogue.AddExisting(dir / _T("plain.bkp"), _T("")));
    CHECK(catalogue.AddExisting(dir / _T("zlib.bkp"), _T("z")));
    CHECK_THROWS_AS(catalogue.AddExisting(dir / _T("junk.bkp"), _T("")), ErrorBase);
    CHECK(catalogue.Count() == 2);
    BackupCatalogue saved;
    saved.Load(dir / _T("backups.lst"));
    CHECK(saved.Count() == 2);
    CHECK(saved.Entry(1).kind == 1);
}

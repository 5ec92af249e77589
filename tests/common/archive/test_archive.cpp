#include <doctest/doctest.h>
#include <cstring>
#include <string>
#include "ArchiveTestFiles.h"
#include "common/archive/Archive.h"
#include "common/archive/Crc32.h"
#include "common/errors/ErrorBase.h"

namespace {

const int32_t kNoMoreData = int32_t(0x80070103);

int32_t CodeOf(void (*action)(Archive&), Archive& archive) {
    try {
        action(archive);
    } catch (const ErrorBase& e) {
        return e.Code();
    }
    return 0;
}

FILETIME MakeFileTime(DWORD low, DWORD high) {
    FILETIME ft;
    ft.dwLowDateTime = low;
    ft.dwHighDateTime = high;
    return ft;
}

// Everything the stream can write, once each, in a known order.
void WriteAllPrimitives(Archive& out) {
    out.WriteInt(-2);
    out.WriteUInt(0xA1B2C3D4u);
    out.WriteByte(0x7F);
    out.WriteBool(true);
    out.WriteFileTime(MakeFileTime(0x11223344u, 0x55667788u));
    out.WriteString(tstring(_T("abc")));
    out.WriteString(tstring());
    const BYTE bytes[] = {1, 2, 3, 4, 5};
    out.WriteBlock(SharedBuffer(bytes, 5));
    out.WriteBlock(SharedBuffer());
    out.WriteBuffer(SharedBuffer(bytes, 3));
    out.WriteRaw("xyz", 3);
    out.WriteRaw("ignored", 0);
}

const char kPrimitiveBytes[] =
    "\xFE\xFF\xFF\xFF"
    "\xD4\xC3\xB2\xA1"
    "\x7F"
    "\x01"
    "\x44\x33\x22\x11\x88\x77\x66\x55"
    "\x06\x00\x00\x00" "a\0b\0c\0"
    "\x00\x00\x00\x00"
    "\x05\x00\x00\x00" "\x01\x02\x03\x04\x05"
    "\x00\x00\x00\x00"
    "\x01\x02\x03"
    "xyz";
const size_t kPrimitiveSize = sizeof kPrimitiveBytes - 1;

void CheckAllPrimitives(Archive& in) {
    CHECK(in.ReadInt() == -2);
    CHECK(in.ReadUInt() == 0xA1B2C3D4u);
    CHECK(in.ReadByte() == 0x7F);
    CHECK(in.ReadBool());
    FILETIME ft = {};
    in.ReadFileTime(ft);
    CHECK(ft.dwLowDateTime == 0x11223344u);
    CHECK(ft.dwHighDateTime == 0x55667788u);
    CHECK(in.ReadString() == _T("abc"));
    tstring empty(_T("not yet"));
    in.ReadString(empty);
    CHECK(empty.empty());
    SharedBuffer block;
    in.ReadBlock(block);
    REQUIRE(block.Size() == 5);
    CHECK(std::memcmp(static_cast<const SharedBuffer&>(block).Data(), "\x01\x02\x03\x04\x05", 5) == 0);
    in.ReadBlock(block);
    CHECK(block.Size() == 0);
    CHECK(block.Capacity() == 0);
    SharedBuffer raw;
    in.ReadBuffer(raw, 3);
    CHECK(std::memcmp(static_cast<const SharedBuffer&>(raw).Data(), "\x01\x02\x03", 3) == 0);
    char xyz[3];
    in.ReadRaw(xyz, 3);
    CHECK(std::memcmp(xyz, "xyz", 3) == 0);
    CHECK(in.Position() == in.Size());
}

}  // namespace

TEST_CASE("every primitive round-trips byte-exactly across page boundaries") {
    TempFolder folder(_T("arch-primitives"));
    tstring path = folder.File(_T("all.bin"));
    for (uint32_t pageSize : {1u, 3u, 7u, 16u, 0x100000u}) {
        CAPTURE(pageSize);
        {
            Archive out;
            out.SetPageSize(pageSize);
            out.Open(path, Archive::ModeCreate);
            WriteAllPrimitives(out);
            CHECK(out.Size() == kPrimitiveSize);
            out.Close();
        }
        CHECK(ReadWholeFile(path) == std::string(kPrimitiveBytes, kPrimitiveSize));
        Archive in;
        in.SetPageSize(pageSize);
        in.Open(path, Archive::ModeRead);
        CHECK(in.Size() == kPrimitiveSize);
        CheckAllPrimitives(in);
    }
}

TEST_CASE("strings: byte counts, embedded NUL and odd counts") {
    TempFolder folder(_T("arch-strings"));
    tstring path = folder.File(_T("s.bin"));
    {
        Archive out(path, Archive::ModeCreate);
        tstring withNul(_T("ab"));
        withNul.push_back(0);
        withNul += _T("cd");
        out.WriteString(withNul);
        out.WriteString(_T("x"));
    }
    CHECK(ReadWholeFile(path) == std::string("\x04\0\0\0a\0b\0\x02\0\0\0x\0", 14));
    // A body with a NUL inside ends the string there; an odd count keeps the
    // whole characters it has.
    WriteAll(path, std::string("\x06\0\0\0a\0\0\0c\0" "\x03\0\0\0d\0e", 17));
    Archive in(path, Archive::ModeRead);
    CHECK(in.ReadString() == _T("a"));
    tstring odd = in.ReadString();
    CHECK(odd.substr(0, 1) == _T("d"));
    CHECK(in.Position() == 17);
}

TEST_CASE("open modes") {
    TempFolder folder(_T("arch-modes"));
    tstring path = folder.File(_T("m.bin"));

    SUBCASE("a closed stream has mode 1 and no path") {
        Archive a;
        CHECK_FALSE(a.IsOpen());
        CHECK(a.Mode() == Archive::ModeCreate);
        CHECK(a.Path().empty());
        a.Close();
        CHECK_FALSE(a.IsOpen());
    }
    SUBCASE("mode 0 on a missing file throws the system's not-found error") {
        Archive a;
        int32_t code = ErrorCode([&] { a.Open(path, Archive::ModeRead); });
        CHECK(code == int32_t(0x80070002));
        CHECK_FALSE(a.IsOpen());
        CHECK(ReadWholeFile(path) == "<missing>");
    }
    SUBCASE("mode 2 opens a missing file empty and makes none without writes") {
        {
            Archive a(path, Archive::ModeReadWrite);
            CHECK(a.IsOpen());
            CHECK(a.Path() == path);
            CHECK(a.Size() == 0);
        }
        CHECK(ReadWholeFile(path) == "<missing>");
        CHECK(folder.Files().empty());
    }
    SUBCASE("mode 1 empties an existing file even when nothing is written") {
        WriteAll(path, "old content");
        Archive a(path, Archive::ModeCreate);
        CHECK(a.Size() == 0);
        a.Close();
        CHECK(ReadWholeFile(path).empty());
    }
    SUBCASE("mode 2 starts at the end, overwrites after a seek and never shrinks") {
        WriteAll(path, "12345678");
        Archive a(path, Archive::ModeReadWrite);
        CHECK(a.Position() == 8);
        a.WriteRaw("ab", 2);
        a.Seek(0, 0);
        a.WriteRaw("XY", 2);
        CHECK(a.Size() == 10);
        a.Close();
        CHECK(ReadWholeFile(path) == "XY345678ab");
    }
    SUBCASE("mode 3 adds exactly the bytes written since the open") {
        WriteAll(path, "head");
        for (int round = 0; round < 2; ++round) {
            Archive a(path, Archive::ModeAppend);
            CHECK(a.Size() == 0);
            a.WriteRaw(round ? "-two" : "-one", 4);
        }
        { Archive nothing(path, Archive::ModeAppend); }
        CHECK(ReadWholeFile(path) == "head-one-two");
    }
    SUBCASE("mode 0 never writes, whatever was put into the buffer") {
        WriteAll(path, "keep");
        {
            Archive a(path, Archive::ModeRead);
            a.Seek(0, 0);
            a.WriteRaw("lost", 4);
            a.WriteRaw("more", 4);
        }
        CHECK(ReadWholeFile(path) == "keep");
    }
    SUBCASE("mode 0 shares reading only; writers share nothing") {
        WriteAll(path, "data");
        Archive reader(path, Archive::ModeRead);
        Archive second(path, Archive::ModeRead);
        CHECK(second.Size() == 4);
        Archive writer;
        CHECK(ErrorCode([&] { writer.Open(path, Archive::ModeReadWrite); }) == int32_t(0x80070020));
        reader.Close();
        second.Close();
        writer.Open(path, Archive::ModeReadWrite);
        Archive third;
        CHECK(ErrorCode([&] { third.Open(path, Archive::ModeRead); }) == int32_t(0x80070020));
    }
    SUBCASE("reopening writes the old file back first") {
        tstring other = folder.File(_T("other.bin"));
        WriteAll(other, "zz");
        Archive a(path, Archive::ModeCreate);
        a.WriteInt(7);
        a.Open(other, Archive::ModeRead);
        CHECK(ReadWholeFile(path) == std::string("\x07\0\0\0", 4));
        CHECK(a.Size() == 2);
        CHECK(a.Position() == 0);
        CHECK(a.Path() == other);
    }
    SUBCASE("reopening under the stream's own path") {
        Archive a(path, Archive::ModeCreate);
        a.WriteInt(9);
        a.Open(a.Path(), Archive::ModeReadWrite);
        CHECK(a.Path() == path);
        CHECK(a.Size() == 4);
        a.Seek(0, 0);
        CHECK(a.ReadInt() == 9);
    }
    SUBCASE("modes outside 0 to 3 are refused") {
        Archive a;
        CHECK(ErrorCode([&] { a.Open(path, 4); }) == int32_t(E_INVALIDARG));
        CHECK(ErrorCode([&] { a.Open(path, -1); }) == int32_t(E_INVALIDARG));
        CHECK(ReadWholeFile(path) == "<missing>");
    }
}

TEST_CASE("reading past the end throws and leaves the position unchanged") {
    TempFolder folder(_T("arch-pastend"));
    tstring path = folder.File(_T("p.bin"));
    WriteAll(path, "abcdefg");
    Archive in;
    in.SetPageSize(4);
    in.Open(path, Archive::ModeRead);
    in.Seek(4, 0);
    CHECK(CodeOf([](Archive& a) { a.ReadInt(); }, in) == kNoMoreData);
    CHECK(in.Position() == 4);
    char three[3];
    in.ReadRaw(three, 3);
    CHECK(std::memcmp(three, "efg", 3) == 0);
    CHECK(CodeOf([](Archive& a) { a.ReadByte(); }, in) == kNoMoreData);
    CHECK(CodeOf([](Archive& a) { a.ReadBool(); }, in) == kNoMoreData);

    // Beyond the size the bytes left must not wrap around to a huge count.
    for (uint32_t beyond : {8u, 100u, 0xFFFFFFF0u}) {
        CAPTURE(beyond);
        in.Seek(beyond, 0);
        CHECK(CodeOf([](Archive& a) { a.ReadInt(); }, in) == kNoMoreData);
        CHECK(CodeOf([](Archive& a) { FILETIME ft; a.ReadFileTime(ft); }, in) == kNoMoreData);
        CHECK(CodeOf([](Archive& a) { SharedBuffer b; a.ReadBlock(b); }, in) == kNoMoreData);
        CHECK(CodeOf([](Archive& a) { SharedBuffer b; a.ReadBuffer(b, 1); }, in) == kNoMoreData);
        CHECK(CodeOf([](Archive& a) { a.ReadString(); }, in) == kNoMoreData);
        CHECK(in.Position() == beyond);
        CHECK(in.Remaining() == 0);
    }
    in.Seek(0, 0);
    CHECK(CodeOf([](Archive& a) { char big[8]; a.ReadRaw(big, 8); }, in) == kNoMoreData);
    CHECK(in.Position() == 0);
}

TEST_CASE("a corrupt count is refused before anything is allocated") {
    TempFolder folder(_T("arch-corrupt"));
    tstring path = folder.File(_T("c.bin"));
    for (const char* count : {"\xF0\xFF\xFF\x7F", "\xFF\xFF\xFF\xFF", "\x00\x00\x00\x80", "\x09\x00\x00\x00"}) {
        CAPTURE(std::string(count, 4));
        WriteAll(path, std::string(count, 4) + "12345678");
        Archive in(path, Archive::ModeRead);
        SharedBuffer target(reinterpret_cast<const BYTE*>("keep"), 4);
        CHECK(CodeOf([](Archive& a) {
                  SharedBuffer b(reinterpret_cast<const BYTE*>("x"), 1);
                  a.ReadBlock(b);
              }, in) == kNoMoreData);
        CHECK(in.Position() == 0);
        // A string with a short body becomes empty; its count is consumed.
        tstring text(_T("old"));
        in.ReadString(text);
        CHECK(text.empty());
        CHECK(in.Position() == 4);
        in.Seek(0, 0);
        in.ReadInt();
        CHECK(CodeOf([](Archive& a) { SharedBuffer b; a.ReadBuffer(b, 9); }, in) == kNoMoreData);
        CHECK(in.Position() == 4);
    }
}

TEST_CASE("offsets and sizes that would pass 4 GiB throw instead of wrapping") {
    Archive a;
    a.SetPageSize(16);
    a.WriteRaw("abc", 3);
    CHECK(a.Seek(0xFFFFFFFFu, 0) == 0xFFFFFFFFu);
    int32_t overflow = int32_t(HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW));
    CHECK(ErrorCode([&] { a.Seek(1, 1); }) == overflow);
    CHECK(ErrorCode([&] { a.WriteInt(1); }) == overflow);
    CHECK(a.Size() == 3);
    CHECK(a.Buffer().PageCount() == 1);
    CHECK(ErrorCode([&] { a.Seek(-4, 2); }) == int32_t(HRESULT_FROM_WIN32(ERROR_NEGATIVE_SEEK)));
    CHECK(ErrorCode([&] { a.Seek(int64_t(1) << 40, 0); }) == overflow);
    CHECK(a.Position() == 0xFFFFFFFFu);
    a.Seek(0xFFFFFFFBu, 0);
    CHECK(ErrorCode([&] { a.WriteString(_T("ab")); }) == overflow);
    CHECK(a.Size() == 3);
    CHECK(a.Seek(-2, 2) == 1);
}

TEST_CASE("page boundaries, gaps and the size") {
    TempFolder folder(_T("arch-pages"));
    tstring path = folder.File(_T("g.bin"));
    Archive a;
    a.SetPageSize(8);
    a.Open(path, Archive::ModeCreate);
    a.WriteRaw("01234567", 8);
    // A write that ends on a page boundary has added the next page.
    CHECK(a.Buffer().PageCount() == 2);
    a.Seek(12, 0);
    a.WriteRaw("Z", 1);
    CHECK(a.Size() == 13);
    a.SetSize(3);
    CHECK(a.Buffer().PageCount() == 1);
    CHECK(a.Position() == 13);
    a.Seek(6, 0);
    a.WriteRaw("Q", 1);
    a.Close();
    // Bytes between the old end and a later write read as zeros, also where
    // the buffer held other bytes before it shrank.
    CHECK(ReadWholeFile(path) == std::string("012\0\0\0Q", 7));

    a.Open(path, Archive::ModeReadWrite);
    a.SetSize(10);
    CHECK(a.Position() == 7);
    a.Close();
    CHECK(ReadWholeFile(path) == std::string("012\0\0\0Q\0\0\0", 10));
}

TEST_CASE("a large content spans many pages and checksums over them") {
    TempFolder folder(_T("arch-large"));
    tstring path = folder.File(_T("l.bin"));
    std::string data;
    for (int i = 0; i < 5000; ++i)
        data.push_back(char((i * 131) ^ (i >> 3)));
    {
        Archive out;
        out.SetPageSize(64);
        out.Open(path, Archive::ModeCreate);
        out.WriteRaw(data.data(), uint32_t(data.size()));
        CHECK(out.Checksum(0, uint32_t(data.size())) == Crc32::Of(data.data(), data.size()));
        CHECK(out.Checksum(100, 1000) == Crc32::Of(data.data() + 100, 1000));
        CHECK(ErrorCode([&] { out.Checksum(4990, 11); }) == kNoMoreData);
    }
    CHECK(ReadWholeFile(path) == data);
    Archive in;
    in.SetPageSize(100);
    in.Open(path, Archive::ModeRead);
    std::string back(data.size(), '\0');
    in.ReadRaw(&back[0], uint32_t(back.size()));
    CHECK(back == data);
}

TEST_CASE("the verify flag checks a trailing CRC") {
    TempFolder folder(_T("arch-verify"));
    tstring path = folder.File(_T("v.bin"));
    std::string body = "some content";
    uint32_t crc = Crc32::Of(body.data(), body.size());
    WriteAll(path, body + std::string(reinterpret_cast<const char*>(&crc), 4));
    {
        Archive in(path, Archive::ModeRead, true);
        CHECK(in.Position() == 0);
        CHECK(in.Size() == body.size() + 4);
    }
    {
        Archive rw(path, Archive::ModeReadWrite, true);
        CHECK(rw.Position() == body.size() + 4);
    }
    WriteAll(path, "corrupt!" + std::string(reinterpret_cast<const char*>(&crc), 4));
    Archive bad;
    CHECK(ErrorCode([&] { bad.Open(path, Archive::ModeRead, true); }) == int32_t(HRESULT_FROM_WIN32(ERROR_CRC)));
    CHECK_FALSE(bad.IsOpen());
    WriteAll(path, "abc");
    CHECK(ErrorCode([&] { bad.Open(path, Archive::ModeRead, true); }) == int32_t(HRESULT_FROM_WIN32(ERROR_CRC)));
}

TEST_CASE("ReadBuffer grows a smaller buffer and never writes into a shared block") {
    TempFolder folder(_T("arch-readbuffer"));
    tstring path = folder.File(_T("r.bin"));
    WriteAll(path, "abcdef");
    Archive in(path, Archive::ModeRead);
    SharedBuffer big(reinterpret_cast<const BYTE*>("0123456789"), 10);
    SharedBuffer sharer(big);
    in.ReadBuffer(big, 4);
    CHECK(big.Size() == 10);
    CHECK(std::string(reinterpret_cast<const char*>(static_cast<const SharedBuffer&>(big).Data()), 10) == "abcd456789");
    CHECK(std::string(reinterpret_cast<const char*>(static_cast<const SharedBuffer&>(sharer).Data()), 10) == "0123456789");
    SharedBuffer small(1);
    in.ReadBuffer(small, 2);
    CHECK(small.Size() == 2);
    CHECK(std::string(reinterpret_cast<const char*>(static_cast<const SharedBuffer&>(small).Data()), 2) == "ef");
}

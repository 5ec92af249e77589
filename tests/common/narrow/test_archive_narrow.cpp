#include <doctest/doctest.h>
#include <cstring>
#include <string>
#include "../archive/ArchiveTestFiles.h"
#include "common/archive/Archive.h"
#include "common/archive/Crc32.h"
#include "common/errors/ErrorBase.h"
#include "common/system/FileSystem.h"
#include "common/system/NamedLock.h"
#include "common/system/SharedBuffer.h"

static_assert(sizeof(TCHAR) == 1, "this folder tests the ANSI build");

TEST_CASE("narrow build: the file format is the same as the wide one") {
    TempFolder folder(_T("narrow-format"));
    tstring path = folder.File(_T("n.bin"));
    FILETIME ft;
    ft.dwLowDateTime = 0x01020304u;
    ft.dwHighDateTime = 0x05060708u;
    const BYTE bytes[] = {9, 8, 7};
    {
        Archive out;
        out.SetPageSize(3);
        out.Open(path, Archive::ModeCreate);
        out.WriteString(tstring("abc"));
        out.WriteString(tstring());
        out.WriteInt(-1);
        out.WriteUInt(0x80000000u);
        out.WriteBool(false);
        out.WriteByte(0xEE);
        out.WriteFileTime(ft);
        out.WriteBlock(SharedBuffer(bytes, 3));
        out.WriteBuffer(SharedBuffer(bytes, 2));
        out.WriteRaw("!", 1);
    }
    const std::string expected(
        "\x06\0\0\0a\0b\0c\0"
        "\0\0\0\0"
        "\xFF\xFF\xFF\xFF"
        "\0\0\0\x80"
        "\0"
        "\xEE"
        "\x04\x03\x02\x01\x08\x07\x06\x05"
        "\x03\0\0\0\x09\x08\x07"
        "\x09\x08"
        "!",
        42);
    CHECK(ReadWholeFile(path) == expected);

    Archive in;
    in.SetPageSize(5);
    in.Open(path, Archive::ModeRead);
    CHECK(in.ReadString() == "abc");
    CHECK(in.ReadString().empty());
    CHECK(in.ReadInt() == -1);
    CHECK(in.ReadUInt() == 0x80000000u);
    CHECK_FALSE(in.ReadBool());
    CHECK(in.ReadByte() == 0xEE);
    FILETIME back = {};
    in.ReadFileTime(back);
    CHECK(back.dwLowDateTime == ft.dwLowDateTime);
    CHECK(back.dwHighDateTime == ft.dwHighDateTime);
    SharedBuffer block;
    in.ReadBlock(block);
    CHECK(block.Size() == 3);
    CHECK(std::memcmp(static_cast<const SharedBuffer&>(block).Data(), bytes, 3) == 0);
    SharedBuffer raw;
    in.ReadBuffer(raw, 2);
    CHECK(std::memcmp(static_cast<const SharedBuffer&>(raw).Data(), bytes, 2) == 0);
    char bang = 0;
    in.ReadRaw(&bang, 1);
    CHECK(bang == '!');
    try {
        in.ReadRaw(&bang, 1);
        FAIL("read past the end");
    } catch (const ErrorBase& e) {
        CHECK(e.Code() == int32_t(0x80070103));
    }
    CHECK(in.Position() == 42);
}

TEST_CASE("narrow build: a string written wide-style reads back narrow") {
    TempFolder folder(_T("narrow-strings"));
    tstring path = folder.File(_T("w.bin"));
    // "Key" as UTF-16LE, then a count larger than the body.
    WriteAll(path, std::string("\x06\0\0\0K\0e\0y\0" "\x40\0\0\0xx", 16));
    Archive in(path, Archive::ModeRead);
    CHECK(in.ReadString() == "Key");
    CHECK(in.ReadString().empty());
    CHECK(in.Position() == 14);
}

TEST_CASE("narrow build: modes, safe replacement and the helpers") {
    TempFolder folder(_T("narrow-modes"));
    tstring path = folder.File(_T("m.bin"));
    WriteAll(path, "1234");
    {
        Archive a(path, Archive::ModeReadWrite);
        CHECK(a.Position() == 4);
        a.WriteRaw("56", 2);
    }
    CHECK(ReadWholeFile(path) == "123456");
    { Archive a(path, Archive::ModeAppend); a.WriteRaw("7", 1); }
    CHECK(ReadWholeFile(path) == "1234567");
    { Archive a(path, Archive::ModeCreate); }
    CHECK(ReadWholeFile(path).empty());
    CHECK(folder.Files().size() == 1);
    CHECK(FileExists(path));
    CHECK(FileNamePart(path) == "m.bin");

    tstring tree = folder.Path() + "\\x\\y";
    CreateFolderTree(tree);
    CHECK(GetFileAttributes(tree.c_str()) != INVALID_FILE_ATTRIBUTES);
    CHECK(DeletePath(folder.Path() + "\\x") == 0);
    CHECK(DeletePath("relative") == ERROR_INVALID_PARAMETER);

    SharedBuffer a("abc", 3);
    SharedBuffer b(a);
    CHECK(a.RefCount() == 2);
    b.Data()[0] = 'X';
    CHECK(std::string(reinterpret_cast<const char*>(static_cast<const SharedBuffer&>(a).Data()), 3) == "abc");
    CHECK(NamedLock::BlockLockName(nullptr).compare(0, 7, "MEMLCK-") == 0);
    CHECK(Crc32::Of("123456789", 9) == 0xFC891918u);
}

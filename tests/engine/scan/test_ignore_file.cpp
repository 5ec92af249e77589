#include <doctest/doctest.h>
#include "common/errors/ErrorBase.h"
#include "engine/scan/IgnoreFile.h"
#include "test_ignore_files.h"

using namespace ignoretest;

namespace {

// One full record, KeyPath "HKCU\A", no value name, Reason "r", Item "i",
// ErrorID 0x012C0064, laid out by hand; the check value is CRC-32/BZIP2 of
// the 37 bytes after it.
const unsigned char kGolden[] = {
    0xD6, 0xBA, 0x16, 0xB0,                                      // check value
    0x00,                                                        // flag
    0x0C, 0x00, 0x00, 0x00, 0x48, 0x00, 0x4B, 0x00, 0x43, 0x00,  // KeyPath
    0x55, 0x00, 0x5C, 0x00, 0x41, 0x00,
    0x00, 0x00, 0x00, 0x00,                                      // ValueName
    0x02, 0x00, 0x00, 0x00, 0x72, 0x00,                          // Reason
    0x02, 0x00, 0x00, 0x00, 0x69, 0x00,                          // Item
    0x64, 0x00, 0x2C, 0x01,                                      // ErrorID
};

std::string Golden() {
    return std::string(reinterpret_cast<const char*>(kGolden), sizeof(kGolden));
}

ScanRecord GoldenRecord() {
    ScanRecord r;
    r.KeyPath = L"HKCU\\A";
    r.Reason = L"r";
    r.Item = L"i";
    r.ErrorID = 0x012C0064;
    return r;
}

// The error a damaged file raises, or an empty text when it reads.
tstring ReadFailure(const tstring& path, ShortRecordFlag rule = ShortRecordFlag::One) {
    try {
        ReadIgnoreFile(path, rule);
    } catch (const ErrorBase& e) {
        return e.Message();
    }
    return tstring();
}

}  // namespace

TEST_CASE("An ignore file matches its layout byte for byte") {
    TempFolder folder(L"ignore");
    tstring path = folder.File(L"golden.dat");

    SUBCASE("written") {
        WriteIgnoreFile(path, {GoldenRecord()});
        CHECK(ReadAll(path) == Golden());
    }
    SUBCASE("read") {
        WriteAll(path, Golden());
        auto records = ReadIgnoreFile(path, ShortRecordFlag::AnyNonZero);
        REQUIRE(records.size() == 1);
        CHECK(records[0].KeyPath == L"HKCU\\A");
        CHECK(records[0].ValueName.empty());
        CHECK(records[0].Reason == L"r");
        CHECK(records[0].Item == L"i");
        CHECK(records[0].ErrorID == 0x012C0064);
        CHECK(records[0].Flag == 0);
    }
    SUBCASE("an empty list is the check value 0 alone") {
        WriteIgnoreFile(path, {});
        CHECK(ReadAll(path) == std::string(4, '\0'));
        CHECK(ReadIgnoreFile(path, ShortRecordFlag::AnyNonZero).empty());
    }
}

TEST_CASE("Text is written up to its first NUL and every record as a full record") {
    TempFolder folder(L"ignore");
    tstring path = folder.File(L"cut.dat");
    ScanRecord r;
    r.KeyPath = tstring(L"HKLM\\x\0tail", 11);
    r.ValueName = L"v";
    r.Flag = 1;
    WriteIgnoreFile(path, {r});
    IgnoreBytes expected;
    expected.Full(L"HKLM\\x", L"v", L"", L"", 0);
    CHECK(ReadAll(path) == expected.Bytes());
}

TEST_CASE("A file whose body does not match its check value is refused") {
    TempFolder folder(L"ignore");
    tstring path = folder.File(L"flipped.dat");
    std::string bytes = Golden();
    for (size_t at : {size_t(0), size_t(4), size_t(10), bytes.size() - 1}) {
        CAPTURE(at);
        std::string damaged = bytes;
        damaged[at] ^= 0x01;
        WriteAll(path, damaged);
        CHECK(ReadFailure(path) == L"Invalid CRC");
    }
}

TEST_CASE("Damaged and crafted files are refused before anything is allocated for them") {
    TempFolder folder(L"ignore");
    tstring path = folder.File(L"crafted.dat");

    SUBCASE("shorter than the check value") {
        WriteAll(path, std::string(3, '\0'));
        CHECK(ReadFailure(path) == L"Invalid ignore file");
        WriteAll(path, std::string());
        CHECK(ReadFailure(path) == L"Invalid ignore file");
    }
    SUBCASE("truncated inside a record") {
        std::string golden = Golden();
        for (size_t cut = 5; cut < golden.size(); ++cut) {
            CAPTURE(cut);
            WriteAll(path, golden.substr(0, cut));
            CHECK_FALSE(ReadFailure(path).empty());
        }
    }
    SUBCASE("truncated with a check value that matches what is left") {
        IgnoreBytes b;
        b.Full(L"HKCU\\A", L"", L"r", L"i", 7);
        std::string body = b.Body();
        for (size_t cut = 1; cut < body.size(); ++cut) {
            CAPTURE(cut);
            IgnoreBytes part;
            part.Byte(uint8_t(body[0]));
            std::string rest = body.substr(1, cut - 1);
            for (char c : rest)
                part.Byte(uint8_t(c));
            WriteAll(path, part.Bytes());
            CHECK(ReadFailure(path) == L"Invalid ignore file");
        }
    }
    SUBCASE("a string count far past the end") {
        IgnoreBytes b;
        b.Byte(0).Int(0x7FFFFFFE).Text(L"x");
        WriteAll(path, b.Bytes());
        CHECK(ReadFailure(path) == L"Invalid ignore file");
    }
    SUBCASE("a negative string count") {
        IgnoreBytes b;
        b.Byte(0).Int(-2).Text(L"").Text(L"").Text(L"").Int(1);
        WriteAll(path, b.Bytes());
        CHECK(ReadFailure(path) == L"Invalid ignore file");
    }
    SUBCASE("an odd string count") {
        IgnoreBytes b;
        b.Byte(0).Int(3).Byte('a').Byte(0).Byte('b').Text(L"").Text(L"").Text(L"").Int(1);
        WriteAll(path, b.Bytes());
        CHECK(ReadFailure(path) == L"Invalid ignore file");
    }
    SUBCASE("a good record followed by a broken one gives nothing") {
        IgnoreBytes b;
        b.Full(L"HKCU\\good", L"", L"", L"", 5).Byte(0).Text(L"HKCU\\bad");
        WriteAll(path, b.Bytes());
        CHECK(ReadFailure(path) == L"Invalid ignore file");
    }
}

TEST_CASE("The two readers disagree on which flags mark a short record") {
    TempFolder folder(L"ignore");
    tstring path = folder.File(L"flags.dat");
    IgnoreBytes b;
    b.Short(1, L"HKLM\\one", L"v1").Full(L"HKCU\\full", L"", L"why", L"what", 9);
    b.Byte(2).Text(L"HKLM\\two").Text(L"v2").Text(L"r2").Text(L"i2").Int(11);
    WriteAll(path, b.Bytes());

    SUBCASE("the engine's lists: every non-zero flag is short") {
        // The flag-2 record's remaining fields then read as further records,
        // which do not fit: the whole file is refused.
        CHECK(ReadFailure(path, ShortRecordFlag::AnyNonZero) == L"Invalid ignore file");
        IgnoreBytes ok;
        ok.Short(1, L"HKLM\\one", L"v1").Short(7, L"HKLM\\seven", L"").Full(L"HKCU\\full", L"", L"why", L"what", 9);
        WriteAll(path, ok.Bytes());
        auto records = ReadIgnoreFile(path, ShortRecordFlag::AnyNonZero);
        REQUIRE(records.size() == 3);
        CHECK(records[0].Flag == 1);
        CHECK(records[0].ValueName == L"v1");
        CHECK(records[0].Item.empty());
        CHECK(records[1].Flag == 7);
        CHECK(records[1].KeyPath == L"HKLM\\seven");
        CHECK(records[2].Item == L"what");
        CHECK(records[2].ErrorID == 9);
    }
    SUBCASE("imports: only flag 1 is short") {
        auto records = ReadIgnoreFile(path, ShortRecordFlag::One);
        REQUIRE(records.size() == 3);
        CHECK(records[0].KeyPath == L"HKLM\\one");
        CHECK(records[0].Reason.empty());
        CHECK(records[1].Reason == L"why");
        CHECK(records[2].Flag == 2);
        CHECK(records[2].Item == L"i2");
        CHECK(records[2].ErrorID == 11);
    }
}

TEST_CASE("A file that cannot be written is an error and an existing file keeps its content") {
    TempFolder folder(L"ignore");
    CHECK_THROWS_AS(WriteIgnoreFile(folder.File(L"no such folder\\x.dat"), {GoldenRecord()}), ErrorBase);
    CHECK_FALSE(FileExists(folder.File(L"no such folder\\x.dat")));
    CHECK_THROWS_AS(WriteIgnoreFile(L"", {}), ErrorBase);
    CHECK_THROWS_AS(ReadIgnoreFile(L"", ShortRecordFlag::One), ErrorBase);
}

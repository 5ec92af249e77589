#include <doctest/doctest.h>
#include <windows.h>
#include <cstring>
#include <map>
#include <sstream>
#include "RegistryTestKey.h"
#include "common/errors/ErrorBase.h"
#include "engine/registry/RegKey.h"
#include "engine/registry/RegValue.h"

namespace {

void Put(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    REQUIRE(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS);
}

std::vector<BYTE> Bytes(const SharedBuffer& data) {
    return std::vector<BYTE>(data.Data(), data.Data() + data.Size());
}

std::vector<BYTE> Stored(HKEY key, const wchar_t* name, DWORD* type = nullptr) {
    DWORD size = 0;
    RegQueryValueExW(key, name, nullptr, type, nullptr, &size);
    std::vector<BYTE> bytes(size);
    RegQueryValueExW(key, name, nullptr, type, bytes.data(), &size);
    bytes.resize(size);
    return bytes;
}

}  // namespace

TEST_CASE("RegValue: default value and missing values") {
    RegistryTestKey scratch(L"valuebasics");
    Put(scratch.Handle(), L"", REG_SZ, L"default", 16);
    RegKey key = RegKey::OpenPath(scratch.Path(), false, true);

    RegValue byName(key, L"(DEFAULT)");
    CHECK(byName.Name().empty());
    CHECK(byName.Type() == RegValue::NotRead);
    CHECK(byName.DataText() == L"default");
    CHECK(byName.Type() == RegValue::String);
    CHECK(byName.FullPath() == scratch.Path());

    RegValue missing = key.Value(L"missing");
    CHECK(missing.Type() == RegValue::NotRead);
    CHECK(missing.Data().Size() == 0);
    CHECK(missing.Type() == RegValue::Absent);
    CHECK(missing.DataText().empty());
    CHECK_FALSE(missing.Query());
    try {
        missing.Delete();
        FAIL("deleting a missing value succeeded");
    } catch (const ErrorBase& e) {
        CHECK(e.Code() == int32_t(0x80070002));
    }
}

TEST_CASE("RegValue: every type code reads, shows, sets and deletes") {
    RegistryTestKey scratch(L"valuetypes");
    RegKey key = RegKey::OpenPath(scratch.Path(), false, true);

    SUBCASE("32-bit number") {
        RegValue value = key.Value(L"dword");
        CHECK(value.SetText(L"0x0000001F", RegValue::Number32));
        CHECK(value.Write());
        DWORD type = 0;
        CHECK(Stored(scratch.Handle(), L"dword", &type) == std::vector<BYTE>{0x1F, 0, 0, 0});
        CHECK(type == REG_DWORD);
        RegValue read = key.Value(L"dword");
        CHECK(read.DataText() == L"0x0000001F");
        CHECK(read.Type() == RegValue::Number32);
        read.SetText(L"ffffffff");
        CHECK(read.DataText() == L"0xFFFFFFFF");
    }
    SUBCASE("64-bit number") {
        uint64_t number = (uint64_t(1) << 32) + 2;
        Put(scratch.Handle(), L"qword", REG_QWORD, &number, 8);
        RegValue value = key.Value(L"qword");
        CHECK(value.DataText() == L"0x0000000100000002");
        CHECK(value.Type() == RegValue::Number64);
        RegValue other = key.Value(L"qword2");
        other.SetText(value.DataText(), RegValue::Number64);
        CHECK(other.Write());
        CHECK(Stored(scratch.Handle(), L"qword2") == Stored(scratch.Handle(), L"qword"));
        other.SetText(L"12345");
        CHECK(other.DataText() == L"0x0000000000012345");
    }
    SUBCASE("binary") {
        const BYTE bytes[] = {0x0A, 0xFF, 0x10};
        Put(scratch.Handle(), L"bin", REG_BINARY, bytes, 3);
        RegValue value = key.Value(L"bin");
        CHECK(value.DataText() == L"0AFF10");
        RegValue copy = key.Value(L"bin2");
        copy.SetText(L"0AFF10", RegValue::Binary);
        CHECK(Bytes(copy.Data()) == std::vector<BYTE>{0x0A, 0xFF, 0x10});
        copy.SetText(L"ABC");
        CHECK(Bytes(copy.Data()) == std::vector<BYTE>{0xAB, 0x0C});
        CHECK(copy.Write());
        DWORD type = 0;
        CHECK(Stored(scratch.Handle(), L"bin2", &type) == std::vector<BYTE>{0xAB, 0x0C});
        CHECK(type == REG_BINARY);
    }
    SUBCASE("multi-string") {
        Put(scratch.Handle(), L"multi", REG_MULTI_SZ, L"a\0b\0", 10);
        RegValue value = key.Value(L"multi");
        CHECK(value.DataText() == L"a b ");
        value.SetText(L"one\ntwo", RegValue::MultiString);
        CHECK(value.Write());
        std::vector<BYTE> stored = Stored(scratch.Handle(), L"multi");
        CHECK(stored.size() == 16);
        CHECK(std::memcmp(stored.data(), L"one\0two\0", 16) == 0);
    }
    SUBCASE("strings") {
        RegValue plain = key.Value(L"plain");
        plain.SetText(L"text");
        CHECK(plain.Type() == RegValue::String);
        CHECK(plain.Write());
        CHECK(Stored(scratch.Handle(), L"plain").size() == 10);
        RegValue expand = key.Value(L"expand");
        expand.SetText(L"%WINDIR%\\x", RegValue::ExpandString);
        CHECK(expand.Write());
        wchar_t expected[MAX_PATH];
        ExpandEnvironmentStringsW(L"%WINDIR%\\x", expected, MAX_PATH);
        RegValue read = key.Value(L"expand");
        CHECK(read.DataText() == expected);
        CHECK(read.Type() == RegValue::ExpandString);
    }
    SUBCASE("other registry types are kept raw and never written") {
        Put(scratch.Handle(), L"link", REG_LINK, L"\\Registry", 18);
        RegValue value = key.Value(L"link");
        CHECK(value.DataText().empty());
        CHECK(value.Type() == RegValue::OtherType);
        CHECK(value.Data().Size() == 18);
        CHECK_FALSE(value.Write());
    }
    SUBCASE("delete") {
        Put(scratch.Handle(), L"gone", REG_SZ, L"x", 4);
        RegValue value = key.Value(L"gone");
        CHECK(value.DataText() == L"x");
        value.Delete();
        CHECK(value.Type() == RegValue::NotRead);
        CHECK_FALSE(value.Query());
        CHECK(Stored(scratch.Handle(), L"gone").empty());
    }
}

TEST_CASE("RegValue: odd and short data is read within its bounds") {
    RegistryTestKey scratch(L"valueshort");
    RegKey key = RegKey::OpenPath(scratch.Path(), false, true);
    // A string stored without its terminator still ends at the data's end.
    Put(scratch.Handle(), L"unterminated", REG_SZ, L"abc", 6);
    CHECK(key.Value(L"unterminated").DataText() == L"abc");
    RegValue unterminated = key.Value(L"unterminated");
    CHECK(unterminated.Data().Size() == 8);
    // Odd sizes: the lone last byte is not half a character to be shown.
    Put(scratch.Handle(), L"odd", REG_SZ, L"abc", 5);
    CHECK(key.Value(L"odd").DataText().substr(0, 2) == L"ab");
    Put(scratch.Handle(), L"shortdword", REG_DWORD, "\x34\x12", 2);
    CHECK(key.Value(L"shortdword").DataText() == L"0x00001234");
    Put(scratch.Handle(), L"shortqword", REG_QWORD, "\x01\x02\x03", 3);
    CHECK(key.Value(L"shortqword").DataText() == L"0x0000000000030201");

    // Data set from bytes is bounded by its own size, terminator or not.
    RegValue value = key.Value(L"made");
    value.SetBytes("\x41\x00\x42", 3, RegValue::String);
    CHECK(value.DataText() == L"A");
    value.SetBytes("\x41\x00\x00\x00\x42\x00\x43", 7, RegValue::MultiString);
    CHECK(value.DataText() == L"A B ");
    value.SetBytes("\x07", 1, RegValue::Number32);
    CHECK(value.DataText() == L"0x00000007");
    value.SetBytes(nullptr, 0, RegValue::Number64);
    CHECK(value.DataText().empty());
    CHECK_FALSE(value.SetBytes(nullptr, 4));
}

TEST_CASE("RegValue: copies share data and read once") {
    RegistryTestKey scratch(L"valuecopies");
    Put(scratch.Handle(), L"v", REG_SZ, L"first", 12);
    RegKey key = RegKey::OpenPath(scratch.Path(), false, true);
    RegValue source = key.Value(L"v");
    RegValue copy(source);  // reads the source
    CHECK(source.Type() == RegValue::String);
    CHECK(copy.Data().Data() == source.Data().Data());
    Put(scratch.Handle(), L"v", REG_SZ, L"second", 14);
    CHECK(copy.DataText() == L"first");
    CHECK(source.DataText() == L"first");

    RegValue absent = key.Value(L"absent");
    RegValue absentCopy = absent;
    CHECK(absentCopy.Type() == RegValue::NotRead);
    Put(scratch.Handle(), L"absent", REG_DWORD, "\x05\x00\x00\x00", 4);
    CHECK(absentCopy.DataText() == L"0x00000005");

    // A value outlives the key object it came from.
    RegValue kept = RegKey::OpenPath(scratch.Path()).Value(L"v");
    CHECK(kept.DataText() == L"second");
}

namespace {

// reg.exe's display of one value: the text after its type column.
std::map<std::string, std::pair<std::string, std::string>> RegQuery(const tstring& path) {
    std::map<std::string, std::pair<std::string, std::string>> shown;
    std::string output = RunCaptured(L"C:\\windows\\system32\\reg.exe query \"" + RegExePath(path) + L"\"");
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream fields(line);
        std::string name, type;
        if (!(fields >> name >> type) || type.compare(0, 4, "REG_") != 0)
            continue;
        std::string data;
        std::getline(fields, data);
        data.erase(0, data.find_first_not_of(' '));
        shown[name] = {type, data};
    }
    return shown;
}

std::string Narrow(const tstring& text) {
    std::string narrow;
    for (wchar_t c : text)
        narrow += char(c);
    return narrow;
}

}  // namespace

TEST_CASE("RegValue: the display agrees with reg.exe") {
    RegistryTestKey scratch(L"valuereg");
    HKEY k = scratch.Handle();
    uint64_t qword = 0x123456789ABCDEF0ull;
    Put(k, L"qword", REG_QWORD, &qword, 8);
    Put(k, L"binary", REG_BINARY, "\x0A\xFF\x10\x00\x7F", 5);
    Put(k, L"multi", REG_MULTI_SZ, L"alpha\0beta\0gamma\0", 36);
    Put(k, L"expand", REG_EXPAND_SZ, L"%SystemRoot%\\dir", 34);
    Put(k, L"dword", REG_DWORD, "\x1F\x00\x01\x80", 4);
    Put(k, L"bare", REG_SZ, L"no terminator", 26);

    auto shown = RegQuery(scratch.Path());
    RegKey key = RegKey::OpenPath(scratch.Path());

    CHECK(shown["binary"].first == "REG_BINARY");
    CHECK(Narrow(key.Value(L"binary").DataText()) == shown["binary"].second);

    CHECK(shown["dword"].first == "REG_DWORD");
    CHECK(std::stoul(Narrow(key.Value(L"dword").DataText()), nullptr, 16) ==
          std::stoul(shown["dword"].second, nullptr, 16));

    // reg.exe separates the strings with "\0"; this display with spaces.
    std::string multi = shown["multi"].second;
    for (size_t at; (at = multi.find("\\0")) != std::string::npos;)
        multi.replace(at, 2, " ");
    CHECK(shown["multi"].first == "REG_MULTI_SZ");
    CHECK(Narrow(key.Value(L"multi").DataText()) == multi + " ");

    // reg.exe shows the text unexpanded.
    CHECK(shown["expand"].first == "REG_EXPAND_SZ");
    CHECK(shown["expand"].second == "%SystemRoot%\\dir");
    wchar_t expanded[MAX_PATH];
    ExpandEnvironmentStringsW(L"%SystemRoot%\\dir", expanded, MAX_PATH);
    CHECK(key.Value(L"expand").DataText() == expanded);

    CHECK(shown["bare"].first == "REG_SZ");
    CHECK(Narrow(key.Value(L"bare").DataText()) == shown["bare"].second);

    // Wine's reg query has no display for REG_QWORD; its export writes the bytes.
    CHECK(shown["qword"].first == "REG_QWORD");
    tstring file = FormatText(L"C:\\windows\\temp\\orvane-regvalue-%u.reg", unsigned(GetCurrentProcessId()));
    RunCaptured(L"C:\\windows\\system32\\reg.exe export \"" + RegExePath(scratch.Path()) + L"\" \"" + file + L"\" /y");
    HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(h != INVALID_HANDLE_VALUE);
    std::vector<wchar_t> text(65536);
    DWORD read = 0;
    ReadFile(h, text.data(), DWORD(text.size() * 2 - 2), &read, nullptr);
    CloseHandle(h);
    DeleteFileW(file.c_str());
    tstring exported(text.data() + 1, read / 2 - 1);
    CHECK(exported.find(L"\"qword\"=hex(b):f0,de,bc,9a,78,56,34,12") != tstring::npos);
    CHECK(key.Value(L"qword").DataText() == L"0x123456789ABCDEF0");
}

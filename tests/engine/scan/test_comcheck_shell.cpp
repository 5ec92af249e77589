#include <doctest/doctest.h>
#include "engine/registry/RegValue.h"
#include "engine/scan/ShellCommandTest.h"
#include "test_comcheck_support.h"

using namespace comcheck;

namespace {

tstring SystemFile(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    GetSystemDirectoryW(folder, MAX_PATH);
    return tstring(folder) + L"\\" + name;
}

bool Judge(EntryTest& test, const tstring& keyPath, const tstring& valueName, CheckResult& result) {
    RegKey key = RegKey::OpenPath(keyPath);
    RegValue value(key, valueName);
    tstring text = value.DataText();
    return test.Test(text, value, result);
}

}  // namespace

TEST_CASE("Shell verb commands must name a program that exists") {
    tstring typeName = NewProgId(L"File");
    ClassesKey type(typeName);
    tstring commandPath = L"HKCR\\" + typeName + L"\\shell\\open\\command";
    ShellCommandTest test;
    CheckResult result;

    SUBCASE("a program that exists is sound") {
        type.Set(L"shell\\open\\command", L"", L"\"" + SystemFile(L"notepad.exe") + L"\" \"%1\"");
        CHECK(Judge(test, commandPath, L"", result));
        CHECK(result.ErrorID == 0);
    }
    SUBCASE("a missing program: 326 with the file type as the item") {
        tstring command = L"\"" + MissingPath(L"viewer.exe") + L"\" \"%1\"";
        type.Set(L"shell\\open\\command", L"", command);
        CHECK_FALSE(Judge(test, commandPath, L"", result));
        CHECK(result.ErrorID == 0x01460068);
        CHECK(result.Item == typeName);
        CHECK(result.Reason == command);
        CHECK(result.KeyPath == commandPath);
        CHECK(result.ValueName.empty());
    }
    SUBCASE("a command wrong only by its doubled quotes: 333, so the fix mends the quotes") {
        // The document itself is run: nothing but the quotes is wrong.
        tstring command = L"\"\"%1\"\" %*";
        type.Set(L"shell\\open\\command", L"", command);
        CHECK_FALSE(Judge(test, commandPath, L"", result));
        CHECK(result.ErrorID == 0x014D0068);
        CHECK(result.Reason == command);
    }
    SUBCASE("doubled quotes around a missing program stay 326") {
        tstring command = L"\"\"" + MissingPath(L"viewer.exe") + L"\"\" \"%1\"";
        type.Set(L"shell\\open\\command", L"", command);
        CHECK_FALSE(Judge(test, commandPath, L"", result));
        CHECK(result.ErrorID == 0x01460068);
    }
}

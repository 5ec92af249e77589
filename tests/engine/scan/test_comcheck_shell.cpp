#include <doctest/doctest.h>
#include "engine/registry/RegValue.h"
#include "engine/scan/ShellCommandTest.h"
#include "test_comcheck_support.h"

using namespace comcheck;

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
    SUBCASE("a verb handed to a COM object is not judged by its command text") {
        type.Set(L"shell\\open\\command", L"", L"");
        type.Set(L"shell\\open\\command", L"DelegateExecute", NewGuid());
        CHECK(Judge(test, commandPath, L"", result));
        CHECK(result.ErrorID == 0);
    }
    SUBCASE("an empty command of a verb that nothing else runs is a finding") {
        type.Set(L"shell\\open\\command", L"", L"");
        CHECK_FALSE(Judge(test, commandPath, L"", result));
        CHECK(result.ErrorID == 0x01460068);
    }
}

TEST_CASE("Shell verb commands may name a program by its registered application path") {
    tstring typeName = NewProgId(L"AppFile");
    ClassesKey type(typeName);
    tstring commandPath = L"HKCR\\" + typeName + L"\\shell\\open\\command";
    tstring program = FormatText(L"comcheck-app-%u.exe", unsigned(GetCurrentProcessId()));
    tstring appPath = L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + program;
    TempFile installed(L".exe");
    type.Set(L"shell\\open\\command", L"", program + L" \"%1\"");
    ShellCommandTest test;
    CheckResult result;

    CHECK_FALSE(Judge(test, commandPath, L"", result));
    CHECK(result.ErrorID == 0x01460068);

    HKEY key = nullptr;
    REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, appPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr) == ERROR_SUCCESS);
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(installed.Path().c_str()),
                   DWORD((installed.Path().size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    CHECK(Judge(test, commandPath, L"", result));
    CHECK(result.ErrorID == 0);
    // Registered, but the program it names is gone.
    DeleteFileW(installed.Path().c_str());
    CHECK_FALSE(Judge(test, commandPath, L"", result));
    RegDeleteKeyW(HKEY_CURRENT_USER, appPath.c_str());
}

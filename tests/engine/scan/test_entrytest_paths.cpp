#include <doctest/doctest.h>
#include "engine/scan/PathChecks.h"
#include "test_entrytest_support.h"

TEST_CASE("Drive rules of SkipScanDrives") {
    TestDriveTypes drives;
    drives.types[L'N'] = DRIVE_REMOTE;
    drives.types[L'R'] = DRIVE_REMOVABLE;
    drives.types[L'D'] = DRIVE_CDROM;
    drives.types[L'F'] = DRIVE_FIXED;

    SUBCASE("a stored 0 counts as 6: network and removable skipped") {
        SkipMask mask(0);
        CHECK(IsSkippedDrive(L"N:\\share\\a.dll"));
        CHECK(IsSkippedDrive(L"R:\\a.dll"));
        CHECK(IsSkippedDrive(L"D:\\setup.exe"));
        CHECK(IsSkippedDrive(L"\\\\server\\share\\a.dll"));
        CHECK_FALSE(IsSkippedDrive(L"F:\\a.dll"));
        CHECK_FALSE(IsSkippedDrive(L"a.dll"));
        CHECK_FALSE(IsSkippedDrive(L"folder\\a.dll"));
    }
    SUBCASE("bit 2 alone skips only the network") {
        SkipMask mask(2);
        CHECK(IsSkippedDrive(L"N:\\a.dll"));
        CHECK(IsSkippedDrive(L"\\\\server\\share\\a.dll"));
        CHECK_FALSE(IsSkippedDrive(L"R:\\a.dll"));
        CHECK_FALSE(IsSkippedDrive(L"D:\\a.dll"));
    }
    SUBCASE("bit 4 alone skips removable, CD-ROM and absent drives, not the network") {
        SkipMask mask(4);
        CHECK_FALSE(IsSkippedDrive(L"N:\\a.dll"));
        CHECK_FALSE(IsSkippedDrive(L"\\\\server\\share\\a.dll"));
        CHECK(IsSkippedDrive(L"R:\\a.dll"));
        CHECK(IsSkippedDrive(L"D:\\a.dll"));
        // Rooted without a drive letter: not a drive path at all.
        CHECK_FALSE(IsSkippedDrive(L"\\folder\\a.dll"));
    }
    SUBCASE("an absent drive letter of the real system") {
        wchar_t letter = UnusedDrive();
        REQUIRE(letter != 0);
        drives.types.erase(letter);
        tstring path = tstring(1, letter) + L":\\gone\\a.dll";
        {
            SkipMask mask(4);
            CHECK(IsSkippedDrive(path));
        }
        {
            SkipMask mask(2);
            CHECK_FALSE(IsSkippedDrive(path));
        }
    }
}

TEST_CASE("PathExistsForCheck: files, folders and bare names") {
    EntryTestFolder folder(L"exists");
    tstring file = folder.File(L"data.txt");
    tstring spaced = folder.File(L"with blanks\\a b.txt");
    CheckResult result;
    result.ErrorID = 77;

    CHECK(PathExistsForCheck(file, result));
    CHECK(result.ErrorID == 0);
    CHECK(result.Item.empty());
    CHECK(PathExistsForCheck(spaced, result));
    CHECK_FALSE(PathExistsForCheck(folder / L"missing.txt", result));

    SUBCASE("forward slashes") {
        tstring slashed = file;
        for (auto& c : slashed)
            if (c == L'\\') c = L'/';
        CHECK(PathExistsForCheck(slashed, result));
    }
    SUBCASE("a folder is missing, unless folders count") {
        CHECK_FALSE(PathExistsForCheck(Expand(L"%SystemRoot%"), result));
        CHECK_FALSE(PathExistsForCheck(folder.Path(), result));
        CHECK(PathExistsForCheck(folder.Path(), result, true));
    }
    SUBCASE("a bare name is missing even where the search path has it") {
        CHECK_FALSE(PathExistsForCheck(L"notepad.exe", result));
        CHECK_FALSE(PathExistsForCheck(L"", result));
    }
    SUBCASE("quotes, blanks and environment references around the path") {
        CHECK(PathExistsForCheck(L"\"" + spaced + L"\"", result));
        CHECK(PathExistsForCheck(L"  " + file + L" ", result));
        SetEnvironmentVariableW(L"ORVANE_ET_FOLDER", folder.Path().c_str());
        CHECK(PathExistsForCheck(L"%ORVANE_ET_FOLDER%\\data.txt", result));
        CHECK_FALSE(PathExistsForCheck(L"%ORVANE_ET_FOLDER%\\none.txt", result));
        SetEnvironmentVariableW(L"ORVANE_ET_FOLDER", nullptr);
    }
    SUBCASE("a skipped drive is present, an unskipped missing one is not") {
        TestDriveTypes drives;
        drives.types[L'N'] = DRIVE_REMOTE;
        {
            SkipMask mask(6);
            CHECK(PathExistsForCheck(L"N:\\gone\\a.txt", result));
            CHECK(PathExistsForCheck(L"\\\\server\\share\\a.txt", result));
        }
        SkipMask mask(4);
        CHECK_FALSE(PathExistsForCheck(L"N:\\gone\\a.txt", result));
    }
}

TEST_CASE("Module and program searches") {
    EntryTestFolder folder(L"search");
    tstring module = folder.File(L"Some Folder\\plugin.dll");
    tstring program = folder.File(L"Some Folder\\tool.exe");
    CheckResult result;
    result.ErrorID = 5;

    SUBCASE("full paths, with and without the default extension") {
        CHECK(FindModuleFile(module, result, false));
        CHECK(result.ErrorID == 0);
        CHECK(FindModuleFile(folder / L"Some Folder\\plugin", result, false));
        CHECK(FindProgramFile(folder / L"Some Folder\\tool", result));
        CHECK_FALSE(FindModuleFile(folder / L"Some Folder\\other.dll", result, false));
        CHECK_FALSE(FindProgramFile(folder / L"Some Folder\\other.exe", result));
    }
    SUBCASE("bare names are found along the search path") {
        CHECK(FindProgramFile(L"notepad", result));
        CHECK(FindProgramFile(L"notepad.exe", result));
        CHECK(FindModuleFile(L"kernel32.dll", result, true));
        CHECK(FindModuleFile(L"shell32", result, true));
        CHECK_FALSE(FindModuleFile(L"orvane-no-such-module.dll", result, true));
        CHECK_FALSE(FindProgramFile(L"orvane-no-such-program", result));
    }
    SUBCASE("a relative module is not judged when relative names are not allowed") {
        CHECK(FindModuleFile(L"orvane-no-such-module.dll", result, false));
        CHECK(FindModuleFile(L"sub\\orvane-no-such-module.dll", result, false));
    }
    SUBCASE("quotes and arguments") {
        CHECK(FindProgramFile(L"\"" + program + L"\"", result));
        CHECK(FindProgramFile(L"\"" + program + L"\" /run --now", result));
        CHECK(FindModuleFile(L"\"" + module + L"\"", result, false));
        CHECK_FALSE(FindProgramFile(L"\"" + folder / L"Some Folder\\gone.exe" + L"\" /run", result));
    }
    SUBCASE("environment references and lone placeholders") {
        SetEnvironmentVariableW(L"ORVANE_ET_SEARCH", folder.Path().c_str());
        CHECK(FindModuleFile(L"%ORVANE_ET_SEARCH%\\Some Folder\\plugin.dll", result, false));
        CHECK_FALSE(FindModuleFile(L"%ORVANE_ET_SEARCH%\\Some Folder\\gone.dll", result, false));
        SetEnvironmentVariableW(L"ORVANE_ET_SEARCH", nullptr);
        CHECK(FindModuleFile(L"%1", result, true));
        CHECK(FindProgramFile(L"%9", result));
        CHECK(FindProgramFile(L"\"%1\"", result));
        CHECK(FindProgramFile(L"\"%1\" %*", result));
        CHECK_FALSE(FindProgramFile(L"%10", result));
    }
    SUBCASE("an empty text names nothing") {
        CHECK_FALSE(FindProgramFile(L"", result));
        CHECK_FALSE(FindModuleFile(L"  ", result, true));
    }
    SUBCASE("a path on a skipped drive counts as found") {
        TestDriveTypes drives;
        drives.types[L'R'] = DRIVE_REMOVABLE;
        SkipMask mask(4);
        CHECK(FindProgramFile(L"R:\\setup\\setup.exe", result));
        CHECK(FindModuleFile(L"\"R:\\setup\\a.dll\",1", result, false));
    }
}

TEST_CASE("Searches find what 32-bit programs registered") {
    CheckResult result;
    tstring native = Expand(L"%ProgramFiles%");
    tstring x86 = Expand(L"%ProgramFiles(x86)%");
    if (x86.empty() || x86[0] == L'%' || CompareNoCase(native.c_str(), x86.c_str()) == 0) {
        MESSAGE("no 32-bit program folder on this system");
        return;
    }
    tstring name = FormatText(L"OrvaneEntryTests-%u", unsigned(GetCurrentProcessId()));
    tstring folder = x86 + L"\\" + name;
    CreateFolderTree(folder);
    tstring file = folder + L"\\only32.dll";
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    REQUIRE(h != INVALID_HANDLE_VALUE);
    CloseHandle(h);

    CHECK(FindModuleFile(L"%ProgramFiles%\\" + name + L"\\only32.dll", result, false));
    CHECK(FindModuleFile(L"\"%programfiles%\\" + name + L"\\only32.dll\"", result, false));
    // Data the registry expanded already.
    CHECK(FindModuleFile(native + L"\\" + name + L"\\only32.dll", result, false));
    CHECK_FALSE(FindModuleFile(L"%ProgramFiles%\\" + name + L"\\other.dll", result, false));
    DeletePath(folder);
}

TEST_CASE("Searches look into the 32-bit system folder") {
    wchar_t wow[MAX_PATH + 1] = {};
    if (!GetSystemWow64DirectoryW(wow, MAX_PATH + 1) || GetFileAttributesW(wow) == INVALID_FILE_ATTRIBUTES) {
        MESSAGE("no 32-bit system folder on this system");
        return;
    }
    tstring name = FormatText(L"orvane-et-%u.dll", unsigned(GetCurrentProcessId()));
    tstring file = tstring(wow) + L"\\" + name;
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    REQUIRE(h != INVALID_HANDLE_VALUE);
    CloseHandle(h);
    wchar_t system[MAX_PATH + 1] = {};
    GetSystemDirectoryW(system, MAX_PATH + 1);
    CheckResult result;

    CHECK(FindModuleFile(tstring(system) + L"\\" + name, result, false));
    CHECK(FindModuleFile(name, result, true));
    CHECK(PathExistsForCheck(tstring(system) + L"\\" + name, result));
    CHECK_FALSE(PathExistsForCheck(tstring(system) + L"\\x" + name, result));
    CHECK_FALSE(FindModuleFile(tstring(system) + L"\\x" + name, result, false));
    DeleteFileW(file.c_str());
}

TEST_CASE("The redirection switch is bound from kernel32") {
    // Switching redirection on is harmless in any process; the binding must not fail.
    CHECK_NOTHROW(nsWOW::Wow64EnableWow64FsRedirection(TRUE));
}

TEST_CASE("Text helpers") {
    CHECK(UpperText(L"{abc-def}") == L"{ABC-DEF}");
    CHECK(TrimBlanks(L" \t a b \t") == L"a b");
    CHECK(TrimBlanks(L"   ").empty());
    CHECK(StartsWithNoCase(L"File://x", L"file:"));
    CHECK_FALSE(StartsWithNoCase(L"fil", L"file"));
}

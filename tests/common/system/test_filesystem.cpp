#include <doctest/doctest.h>
#include <cstring>
#include "common/errors/ErrorBase.h"
#include "common/system/FileSystem.h"
#include "common/system/HexEncode.h"
#include "common/system/ProblemGroup.h"

namespace {

tstring TestRoot(const TCHAR* name) {
    TCHAR temp[MAX_PATH];
    GetTempPath(MAX_PATH, temp);
    return FormatText(_T("%sorvane-fs-%s-%u"), temp, name, unsigned(GetCurrentProcessId()));
}

void Touch(const tstring& path) {
    HANDLE h = CreateFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    CloseHandle(h);
}

bool Exists(const tstring& path) {
    return GetFileAttributes(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A drive letter with no drive behind it, so that a refusal can be told from
// a deletion that simply found nothing.
tstring MissingDrive() {
    for (TCHAR letter = _T('Q'); letter <= _T('Y'); ++letter) {
        tstring root = FormatText(_T("%c:\\"), letter);
        if (GetDriveType(root.c_str()) == DRIVE_NO_ROOT_DIR)
            return root.substr(0, 2);
    }
    return tstring();
}

}  // namespace

TEST_CASE("DeletePath removes a file and a whole folder tree") {
    tstring root = TestRoot(_T("delete"));
    CreateFolderTree(root + _T("\\a\\b"));
    Touch(root + _T("\\a\\b\\deep.txt"));
    Touch(root + _T("\\top.txt"));
    CHECK(DeletePath(root + _T("\\top.txt")) == 0);
    CHECK_FALSE(Exists(root + _T("\\top.txt")));
    CHECK(Exists(root + _T("\\a\\b\\deep.txt")));
    CHECK(DeletePath(root) == 0);
    CHECK_FALSE(Exists(root));
}

TEST_CASE("DeletePath refuses empty, relative, wildcard and root paths") {
    tstring root = TestRoot(_T("refuse"));
    CreateFolderTree(root);
    Touch(root + _T("\\keep.txt"));
    CHECK(DeletePath(tstring()) == ERROR_INVALID_PARAMETER);
    CHECK(DeletePath(_T("keep.txt")) == ERROR_INVALID_PARAMETER);
    CHECK(DeletePath(_T("..\\something")) == ERROR_INVALID_PARAMETER);
    CHECK(DeletePath(root + _T("\\*")) == ERROR_INVALID_PARAMETER);
    CHECK(DeletePath(root + _T("\\keep.tx?")) == ERROR_INVALID_PARAMETER);
    CHECK(Exists(root + _T("\\keep.txt")));

    tstring drive = MissingDrive();
    REQUIRE_FALSE(drive.empty());
    CHECK(DeletePath(drive + _T("\\")) == ERROR_INVALID_PARAMETER);
    CHECK(DeletePath(drive) == ERROR_INVALID_PARAMETER);
    CHECK(DeletePath(drive + _T("\\folder\\..")) == ERROR_INVALID_PARAMETER);
    CHECK(DeletePath(drive + _T("\\folder\\..\\\\")) == ERROR_INVALID_PARAMETER);
    CHECK(DeletePath(_T("\\\\nosuchserver\\share")) == ERROR_INVALID_PARAMETER);
    CHECK(DeletePath(_T("\\\\nosuchserver\\share\\")) == ERROR_INVALID_PARAMETER);
    CHECK(DeletePath(_T("\\\\nosuchserver")) == ERROR_INVALID_PARAMETER);
    CHECK(DeletePath(root) == 0);
}

TEST_CASE("CreateFolderTree") {
    tstring root = TestRoot(_T("tree"));
    tstring deep = root + _T("\\one\\two\\three");
    CreateFolderTree(deep);
    CHECK(Exists(deep));
    CHECK_NOTHROW(CreateFolderTree(deep));
    CHECK_NOTHROW(CreateFolderTree(deep + _T("\\")));
    CHECK(Exists(deep));

    Touch(root + _T("\\file"));
    CHECK_THROWS_AS(CreateFolderTree(root + _T("\\file\\below")), BoolError);

    tstring drive = MissingDrive();
    REQUIRE_FALSE(drive.empty());
    try {
        CreateFolderTree(drive + _T("\\x\\y"));
        FAIL("a folder on a missing drive was reported as created");
    } catch (const BoolError& e) {
        CHECK(e.Code() != 0);
    }
    DeletePath(root);
}

TEST_CASE("FileExists, IsAbsolutePath and FileNamePart") {
    tstring root = TestRoot(_T("exists"));
    CreateFolderTree(root);
    Touch(root + _T("\\f.txt"));
    CHECK(FileExists(root + _T("\\f.txt")));
    CHECK_FALSE(FileExists(root));
    CHECK_FALSE(FileExists(root + _T("\\missing\\f.txt")));
    CHECK_FALSE(FileExists(tstring()));
    DeletePath(root);

    CHECK(IsAbsolutePath(_T("C:\\x")));
    CHECK(IsAbsolutePath(_T("\\\\server\\share\\x")));
    CHECK_FALSE(IsAbsolutePath(_T("x\\y")));

    CHECK(FileNamePart(_T("C:\\a\\b.txt")) == _T("b.txt"));
    CHECK(FileNamePart(_T("b.txt")) == _T("b.txt"));
    CHECK(FileNamePart(_T("C:\\a\\")).empty());
}

TEST_CASE("CurrentFileTime is the UTC time now") {
    SYSTEMTIME st;
    GetSystemTime(&st);
    FILETIME before;
    SystemTimeToFileTime(&st, &before);
    FILETIME now = CurrentFileTime();
    ULARGE_INTEGER a, b;
    a.LowPart = before.dwLowDateTime;
    a.HighPart = before.dwHighDateTime;
    b.LowPart = now.dwLowDateTime;
    b.HighPart = now.dwHighDateTime;
    // Generous: within ten minutes of the system clock in UTC.
    CHECK(b.QuadPart + 6000000000ull >= a.QuadPart);
    CHECK(b.QuadPart <= a.QuadPart + 6000000000ull);
}

TEST_CASE("HexEncode") {
    const BYTE bytes[] = {0x00, 0xAB};
    char out[8];
    std::memset(out, '#', sizeof out);
    uint32_t capacity = 5;
    CHECK(HexEncode(bytes, 2, out, &capacity) == 1);
    CHECK(capacity == 4);
    CHECK(std::string(out, 5) == "00AB#");

    std::memset(out, '#', sizeof out);
    capacity = 4;
    CHECK(HexEncode(bytes, 2, out, &capacity) == 0);
    CHECK(capacity == 4);
    CHECK(out[0] == '#');
    CHECK(HexEncode(nullptr, 2, out, &capacity) == 0);
    CHECK(HexEncode(bytes, 2, nullptr, &capacity) == 0);
    CHECK(HexEncode(bytes, 2, out, nullptr) == 0);
    const BYTE all[] = {0x12, 0x9F, 0xF0};
    capacity = 8;
    CHECK(HexEncode(all, 3, out, &capacity) == 1);
    CHECK(std::string(out, 6) == "129FF0");
}

TEST_CASE("FindById maps problem codes to their group names") {
    CHECK(FindById(313) == nullptr);
    CHECK(FindById(0) == nullptr);
    CHECK(FindById(334) == nullptr);
    CHECK(tstring(FindById(327)) == _T("errors_menu_ext"));
    CHECK(tstring(FindById(302)) == _T("errors_class_id"));
    CHECK(tstring(FindById(320)) == _T("errors_app_path"));
    CHECK(tstring(FindById(333)) == _T("errors_progid_file_extension"));
    CHECK(tstring(FindById(329)) == _T("errors_embedded_nulls"));
}

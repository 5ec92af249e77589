#include <doctest/doctest.h>
#include <algorithm>
#include <set>
#include <string>
#include "common/errors/ErrorBase.h"
#include "common/system/FileSearch.h"
#include "common/system/FileSystem.h"
#include "common/system/GuidText.h"
#include "common/system/HandleHolder.h"
#include "common/system/HexText.h"
#include "common/system/PlatformInfo.h"
#include "common/system/RunProcess.h"
#include "common/system/SpecialFolder.h"
#include "common/system/TimeText.h"

namespace {

// A fresh folder under the temp folder, deleted with its content at the end.
class TempFolder {
public:
    explicit TempFolder(const TCHAR* name) {
        TCHAR temp[MAX_PATH];
        GetTempPath(MAX_PATH, temp);
        path_ = FormatText(_T("%s%s-%u"), temp, name, GetCurrentProcessId());
        DeletePath(path_);
        CreateFolderTree(path_);
    }
    ~TempFolder() { DeletePath(path_); }
    const tstring& Path() const { return path_; }
    tstring File(const TCHAR* relative, const char* content = "") const {
        tstring path = path_ + _T("\\") + relative;
        HandleHolder file(CreateFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        REQUIRE(file.IsValid());
        DWORD written = 0;
        WriteFile(file, content, DWORD(strlen(content)), &written, nullptr);
        return path;
    }
    tstring Folder(const TCHAR* relative) const {
        tstring path = path_ + _T("\\") + relative;
        CreateFolderTree(path);
        return path;
    }

private:
    tstring path_;
};

std::string ReadAll(HANDLE pipe) {
    std::string text;
    char chunk[1024];
    DWORD n = 0;
    while (ReadFile(pipe, chunk, sizeof(chunk), &n, nullptr) && n > 0)
        text.append(chunk, n);
    return text;
}

std::multiset<tstring> Sorted(const PathList& list) { return std::multiset<tstring>(list.begin(), list.end()); }

}  // namespace

TEST_CASE("RunProcess captures the output of a real program") {
    PROCESS_INFORMATION process;
    HANDLE pipe = nullptr;
    REQUIRE(RunProcess(_T("cmd.exe /c echo filepack-run-marker && echo second>&2"), process, pipe));
    HandleHolder read(pipe), thread(process.hThread), child(process.hProcess);
    std::string output = ReadAll(read);
    CHECK(WaitForSingleObject(child, 60000) == WAIT_OBJECT_0);
    CHECK(output.find("filepack-run-marker") != std::string::npos);
    CHECK(output.find("second") != std::string::npos);
    DWORD code = 1;
    GetExitCodeProcess(child, &code);
    CHECK(code == 0);
}

TEST_CASE("RunProcess reports a program that cannot start") {
    PROCESS_INFORMATION process;
    HANDLE pipe = INVALID_HANDLE_VALUE;
    tstring command = _T("C:\\no-such-folder-fp\\missing-tool.exe -x");
    try {
        RunProcess(command, process, pipe);
        FAIL("no exception");
    } catch (const ErrorBase& e) {
        CHECK(e.Message() == _T("Can't execute ") + command);
        CHECK(e.Code() < 0);
    }
    CHECK(pipe == nullptr);
    CHECK(process.hProcess == nullptr);
}

TEST_CASE("FindFiles walks matching names and folders") {
    TempFolder root(_T("fp-findfiles"));
    root.Folder(_T("sub.d\\deep.d"));
    root.Folder(_T("other"));
    root.File(_T("a.d"));
    root.File(_T("b.txt"));
    root.File(_T("sub.d\\c.d"));
    root.File(_T("sub.d\\deep.d\\e.d"));
    root.File(_T("other\\hidden.d"));

    PathList files, folders;
    CHECK(FindFiles(root.Path(), _T("*.d"), false, files, &folders) == 1);
    CHECK(files == PathList{root.Path() + _T("\\a.d")});
    CHECK(folders == PathList{root.Path() + _T("\\sub.d")});

    files.clear();
    folders.clear();
    // Only sub-folders whose own names match are entered: other\ is not.
    CHECK(FindFiles(root.Path() + _T("\\"), _T("*.d"), true, files, &folders) == 3);
    CHECK(Sorted(files) == Sorted({root.Path() + _T("\\a.d"), root.Path() + _T("\\sub.d\\c.d"),
                                   root.Path() + _T("\\sub.d\\deep.d\\e.d")}));
    CHECK(Sorted(folders) == Sorted({root.Path() + _T("\\sub.d"), root.Path() + _T("\\sub.d\\deep.d")}));

    PathList all;
    CHECK(FindFiles(root.Path(), _T("*"), true, all) == 5);
    // Results are appended after what the list already holds.
    CHECK(FindFiles(root.Path() + _T("\\missing"), _T("*"), true, all) == 5);

    PathList several;
    CHECK(FindFilesInFolders({root.Path() + _T("\\other"), root.Path() + _T("\\sub.d")}, _T("*.d"), false, several) == 2);
    CHECK(several.front() == root.Path() + _T("\\other\\hidden.d"));
}

TEST_CASE("FileSize reads the size without opening for data") {
    TempFolder root(_T("fp-filesize"));
    tstring path = root.File(_T("seven.bin"), "1234567");
    CHECK(FileSize(path) == 7);
    HandleHolder locked(CreateFile(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    CHECK(FileSize(root.File(_T("empty.bin"))) == 0);
    CHECK(FileSize(root.Path() + _T("\\none.bin")) == 0);
    CHECK(FileSize(static_cast<const TCHAR*>(nullptr)) == 0);
    CHECK(FileSize(_T("")) == 0);
}

TEST_CASE("hex text round trip") {
    const BYTE bytes[] = {0x0A, 0xAF};
    CHECK(BytesToHexText(bytes, 2) == _T("0AAF"));
    CHECK(BytesToHexText(bytes, 0).empty());
    std::vector<BYTE> back;
    CHECK(HexTextToBytes(_T("0AAF"), back) == 2);
    CHECK(back == std::vector<BYTE>{0x0A, 0xAF});
    CHECK(HexTextToBytes(_T("0aaf1"), back) == 3);
    CHECK(back == std::vector<BYTE>{0x0A, 0xAF, 0x01});
    CHECK(HexTextToBytes(_T("1Gzz"), back) == 2);
    CHECK(back == std::vector<BYTE>{0x01, 0x00});
    CHECK(HexTextToBytes(_T(""), back) == 0);
    CHECK(back.empty());

    SharedBuffer shared(9);
    CHECK(HexTextToBytes(_T("FF00"), shared) == 2);
    REQUIRE(shared.Size() == 2);
    CHECK(shared.Data()[0] == 0xFF);
    CHECK(shared.Data()[1] == 0x00);
    CHECK(HexTextToBytes(_T(""), shared) == 0);
    CHECK(shared.Empty());
}

TEST_CASE("new GUID texts") {
    tstring a = NewGuidText(), b = NewGuidText();
    CHECK(a != b);
    REQUIRE(a.size() == 36);
    for (size_t i = 0; i < a.size(); ++i) {
        if (i == 8 || i == 13 || i == 18 || i == 23)
            CHECK(a[i] == '-');
        else
            CHECK(((a[i] >= '0' && a[i] <= '9') || (a[i] >= 'a' && a[i] <= 'f')));
    }
}

TEST_CASE("special folders and platform questions") {
    tstring appData = SpecialFolderPath(CSIDL_LOCAL_APPDATA);
    CHECK_FALSE(appData.empty());
    DWORD attributes = GetFileAttributes(appData.c_str());
    CHECK(attributes != INVALID_FILE_ATTRIBUTES);
    CHECK((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
    CHECK(SpecialFolderPath(0x7F).empty());
    CHECK(IsNtPlatform());
    // A 64-bit process never runs under WOW64.
    CHECK_FALSE(IsWow64());
}

TEST_CASE("TimeText shows a time in the C runtime's fixed form") {
    SYSTEMTIME t = {};
    t.wYear = 2024;
    t.wMonth = 3;
    t.wDayOfWeek = 2;
    t.wDay = 5;
    t.wHour = 14;
    t.wMinute = 7;
    t.wSecond = 9;
    CHECK(TimeText(t) == _T("03/05/24 14:07:09"));
}

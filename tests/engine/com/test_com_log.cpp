// The registered engine with a data folder it cannot use: its error lines
// have nowhere to go, and must not make its callers wait for them.
#include "EngineTestSupport.h"
#include "StartProcess.h"
#include <doctest/doctest.h>
#include <fstream>
#include <string>
#include "common/settings/AppFolders.h"

namespace {

// A file where the user's data folder should be, for the life of the object.
// The folder itself is set aside beside it; a run that was ended before it
// could put the folder back leaves it there, and the next run brings it back.
class FileInPlaceOfDataFolder {
public:
    FileInPlaceOfDataFolder() : folder_(GetAppFolder(true)), aside_(folder_ + L".aside") {
        PutBack();
        REQUIRE(MoveFileW(folder_.c_str(), aside_.c_str()));
        std::ofstream(folder_.c_str()) << "not a folder";
    }
    ~FileInPlaceOfDataFolder() { PutBack(); }
    FileInPlaceOfDataFolder(const FileInPlaceOfDataFolder&) = delete;
    FileInPlaceOfDataFolder& operator=(const FileInPlaceOfDataFolder&) = delete;

private:
    void PutBack() {
        if (GetFileAttributesW(aside_.c_str()) == INVALID_FILE_ATTRIBUTES) return;
        DWORD attributes = GetFileAttributesW(folder_.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileW(folder_.c_str());
        MoveFileW(aside_.c_str(), folder_.c_str());
    }
    std::wstring folder_, aside_;
};

}  // namespace

TEST_CASE("engine through COM: a file in place of the data folder costs an object and a put no waiting") {
    RegisteredEngine engine;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring script = FormatText(L"%sorvane-no-data-folder-%u.js", temp, unsigned(GetCurrentProcessId()));
    // Timed inside the script host: its own start is not the engine's.
    std::wofstream(script.c_str())
        << L"var start = new Date().getTime();\n"
           L"var e = new ActiveXObject('OrvaneEngine.Crawler');\n"
           L"var made = new Date().getTime();\n"
           L"e.AutoReboot = 1;\n"
           L"var put = new Date().getTime();\n"
           L"WScript.Echo('object=' + (made - start) + ' put=' + (put - made) + ' AutoReboot=' + e.AutoReboot);\n";
    std::string output;
    DWORD exitCode = 1;
    {
        FileInPlaceOfDataFolder replaced;
        output = RunCaptured(L"cscript.exe //nologo \"" + script + L"\"", &exitCode);
    }
    DeleteFileW(script.c_str());
    INFO(output);
    CHECK(exitCode == 0);
    REQUIRE(output.find("AutoReboot=1") != std::string::npos);
    int object = -1, put = -1;
    REQUIRE(sscanf(output.c_str() + output.find("object="), "object=%d put=%d", &object, &put) == 2);
    // Each line that cannot be written used to cost 31 tries 100 ms apart.
    CHECK(object + put < 2500);
}

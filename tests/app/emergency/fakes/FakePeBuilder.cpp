// Stands in for the CD builder in the tests: started in its own folder with
// "-auto -overwrite -exit", it reads "input.inf" there, fills the output
// folder and writes the image file when ORVANE_FAKE_ISO is 1, and exits with
// ORVANE_FAKE_EXIT; with ORVANE_FAKE_HOLD set, not before that file is gone. A wrong command line or folder exits with 90.
#include <fstream>
#include <sstream>
#include "FakeLog.h"

namespace {

std::string AnswerValue(const std::string& text, const std::string& key) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
    }
    return std::string();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    LogStart(L"pebuilder.log");
    wchar_t current[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, current);
    if (argc != 4 || wcscmp(argv[1], L"-auto") != 0 || wcscmp(argv[2], L"-overwrite") != 0 ||
        wcscmp(argv[3], L"-exit") != 0 || _wcsicmp(current, ProgramFolder().c_str()) != 0)
        return 90;
    std::ifstream file("input.inf", std::ios::binary);
    std::stringstream answers;
    answers << file.rdbuf();
    std::string output = AnswerValue(answers.str(), "fulloutdir");
    std::string iso = AnswerValue(answers.str(), "isofile");
    if (output.empty() || iso.empty()) return 91;
    // A build the test holds lasts while the file named by ORVANE_FAKE_HOLD
    // exists (a minute at most).
    wchar_t hold[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"ORVANE_FAKE_HOLD", hold, MAX_PATH) && hold[0])
        for (int i = 0; i < 6000 && GetFileAttributesW(hold) != INVALID_FILE_ATTRIBUTES; ++i) Sleep(10);
    CreateDirectoryA(output.c_str(), nullptr);
    std::ofstream(output + "\\WIN51", std::ios::binary) << "built";
    if (EnvironmentSet(L"ORVANE_FAKE_ISO")) std::ofstream(iso, std::ios::binary) << "CD001 emergency image";
    return ChosenExitCode(L"ORVANE_FAKE_EXIT");
}

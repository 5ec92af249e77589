#pragma once
#include <windows.h>
#include <map>
#include <string>
#include <vector>
#include "FileBytes.h"
#include "PythonScript.h"
#include "TempFolder.h"
#include "common/log/Log.h"
#include "common/tstring/tstring.h"

// One responder of responder.py on a loopback address, running while the
// object lives; its answers land in a folder of its own.
class Responder {
public:
    Responder(const char* mode, const char* address, int seconds = 60) : folder_(L"responder") {
        started_ = StartPython(MAIL_TEST_DIR "/responder.py",
                               {UnixPath(folder_.Path()), mode, address, std::to_string(seconds)}) &&
                   WaitForFile(folder_.File(L"ready"), 20000) != "<missing>";
    }
    ~Responder() { Stop(); }
    bool Started() const { return started_; }
    // Ends the responder; a raw one then writes what it received.
    void Stop() {
        if (stopped_ || !started_)
            return;
        stopped_ = true;
        WriteAll(folder_.File(L"stop"), "stop");
        WaitForFile(folder_.File(L"received.bin"), 3000);
        Sleep(200);
    }
    // The "field=value" lines of the n-th message received, as a map (rcpt
    // fields joined by '|'); empty when there is none.
    std::map<std::string, std::string> Message(int n, DWORD waitMilliseconds = 5000) const {
        std::string text = WaitForFile(folder_.File(FormatText(L"message-%d.txt", n)), waitMilliseconds, "");
        std::map<std::string, std::string> fields;
        size_t start = 0;
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
            std::string line = text.substr(start, end - start);
            size_t equals = line.find('=');
            std::string& field = fields[line.substr(0, equals)];
            field += (field.empty() ? "" : "|") + line.substr(equals + 1);
        }
        return fields;
    }
    std::string Received() const { return ReadAll(folder_.File(L"received.bin")); }

private:
    TempFolder folder_;
    bool started_ = false;
    bool stopped_ = false;
};

// The program log in a file of the test's own, every level written.
class CapturedLog {
public:
    CapturedLog() : folder_(L"maillog") {
        Log::Instance().SetFileName(folder_.File(L"Orvane.log"));
        Log::Instance().SetLevel(LogAll);
    }
    ~CapturedLog() { Log::Instance().SetFileName(tstring()); }
    std::wstring Text() const {
        std::string bytes = ReadAll(folder_.File(L"Orvane.log"));
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    }
    bool Has(const std::wstring& line) const { return Text().find(line) != std::wstring::npos; }

private:
    TempFolder folder_;
};

inline std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

inline std::wstring FromUtf8(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &wide[0], int(wide.size())));
    return wide;
}

#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "FileBytes.h"

// Plants a recorder program (tests/htmlcontrol/helper/url_recorder.cpp) as
// the prefix's http and https "open" command, so that every address the shell
// opens is appended to a file; the prior commands go back afterwards.
struct PlantedBrowser {
    std::wstring record;
    std::wstring saved[2];
    const wchar_t* keys[2] = {L"Software\\Classes\\http\\shell\\open\\command",
                              L"Software\\Classes\\https\\shell\\open\\command"};
    // The recorder's Unix path; the record file's name in the temporary folder.
    PlantedBrowser(const char* recorder, const wchar_t* recordName) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        record = std::wstring(temp) + recordName;
        DeleteFileW(record.c_str());
        std::string unixPath = recorder;
        std::wstring program(unixPath.begin(), unixPath.end());
        for (auto& c : program)
            if (c == L'/')
                c = L'\\';
        std::wstring command = L"\"Z:" + program + L"\" \"" + record + L"\" \"%1\"";
        for (int i = 0; i < 2; ++i) {
            wchar_t data[2048] = {};
            DWORD size = sizeof data;
            if (RegGetValueW(HKEY_LOCAL_MACHINE, keys[i], nullptr, RRF_RT_REG_SZ, nullptr, data, &size) ==
                ERROR_SUCCESS)
                saved[i] = data;
            Set(i, command);
        }
    }
    ~PlantedBrowser() {
        for (int i = 0; i < 2; ++i)
            Set(i, saved[i]);
        DeleteFileW(record.c_str());
    }
    void Set(int i, const std::wstring& command) {
        RegSetKeyValueW(HKEY_LOCAL_MACHINE, keys[i], nullptr, REG_SZ, command.c_str(),
                        DWORD((command.length() + 1) * sizeof(wchar_t)));
    }
    // The addresses recorded so far, one a line.
    std::vector<std::wstring> Opened() const {
        std::string bytes = ReadAll(record);
        std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        std::vector<std::wstring> lines;
        size_t start = 0;
        for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1)
            lines.push_back(text.substr(start, end - start));
        return lines;
    }
};

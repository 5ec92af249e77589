#include "ControlTestSupport.h"
#include "StartProcess.h"
#include <doctest/doctest.h>
#include <sstream>
#include <vector>
#include "common/errors/ErrorBase.h"
#include "common/system/RunProcess.h"
#include "TestLimits.h"

std::wstring ControlDllPath() {
    std::string unixPath = ORVANE_QNCONTROL_DLL;
    std::wstring path(unixPath.begin(), unixPath.end());
    for (auto& c : path)
        if (c == L'/')
            c = L'\\';
    if (!path.empty() && path[0] == L'\\')
        path = L"Z:" + path;
    return path;
}

DWORD RunRegsvr32(bool unregister) {
    std::wstring command = L"regsvr32.exe /s ";
    if (unregister)
        command += L"/u ";
    command += L"\"" + ControlDllPath() + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    if (!CreateProcessRetrying(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return GetLastError() | 0x40000000u;
    testlimit::Wait(pi.hProcess, 60000, "regsvr32 with the host control");
    DWORD code = 0xFFFFFFFFu;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

RegisteredControl::RegisteredControl() : code(RunRegsvr32(false)) {
    REQUIRE(code == 0);
}

RegisteredControl::~RegisteredControl() {
    RunRegsvr32(true);
}

std::wstring Upper(std::wstring text) {
    for (auto& c : text)
        c = wchar_t(towupper(c));
    return text;
}

namespace {
std::wstring ReadPipe(HANDLE pipe) {
    std::string bytes;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n)
        bytes.append(buffer, n);
    return std::wstring(bytes.begin(), bytes.end());
}
}

RegQuery QueryClassesKey(const std::wstring& key) {
    RegQuery result;
    const std::wstring full = L"HKEY_CLASSES_ROOT\\" + key;
    PROCESS_INFORMATION process = {};
    HANDLE pipe = nullptr;
    // Under load wine now and then refuses to start a process for a moment.
    for (int attempt = 0;; ++attempt) {
        try {
            RunProcess(L"C:\\windows\\system32\\reg.exe query \"" + full + L"\"", process, pipe);
            break;
        } catch (const ErrorBase& e) {
            std::wstring message = e.Message().ToWide();
            INFO(std::string(message.begin(), message.end()));
            REQUIRE(attempt < 4);
            Sleep(200);
        }
    }
    testlimit::Waiting note("reg.exe query's output");
    std::wstring text = ReadPipe(pipe);
    testlimit::Wait(process.hProcess, 60000, "reg.exe query");
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(pipe);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    result.found = code == 0;
    std::wistringstream lines(text);
    std::wstring line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        if (line.rfind(L"    ", 0) == 0) {
            // "    name    REG_SZ    data"
            size_t type = line.find(L"    REG_", 4);
            if (type == std::wstring::npos)
                continue;
            std::wstring name = line.substr(4, type - 4);
            size_t data = line.find(L"    ", type + 4);
            std::wstring value = data == std::wstring::npos ? std::wstring() : line.substr(data + 4);
            result.values[name == L"(Default)" ? std::wstring() : Upper(name)] = value;
        } else if (Upper(line).rfind(Upper(full) + L"\\", 0) == 0) {
            result.keys.insert(line.substr(full.length() + 1));
        }
    }
    return result;
}

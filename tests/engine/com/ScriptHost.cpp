#include "ScriptHost.h"
#include <windows.h>
#include <fstream>
#include "StartProcess.h"
#include "TestLimits.h"

std::wstring ScriptLiteral(std::wstring text) {
    for (size_t at = 0; (at = text.find(L'\\', at)) != std::wstring::npos; at += 2) text.insert(at, 1, L'\\');
    return L"'" + text + L"'";
}

ScriptHost::ScriptHost(const std::wstring& prefix, const std::wstring& before, const std::wstring& body)
    : ready(prefix + L"ready"), go(prefix + L"go"), script(prefix + L"host.js") {
    DeleteFileW(ready.c_str());
    DeleteFileW(go.c_str());
    std::wofstream(script.c_str())
        << L"var e = new ActiveXObject('OrvaneEngine.Crawler');\n"
           L"var f = new ActiveXObject('Scripting.FileSystemObject');\n"
        << before << L"\n"
        << L"f.CreateTextFile(" << ScriptLiteral(ready) << L").Close();\n"
           L"var end = new Date().getTime() + 60000;\n"
           L"while (!f.FileExists(" << ScriptLiteral(go) << L") && new Date().getTime() < end) {}\n"
        << body << L"\n";
    thread = std::thread([this] { output = RunCaptured(L"cscript.exe //nologo \"" + script + L"\""); });
}

ScriptHost::~ScriptHost() {
    if (thread.joinable()) Go();
    for (const std::wstring& file : {ready, go, script}) DeleteFileW(file.c_str());
}

bool ScriptHost::WaitReady() {
    ULONGLONG end = GetTickCount64() + testlimit::kLong;
    while (GetFileAttributesW(ready.c_str()) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < end) Sleep(50);
    return GetFileAttributesW(ready.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void ScriptHost::Go() {
    std::ofstream(go.c_str()).put('1');
    testlimit::Join(thread, testlimit::kLong, "the script host");
}

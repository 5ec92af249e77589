#pragma once
#include <string>
#include <thread>

// text as a JScript string literal (backslashes doubled, in single quotes).
std::wstring ScriptLiteral(std::wstring text);

// A script host (cscript) with an engine object of its own, in a process of
// its own: it makes the object e, runs before, says so with the file ready,
// waits for the file go (60 s at most), then runs body. Its files are named
// prefix + "ready", "go" and "host.js".
struct ScriptHost {
    ScriptHost(const std::wstring& prefix, const std::wstring& before, const std::wstring& body);
    ~ScriptHost();
    ScriptHost(const ScriptHost&) = delete;
    ScriptHost& operator=(const ScriptHost&) = delete;

    // False when the host did not say ready within the long step limit.
    bool WaitReady();
    // Lets the host go on and waits for it to end.
    void Go();

    std::wstring ready, go, script;
    std::string output;
    std::thread thread;
};

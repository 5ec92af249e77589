// StatusKeeper <status file> <program> [arguments]
//
// Runs the program with the rest of its own command line as it stands, waits
// for it, writes its exit code into the status file and ends with that code.
// A program it cannot start leaves "not started" there, for the launcher to
// start it another way.
// scripts/wine-run starts every program through it: now and then the host's
// dynamic loader aborts a wine64 process at its very exit, after the Windows
// program has ended, and wine64 then ends with 127 whatever the program's
// code was. The code kept here is the one the wineserver has from the program.
//
// The program gets this process's standard handles, console and folder. It
// runs in a job that ends it when this process ends, so that a launcher that
// is killed takes the program with it; what the program starts breaks away
// from that job, as it would from no job at all.
#include "common/system/HandleHolder.h"

#include <windows.h>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// Where the command line's first argument (the program's name, whose quotes
// alone count) and the next one end: the text after them is handed on as it
// stands, with the quoting Wine gave it.
const wchar_t* SkipProgramName(const wchar_t* text) {
    if (*text == L'"') {
        for (++text; *text && *text != L'"'; ++text) {}
        return *text ? text + 1 : text;
    }
    while (*text && *text != L' ' && *text != L'\t')
        ++text;
    return text;
}

const wchar_t* SkipSpaces(const wchar_t* text) {
    while (*text == L' ' || *text == L'\t')
        ++text;
    return text;
}

const wchar_t* SkipArgument(const wchar_t* text) {
    bool quoted = false;
    size_t backslashes = 0;
    for (; *text && (quoted || (*text != L' ' && *text != L'\t')); ++text) {
        if (*text == L'\\') {
            ++backslashes;
            continue;
        }
        if (*text == L'"' && backslashes % 2 == 0)
            quoted = !quoted;
        backslashes = 0;
    }
    return text;
}

void Say(const wchar_t* what, DWORD error) {
    fwprintf(stderr, L"StatusKeeper: %ls (error %lu)\n", what, error);
}

// The standard handles as handles the program inherits.
void InheritStandardHandles(STARTUPINFOW& startup) {
    HANDLE* slots[] = {&startup.hStdInput, &startup.hStdOutput, &startup.hStdError};
    const DWORD which[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (int i = 0; i < 3; ++i) {
        *slots[i] = GetStdHandle(which[i]);
        if (*slots[i] && *slots[i] != INVALID_HANDLE_VALUE)
            SetHandleInformation(*slots[i], HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    }
    startup.dwFlags |= STARTF_USESTDHANDLES;
}

// A job that ends the program with this process; none when the system
// refuses one, as the program then still runs.
HANDLE MakeJob() {
    HandleHolder job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
    if (!job.IsValid() || !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits))
        return nullptr;
    return job.Detach();
}

bool KeepText(const wchar_t* path, const char* text) {
    HandleHolder file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD size = DWORD(strlen(text)), written = 0;
    return file.IsValid() && WriteFile(file, text, size, &written, nullptr) && written == size;
}

bool KeepStatus(const wchar_t* path, DWORD status) {
    char text[16];
    snprintf(text, sizeof text, "%lu\n", status);
    return KeepText(path, text);
}

// Under load Wine now and then refuses to start a process for a moment
// (ERROR_INTERNAL_ERROR); a missing program or a bad argument does not come
// right by waiting.
bool StartSuspended(std::wstring& commandLine, STARTUPINFOW& startup, PROCESS_INFORMATION& process) {
    for (int attempt = 1;; ++attempt) {
        if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                           &startup, &process))
            return true;
        DWORD error = GetLastError();
        if (attempt == 10 || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_INVALID_PARAMETER || error == ERROR_BAD_EXE_FORMAT) {
            SetLastError(error);
            return false;
        }
        Sleep(200);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        fwprintf(stderr, L"usage: StatusKeeper <status file> <program> [arguments]\n");
        return 2;
    }
    const wchar_t* rest = SkipSpaces(SkipArgument(SkipSpaces(SkipProgramName(GetCommandLineW()))));
    std::wstring commandLine(rest);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    InheritStandardHandles(startup);
    HandleHolder job(MakeJob());
    PROCESS_INFORMATION process{};
    if (!StartSuspended(commandLine, startup, process)) {
        DWORD error = GetLastError();
        Say((L"cannot start " + commandLine).c_str(), error);
        KeepText(argv[1], "not started\n");
        return 126;
    }
    HandleHolder program(process.hProcess), thread(process.hThread);
    if (job.IsValid() && !AssignProcessToJobObject(job, program))
        job.CloseNoThrow();
    ResumeThread(thread);
    WaitForSingleObject(program, INFINITE);
    DWORD status = 1;
    if (!GetExitCodeProcess(program, &status))
        Say(L"cannot read the program's exit code", GetLastError());
    if (!KeepStatus(argv[1], status))
        Say(L"cannot write the status file", GetLastError());
    return int(status);
}

#include "common/system/RunProcess.h"
#include <vector>
#include "common/errors/ErrorBase.h"
#include "common/system/HandleHolder.h"

namespace {

ErrorBase PipeError() { return ErrorBase(E_FAIL, _T("Error was occured")); }

}  // namespace

BOOL RunProcess(const tstring& commandLine, PROCESS_INFORMATION& process, HANDLE& readPipe) {
    ZeroMemory(&process, sizeof(process));
    readPipe = nullptr;

    SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        throw PipeError();
    HandleHolder reader(readEnd);
    HandleHolder writer(writeEnd);
    // Only the write end goes to the child: a child holding a read end of its
    // own would block on a full pipe instead of failing once we stop reading.
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFO startup = {};
    startup.cb = sizeof(startup);
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;

    // CreateProcess may write into the command-line buffer.
    std::vector<TCHAR> command(commandLine.begin(), commandLine.end());
    command.push_back(0);
    BOOL started = CreateProcess(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                                 &process);
    DWORD startError = GetLastError();
    if (writer.CloseNoThrow() == 0) {
        if (started) {
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
            ZeroMemory(&process, sizeof(process));
        }
        throw PipeError();
    }
    if (!started) {
        SetLastError(startError);
        throw ErrorBase(FoldWin32(int32_t(startError)), tstring(_T("Can't execute ")) + commandLine);
    }
    readPipe = reader.Detach();
    return started;
}

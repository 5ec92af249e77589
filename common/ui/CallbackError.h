#pragma once
#include <windows.h>

// Nothing may be thrown through a window procedure, a dialog procedure or a
// COM method: the window layer catches everything there and reports it here.
// The wide build writes the report to the program log at the error level;
// every build also sends it to the debugger output. A program may install its
// own reporter (NULL restores the default).
using CallbackErrorReporter = void (*)(const TCHAR* where, const TCHAR* message);
void SetCallbackErrorReporter(CallbackErrorReporter reporter);

// Reports the exception being handled: call it only inside a catch block.
// `where` names the callback (for example "window procedure").
void ReportCurrentException(const TCHAR* where) noexcept;

// Runs body; an exception is reported and onError is returned instead.
template <class Result, class Body>
Result GuardCallback(const TCHAR* where, Result onError, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        ReportCurrentException(where);
        return onError;
    }
}

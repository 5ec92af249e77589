#pragma once
#include <windows.h>
#include <thread>

// Every wait in a test has a limit and names what it waits for. A wait that
// passes its limit fails the running case with that name; one that cannot be
// left behind (a thread that still uses the case's objects) ends the process
// after saying what it waited for. A watchdog does the same for a case that
// runs too long anywhere, and for a process that does not end after its cases
// (an engine released at exit, static destructors). The test process's child
// processes end with it.
namespace testlimit {

// One step of a walk through a window or a short job, and a long one (a scan,
// a child program, a server).
constexpr DWORD kStep = 30000;
constexpr DWORD kLong = 120000;

// What this process waits for while the object lives; the watchdog reports it.
class Waiting {
public:
    explicit Waiting(const char* what);
    ~Waiting();
    Waiting(const Waiting&) = delete;
    Waiting& operator=(const Waiting&) = delete;

private:
    const char* previous_;
};

// Where the running case is, in its own words (a step, the state it last
// saw); the watchdog prints it, with how long ago it was said, when it ends
// the case. Any thread may call it; a new case starts with none.
void SetPlace(const char* text);

// Says on stderr what the running case waited for and ends the process.
[[noreturn]] void Abandon(const char* what);

// Waits for `handle`, dispatching this thread's messages when `pump`; on the
// limit the case fails naming `what`, and the result is false.
bool Wait(HANDLE handle, DWORD milliseconds, const char* what, bool pump = false);

// Joins a thread that uses the case's objects; when it has not ended within
// the limit the process ends.
void Join(std::thread& thread, DWORD milliseconds, const char* what);
void Join(HANDLE thread, DWORD milliseconds, const char* what);

}  // namespace testlimit

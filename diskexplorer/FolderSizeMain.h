#pragma once
#include <windows.h>

// Membership of the caller's token in Administrators or Power Users.
bool IsAdminOrPowerUser();

// The program: rights, single instance, then the frame and its message loop.
// Returns the process exit code: 0 without rights or frame, -1 when the
// single-instance mutex cannot be made, -2 when another instance runs.
// `allowed` replaces the membership test (tests inject one).
int FolderSizeMain(HINSTANCE instance, int show, bool (*allowed)() = IsAdminOrPowerUser);

// Runs the frame and the message loop; returns the loop's exit code.
int FolderSizeRun(int show);

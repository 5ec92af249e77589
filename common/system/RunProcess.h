#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// Starts a console command hidden, with its standard output and standard error
// on a new pipe. On success the process and thread handles and the pipe's read
// end belong to the caller, who reads the pipe to its end, waits and closes
// them. Failures throw ErrorBase: "Error was occured" when the pipe cannot be
// made, "Can't execute " followed by the command line when the start fails;
// nothing is left open then.
BOOL RunProcess(const tstring& commandLine, PROCESS_INFORMATION& process, HANDLE& readPipe);

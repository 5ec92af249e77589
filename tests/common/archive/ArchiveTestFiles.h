#pragma once
#include <windows.h>
#include <string>
#include "FileBytes.h"
#include "TempFolder.h"
#include "common/errors/ErrorBase.h"

// The code of the ErrorBase the action throws; 0 when it throws none.
template <class Action>
int32_t ErrorCode(Action action) {
    try {
        action();
    } catch (const ErrorBase& e) {
        return e.Code();
    }
    return 0;
}

// "<missing>" where the file cannot be read, so a check tells it from an empty file.
inline std::string ReadWholeFile(const tstring& path) {
    return ReadAll(path, "<missing>");
}

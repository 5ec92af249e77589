#pragma once
#include <windows.h>
#include <string>
#include "FileBytes.h"
#include "TempFolder.h"

// "<missing>" where the file cannot be read, so a check tells it from an empty file.
inline std::string ReadWholeFile(const tstring& path) {
    return ReadAll(path, "<missing>");
}

#pragma once
#include <windows.h>
#include <tchar.h>
#include <cstdint>

// The group name ("errors_...") of a finding's problem code (the high word of
// its error id); NULL for codes without a group.
const TCHAR* FindById(int32_t problemCode);

#pragma once
#include <vector>
#include "common/tstring/tstring.h"

class RegValue;

// The texts by which a value naming a path is judged. Every value is read as
// this process reads it (its DataText). A value of the 32-bit registry view
// is read by 32-bit programs, which expand %ProgramFiles% and
// %CommonProgramFiles% to the (x86) folders: that reading follows when it
// differs. An entry is sound when any reading names something that is there;
// a finding shows the last one, the path as the entry's own program reads it.
std::vector<tstring> PathReadings(RegValue& value);

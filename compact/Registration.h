#pragma once
#include <cstdint>

namespace compact {

// Registers the library as a Winlogon notification package and as the
// event-log source "OrvaneCompact". 0, or the code of the first failing step;
// what was written before that step stays.
int32_t RegisterLibrary();

// Deletes the Notify key and the main program's Run value "Orvane Scheduler";
// the event-log source stays. 0, or the code of the later failing step.
int32_t UnregisterLibrary();

}  // namespace compact

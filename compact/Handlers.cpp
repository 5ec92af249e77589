#include "compact/Handlers.h"

namespace compact {

// The request mapping, the hive walker and the job state files come from the
// main program's shared code; until it is linked the handlers do nothing.
void OnLogon() {}
void OnLogoff(HANDLE) {}
void OnShutdown() {}
void OnNextStart() {}
void ChangeRequests(int) {}

}  // namespace compact

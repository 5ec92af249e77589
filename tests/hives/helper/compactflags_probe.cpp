// Prints the compaction requests as another process sees them:
// "<count>|<entry>|<entry>...|all=<0|1>", or "error <code>".
#include <cstdio>
#include "common/errors/ErrorBase.h"
#include "hives/CompactFlags.h"

int wmain() {
    try {
        CompactFlags flags;
        flags.Open(false);
        wprintf(L"%d", flags.Count());
        for (int i = 0; i < flags.Count(); ++i)
            wprintf(L"|%ls", flags.Get(i).c_str());
        wprintf(L"|all=%d", flags.IsAll() ? 1 : 0);
        flags.Close();
    } catch (const ErrorBase& e) {
        wprintf(L"error %08X", unsigned(e.Code()));
    }
    return 0;
}

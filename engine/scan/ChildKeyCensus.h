#pragma once
#include <vector>
#include "common/tstring/tstring.h"
#include "engine/registry/RegKey.h"

// The children of one key as a check probes them by name. One query tells how
// many subkeys the key has; once that many different children have been
// opened, every other name is known to be absent without asking the registry,
// which is the answer to most probes of a class key's optional subkeys.
class ChildKeyCensus {
public:
    explicit ChildKeyCensus(const RegKey& key);

    // Whether `key` is the key counted (a copy shares its handle).
    bool Covers(const RegKey& key) const { return !key_.IsEmpty() && key.Handle() == key_.Handle(); }

    // The child, or an empty key when it does not exist; other failures are
    // raised. A name of more than one level is always asked for.
    RegKey OpenIfPresent(const tstring& name);

private:
    bool WasOpened(const tstring& name) const;

    RegKey key_;
    // Children not opened yet; -1 when the count is unknown.
    long unseen_ = -1;
    std::vector<tstring> opened_;
};

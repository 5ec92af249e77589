#pragma once
#include <cstdint>
#include <memory>
#include "common/records/CheckResultCode.h"
#include "engine/scan/CheckResult.h"

class FixEntry;

// Plans the fix of one kind of finding: copies the finding into the entry and
// appends the actions that repair it. True when it planned (even nothing
// more than the copy), false when it refuses the finding. A failure to open
// the finding's key leaves Plan by that error.
class FixPlanner {
public:
    virtual ~FixPlanner() = default;
    virtual bool Plan(const tstring& keyPath, const tstring& valueName, const CheckResult& error,
                      FixEntry& entry) const = 0;

    // The planner of that kind; none for PlannerKind::None.
    static std::unique_ptr<FixPlanner> Create(PlannerKind kind);
};

class ClsidKeyPlanner : public FixPlanner {
public:
    bool Plan(const tstring& keyPath, const tstring& valueName, const CheckResult& error,
              FixEntry& entry) const override;
};

class ProgIdPlanner : public FixPlanner {
public:
    bool Plan(const tstring& keyPath, const tstring& valueName, const CheckResult& error,
              FixEntry& entry) const override;
};

class TypeLibPlanner : public FixPlanner {
public:
    bool Plan(const tstring& keyPath, const tstring& valueName, const CheckResult& error,
              FixEntry& entry) const override;
};

class KeyDeletePlanner : public FixPlanner {
public:
    bool Plan(const tstring& keyPath, const tstring& valueName, const CheckResult& error,
              FixEntry& entry) const override;
};

class ValueDeletePlanner : public FixPlanner {
public:
    bool Plan(const tstring& keyPath, const tstring& valueName, const CheckResult& error,
              FixEntry& entry) const override;
};

class SharedToolPlanner : public FixPlanner {
public:
    bool Plan(const tstring& keyPath, const tstring& valueName, const CheckResult& error,
              FixEntry& entry) const override;
};

class ExtensionHandlerPlanner : public FixPlanner {
public:
    bool Plan(const tstring& keyPath, const tstring& valueName, const CheckResult& error,
              FixEntry& entry) const override;
};

class NtValueDeletePlanner : public FixPlanner {
public:
    bool Plan(const tstring& keyPath, const tstring& valueName, const CheckResult& error,
              FixEntry& entry) const override;
};

class NtKeyDeletePlanner : public FixPlanner {
public:
    bool Plan(const tstring& keyPath, const tstring& valueName, const CheckResult& error,
              FixEntry& entry) const override;
};

// Rewrites a value whose text came with doubled quote characters. Refuses a
// finding whose text holds no such pair: there is nothing to mend.
class QuotedValuePlanner : public FixPlanner {
public:
    bool Plan(const tstring& keyPath, const tstring& valueName, const CheckResult& error,
              FixEntry& entry) const override;

    // Every pair of double quote characters becomes one.
    static tstring Unquoted(const tstring& text);
};

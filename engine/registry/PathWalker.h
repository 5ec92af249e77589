#pragma once
#include <functional>
#include "common/tstring/tstring.h"
#include "engine/registry/PathPattern.h"
#include "engine/registry/RegKey.h"
#include "engine/registry/RegValue.h"
#include "engine/registry/ScanRule.h"
#include "engine/scan/CheckResult.h"
#include "engine/scan/EntryTest.h"

// The check a walk calls for each selected value: true when the entry is
// sound. Usually the test's Test; some tests have a check of their own.
using EntryCheck = std::function<bool(const tstring& text, RegValue& value, CheckResult& result)>;

// Walks the live registry along a rule's pattern: opens or enumerates the keys
// level by level, hands every selected value to the entry check and reports
// each rejected one as a finding of the rule's group. A registry or test
// failure cuts off only the subtree of the key where it happened.
class PathWalker {
public:
    // Calls the test's Test for each value.
    PathWalker(const ScanRule& rule, EntryTest* test);
    // Calls `check` for each value; `test` (may be null) gets Begin and End.
    PathWalker(const ScanRule& rule, EntryTest* test, EntryCheck check);

    // The rule's whole area; false when a stop ended a walk over several roots.
    bool Run(ScanRule& rule);
    // Begin on the test, Run, End on the test; the result of Run.
    bool RunWithVisitor(ScanRule& rule);

    // The subtree below one key: share is the part of the rule's progress it
    // stands for, base where that part begins. False when the walk was stopped
    // or a failure ended it.
    bool Walk(const RegKey& key, ScanRule& rule, double share, double base);
    // The value level of a key whose path matched the whole key pattern.
    bool WalkValues(const RegKey& key, ScanRule& rule);
    // True when the value is selected by the value pattern and the check rejects it.
    bool CheckValue(RegValue& value, tstring& capture, CheckResult& result);

private:
    bool WalkExpressionLevel(const RegKey& key, const PatternElement& element, ScanRule& rule, double share,
                             double base);
    void ReportFinding(ScanRule& rule, RegValue& value, const tstring& capture, CheckResult& result);

    PathPattern pattern_;
    EntryTest* test_;
    EntryCheck check_;
};

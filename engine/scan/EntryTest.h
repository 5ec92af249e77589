#pragma once
#include "common/tstring/tstring.h"
#include "engine/scan/CheckResult.h"

class RegValue;
class ScanRule;

// The judge of one registry area: the walk hands it every value that the
// rule's pattern selects. A test object lives as long as the rule that uses it
// and owns nothing but cache pointers.
class EntryTest {
public:
    virtual ~EntryTest() = default;

    // Once before and once after the walk that uses the test. Cache consumers
    // take their caches in Begin; producers mark theirs ready in End.
    virtual void Begin(ScanRule& rule) {}
    virtual void End(ScanRule& rule) {}

    // text: the value's data as text (or the part the pattern captured).
    // Returns true when the entry is sound; otherwise result holds the finding.
    // Every test starts by setting result.ErrorID to 0.
    virtual bool Test(const tstring& text, RegValue& value, CheckResult& result) = 0;
};

#pragma once
#include <cstdint>
#include <map>
#include <set>
#include "hives/RAssistant.h"

// Receives the rows of a hive analysis: each hive's current file size, then
// the size of a freshly saved copy and what compacting would gain.
class AnalysisSink {
public:
    virtual void OnOriginalSize(const tstring& name, int64_t size) = 0;
    virtual void OnCompactedSize(const tstring& name, int64_t size, double percent) = 0;

protected:
    ~AnalysisSink() = default;
};

// Measures how much the hives would shrink if compacted: a first walk reads
// each hive's file size, a second saves each hive to a temp file and reads
// that size. Machine and default-user hives get rows of their own; the users'
// hives are summed as "ProfilesTotal", everything as "Totals".
class HiveAnalyzer : public RAssistant {
public:
    static const TCHAR kProfilesTotal[];  // "ProfilesTotal"
    static const TCHAR kTotals[];         // "Totals"

    // A null sink measures nothing worth reporting: Analyze returns 0.
    explicit HiveAnalyzer(AnalysisSink* sink);

    // The benefit of compacting all hives, in percent.
    double Analyze();

    // (current - compacted) / current in percent; 0 when nothing would be gained.
    static double Benefit(int64_t current, int64_t compacted);

protected:
    void processKey(HKEY key, const tstring& name) override;

private:
    struct Sizes {
        int64_t current = 0;
        int64_t compacted = 0;
    };

    void RecordCurrent(const tstring& name);
    void RecordCompacted(const tstring& name, const tstring& file);
    // The hive's file and the key its size is summed under; false for a hive
    // that is neither a known machine hive nor a listed profile's.
    bool HiveFileOf(const tstring& name, tstring& file, tstring& key) const;
    void WalkAll();

    AnalysisSink* sink_;
    bool compactedPass_ = false;
    std::map<tstring, Sizes> sizes_;
    // Hives without a file of their own in the first walk: their saved copies
    // must not count against sizes that were never read.
    std::set<tstring> unknown_;
    // Every profile, not only real users', to recognise users' hives by name.
    HiveList allProfiles_;
};

// The string id of the analysis verdict: compacting is recommended (344) from
// a 3 % benefit on, not necessary (345) below.
unsigned AnalysisVerdictId(double benefit);

// "1 234 567 bytes": the count with a blank before every group of three digits.
tstring SizeText(int64_t bytes);

#include <doctest/doctest.h>
#include <windows.h>
#include <map>
#include <vector>
#include "PlantedProfile.h"
#include "TempFolder.h"
#include "TestStrings.h"
#include "hives/HiveAnalyzer.h"

namespace {

const TCHAR kPlantedSid[] = _T("S-1-5-21-9-9-9-1201");

struct Row {
    tstring name;
    int64_t size;
    double percent;  // -1 for a current size
};

class RecordingSink : public AnalysisSink {
public:
    void OnOriginalSize(const tstring& name, int64_t size) override { rows.push_back({name, size, -1}); }
    void OnCompactedSize(const tstring& name, int64_t size, double percent) override {
        rows.push_back({name, size, percent});
    }
    std::vector<Row> rows;
};

// Hive files of known sizes where Windows keeps them; Wine has none there.
class PlantedConfigFiles {
public:
    PlantedConfigFiles() {
        ExpandEnvironment(folder_, L"%WINDIR%\\system32\\config");
        CreateDirectoryW(folder_.c_str(), nullptr);
        Plant(L"software", 3000000);
        Plant(L"system", 700000);
        Plant(L"default", 1234567);
    }
    ~PlantedConfigFiles() {
        for (const tstring& file : planted_)
            DeleteFileW(file.c_str());
    }

private:
    void Plant(const wchar_t* name, DWORD size) {
        tstring path = folder_ + L"\\" + name;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        SetFilePointer(file, LONG(size), nullptr, FILE_BEGIN);
        SetEndOfFile(file);
        CloseHandle(file);
        planted_.push_back(path);
    }
    tstring folder_;
    std::vector<tstring> planted_;
};

int64_t FileSizeOf(const tstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return (int64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

TEST_CASE("size texts group digits by three and the verdict turns at three percent") {
    CHECK(SizeText(1234567) == L"1 234 567 bytes");
    CHECK(SizeText(123) == L"123 bytes");
    CHECK(SizeText(1234) == L"1 234 bytes");
    CHECK(SizeText(0) == L"0 bytes");
    CHECK(SizeText(5000000000LL) == L"5 000 000 000 bytes");

    CHECK(HiveAnalyzer::Benefit(10000, 9700) == doctest::Approx(3.0));
    CHECK(AnalysisVerdictId(HiveAnalyzer::Benefit(10000, 9700)) == 344);
    CHECK(AnalysisVerdictId(3.00) == 344);
    CHECK(AnalysisVerdictId(2.99) == 345);
    // A copy larger than the hive gains nothing; nothing to compare with either.
    CHECK(HiveAnalyzer::Benefit(100, 120) == 0);
    CHECK(HiveAnalyzer::Benefit(0, 50) == 0);
    // Past 4 GiB the sizes keep their high part.
    CHECK(HiveAnalyzer::Benefit(6000000000LL, 3000000000LL) == doctest::Approx(50.0));
}

TEST_CASE("the analysis reports each known hive, the profiles once, then the totals") {
    TempFolder folder(L"analysis-profile");
    PlantedProfile profile(kPlantedSid, folder.Path());
    PlantedConfigFiles config;
    RecordingSink sink;
    HiveAnalyzer analyzer(&sink);
    double benefit = analyzer.Analyze();

    std::map<tstring, int64_t> current, compacted;
    std::vector<tstring> order;
    for (const Row& row : sink.rows) {
        CAPTURE(row.name);
        order.push_back(row.name);
        if (row.percent < 0) {
            CHECK(current.count(row.name) == 0);
            current[row.name] = row.size;
        } else {
            CHECK(compacted.count(row.name) == 0);
            compacted[row.name] = row.size;
            double expected = HiveAnalyzer::Benefit(current[row.name], row.size);
            CHECK(row.percent == doctest::Approx(expected));
        }
    }
    // Wine names its keys "Software" and "System": matched without case.
    CHECK(current[L"HKLM_Software"] == 3000000);
    CHECK(current[L"HKLM_System"] == 700000);
    CHECK(current[L"HKU_.Default"] == 1234567);
    CHECK(compacted.count(L"HKLM_Software") == 1);
    // Wine's "Hardware" passes the walk's exclusion but has no hive file: no row.
    CHECK(current.count(L"HKLM_Hardware") == 0);
    CHECK(compacted.count(L"HKLM_Hardware") == 0);
    // The users' hives appear only in the profiles' total.
    for (const tstring& name : order)
        CHECK(name.find(L"S-1-5-21-") == tstring::npos);
    CHECK(current[L"ProfilesTotal"] == FileSizeOf(profile.UserHive()) + FileSizeOf(profile.ClassesHive()));
    CHECK(compacted[L"ProfilesTotal"] > 0);

    // Totals are the rows and the profiles together, in both passes.
    int64_t sumCurrent = 0, sumCompacted = 0;
    for (const auto& entry : current)
        if (entry.first != L"Totals")
            sumCurrent += entry.second;
    for (const auto& entry : compacted)
        if (entry.first != L"Totals")
            sumCompacted += entry.second;
    CHECK(current[L"Totals"] == sumCurrent);
    CHECK(compacted[L"Totals"] == sumCompacted);
    CHECK(benefit == doctest::Approx(HiveAnalyzer::Benefit(sumCurrent, sumCompacted)));

    // Machine rows first, then the profiles and the totals of each pass.
    REQUIRE(order.size() >= 4);
    CHECK(order[order.size() - 2] == L"ProfilesTotal");
    CHECK(order.back() == L"Totals");

}

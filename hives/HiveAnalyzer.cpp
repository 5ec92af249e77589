#include "hives/HiveAnalyzer.h"
#include "common/errors/CheckObjects.h"
#include "common/log/Log.h"
#include "hives/HiveOps.h"
#include "hives/TempName.h"

const TCHAR HiveAnalyzer::kProfilesTotal[] = L"ProfilesTotal";
const TCHAR HiveAnalyzer::kTotals[] = L"Totals";

namespace {

tstring WithoutFinalBackslash(tstring folder) {
    if (!folder.empty() && folder[folder.size() - 1] == L'\\')
        folder.resize(folder.size() - 1);
    return folder;
}

void RemoveAll(tstring& text, const TCHAR* part) {
    text.Replace(part, L"");
}

// Low and high parts together: a hive may pass 4 GiB.
int64_t FileSize(const tstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    FindClose(search);
    return (int64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

// The machine hives and their files in the configuration folder. Names are
// matched without regard to case: Wine names its keys "Software", "System".
const struct {
    const TCHAR* hive;
    const TCHAR* file;
} kMachineHives[] = {
    {L"SAM", L"SAM"},           {L"SOFTWARE", L"software"}, {L"SYSTEM", L"system"},
    {L"SECURITY", L"SECURITY"}, {L".DEFAULT", L"default"},  {L"COMPONENTS", L"COMPONENTS"},
};

}  // namespace

HiveAnalyzer::HiveAnalyzer(AnalysisSink* sink) : RAssistant(WithoutFinalBackslash(TempFolder())), sink_(sink) {}

double HiveAnalyzer::Benefit(int64_t current, int64_t compacted) {
    if (current <= 0)
        return 0;
    double percent = (double(current) - double(compacted)) / double(current);
    return percent < 0 ? 0 : percent * 100;
}

bool HiveAnalyzer::HiveFileOf(const tstring& name, tstring& file, tstring& key) const {
    tstring bare = name;
    RemoveAll(bare, kUsersPrefix);
    RemoveAll(bare, kMachinePrefix);
    for (const auto& machine : kMachineHives) {
        if (bare.CompareNoCase(machine.hive) == 0) {
            ExpandEnvironment(file, (tstring(L"%WINDIR%\\system32\\config\\") + machine.file).c_str());
            key = name;
            return true;
        }
    }
    bool classes = bare.find(kClasses) != tstring::npos;
    RemoveAll(bare, kClasses);
    int index = allProfiles_.IndexOf(bare);
    if (index < 0) {
        Log::Instance().Print(LogError, L"[error] Unknown hive (%s).", bare.c_str());
        return false;
    }
    file = allProfiles_.HivePath(index, classes);
    key = kProfilesTotal;
    return true;
}

void HiveAnalyzer::RecordCurrent(const tstring& name) {
    tstring file, key;
    if (!HiveFileOf(name, file, key)) {
        unknown_.insert(name);
        return;
    }
    int64_t size = FileSize(file);
    sizes_[key].current += size;
    sizes_[kTotals].current += size;
    if (key != kProfilesTotal && sink_)
        sink_->OnOriginalSize(name, size);
}

void HiveAnalyzer::RecordCompacted(const tstring& name, const tstring& file) {
    if (unknown_.count(name))
        return;
    tstring key = sizes_.count(name) ? name : tstring(kProfilesTotal);
    int64_t size = FileSize(file);
    Sizes& sizes = sizes_[key];
    sizes.compacted += size;
    sizes_[kTotals].compacted += size;
    if (key != kProfilesTotal && sink_)
        sink_->OnCompactedSize(name, size, Benefit(sizes.current, sizes.compacted));
}

void HiveAnalyzer::processKey(HKEY key, const tstring& name) {
    int row = -1;
    tstring copy;
    try {
        EnableHivePrivileges(true);
        copy = TempName(L"new");
        row = AddLogEntry(3, L"Compacting hive", name);
        if (compactedPass_) {
            Win32Check save(L"RegSaveKey(" + name + L")");
            save = GetHiveOps().Save(key, copy);
            RecordCompacted(name, copy);
            DeleteFileW(copy.c_str());
        } else {
            RecordCurrent(name);
        }
        MarkLogDone(row);
        DeleteFileW((HiveFile(name, false) + L".arctemp").c_str());
        MarkLogDone(row);
    } catch (const ErrorBase&) {
        if (!copy.empty())
            DeleteFileW(copy.c_str());
        MarkLogDone(row);
        AddLogEntry(3, L"Compact Error", name);
    }
}

void HiveAnalyzer::WalkAll() {
    walkMachineHives();
    processAllUsers(nullptr);
}

double HiveAnalyzer::Analyze() {
    allProfiles_.Refresh(true);
    compactedPass_ = false;
    WalkAll();
    if (sink_) {
        sink_->OnOriginalSize(kProfilesTotal, sizes_[kProfilesTotal].current);
        sink_->OnOriginalSize(kTotals, sizes_[kTotals].current);
    }
    compactedPass_ = true;
    WalkAll();
    if (!sink_)
        return 0;
    const Sizes& profiles = sizes_[kProfilesTotal];
    sink_->OnCompactedSize(kProfilesTotal, profiles.compacted, Benefit(profiles.current, profiles.compacted));
    const Sizes& totals = sizes_[kTotals];
    double benefit = Benefit(totals.current, totals.compacted);
    sink_->OnCompactedSize(kTotals, totals.compacted, benefit);
    return benefit;
}

unsigned AnalysisVerdictId(double benefit) {
    return benefit < 3.0 ? 345 : 344;
}

tstring SizeText(int64_t bytes) {
    tstring digits = FormatText(L"%I64d", bytes);
    tstring grouped;
    size_t start = (!digits.empty() && digits[0] == L'-') ? 1 : 0;
    grouped = digits.substr(0, start);
    size_t count = digits.size() - start;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0 && (count - i) % 3 == 0)
            grouped += L' ';
        grouped += digits[start + i];
    }
    return grouped + L" bytes";
}

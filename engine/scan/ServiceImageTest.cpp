#include "engine/scan/ServiceImageTest.h"
#include <shlwapi.h>
#include <cwchar>
#include <vector>
#include "common/system/CommandLine.h"
#include "common/records/CheckResultCode.h"
#include "engine/registry/CacheTable.h"
#include "engine/registry/RegValue.h"
#include "engine/scan/PathChecks.h"

namespace {

const DWORD kOwnProcess = 0x10;
const DWORD kShareProcess = 0x20;

tstring SystemRoot() {
    tstring root;
    ExpandEnvironment(root, L"%SystemRoot%");
    return root;
}

// The first one, two, three ... tokens joined by blanks, until one names a program.
bool SomeTokensNameAProgram(const tstring& path) {
    CommandLine tokens;
    int count = tokens.Parse(path.c_str(), CommandLineRules::ProgramRules());
    tstring joined;
    CheckResult scratch;
    for (int i = 0; i < count; ++i) {
        if (i) joined += L' ';
        joined += tokens.Arg(i);
        if (FindProgramFile(joined, scratch)) return true;
    }
    return false;
}

}  // namespace

void ServiceImageTest::Begin(ScanRule&) { cache_ = CacheTable::Instance().GetOrCreate(CacheTable::ServiceCache); }

void ServiceImageTest::End(ScanRule&) {
    if (cache_) cache_->SetReady(true);
}

bool ServiceImageTest::Test(const tstring&, RegValue& value, CheckResult& result) {
    return Check(value.Key(), result);
}

bool ServiceImageTest::ImageExists(const tstring& imagePath) {
    tstring path = TrimBlanks(imagePath);
    if (path.empty()) return false;
    if (!path.empty() && path[0] == L'"') {
        tstring unquoted;
        for (wchar_t c : path)
            if (c != L'"') unquoted += c;
        path = unquoted;
    }
    // Kernel-style prefixes, which the service manager accepts too.
    if (StartsWithNoCase(path, L"\\??\\")) path = path.substr(4);
    if (StartsWithNoCase(path, L"\\SystemRoot\\")) path = SystemRoot() + path.substr(11);
    std::vector<tstring> candidates;
    if (PathIsRelativeW(path.c_str())) {
        // The service manager starts a relative image from the system's
        // folders; the Windows folder first, then the search path.
        candidates.push_back(SystemRoot() + L"\\" + path);
    }
    candidates.push_back(path);
    for (const tstring& candidate : candidates)
        if (SomeTokensNameAProgram(candidate)) return true;
    return false;
}

bool ServiceImageTest::Check(const RegKey& key, CheckResult& result) {
    result.ErrorID = 0;
    bool verdict = true;
    tstring image;
    RegValue type(key, L"Type");
    DWORD serviceType = type.Query() && type.Type() == RegValue::Number32 ? DWORD(wcstoul(type.DataText().c_str(), nullptr, 16)) : 0;
    if (serviceType & (kOwnProcess | kShareProcess)) {
        RegValue imagePath(key, L"ImagePath");
        if (imagePath.Query()) {
            image = imagePath.DataText();
            verdict = ImageExists(image);
        }
    }
    if (cache_) cache_->Set(UpperText(key.Name()), verdict);
    if (!verdict) {
        result.ErrorID = int32_t(MakeErrorID(ProblemService, ReasonFileNotFound));
        result.Item = key.Name();
        result.Reason = image;
        result.KeyPath = key.FullPath();
        result.ValueName = L"ImagePath";
    }
    return verdict;
}

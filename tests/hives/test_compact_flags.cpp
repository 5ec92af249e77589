#include <doctest/doctest.h>
#include <string>
#include "common/errors/ErrorBase.h"
#include "common/system/RunProcess.h"
#include "common/system/Security.h"
#include "hives/CompactFlags.h"
#include "TestLimits.h"

namespace {

// The requests as the probe program, a second process, reads them.
std::string SeenByAnotherProcess() {
    tstring exe = GetModulePath();
    tstring probe = exe.substr(0, exe.rfind(_T('\\'))) + _T("\\compactflags_probe.exe");
    PROCESS_INFORMATION process = {};
    HANDLE pipe = nullptr;
    RunProcess(_T("\"") + probe + _T("\""), process, pipe);
    testlimit::Waiting note("the compaction flags probe");
    std::string out;
    char chunk[4096];
    DWORD n = 0;
    while (ReadFile(pipe, chunk, sizeof(chunk), &n, nullptr) && n)
        out.append(chunk, n);
    testlimit::Wait(process.hProcess, 30000, "the compaction flags probe to end");
    CloseHandle(pipe);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return out;
}

std::string Narrow(const tstring& text) { return std::string(text.begin(), text.end()); }

}  // namespace

TEST_CASE("Compaction requests: whole entries, shared with a second process, bounded block") {
    CompactFlags creator;
    creator.Open(true);
    CompactFlags flags;
    flags.Open(false);
    flags.Clear();
    CHECK(flags.Count() == 0);
    CHECK_FALSE(flags.IsAll());
    CHECK_FALSE(flags.IsCurrent());
    CHECK(SeenByAnotherProcess() == "0|all=0");

    tstring sid = CurrentUserSid();
    flags.Add(sid + _T("1"), false);  // a longer SID holding the current one
    CHECK_FALSE(flags.IsCurrent());
    flags.AddCurrent();
    flags.AddCurrent();
    flags.SetAll();
    flags.SetAll();
    CHECK(flags.Count() == 3);
    CHECK(flags.Get(1) == sid);
    CHECK(flags.Get(2) == _T("CompactAll"));
    CHECK(SeenByAnotherProcess() == "3|" + Narrow(sid) + "1|" + Narrow(sid) + "|CompactAll|all=1");

    flags.ClearCurrent();
    CHECK(flags.Text() == sid + _T("1\tCompactAll\t"));
    flags.ClearAll();
    CHECK(SeenByAnotherProcess() == "1|" + Narrow(sid) + "1|all=0");
    flags.Add(_T("CompactAll"), true);
    CHECK(flags.Text() == _T("CompactAll\t"));
    CHECK_THROWS_AS(flags.Add(_T("a\tb"), false), ErrorBase);

    // A block filled to the limit takes nothing more and stays as it was.
    flags.Clear();
    tstring big(CompactFlags::kMaxChars - 2, _T('x'));
    flags.Add(big, false);
    CHECK(flags.Count() == 1);
    CHECK_THROWS_AS(flags.Add(_T("y"), false), ErrorBase);
    CHECK(flags.Text() == big + _T("\t"));

    // Another writer's text without a terminator, up to the end of the last
    // page: read no further than the block.
    HANDLE mapping = OpenFileMapping(FILE_MAP_WRITE, FALSE, CompactFlags::kMappingName);
    REQUIRE(mapping);
    MEMORY_BASIC_INFORMATION info = {};
    WCHAR* whole = static_cast<WCHAR*>(MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, 0));
    REQUIRE(whole);
    VirtualQuery(whole, &info, sizeof(info));
    CHECK(info.RegionSize >= CompactFlags::kSize);
    for (size_t i = 0; i < info.RegionSize / sizeof(WCHAR); ++i)
        whole[i] = (i % 40 == 39) ? L'\t' : L'S';
    CHECK(flags.Text().size() == CompactFlags::kMaxChars);
    CHECK(flags.Count() == int(CompactFlags::kMaxChars / 40));
    CHECK_FALSE(flags.IsAll());
    CHECK_THROWS_AS(flags.SetAll(), ErrorBase);
    CHECK(whole[0] == L'S');
    flags.Clear();
    UnmapViewOfFile(whole);
    CloseHandle(mapping);
    CHECK(SeenByAnotherProcess() == "0|all=0");
}

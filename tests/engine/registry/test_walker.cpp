#include <doctest/doctest.h>
#include <algorithm>
#include <atomic>
#include <vector>
#include "../scan/TestSink.h"
#include "common/errors/ErrorBase.h"
#include "common/records/CheckResultCode.h"
#include "engine/registry/PathWalker.h"
#include "engine/scan/ScanGroup.h"

namespace {

// A scratch tree HKCU\Software\OrvaneTest\scanfw\<name>-<pid>, deleted when the object goes.
class WalkTree {
public:
    explicit WalkTree(const wchar_t* name) {
        relative_ = FormatText(L"Software\\OrvaneTest\\scanfw\\%s-%u", name, unsigned(GetCurrentProcessId()));
        RegDeleteTreeW(HKEY_CURRENT_USER, relative_.c_str());
        Key(L"");
    }
    ~WalkTree() { RegDeleteTreeW(HKEY_CURRENT_USER, relative_.c_str()); }

    void Key(const tstring& sub) {
        HKEY k;
        tstring path = sub.empty() ? relative_ : relative_ + L"\\" + sub;
        REQUIRE(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                                nullptr) == ERROR_SUCCESS);
        RegCloseKey(k);
    }
    void Value(const tstring& sub, const tstring& name, const tstring& data) {
        Key(sub);
        tstring path = relative_ + L"\\" + sub;
        REQUIRE(RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name.c_str(), REG_SZ, data.c_str(),
                                DWORD((data.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS);
    }
    void Delete() { RegDeleteTreeW(HKEY_CURRENT_USER, relative_.c_str()); }

    // Key pattern for the levels below the tree: "#HKCU#Software#...#<name>-<pid>" + tail.
    tstring Pattern(const tstring& tail) const {
        tstring p = L"#HKCU#" + relative_;
        std::replace(p.begin(), p.end(), L'\\', L'#');
        return p + tail;
    }
    tstring Path(const tstring& sub = L"") const {
        return L"HKCU\\" + relative_ + (sub.empty() ? tstring() : L"\\" + sub);
    }
    const tstring& Relative() const { return relative_; }

private:
    tstring relative_;
};

const int32_t kFinding = int32_t(MakeErrorID(ProblemMruLocation, ReasonFileNotFound));

// Rejects data that begins with "bad"; "badItem" also names the item. Data
// "throw" raises an engine error.
class RecordingTest : public EntryTest {
public:
    void Begin(ScanRule&) override { ++begins; }
    void End(ScanRule&) override { ++ends; }
    bool Test(const tstring& text, RegValue& value, CheckResult& result) override {
        result.ErrorID = 0;
        ++calls;
        texts.push_back(text);
        keys.push_back(value.FullPath() + L"|" + value.Name());
        if (text == L"throw") throw Win32Error(ERROR_INVALID_DATA);
        if (delay) Sleep(delay);
        if (onCall) onCall(calls);
        if (text.compare(0, 3, L"bad") != 0) return true;
        result.ErrorID = kFinding;
        if (text == L"badItem") result.Item = L"the item";
        return false;
    }

    std::atomic<int> calls{0};
    int begins = 0, ends = 0;
    DWORD delay = 0;
    std::function<void(int)> onCall;
    std::vector<tstring> texts;
    std::vector<tstring> keys;
};

const TestSink::Found* FindingFor(TestSink& sink, const tstring& keyPath, const tstring& valueName) {
    for (const auto& f : sink.found)
        if (f.keyPath == keyPath && f.valueName == valueName) return &f;
    return nullptr;
}

template <class F>
bool Eventually(F condition, DWORD bound = 10000) {
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > bound) return false;
        Sleep(5);
    }
    return true;
}

}  // namespace

TEST_CASE("The walker reports the values the test rejects, each with its own result") {
    WalkTree tree(L"find");
    tree.Value(L"A", L"v1", L"good");
    tree.Value(L"A", L"v2", L"badItem");
    tree.Value(L"A", L"v3", L"bad2");
    tree.Value(L"B", L"w", L"bad3");
    tree.Value(L"B", L"", L"good");
    tree.Key(L"C");
    tree.Value(L"C\\deeper", L"x", L"bad-too-deep");

    TestSink sink;
    ScanGroup group(&sink, 32);
    RecordingTest test;
    ScanRule rule(&group, tree.Pattern(L"@{.*}"), L"@{.*}@{.*}");
    PathWalker walker(rule, &test);
    CHECK(walker.RunWithVisitor(rule));
    CHECK(test.begins == 1);
    CHECK(test.ends == 1);
    CHECK(test.calls == 5);

    REQUIRE(sink.found.size() == 3);
    const auto* item = FindingFor(sink, tree.Path(L"A"), L"v2");
    const auto* plain = FindingFor(sink, tree.Path(L"A"), L"v3");
    const auto* other = FindingFor(sink, tree.Path(L"B"), L"w");
    REQUIRE(item);
    REQUIRE(plain);
    REQUIRE(other);
    CHECK(item->result.ErrorID == kFinding);
    CHECK(item->result.Item == L"the item");
    CHECK(item->result.Reason.empty());
    // No texts carried over from the finding before it; the capture stands in.
    CHECK(plain->result.Item.empty());
    CHECK(plain->result.Reason == L"bad2");
    CHECK(other->result.Reason == L"bad3");
    CHECK(other->groupBit == 32);
}

TEST_CASE("Literal levels, default values and the data element") {
    WalkTree tree(L"forms");
    tree.Value(L"K1", L"", L"bad-default");
    tree.Value(L"K1", L"Path", L"bad-path");
    tree.Value(L"K2", L"Path", L"good");
    tree.Key(L"K3");
    TestSink sink;
    ScanGroup group(&sink, 1);
    RecordingTest test;

    SUBCASE("a missing literal level yields nothing and no error") {
        ScanRule rule(&group, tree.Pattern(L"#missing@{.*}"), L"@{.*}@{.*}");
        CHECK(PathWalker(rule, &test).Run(rule));
        CHECK(test.calls == 0);
        CHECK(sink.found.empty());
    }
    SUBCASE("MAGIC_PATTERN tests every key once, also without a default value") {
        ScanRule rule(&group, tree.Pattern(L"@{.*}"), L"#@MAGIC_PATTERN");
        PathWalker(rule, &test).Run(rule);
        CHECK(test.calls == 3);
        std::vector<tstring> texts = test.texts;
        std::sort(texts.begin(), texts.end());
        CHECK(texts == std::vector<tstring>{L"", L"", L"bad-default"});
        REQUIRE(sink.found.size() == 1);
        CHECK(sink.found[0].keyPath == tree.Path(L"K1"));
        CHECK(sink.found[0].valueName.empty());
    }
    SUBCASE("an expression data element needs the value to exist") {
        ScanRule rule(&group, tree.Pattern(L"@{.*}"), L"#@{.*}");
        PathWalker(rule, &test).Run(rule);
        CHECK(test.calls == 1);
        CHECK(sink.found.size() == 1);
    }
    SUBCASE("(Default) names the unnamed value; a literal name selects one value") {
        ScanRule byDefault(&group, tree.Pattern(L"#K1"), L"#(DEFAULT)@{.*}");
        PathWalker(byDefault, &test).Run(byDefault);
        ScanRule byName(&group, tree.Pattern(L"@{.*}"), L"#path@{.*}");
        PathWalker(byName, &test).Run(byName);
        CHECK(test.calls == 3);
        REQUIRE(sink.found.size() == 2);
        CHECK(sink.found[0].valueName.empty());
        CHECK(sink.found[1].valueName == L"path");  // the name as the pattern writes it
    }
    SUBCASE("the data element selects and captures") {
        ScanRule rule(&group, tree.Pattern(L"@{.*}"), L"@{.*}@^bad-{.*}");
        PathWalker(rule, &test).Run(rule);
        std::vector<tstring> texts = test.texts;
        std::sort(texts.begin(), texts.end());
        CHECK(texts == std::vector<tstring>{L"default", L"path"});
        CHECK(sink.found.empty());  // the captures no longer begin with "bad"
    }
    SUBCASE("a check of its own instead of Test") {
        ScanRule rule(&group, tree.Pattern(L"@{.*}"), L"#Path@{.*}");
        int own = 0;
        PathWalker walker(rule, &test, [&](const tstring& text, RegValue& value, CheckResult& result) {
            ++own;
            result.ErrorID = kFinding;
            result.Item = value.Name();
            return text == L"good";
        });
        walker.RunWithVisitor(rule);
        CHECK(own == 2);
        CHECK(test.calls == 0);
        CHECK(test.begins == 1);
        REQUIRE(sink.found.size() == 1);
        CHECK(sink.found[0].result.Item == L"Path");
        CHECK(sink.found[0].result.Reason.empty());
    }
}

TEST_CASE("A failing test cuts off only its own key") {
    WalkTree tree(L"fail");
    tree.Value(L"A", L"only", L"throw");
    tree.Value(L"B", L"b", L"bad-b");
    tree.Value(L"C", L"c", L"bad-c");
    TestSink sink;
    ScanGroup group(&sink, 1);
    RecordingTest test;
    ScanRule rule(&group, tree.Pattern(L"@{.*}"), L"@{.*}@{.*}");
    CHECK(PathWalker(rule, &test).Run(rule));
    CHECK(test.calls == 3);
    CHECK(sink.found.size() == 2);
    CHECK(FindingFor(sink, tree.Path(L"B"), L"b"));
    CHECK(FindingFor(sink, tree.Path(L"C"), L"c"));
}

TEST_CASE("Progress of a rule's walk") {
    WalkTree tree(L"progress");
    TestSink sink;
    ScanGroup group(&sink, 2);
    RecordingTest test;

    SUBCASE("three matching subkeys split the share in thirds") {
        for (const wchar_t* k : {L"m1", L"m2", L"m3", L"other"}) tree.Value(k, L"v", L"good");
        ScanRule rule(&group, tree.Pattern(L"@^{m\\d}$"), L"@{.*}@{.*}");
        PathWalker(rule, &test).Run(rule);
        CHECK(test.calls == 3);
        CHECK(sink.progress == std::vector<int32_t>{33, 67, 100});
        CHECK(rule.Current() == doctest::Approx(100.0));
        CHECK(rule.LastReported() == doctest::Approx(100.0));
    }
    SUBCASE("nested levels report inside their parent's share") {
        for (const wchar_t* k : {L"m1\\a", L"m1\\b", L"m2\\a"}) tree.Value(k, L"v", L"good");
        ScanRule rule(&group, tree.Pattern(L"@^{m\\d}$@{.*}"), L"@{.*}@{.*}");
        PathWalker(rule, &test).Run(rule);
        CHECK(sink.progress == std::vector<int32_t>{25, 50, 100});
    }
    SUBCASE("a single match keeps the whole share") {
        tree.Value(L"m1", L"v", L"good");
        ScanRule rule(&group, tree.Pattern(L"@^{m\\d}$"), L"@{.*}@{.*}");
        PathWalker(rule, &test).Run(rule);
        CHECK(sink.progress == std::vector<int32_t>{100});
    }
    SUBCASE("no match reports nothing") {
        tree.Value(L"other", L"v", L"good");
        ScanRule rule(&group, tree.Pattern(L"@^{m\\d}$"), L"@{.*}@{.*}");
        PathWalker(rule, &test).Run(rule);
        CHECK(sink.progress.empty());
        CHECK(test.calls == 0);
    }
    SUBCASE("the group figure is the mean over its rules") {
        for (const wchar_t* k : {L"m1", L"m2"}) tree.Value(k, L"v", L"good");
        ScanRule first(&group, tree.Pattern(L"@^{m\\d}$"), L"@{.*}@{.*}");
        ScanRule second(&group, tree.Pattern(L"#none"), L"@{.*}@{.*}");
        PathWalker(first, &test).Run(first);
        CHECK(sink.progress == std::vector<int32_t>{25, 50});
    }
    CHECK(group.SubtaskCount() == 0);  // every rule removed its sub-task
}

TEST_CASE("A pattern without a root is walked under every root") {
    WalkTree tree(L"roots");
    tree.Value(L"only", L"v", L"bad-root");
    TestSink sink;
    ScanGroup group(&sink, 4);
    RecordingTest test;
    // The first level stands in the root's place and matches nothing itself.
    tstring pattern = tree.Pattern(L"@{.*}");
    pattern.replace(0, 5, L"@{x}");
    ScanRule rule(&group, pattern, L"@{.*}@{.*}");
    PathWalker walker(rule, &test);
    CHECK(walker.Run(rule));
    REQUIRE(sink.found.size() == 1);
    CHECK(sink.found[0].keyPath == tree.Path(L"only"));

    group.RequestStop();
    CHECK_FALSE(walker.Run(rule));
}

TEST_CASE("An enumeration that keeps failing ends the walk") {
    WalkTree tree(L"vanish");
    for (int i = 0; i < 150; ++i) tree.Value(FormatText(L"k%03d", i), L"v", L"good");
    TestSink sink;
    RecordingTest test;
    // The tree disappears under the walk: every further fetch of the level fails.
    test.onCall = [&](int call) {
        if (call == 1) tree.Delete();
    };
    std::atomic<int> result{-1};
    ScanGroup group(&sink, 8, [&](ScanGroup& g) {
        ScanRule rule(&g, tree.Pattern(L"@{.*}"), L"@{.*}@{.*}");
        result = PathWalker(rule, &test).Run(rule) ? 1 : 0;
        g.ReportFinish();
        return ScanGroup::ExitDone;
    });
    group.Start();
    group.Wait(20000);
    CHECK(group.ExitCode() == ScanGroup::ExitDone);
    CHECK(result == 1);
    CHECK(test.calls < 150);
    CHECK(sink.finished.size() == 1);
}

TEST_CASE("Pause, resume and stop of a running walk") {
    WalkTree tree(L"pause");
    for (int i = 0; i < 400; ++i) tree.Value(FormatText(L"k%03d", i), L"v", L"bad");
    TestSink sink;
    RecordingTest test;
    test.delay = 2;
    std::atomic<int> result{-1};
    ScanGroup group(&sink, 16, [&](ScanGroup& g) {
        ScanRule rule(&g, tree.Pattern(L"@{.*}"), L"@{.*}@{.*}");
        result = PathWalker(rule, &test).Run(rule) ? 1 : 0;
        g.ReportFinish();
        return g.StopRequested() ? ScanGroup::ExitStopped : ScanGroup::ExitDone;
    });
    group.Start();
    REQUIRE(Eventually([&] { return test.calls > 10; }));

    group.SetPause(true);
    Sleep(300);  // let the key in progress complete
    int held = test.calls;
    Sleep(300);
    CHECK(test.calls == held);

    group.SetPause(false);
    REQUIRE(Eventually([&] { return test.calls > held + 10; }));

    group.SetPause(true);
    Sleep(100);
    DWORD start = GetTickCount();
    group.RequestStop();
    group.Wait(5000);
    CHECK(GetTickCount() - start < 1000);
    CHECK(group.ExitCode() == ScanGroup::ExitStopped);
    CHECK(result == 1);  // a rooted walk returns true even when stopped
    CHECK(test.calls < 400);
    // Nothing is reported after the stop was seen.
    std::lock_guard<std::mutex> lock(sink.mutex);
    CHECK(sink.found.size() == size_t(test.calls.load()));
    CHECK(sink.finished.size() == 1);
}

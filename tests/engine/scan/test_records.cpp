#include <doctest/doctest.h>
#include <map>
#include "engine/scan/ScanRecord.h"

namespace {

ScanRecord Record(int32_t errorId, const wchar_t* key, const wchar_t* value) {
    ScanRecord r;
    r.ErrorID = errorId;
    r.KeyPath = key;
    r.ValueName = value;
    return r;
}

}  // namespace

TEST_CASE("A record made from a check result copies the finding and nothing else") {
    CheckResult c;
    c.ErrorID = 0x01300067;
    c.Item = L"{CLSID}";
    c.Reason = L"missing file";
    c.KeyPath = L"HKCR\\CLSID\\{CLSID}";
    c.ValueName = L"";
    ScanRecord r(c);
    CHECK(r.ErrorID == 0x01300067);
    CHECK(r.Item == L"{CLSID}");
    CHECK(r.Reason == L"missing file");
    CHECK(r.KeyPath == L"HKCR\\CLSID\\{CLSID}");
    CHECK(r.ValueName.empty());
    CHECK(r.Extra.empty());
    CHECK(r.Flag == 0);
}

TEST_CASE("Records order by unsigned ErrorID, then KeyPath, then ValueName") {
    // A code with the top bit set sorts after small codes.
    CHECK(Record(1, L"z", L"z") < Record(int32_t(0x80000000), L"a", L"a"));
    CHECK_FALSE(Record(int32_t(0x80000000), L"a", L"a") < Record(1, L"z", L"z"));
    CHECK(Record(5, L"HKCU\\A", L"z") < Record(5, L"HKCU\\B", L"a"));
    CHECK(Record(5, L"HKCU\\A", L"a") < Record(5, L"HKCU\\A", L"b"));
    // Code units, not letters: upper case sorts before lower case.
    CHECK(Record(5, L"HKCU\\Z", L"") < Record(5, L"HKCU\\a", L""));
    CHECK(Record(5, L"HKCU\\A", L"") < Record(5, L"HKCU\\A\\B", L""));
}

TEST_CASE("Item, Reason, extra text and flag do not make records different") {
    ScanRecord a = Record(7, L"HKLM\\k", L"v");
    ScanRecord b = a;
    b.Item = L"other";
    b.Reason = L"other";
    b.Extra = L"x";
    b.Flag = 1;
    CHECK(a.SameEntry(b));
    CHECK_FALSE(a < b);
    CHECK_FALSE(b < a);
    std::map<ScanRecord, int> index;
    index.emplace(a, 1);
    index.emplace(b, 2);
    CHECK(index.size() == 1);
    CHECK_FALSE(a.SameEntry(Record(8, L"HKLM\\k", L"v")));
    CHECK_FALSE(a.SameEntry(Record(7, L"HKLM\\K", L"v")));
    CHECK_FALSE(a.SameEntry(Record(7, L"HKLM\\k", L"")));
}

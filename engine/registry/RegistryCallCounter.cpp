#include "engine/registry/RegistryCallCounter.h"
#ifdef ORVANE_REGISTRY_COUNTS
// The counting build includes the header ahead of every source, this one too:
// here the names must mean the system's functions again.
#undef RegOpenKeyExW
#undef RegOpenKeyW
#undef RegCloseKey
#undef RegEnumKeyExW
#undef RegEnumValueW
#undef RegQueryValueExW
#undef RegQueryInfoKeyW
#include <cstdio>
#include <map>
#include <mutex>
#include <utility>

namespace {

enum Kind { Open, Close, EnumKey, EnumValue, QueryValue, QueryInfo, KindCount };
const char* const kKindNames[KindCount] = {"open", "close", "enum-key", "enum-value", "query-value", "query-info"};

using Row = std::pair<uint32_t, tstring>;
using Counts = unsigned long long[KindCount];

struct Table {
    std::mutex mutex;
    std::map<Row, Counts> rows;
    // Per thread, the counts of its current label (a plain TLS slot: the
    // engine's threads come and go without the runtime's thread hooks).
    DWORD slot = TlsAlloc();

    ~Table() {
        wchar_t path[MAX_PATH];
        if (!GetEnvironmentVariableW(L"ORVANE_REGISTRY_COUNTS", path, MAX_PATH)) return;
        FILE* file = _wfopen(path, L"a");
        if (!file) return;
        fprintf(file, "group\trule");
        for (const char* name : kKindNames) fprintf(file, "\t%s", name);
        fprintf(file, "\n");
        for (auto& row : rows) {
            fprintf(file, "%u\t%ls", row.first.first, row.first.second.c_str());
            for (unsigned long long count : row.second) fprintf(file, "\t%llu", count);
            fprintf(file, "\n");
        }
        fclose(file);
    }

    unsigned long long* RowOf(const Row& row) { return rows[row]; }
};

Table& TheTable() {
    static Table table;
    return table;
}

LONG Counted(Kind kind, LONG result) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto* counts = static_cast<unsigned long long*>(TlsGetValue(table.slot));
    if (!counts) counts = table.RowOf(Row(0, L"(outside the scan groups)"));
    ++counts[kind];
    return result;
}

}  // namespace

void RegistryCallCounter::Label(uint32_t group, const tstring& rule) {
    Table& table = TheTable();
    std::lock_guard<std::mutex> lock(table.mutex);
    TlsSetValue(table.slot, table.RowOf(Row(group, rule)));
}
LONG WINAPI CountedRegOpenKeyExW(HKEY a, LPCWSTR b, DWORD c, REGSAM d, PHKEY e) {
    return Counted(Open, RegOpenKeyExW(a, b, c, d, e));
}
LONG WINAPI CountedRegOpenKeyW(HKEY a, LPCWSTR b, PHKEY c) { return Counted(Open, RegOpenKeyW(a, b, c)); }
LONG WINAPI CountedRegCloseKey(HKEY a) { return Counted(Close, RegCloseKey(a)); }
LONG WINAPI CountedRegEnumKeyExW(HKEY a, DWORD b, LPWSTR c, LPDWORD d, LPDWORD e, LPWSTR f, LPDWORD g, PFILETIME h) {
    return Counted(EnumKey, RegEnumKeyExW(a, b, c, d, e, f, g, h));
}
LONG WINAPI CountedRegEnumValueW(HKEY a, DWORD b, LPWSTR c, LPDWORD d, LPDWORD e, LPDWORD f, LPBYTE g, LPDWORD h) {
    return Counted(EnumValue, RegEnumValueW(a, b, c, d, e, f, g, h));
}
LONG WINAPI CountedRegQueryValueExW(HKEY a, LPCWSTR b, LPDWORD c, LPDWORD d, LPBYTE e, LPDWORD f) {
    return Counted(QueryValue, RegQueryValueExW(a, b, c, d, e, f));
}
LONG WINAPI CountedRegQueryInfoKeyW(HKEY a, LPWSTR b, LPDWORD c, LPDWORD d, LPDWORD e, LPDWORD f, LPDWORD g,
                                    LPDWORD h, LPDWORD i, LPDWORD j, LPDWORD k, PFILETIME l) {
    return Counted(QueryInfo, RegQueryInfoKeyW(a, b, c, d, e, f, g, h, i, j, k, l));
}
#endif

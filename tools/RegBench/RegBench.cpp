// RegBench: the baseline and the load of the scan benchmark.
//   RegBench enum          times one plain enumeration of every key and value
//                          of HKLM and HKCU (names and data read once) and
//                          counts its registry calls by kind
//   RegBench plant N       writes N class registrations under HKLM\Software\Classes (Wine does
//                          not merge HKCU\Software\Classes into HKCR),
//                          each with an InprocServer32 naming an existing DLL
#include <windows.h>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct Counts {
    unsigned long long keys = 0, values = 0;
    unsigned long long opens = 0, closes = 0, keyEnums = 0, valueEnums = 0;
};

void Walk(HKEY key, Counts& counts, std::vector<wchar_t>& name, std::vector<BYTE>& data) {
    for (DWORD i = 0;; ++i) {
        DWORD length = DWORD(name.size()), type = 0, size = DWORD(data.size());
        LONG status = RegEnumValueW(key, i, name.data(), &length, nullptr, &type, data.data(), &size);
        ++counts.valueEnums;
        if (status == ERROR_MORE_DATA) {
            data.resize(size + 2);
            length = DWORD(name.size());
            size = DWORD(data.size());
            status = RegEnumValueW(key, i, name.data(), &length, nullptr, &type, data.data(), &size);
            ++counts.valueEnums;
        }
        if (status != ERROR_SUCCESS)
            break;
        ++counts.values;
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        DWORD length = DWORD(name.size());
        ++counts.keyEnums;
        if (RegEnumKeyExW(key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        children.emplace_back(name.data(), length);
    }
    for (const std::wstring& child : children) {
        HKEY sub;
        ++counts.opens;
        if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ, &sub) != ERROR_SUCCESS)
            continue;
        ++counts.keys;
        Walk(sub, counts, name, data);
        RegCloseKey(sub);
        ++counts.closes;
    }
}

int Enumerate() {
    LARGE_INTEGER freq, start, end;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&start);
    Counts counts;
    std::vector<wchar_t> name(32768);
    std::vector<BYTE> data(65536);
    Walk(HKEY_LOCAL_MACHINE, counts, name, data);
    Walk(HKEY_CURRENT_USER, counts, name, data);
    QueryPerformanceCounter(&end);
    double seconds = double(end.QuadPart - start.QuadPart) / double(freq.QuadPart);
    printf("enumeration: %.3f s, %llu keys, %llu values\n", seconds, counts.keys, counts.values);
    printf("calls: open %llu close %llu enum-key %llu enum-value %llu total %llu\n", counts.opens, counts.closes,
           counts.keyEnums, counts.valueEnums, counts.opens + counts.closes + counts.keyEnums + counts.valueEnums);
    return 0;
}

int Plant(long n) {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    std::wstring server = std::wstring(system) + L"\\ole32.dll";
    for (long i = 0; i < n; ++i) {
        wchar_t path[128];
        _snwprintf(path, 128, L"Software\\Classes\\CLSID\\{%08lX-0BE7-4C3A-9E11-5EED0BE7C0DE}\\InprocServer32",
                 0x0BE70000UL + unsigned(i));
        HKEY key;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != 0) {
            fprintf(stderr, "cannot create class %ld\n", i);
            return 1;
        }
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                       DWORD((server.size() + 1) * sizeof(wchar_t)));
        RegSetValueExW(key, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Both"), 10);
        RegCloseKey(key);
    }
    printf("planted %ld class registrations\n", n);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && wcscmp(argv[1], L"enum") == 0)
        return Enumerate();
    if (argc == 3 && wcscmp(argv[1], L"plant") == 0)
        return Plant(wcstol(argv[2], nullptr, 10));
    fprintf(stderr, "usage: RegBench enum | RegBench plant N\n");
    return 2;
}

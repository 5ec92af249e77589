// Backup benchmark helper (prints figures; not a test).
//   grow <MiB>        adds about that much binary value data under
//                     HKLM\Software\OrvaneBench
//   measure <folder>  a full backup into <folder>\full.bkp, then the same hives
//                     saved alone and compressed file by file with zlib alone
//                     at the same level
#include <windows.h>
#include <cstdio>
#include <vector>
#include "common/compress/ZlibFile.h"
#include "common/errors/ErrorBase.h"
#include "common/system/FileSystem.h"
#include "hives/BackupManager.h"
#include "hives/RBackup.h"

namespace {

double Seconds(const LARGE_INTEGER& from) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return double(now.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

uint64_t FileSize(const tstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesEx(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Value data that compresses about as well as real registry data does.
void Grow(int mebibytes) {
    HKEY root = nullptr;
    RegCreateKeyEx(HKEY_LOCAL_MACHINE, L"Software\\OrvaneBench", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root, nullptr);
    std::vector<BYTE> data(65536);
    uint32_t x = 2463534242u;
    for (int block = 0; block < mebibytes * 16; ++block) {
        HKEY key = nullptr;
        RegCreateKeyEx(root, FormatText(L"Key%05d", block / 64).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                       nullptr);
        for (size_t i = 0; i < data.size(); ++i) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            data[i] = BYTE((x & 0x30) ? 'A' + (i % 23) : x >> 24);
        }
        RegSetValueEx(key, FormatText(L"Value%d", block % 64).c_str(), 0, REG_BINARY, data.data(), DWORD(data.size()));
        RegCloseKey(key);
    }
    RegCloseKey(root);
    wprintf(L"grown by %d MiB of value data\n", mebibytes);
}


// Prints when each step of the backup begins.
class StepTimes : public RLog {
public:
    explicit StepTimes(const LARGE_INTEGER& start) : start_(start) {}
    int AddEntry(int level, const tstring&, const tstring& name) override {
        if (level == 3)
            wprintf(L"  %7.2f s  %ls\n", Seconds(start_), name.c_str());
        return 0;
    }
    void MarkDone(int) override {}

private:
    LARGE_INTEGER start_;
};

void Measure(const tstring& folder) {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    StepTimes steps(start);
    BackupManager manager;
    manager.SetProgress(&steps);
    manager.Create(1, folder + L"\\full.bkp", L"", false);
    double backup = Seconds(start);

    tstring hives = folder + L"\\hives";
    QueryPerformanceCounter(&start);
    {
        RBackup walker(hives);
        walker.backupAll();
    }
    double save = Seconds(start);
    uint64_t hiveBytes = 0, zlibBytes = 0;
    WIN32_FIND_DATA found;
    HANDLE search = FindFirstFile((hives + L"\\*.dat").c_str(), &found);
    std::vector<tstring> names;
    do
        names.push_back(found.cFileName);
    while (search != INVALID_HANDLE_VALUE && FindNextFile(search, &found));
    FindClose(search);
    QueryPerformanceCounter(&start);
    for (const tstring& name : names) {
        CompressFile(hives + L"\\" + name, hives + L"\\" + name + L".z", -1);
        hiveBytes += FileSize(hives + L"\\" + name);
        zlibBytes += FileSize(hives + L"\\" + name + L".z");
    }
    double zlib = Seconds(start);
    wprintf(L"saved hive data: %.1f MiB in %u files\n", hiveBytes / 1048576.0, unsigned(names.size()));
    wprintf(L"full backup (save, pack, compress, verify): %.2f s, %.1f MiB\n", backup,
            FileSize(folder + L"\\full.bkp") / 1048576.0);
    wprintf(L"save alone: %.2f s; zlib alone on the saved files: %.2f s, %.1f MiB\n", save, zlib,
            zlibBytes / 1048576.0);
    wprintf(L"ratio backup / (save + zlib): %.2f\n", backup / (save + zlib));
    wprintf(L"ratio backup / zlib alone: %.2f\n", backup / zlib);
    DeletePath(hives);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        if (argc == 3 && tstring(argv[1]) == L"grow")
            Grow(_wtoi(argv[2]));
        else if (argc == 3 && tstring(argv[1]) == L"measure")
            Measure(argv[2]);
        else
            return 2;
    } catch (const ErrorBase& e) {
        wprintf(L"error: %ls\n", e.Message().c_str());
        return 1;
    }
    return 0;
}

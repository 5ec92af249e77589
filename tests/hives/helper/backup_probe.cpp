// The backup files as the product writes and reads them, for the Python
// reader of the tests:
//   full <bkp>               a full backup with the system's hive functions,
//                            with a planted profile S-1-5-21-9-9-9-1001
//   catalogue <empty> <two>  an empty catalogue, and one of two fixed entries
//   read-catalogue <lst>     one line per entry: kind|path|comment|high:low
//   read-backup <bkp>        one line per entry of the pack: name|size
//   given-up-open <bkp>      a current user's backup given up while the
//                            compressor holds its pack open; the process
//                            then ends with the worker still stuck. Exit 0
//                            when so, 3 when the compressor ended first
// Failures print "error <code> <text>". Output is UTF-8.
#include <windows.h>
#include <cstdint>
#include <cstdio>
#include <vector>
#include "../PlantedProfile.h"
#include "common/compress/ZlibFile.h"
#include "common/errors/ErrorBase.h"
#include "common/filepack/FilePack.h"
#include "common/system/FileSystem.h"
#include "hives/BackupManager.h"
#include "hives/TempName.h"
#include "RecordingHiveOps.h"

namespace {

void Print(const tstring& line) {
    tstring text = line + _T("\n");
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &bytes[0], n, nullptr, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), stdout);
}

FILETIME Time(DWORD high, DWORD low) {
    FILETIME t;
    t.dwHighDateTime = high;
    t.dwLowDateTime = low;
    return t;
}

void Full(const tstring& target) {
    TCHAR temp[MAX_PATH];
    GetTempPath(MAX_PATH, temp);
    tstring folder = FormatText(_T("%sorvane-probe-profile-%u"), temp, unsigned(GetCurrentProcessId()));
    CreateFolderTree(folder);
    {
        PlantedProfile planted(_T("S-1-5-21-9-9-9-1001"), folder);
        BackupManager manager;
        manager.Create(1, target, _T(""), false);
    }
    DeletePath(folder);
    Print(_T("ok"));
}

void Catalogues(const tstring& empty, const tstring& two) {
    BackupCatalogue catalogue;
    catalogue.Save(empty);
    FILETIME first = Time(0x01C72E3F, 0x12345678), second = Time(0, 1);
    catalogue.AddEntry(1, _T("C:\\b\\x.bkp"), L"Kommentar \u00FC\r\nzwei", &first);
    catalogue.AddEntry(0, _T("\\\\srv\\s\\y.bkp"), _T(""), &second);
    catalogue.Save(two);
    Print(_T("ok"));
}

void ReadCatalogue(const tstring& path) {
    BackupCatalogue catalogue;
    catalogue.Load(path);
    for (int i = 0; i < catalogue.Count(); ++i) {
        const BackupEntry& e = catalogue.Entry(i);
        Print(FormatText(_T("%d|%s|%s|%08X:%08X"), int(e.kind), e.path.c_str(), e.comment.c_str(),
                         unsigned(e.time.dwHighDateTime), unsigned(e.time.dwLowDateTime)));
    }
}

void ReadBackup(const tstring& path) {
    TCHAR temp[MAX_PATH];
    GetTempPath(MAX_PATH, temp);
    tstring inflated = FormatText(_T("%sorvane-probe-pack-%u"), temp, unsigned(GetCurrentProcessId()));
    tstring packPath = DecompressFile(path, inflated) == 0 ? inflated : path;
    try {
        FilePack pack;
        pack.Open(packPath, true);
        for (auto it = pack.Begin(); it != pack.End(); ++it) {
            SharedBuffer data;
            pack.ReadEntry(it->first, data);
            Print(FormatText(_T("%s|%u"), it->first.c_str(), unsigned(data.Size())));
        }
        pack.Close();
    } catch (...) {
        DeleteFile(inflated.c_str());
        throw;
    }
    DeleteFile(inflated.c_str());
}


// The first entry of folder whose name starts with prefix ("" when none).
tstring FirstNamed(const tstring& folder, const TCHAR* prefix) {
    WIN32_FIND_DATA found;
    HANDLE search = FindFirstFile((folder + _T("\\") + prefix + _T("*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return tstring();
    FindClose(search);
    return folder + _T("\\") + found.cFileName;
}

uint64_t SizeOf(const tstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesEx(path.c_str(), GetFileExInfoStandard, &data))
        return 0;
    return (uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// Bytes that do not compress, so that compressing them takes a while.
void WritePadding(const tstring& path, size_t size) {
    std::vector<uint32_t> block(0x10000);
    uint32_t x = 2463534242u;
    HANDLE file = CreateFile(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    for (size_t done = 0; done < size; done += block.size() * 4) {
        for (uint32_t& word : block) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            word = x;
        }
        DWORD n = 0;
        WriteFile(file, block.data(), DWORD(block.size() * 4), &n, nullptr);
    }
    CloseHandle(file);
}

const size_t kPadding = 24u << 20;

struct StuckBackup : RLog {
    tstring target;
    BackupGate gate;
    BackupManager manager;
    RecordingHiveOps ops;
    HANDLE compressing = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    volatile LONG verifying = 0;
    int AddEntry(int, const tstring&, const tstring& name) override {
        if (name == _T("Creating backup file"))
            WritePadding(FirstNamed(TempFolder().substr(0, TempFolder().size() - 1), _T("bkp")) + _T("\\padding.dat"),
                         kPadding);
        else if (name == _T("Compressing backup file"))
            SetEvent(compressing);
        else if (name == _T("Verifying backup file"))
            InterlockedExchange(&verifying, 1);
        return 0;
    }
    void MarkDone(int) override {}
};

DWORD WINAPI StuckWorker(void* argument) {
    auto* backup = static_cast<StuckBackup*>(argument);
    try {
        backup->manager.Create(0, backup->target, _T(""), false);
    } catch (...) {
    }
    return 0;
}

// Never returns: the process ends here, its worker suspended in the
// compressor or wherever it was.
[[noreturn]] void EndWith(int code, const tstring& line) {
    Print(line);
    fflush(stdout);
    ExitProcess(UINT(code));
}

void GivenUpOpen(const tstring& target) {
    // Left to the process's end: the worker uses it to the last.
    auto* backup = new StuckBackup;
    backup->target = target;
    backup->manager.Load(tstring());
    backup->manager.SetGate(&backup->gate);
    backup->manager.SetProgress(backup);
    HANDLE worker = CreateThread(nullptr, 0, StuckWorker, backup, 0, nullptr);
    if (!worker || WaitForSingleObject(backup->compressing, 120000) != WAIT_OBJECT_0)
        EndWith(4, _T("error the backup never reached its compression"));
    // The new file grows once the compressor has opened the pack and it.
    tstring folder = target.substr(0, target.rfind(_T('\\')));
    tstring beside;
    for (int i = 0; i < 60000 && (beside.empty() || SizeOf(beside) == 0) && !backup->verifying; ++i) {
        Sleep(1);
        if (beside.empty())
            beside = FirstNamed(folder, _T("bkp"));
    }
    SuspendThread(worker);
    if (backup->verifying || beside.empty() || SizeOf(beside) == 0 || SizeOf(beside) >= kPadding * 9 / 10)
        EndWith(3, _T("missed: the compression ended before the worker was stopped"));
    tstring temp = TempFolder().substr(0, TempFolder().size() - 1);
    tstring work = FirstNamed(temp, _T("bkp")), pack = FirstNamed(temp, _T("unc"));
    backup->gate.GiveUp();
    backup->gate.DropFiles();
    // The work folder goes at once; the pack, which the compressor holds,
    // is deleted last, and is no more to be opened once it is.
    for (int i = 0; i < 300 && GetFileAttributes(work.c_str()) != INVALID_FILE_ATTRIBUTES; ++i)
        Sleep(100);
    for (int i = 0; i < 100; ++i) {
        HANDLE file = CreateFile(pack.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            break;
        CloseHandle(file);
        Sleep(100);
    }
    EndWith(0, _T("given up with the pack open: ") + pack);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    tstring command = argc > 1 ? argv[1] : L"";
    try {
        if (command == L"full" && argc == 3)
            Full(argv[2]);
        else if (command == L"catalogue" && argc == 4)
            Catalogues(argv[2], argv[3]);
        else if (command == L"read-catalogue" && argc == 3)
            ReadCatalogue(argv[2]);
        else if (command == L"read-backup" && argc == 3)
            ReadBackup(argv[2]);
        else if (command == L"given-up-open" && argc == 3)
            GivenUpOpen(argv[2]);
        else
            return 2;
    } catch (const ErrorBase& e) {
        Print(FormatText(_T("error %08X %s"), unsigned(e.Code()), e.Message().c_str()));
    }
    return 0;
}

// The backup files as the product writes and reads them, for the Python
// reader of the tests:
//   full <bkp>               a full backup with the system's hive functions,
//                            with a planted profile S-1-5-21-9-9-9-1001
//   catalogue <empty> <two>  an empty catalogue, and one of two fixed entries
//   read-catalogue <lst>     one line per entry: kind|path|comment|high:low
//   read-backup <bkp>        one line per entry of the pack: name|size
// Failures print "error <code> <text>". Output is UTF-8.
#include <windows.h>
#include <cstdio>
#include "../PlantedProfile.h"
#include "common/compress/ZlibFile.h"
#include "common/errors/ErrorBase.h"
#include "common/filepack/FilePack.h"
#include "common/system/FileSystem.h"
#include "hives/BackupManager.h"

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
        else
            return 2;
    } catch (const ErrorBase& e) {
        Print(FormatText(_T("error %08X %s"), unsigned(e.Code()), e.Message().c_str()));
    }
    return 0;
}

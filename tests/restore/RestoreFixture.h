#pragma once
#include <windows.h>
#include <map>
#include <string>
#include <vector>
#include "FileBytes.h"
#include "TempFolder.h"
#include "common/system/FileSystem.h"
#include "restore/RestoreReport.h"

// The folder the build writes the test backups to, beside the test program.
inline tstring FixturePath(const tstring& name) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    tstring folder(path);
    return folder.substr(0, folder.rfind('\\')) + "\\fixtures\\" + name;
}

inline std::string EntryData(const tstring& name) {
    return ReadAll(FixturePath("entries\\" + name), "<missing fixture>");
}

// An offline Windows as the rescue system sees it: <root>\WIN\system32\config
// with the five machine hive files of known content, a Temp folder unless
// told otherwise, and a folder for the backup file.
class FakeWindows {
public:
    static constexpr const char* kHives[] = {"SOFTWARE", "SYSTEM", "SAM", "SECURITY", "DEFAULT"};

    explicit FakeWindows(bool withTemp = true) : root_("restore") {
        CreateFolderTree(Config(""));
        CreateFolderTree(root_ / "backup");
        if (withTemp)
            CreateFolderTree(Temp());
        for (const char* hive : kHives)
            WriteAll(Config(hive), std::string("original ") + hive + " hive\n" + std::string(3000, hive[1]));
    }

    tstring Windows() const { return root_ / "WIN"; }
    tstring Temp() const { return root_ / "WIN\\Temp"; }
    tstring Config(const tstring& name) const { return root_ / ("WIN\\system32\\config\\" + name); }
    tstring BackupFolder() const { return root_ / "backup"; }

    // The fixture copied into the backup folder; its path there.
    tstring Backup(const tstring& fixture) const {
        tstring target = BackupFolder() + "\\" + fixture;
        CopyFileA(FixturePath(fixture).c_str(), target.c_str(), FALSE);
        return target;
    }

    // Every file of the config folder with its bytes.
    std::map<tstring, std::string> Snapshot() const { return Files(Config("")); }

    static std::map<tstring, std::string> Files(const tstring& folder) {
        std::map<tstring, std::string> files;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return files;
        do {
            tstring name = found.cFileName;
            if (name != "." && name != "..")
                files[name] = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "<folder>"
                                                                                    : ReadAll(folder + "\\" + name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
        return files;
    }

private:
    TempFolder root_;
};

class RecordingReport : public RestoreReport {
public:
    void ShowError(const tstring& text) override { errors.push_back(text); }
    void PassOver(const tstring& entryName) override { passedOver.push_back(entryName); }
    std::vector<tstring> errors, passedOver;
};

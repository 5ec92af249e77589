#pragma once
#include <windows.h>
#include <cstdint>
#include <vector>
#include "common/tstring/tstring.h"

// Where the catalogue learns the time: the real clock and the files' creation
// times, or whatever a test sets.
class UndoClock {
public:
    virtual ~UndoClock() = default;
    // Now, in UTC.
    virtual FILETIME Now() const;
    // A listed file's creation time in UTC.
    virtual FILETIME CreationTime(const tstring& path, const WIN32_FIND_DATAW& found) const;

    static const UndoClock& System();
};

// One usable undo file of the undo folder.
struct UndoFileInfo {
    tstring FileName;    // inside the undo folder
    tstring DateText;    // creation time in local time, "%c"
    SYSTEMTIME Time;     // creation time in UTC
    int32_t FixesCount;  // entries not yet undone
};

// The undo folder: lists its usable undo files, deletes used-up ones, keeps it
// from growing past the 30 newest files with older ones of earlier months,
// and names each new undo file.
class UndoCatalogue {
public:
    static const size_t KeptFiles = 30;

    // folder: the undo folder (a "\" is added when missing). The clock must
    // outlive the catalogue.
    explicit UndoCatalogue(const tstring& folder, const UndoClock& clock = UndoClock::System());

    const tstring& Folder() const { return folder_; }

    // The usable files, oldest first. A file with nothing left to undo is
    // deleted; one that cannot be trusted or read now is kept, left out and
    // written to the program log. E_INVALIDARG when a time cannot be
    // converted. Nothing without a folder.
    std::vector<UndoFileInfo> List() const;

    // Deletes files of earlier months beyond the 30 newest.
    void Purge() const;

    // Purges, then the full path for a new undo file: the local time and the
    // process id ("MMDDYYYYhhmmssmmm" then the id twice) and ".dat". A name
    // already taken gets "-2", "-3", ... before ".dat", so that no session
    // ever writes over another's file. ErrorBase without a folder.
    tstring NewFileName() const;

    // The name part alone, for a local time and a process id.
    static tstring FormatFileName(const SYSTEMTIME& local, DWORD processId);

private:
    tstring folder_;
    const UndoClock& clock_;
};

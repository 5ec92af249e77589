#pragma once
#include <windows.h>
#include <functional>
#include <vector>
#include "common/tstring/tstring.h"

// The outside burning tool "cdrecord.exe" in a folder the user names: its
// command lines and what its output means.
class CdRecord {
public:
    // A CD or DVD device of the bus listing: its whole bus address
    // ("10,0,0", "ATA:1,0,0") and the rest of its line as the user sees it.
    struct Device {
        tstring address;
        tstring text;
    };

    explicit CdRecord(const tstring& folder) : folder_(folder) {}

    tstring ProgramPath() const;
    // The program's path is quoted: its folder may hold blanks
    // ("C:\Program Files\...").
    tstring ScanBusCommand() const;
    tstring BurnCommand(const tstring& device, bool eject, const tstring& isoFile) const;

    // The devices of a "-scanbus" listing: the lines naming "CD-ROM" or
    // "DVD-ROM" that hold a ")".
    static std::vector<Device> ParseDevices(const tstring& listing);

    // Runs a command line with its output on a pipe, hands each piece read
    // (up to pieceSize bytes, as narrow text) to onPiece, waits for the end
    // and returns the exit code. Start failures throw ErrorBase.
    static DWORD Run(const tstring& commandLine, DWORD pieceSize, const std::function<void(const tstring&)>& onPiece);

private:
    tstring folder_;
};

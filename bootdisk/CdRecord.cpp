#include "bootdisk/CdRecord.h"
#include <vector>
#include "common/system/HandleHolder.h"
#include "common/system/RunProcess.h"

tstring CdRecord::ProgramPath() const { return folder_ + L"\\cdrecord.exe"; }

tstring CdRecord::ScanBusCommand() const { return L"\"" + ProgramPath() + L"\" -scanbus"; }

tstring CdRecord::BurnCommand(const tstring& device, bool eject, const tstring& isoFile) const {
    return L"\"" + ProgramPath() + L"\" dev=" + device + L" driveropts=burnfree " + (eject ? L"-eject" : L"") +
           L" \"" + isoFile + L"\"";
}

std::vector<CdRecord::Device> CdRecord::ParseDevices(const tstring& listing) {
    std::vector<Device> devices;
    size_t start = 0;
    while (start <= listing.size()) {
        size_t end = listing.find(L'\n', start);
        tstring line = listing.substr(start, end == tstring::npos ? tstring::npos : end - start);
        start = end == tstring::npos ? listing.size() + 1 : end + 1;
        if (line.find(L"CD-ROM") == tstring::npos && line.find(L"DVD-ROM") == tstring::npos) continue;
        tstring clean;
        for (wchar_t c : line) {
            if (c == L'\r' || c == L'\n' || c == L'\'') continue;
            clean += c == L'\t' ? L' ' : c;
        }
        size_t first = clean.find_first_not_of(L' ');
        size_t paren = clean.find(L')');
        if (first == tstring::npos || paren == tstring::npos) continue;
        // "\t10,0,0\t  1000) 'vendor' ..." : the address is the first word;
        // the number before ")" is the tool's device index.
        tstring head = clean.substr(first, paren - first);
        size_t blank = head.find(L' ');
        tstring address = blank == tstring::npos ? head : head.substr(0, blank);
        if (address.empty()) continue;
        devices.push_back({address, clean.substr(paren + 1)});
    }
    return devices;
}

DWORD CdRecord::Run(const tstring& commandLine, DWORD pieceSize,
                    const std::function<void(const tstring&)>& onPiece) {
    PROCESS_INFORMATION started = {};
    HANDLE pipe = nullptr;
    RunProcess(commandLine, started, pipe);
    HandleHolder process(started.hProcess), thread(started.hThread), output(pipe);
    std::vector<char> buffer(pieceSize + 1);
    DWORD read = 0;
    while (ReadFile(output, buffer.data(), pieceSize, &read, nullptr) && read > 0) {
        buffer[read] = '\0';
        onPiece(tstring::FromNarrow(buffer.data()));
    }
    WaitForSingleObject(process, INFINITE);
    DWORD code = 1;
    if (!GetExitCodeProcess(process, &code)) code = 1;
    return code;
}

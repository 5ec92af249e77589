// Stands in for cdrecord in the tests: "-scanbus" lists a bus with a CD
// writer, an empty slot, a disk and a DVD drive; a burn (dev=, driveropts=
// burnfree, maybe -eject, an existing image) prints progress with
// backspaces, carriage returns and runs of blanks and exits with
// ORVANE_FAKE_EXIT. Anything else exits with 90.
#include <string>
#include "FakeLog.h"

int wmain(int argc, wchar_t** argv) {
    LogStart(L"cdrecord.log");
    if (argc == 2 && wcscmp(argv[1], L"-scanbus") == 0) {
        Print("Cdrecord-Clone 2.01 (i686-pc-mingw32) Copyright (C) 1995-2004 Joerg Schilling\n"
              "scsidev: 'ATA:'\n"
              "scsibus10:\n"
              "\t10,0,0\t1000) 'HL-DT-ST' 'DVDRAM GSA-H42L ' 'SL01' Removable CD-ROM\n"
              "\t10,1,0\t1001) *\n"
              "\t10,2,0\t1002) 'WDC' 'WD800JB' '1C05' Disk\n"
              "scsibus1:\n"
              "\t1,0,0\t100) 'O<b>Neil \"Optics\"' 'DVD-ROM \\ SH-D162C' 'TS02' Removable DVD-ROM\r\n");
        return 0;
    }
    bool eject = argc == 5 && wcscmp(argv[3], L"-eject") == 0;
    if (argc != (eject ? 5 : 4) || wcsncmp(argv[1], L"dev=", 4) != 0 || wcscmp(argv[2], L"driveropts=burnfree") != 0 ||
        GetFileAttributesW(argv[argc - 1]) == INVALID_FILE_ATTRIBUTES) {
        Print("cdrecord: No such file or directory. Cannot open image.\n");
        return 90;
    }
    std::string back(8, '\b');
    Print("Starting to write CD/DVD at speed 48 in real TAO mode for single session.\n"
          "Track 01:    0 of    1 MB written." + back + "\rTrack 01:    1 of    1 MB written (fifo 100%) [buf  99%]\t48.0x.\n"
          "Fixating...\nFixating time:             5.021s\n" + std::string(eject ? "Ejecting <tray>\n" : "") +
          "cdrecord: 'done'\n");
    return ChosenExitCode(L"ORVANE_FAKE_EXIT");
}

#include <doctest/doctest.h>
#include <windows.h>
#include "ArchiveTestFiles.h"
#include "common/archive/Archive.h"

TEST_CASE("Archive: a discarded stream leaves its file as it was") {
    TempFolder folder(_T("discard"));
    tstring path = folder.File(_T("kept.bin"));
    {
        Archive archive(path, Archive::ModeCreate);
        archive.WriteInt(0x11223344);
    }
    for (int32_t mode : {int32_t(Archive::ModeCreate), int32_t(Archive::ModeReadWrite)}) {
        Archive archive(path, mode);
        archive.Seek(0, 0);
        archive.WriteInt(0x55667788);
        archive.WriteInt(7);
        archive.Discard();
        CHECK_FALSE(archive.IsOpen());
        CHECK(archive.Path().empty());
        archive.Close();
    }
    Archive check(path, Archive::ModeRead);
    CHECK(check.Size() == 4);
    CHECK(check.ReadInt() == 0x11223344);
    CHECK(folder.Files().size() == 1);
    check.Discard();
    Archive reopened(path, Archive::ModeReadWrite);
    CHECK(reopened.Size() == 4);
}

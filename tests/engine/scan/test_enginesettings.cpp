#include <doctest/doctest.h>
#include <shlwapi.h>
#include "common/log/Log.h"
#include "common/settings/AppFolders.h"
#include "engine/scan/EngineSettings.h"
#include "test_ignore_files.h"

using namespace ignoretest;

namespace {

const EngineSettings::Switch kSwitches[] = {
    EngineSettings::ReportMailSwitch, EngineSettings::ScanResultsThreshold, EngineSettings::AutoFix,
    EngineSettings::AutoReboot,       EngineSettings::AutoBackupSwitch,     EngineSettings::BackupRetentionSwitch,
};

// Restores the process-wide switch for the tests that follow.
struct UseFileRestore {
    ~UseFileRestore() { EngineSettings::PutUseFile(1); }
};

// Sends the program log to a file of the test's own until the scope ends.
struct OwnLog {
    explicit OwnLog(const tstring& path) : old(Log::Instance().FileName()) { Log::Instance().SetFileName(path); }
    ~OwnLog() { Log::Instance().SetFileName(old); }
    tstring old;
};

}  // namespace

TEST_CASE("A switch is on exactly when 1 is put") {
    TempFolder folder(L"ignore");
    Settings settings(true, folder.File(L"settings.dat"));
    EngineSettings engine(settings);
    for (auto which : kSwitches) {
        CAPTURE(int(which));
        engine.PutSwitch(which, 1);
        CHECK(engine.GetSwitch(which) == 1);
        engine.PutSwitch(which, 2);
        CHECK(engine.GetSwitch(which) == 0);
        engine.PutSwitch(which, 1);
        engine.PutSwitch(which, -1);
        CHECK(engine.GetSwitch(which) == 0);
    }
}

TEST_CASE("Engine settings travel through the settings file") {
    TempFolder folder(L"ignore");
    tstring path = folder.File(L"settings.dat");
    {
        Settings settings(true, path);
        EngineSettings engine(settings);
        engine.PutSwitch(EngineSettings::ReportMailSwitch, 1);
        engine.PutSwitch(EngineSettings::ScanResultsThreshold, 0);
        engine.PutSwitch(EngineSettings::AutoFix, 1);
        engine.PutSwitch(EngineSettings::AutoReboot, 0);
        engine.PutSwitch(EngineSettings::AutoBackupSwitch, 1);
        engine.PutSwitch(EngineSettings::BackupRetentionSwitch, 0);
        engine.PutText(EngineSettings::ReportMail, L"admin@example.com");
        engine.PutText(EngineSettings::ReportMailServer, L"mx.example.com");
        engine.PutText(EngineSettings::PEBuilderDirectory, L"C:\\pebuilder");
        engine.PutText(EngineSettings::WindowsDirectory, L"D:\\i386/");
        engine.PutText(EngineSettings::UndoDirectory, folder.File(L"undo"));
        engine.PutText(EngineSettings::BackupDirectory, folder.File(L"backup\\"));
        engine.PutSkipScanDrives(2);
    }
    REQUIRE(FileExists(path));
    Settings settings(true, path);
    EngineSettings engine(settings);
    CHECK(engine.GetSwitch(EngineSettings::ReportMailSwitch) == 1);
    CHECK(engine.GetSwitch(EngineSettings::ScanResultsThreshold) == 0);
    CHECK(engine.GetSwitch(EngineSettings::AutoFix) == 1);
    CHECK(engine.GetSwitch(EngineSettings::AutoReboot) == 0);
    CHECK(engine.GetSwitch(EngineSettings::AutoBackupSwitch) == 1);
    CHECK(engine.GetSwitch(EngineSettings::BackupRetentionSwitch) == 0);
    CHECK(engine.GetText(EngineSettings::ReportMail) == L"admin@example.com");
    CHECK(engine.GetText(EngineSettings::ReportMailServer) == L"mx.example.com");
    CHECK(engine.GetText(EngineSettings::PEBuilderDirectory) == L"C:\\pebuilder\\");
    CHECK(engine.GetText(EngineSettings::WindowsDirectory) == L"D:\\i386/");
    CHECK(EngineSettings::GetSkipScanDrives() == 2);
    // Reading a configured folder creates it.
    CHECK(engine.GetText(EngineSettings::UndoDirectory) == folder.File(L"undo\\"));
    CHECK(PathIsDirectoryW(folder.File(L"undo").c_str()));
    CHECK(engine.GetText(EngineSettings::BackupDirectory) == folder.File(L"backup\\"));
    CHECK(PathIsDirectoryW(folder.File(L"backup").c_str()));
}

TEST_CASE("A drive-skip mask of 0 reads as 6 and keeps the 6") {
    TempFolder folder(L"ignore");
    Settings settings(true, folder.File(L"settings.dat"));
    EngineSettings engine(settings);
    engine.PutSkipScanDrives(0);
    CHECK(EngineSettings::GetSkipScanDrives() == 6);
    CHECK(Settings::GetSkipScanDrives() == 6);
    engine.PutSkipScanDrives(4);
    CHECK(EngineSettings::GetSkipScanDrives() == 4);
    engine.PutSkipScanDrives(-1);
    CHECK(EngineSettings::GetSkipScanDrives() == -1);
}

TEST_CASE("An unset undo folder reads as the data folder's UndoData, which is made") {
    TempFolder folder(L"ignore");
    Settings settings(true, folder.File(L"settings.dat"));
    EngineSettings engine(settings);
    tstring expected = GetAppFolder(true) + L"\\UndoData\\";
    CHECK(engine.GetText(EngineSettings::UndoDirectory) == expected);
    CHECK(PathIsDirectoryW(expected.c_str()));
    CHECK(engine.GetText(EngineSettings::BackupDirectory) == GetAppFolder(true) + L"\\BackupData\\");
}

TEST_CASE("UseFile 1 alone makes a settings object use the file") {
    UseFileRestore restore;
    TempFolder folder(L"ignore");
    tstring path = folder.File(L"settings.dat");
    {
        Settings settings(true, path);
        EngineSettings(settings).PutText(EngineSettings::ReportMail, L"kept@example.com");
    }
    std::string before = ReadAll(path);
    REQUIRE_FALSE(before.empty());

    for (long value : {0L, 2L, -1L}) {
        CAPTURE(value);
        EngineSettings::PutUseFile(value);
        Settings settings(true, path);
        EngineSettings engine(settings);
        CHECK_FALSE(settings.Loaded());
        CHECK(engine.GetText(EngineSettings::ReportMail).empty());
        engine.PutText(EngineSettings::ReportMail, L"never@example.com");
    }
    CHECK(ReadAll(path) == before);

    EngineSettings::PutUseFile(1);
    Settings settings(true, path);
    CHECK(settings.Loaded());
    CHECK(EngineSettings(settings).GetText(EngineSettings::ReportMail) == L"kept@example.com");
}

TEST_CASE("A put is in the file at once; a file in use is logged and gets the change with a later put") {
    TempFolder folder(L"ignore");
    tstring path = folder.File(L"settings.dat");
    OwnLog ownLog(folder.File(L"orvane.log"));
    Settings settings(true, path);
    EngineSettings engine(settings);
    engine.PutSwitch(EngineSettings::AutoFix, 1);
    Settings::Values v;
    REQUIRE(Settings::ReadFile(path, v) == 0);
    CHECK(v.flags[Settings::AutoFixFlag]);

    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    REQUIRE(held != INVALID_HANDLE_VALUE);
    engine.PutSwitch(EngineSettings::AutoReboot, 1);
    CloseHandle(held);
    std::string bytes = ReadAll(folder.File(L"orvane.log"));
    std::wstring log(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    CHECK(log.find(L"The settings file " + path + L" cannot be saved (0x80070020)") != std::wstring::npos);
    REQUIRE(Settings::ReadFile(path, v) == 0);
    CHECK_FALSE(v.flags[Settings::AutoRebootFlag]);

    engine.PutText(EngineSettings::ReportMail, L"later@example.com");
    REQUIRE(Settings::ReadFile(path, v) == 0);
    CHECK(v.flags[Settings::AutoRebootFlag]);
    CHECK(v.texts[Settings::MailText] == L"later@example.com");
}

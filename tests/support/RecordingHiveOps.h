#pragma once
#include <windows.h>
#include <vector>
#include "common/system/Security.h"
#include "common/tstring/tstring.h"
#include "hives/HiveOps.h"

// The hive functions for tests under Wine: save, load and unload reach the
// registry; replacements (a stub in Wine, a reboot on Windows) are recorded.
// Any call can be made to fail: FailOn("Replace", 2) fails the second
// replacement with the given status; a save can be held (HoldOn).
//
// Wine answers a load onto a loaded hive with 183 where Windows says 32, and
// its profiles have no hive files: a load of the current user's hives is
// answered 32 without calling, so the walk saves the live HKU\<sid> keys.
class RecordingHiveOps : public HiveOps {
public:
    struct Replacement {
        tstring key;  // "HKLM\Software", "HKU\<sid>"; the hive's name for an open key
        tstring newFile;
        tstring oldFile;
        tstring hiveName;
    };

    RecordingHiveOps() : previous_(SetHiveOps(this)), current_(CurrentUserSid()) {}
    ~RecordingHiveOps() override {
        SetHiveOps(previous_);
        CloseHandle(reached_);
        CloseHandle(release_);
    }
    RecordingHiveOps(const RecordingHiveOps&) = delete;
    RecordingHiveOps& operator=(const RecordingHiveOps&) = delete;

    void FailOn(const tstring& call, int nth, LONG status = ERROR_ACCESS_DENIED) {
        failCall_ = call;
        failAt_ = nth;
        failStatus_ = status;
    }

    // HoldOn("Save", 1): the next save waits, as a write to a disk that
    // stopped answering does, until Release; after two minutes it goes on.
    // Like the system's save under way, it holds its file open meanwhile,
    // so the folder it saves into cannot be deleted under it.
    void HoldOn(const tstring& call, int nth) {
        holdCall_ = call;
        holdAt_ = nth;
        holdCalls_ = 0;
    }
    // The held call has been reached.
    bool Holding() const { return WaitForSingleObject(reached_, 0) == WAIT_OBJECT_0; }
    void Release() { SetEvent(release_); }

    LONG Save(HKEY key, const tstring& file) override {
        Hold(_T("Save"), file);
        saved.push_back(file);
        if (Fails(_T("Save")))
            return failStatus_;
        return system_.Save(key, file);
    }
    LONG Load(HKEY root, const tstring& subKey, const tstring& file) override {
        if (Fails(_T("Load")))
            return failStatus_;
        if (root == HKEY_USERS && (subKey == current_ || subKey == current_ + _T("_Classes")))
            return ERROR_SHARING_VIOLATION;
        loaded.push_back(subKey);
        return system_.Load(root, subKey, file);
    }
    LONG Unload(HKEY root, const tstring& subKey) override {
        unloaded.push_back(subKey);
        return system_.Unload(root, subKey);
    }
    LONG Replace(HKEY root, const tstring& subKey, const tstring& newFile, const tstring& oldFile,
                 const tstring& hiveName) override {
        if (Fails(_T("Replace")))
            return failStatus_;
        tstring key = hiveName;
        if (!subKey.empty())
            key = (root == HKEY_LOCAL_MACHINE ? _T("HKLM\\") : root == HKEY_USERS ? _T("HKU\\") : _T("?\\")) + subKey;
        replaced.push_back({key, newFile, oldFile, hiveName});
        return ERROR_SUCCESS;
    }

    std::vector<tstring> saved, loaded, unloaded;
    std::vector<Replacement> replaced;

private:
    void Hold(const tstring& call, const tstring& file) {
        if (call != holdCall_ || ++holdCalls_ != holdAt_)
            return;
        HANDLE held = CreateFile(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        SetEvent(reached_);
        WaitForSingleObject(release_, 120000);
        if (held != INVALID_HANDLE_VALUE) {
            CloseHandle(held);
            DeleteFile(file.c_str());
        }
    }
    bool Fails(const tstring& call) {
        if (call != failCall_)
            return false;
        return ++calls_ == failAt_;
    }

    SystemHiveOps system_;
    HiveOps* previous_;
    tstring current_;
    tstring failCall_;
    int failAt_ = 0;
    int calls_ = 0;
    LONG failStatus_ = ERROR_ACCESS_DENIED;
    tstring holdCall_;
    int holdAt_ = 0;
    int holdCalls_ = 0;
    HANDLE reached_ = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    HANDLE release_ = CreateEvent(nullptr, TRUE, FALSE, nullptr);
};

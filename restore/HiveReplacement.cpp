#include "restore/HiveReplacement.h"
#include "common/errors/ErrorBase.h"
#include "common/errors/ErrorText.h"
#include "common/system/FileSystem.h"
#include "common/system/HandleHolder.h"

namespace {

const int kMaxAsideNames = 1000;

ErrorBase ReplaceError(const tstring& target, DWORD error) {
    int32_t code = FoldWin32(int32_t(error ? error : ERROR_ACCESS_DENIED));
    return ErrorBase(code,
                     FormatText(_T("Can't replace file: %s. %s"), target.c_str(), ErrorText(code, nullptr).c_str()));
}

bool Exists(const tstring& path) {
    return GetFileAttributes(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

HiveReplacement::HiveReplacement(const tstring& configFolder) : configFolder_(configFolder) {}

HiveReplacement::~HiveReplacement() {
    if (!finished_)
        RollBack();
}

void HiveReplacement::Add(const tstring& source, const tstring& hiveName) {
    tstring target = configFolder_ + _T("\\") + hiveName;
    for (const Hive& hive : hives_) {
        if (hive.target.CompareNoCase(target.c_str()) == 0)
            return;
    }
    Hive hive;
    hive.source = source;
    hive.target = target;
    hives_.push_back(hive);
}

void HiveReplacement::CheckTargets() const {
    for (const Hive& hive : hives_) {
        if (!Exists(hive.target))
            continue;
        // What the moves below need: the right to rename the file away, which
        // a holder that does not share deletion refuses, and to write it
        // (a read-only file cannot be replaced).
        HandleHolder file(CreateFile(hive.target.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.IsValid())
            throw ReplaceError(hive.target, GetLastError());
    }
}

void HiveReplacement::ReplaceAll() {
    for (Hive& hive : hives_) {
        try {
            ReplaceHive(hive);
        } catch (const ErrorBase& e) {
            std::vector<tstring> left = RollBack();
            finished_ = true;
            if (left.empty())
                throw;
            tstring text = e.Message();
            text += _T("\nThese files could not be put back and were left as they are:");
            for (const tstring& name : left)
                text += _T("\n") + name;
            throw ErrorBase(e.Code(), text);
        }
    }
    finished_ = true;
    DropAsideCopies();
}

void HiveReplacement::ReplaceHive(Hive& hive) {
    hive.attempted = true;
    hive.existed = Exists(hive.target);
    if (hive.existed)
        MoveAside(hive);
    if (!MoveFileEx(hive.source.c_str(), hive.target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))
        throw ReplaceError(hive.target, GetLastError());
}

void HiveReplacement::MoveAside(Hive& hive) {
    for (int n = 0; n < kMaxAsideNames; ++n) {
        tstring aside = n == 0 ? hive.target + _T(".orvane_old")
                               : FormatText(_T("%s.orvane_old%d"), hive.target.c_str(), n);
        // No replacing: a name that is taken is some other file's.
        if (MoveFileEx(hive.target.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH)) {
            hive.aside = aside;
            return;
        }
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            throw ReplaceError(hive.target, error);
    }
    throw ReplaceError(hive.target, ERROR_ALREADY_EXISTS);
}

std::vector<tstring> HiveReplacement::RollBack() {
    std::vector<tstring> left;
    for (auto hive = hives_.rbegin(); hive != hives_.rend(); ++hive) {
        if (!hive->attempted)
            continue;
        if (!hive->aside.empty()) {
            // Over whatever is at the target now: the new hive, or part of a
            // copy that broke off.
            if (MoveFileEx(hive->aside.c_str(), hive->target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                hive->aside.clear();
            else
                left.push_back(hive->aside);
        } else if (!hive->existed && Exists(hive->target)) {
            if (!DeleteFile(hive->target.c_str()))
                left.push_back(hive->target);
        }
        hive->attempted = false;
    }
    return left;
}

void HiveReplacement::DropAsideCopies() {
    // Every hive is in place: a copy that cannot be deleted only takes room.
    for (Hive& hive : hives_) {
        if (!hive.aside.empty() && DeleteFile(hive.aside.c_str()))
            hive.aside.clear();
    }
}

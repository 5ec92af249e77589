#include "hives/CompactFlags.h"
#include <vector>
#include "common/errors/ErrorBase.h"
#include "common/system/Security.h"

const TCHAR CompactFlags::kMappingName[] = _T("Global\\ORVANE_COMPACT_1D9CEF5B-A483-404d-9FDB-F674BEC039BD");
const TCHAR CompactFlags::kCompactAll[] = _T("CompactAll");

namespace {

std::vector<tstring> Entries(const tstring& text) {
    std::vector<tstring> entries;
    size_t start = 0;
    for (size_t tab = text.find(_T('\t')); tab != tstring::npos; tab = text.find(_T('\t'), start)) {
        entries.push_back(text.substr(start, tab - start));
        start = tab + 1;
    }
    return entries;
}

Win32Error LastError() {
    DWORD error = GetLastError();
    return Win32Error(int32_t(error ? error : ERROR_INVALID_HANDLE));
}

}  // namespace

CompactFlags::~CompactFlags() {
    Close();
    if (mapping_ && !created_)
        CloseHandle(mapping_);
}

void CompactFlags::Open(bool create) {
    Close();
    if (create) {
        HANDLE mapping = CreateFileMapping(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kSize, kMappingName);
        if (!mapping || mapping == INVALID_HANDLE_VALUE)
            throw LastError();
        if (mapping_ && !created_)
            CloseHandle(mapping_);
        mapping_ = mapping;
        created_ = true;
        GrantAuthenticatedUsers(mapping_, SE_KERNEL_OBJECT);
        return;
    }
    HANDLE mapping = OpenFileMapping(FILE_MAP_READ | FILE_MAP_WRITE, FALSE, kMappingName);
    if (!mapping)
        throw LastError();
    void* view = MapViewOfFile(mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kSize);
    if (!view) {
        Win32Error error = LastError();
        CloseHandle(mapping);
        throw error;
    }
    if (mapping_ && !created_)
        CloseHandle(mapping_);
    mapping_ = mapping;
    created_ = false;
    view_ = static_cast<WCHAR*>(view);
}

void CompactFlags::Close() {
    if (view_)
        UnmapViewOfFile(view_);
    view_ = nullptr;
}

WCHAR* CompactFlags::RequireView() const {
    if (!view_)
        throw Win32Error(ERROR_INVALID_HANDLE);
    return view_;
}

tstring CompactFlags::Text() const {
    const WCHAR* view = RequireView();
    size_t n = 0;
    while (n < kMaxChars && view[n])
        ++n;
    return tstring(view, n);
}

void CompactFlags::Write(const tstring& text) {
    if (text.size() + 1 > kMaxChars)
        throw Win32Error(ERROR_INSUFFICIENT_BUFFER);
    WCHAR* view = RequireView();
    memcpy(view, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
}

void CompactFlags::Clear() {
    memset(RequireView(), 0, kSize);
}

void CompactFlags::Add(const tstring& entry, bool clearFirst) {
    if (entry.empty() || entry.find(_T('\t')) != tstring::npos)
        throw Win32Error(ERROR_INVALID_PARAMETER);
    tstring text = clearFirst ? tstring() : Text();
    for (const tstring& listed : Entries(text)) {
        if (listed == entry) {
            if (clearFirst)
                Clear();
            return;
        }
    }
    tstring grown = text + entry + _T("\t");
    if (grown.size() + 1 > kMaxChars)
        throw Win32Error(ERROR_INSUFFICIENT_BUFFER);
    if (clearFirst)
        Clear();
    Write(grown);
}

void CompactFlags::Remove(const tstring& entry) {
    tstring kept;
    for (const tstring& listed : Entries(Text())) {
        if (listed != entry)
            kept += listed + _T("\t");
    }
    Write(kept);
}

bool CompactFlags::Contains(const tstring& entry) const {
    for (const tstring& listed : Entries(Text())) {
        if (listed == entry)
            return true;
    }
    return false;
}

int CompactFlags::Count() const {
    tstring text = Text();
    int tabs = 0;
    for (TCHAR c : text)
        tabs += c == _T('\t');
    return tabs;
}

tstring CompactFlags::Get(int i) const {
    std::vector<tstring> entries = Entries(Text());
    return i >= 0 && size_t(i) < entries.size() ? entries[size_t(i)] : tstring();
}

void CompactFlags::AddCurrent() {
    Add(CurrentUserSid(), false);
}

void CompactFlags::ClearCurrent() {
    Remove(CurrentUserSid());
}

bool CompactFlags::IsCurrent() const {
    return Contains(CurrentUserSid());
}

void CompactFlags::SetAll() {
    Add(kCompactAll, false);
}

void CompactFlags::ClearAll() {
    Remove(kCompactAll);
}

bool CompactFlags::IsAll() const {
    return Contains(kCompactAll);
}

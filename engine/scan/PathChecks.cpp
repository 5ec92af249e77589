#include "engine/scan/PathChecks.h"
#include <shlwapi.h>
#include <atomic>
#include <string>
#include <vector>
#include "common/errors/CheckObjects.h"
#include "common/errors/ErrorBase.h"
#include "common/settings/Settings.h"
#include "common/system/PlatformInfo.h"
#include "engine/scan/DriveTypeSource.h"

namespace {

const int32_t kSkipNetwork = 2;
const int32_t kSkipRemovable = 4;

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

tstring Expanded(const tstring& text) {
    tstring out;
    ExpandEnvironment(out, text.c_str());
    return out;
}

tstring WithoutQuotes(const tstring& text) {
    tstring out;
    for (wchar_t c : text)
        if (c != L'"') out += c;
    return out;
}

// Every occurrence of `from`, found without regard to ASCII case.
void ReplaceNoCase(tstring& text, const tstring& from, const tstring& to) {
    for (size_t at = 0; at + from.size() <= text.size();) {
        if (CompareStringOrdinal(text.c_str() + at, int(from.size()), from.c_str(), int(from.size()), TRUE) ==
            CSTR_EQUAL) {
            text.replace(at, from.size(), to);
            at += to.size();
        } else {
            ++at;
        }
    }
}

size_t LastSeparator(const tstring& path) {
    size_t back = path.rfind(L'\\');
    size_t slash = path.rfind(L'/');
    if (slash != tstring::npos && (back == tstring::npos || slash > back)) return slash;
    return back;
}

// A folder is never the program or module searched for, though SearchPathW
// finds one by its name: the stretch "C:\Program Files" of the unquoted
// "C:\Program Files (x86)\App\app.exe" must not count as its program.
bool Searched(const wchar_t* folder, const tstring& name, const wchar_t* extension) {
    if (name.empty()) return false;
    std::vector<wchar_t> found(MAX_PATH + 1);
    DWORD n = SearchPathW(folder, name.c_str(), extension, DWORD(found.size()), found.data(), nullptr);
    if (n >= found.size()) {
        found.resize(n + 1);
        n = SearchPathW(folder, name.c_str(), extension, DWORD(found.size()), found.data(), nullptr);
        // Gone or renamed meanwhile: the first answer stands.
        if (n == 0 || n >= found.size()) return true;
    }
    if (n == 0) return false;
    DWORD attributes = GetFileAttributesW(found.data());
    return attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

tstring SystemFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    UINT n = GetSystemDirectoryW(buffer, MAX_PATH + 1);
    return n && n <= MAX_PATH ? tstring(buffer) : tstring();
}

tstring Wow64Folder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    UINT n = GetSystemWow64DirectoryW(buffer, MAX_PATH + 1);
    return n && n <= MAX_PATH ? tstring(buffer) : tstring();
}

// The folder through which 32-bit programs name the native system folder;
// a 64-bit program has no such folder.
tstring SysnativeFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    UINT n = GetSystemWindowsDirectoryW(buffer, MAX_PATH + 1);
    return n && n <= MAX_PATH ? tstring(buffer) + L"\\Sysnative" : tstring();
}

// A 64-bit process sees no file-system redirection, but 32-bit programs
// register files they saw in the system folder that really lie in the 32-bit
// one, and name native system files through "Sysnative". The path the file
// really has for a 64-bit program, or empty when the path names neither.
tstring Wow64Counterpart(const tstring& text) {
    tstring system = SystemFolder(), wow = Wow64Folder(), sysnative = SysnativeFolder();
    if (system.empty() || wow.empty()) return tstring();
    if (StartsWithNoCase(text, (system + L"\\").c_str())) return wow + text.substr(system.size());
    if (!sysnative.empty() && StartsWithNoCase(text, (sysnative + L"\\").c_str()))
        return system + text.substr(sysnative.size());
    return tstring();
}

bool SearchedInWow64Folder(const tstring& text, const wchar_t* extension) {
    tstring wow = Wow64Folder();
    if (wow.empty()) return false;
    if (PathIsRelativeW(text.c_str())) return Searched(wow.c_str(), text, extension);
    tstring counterpart = Wow64Counterpart(text);
    return !counterpart.empty() && Searched(nullptr, counterpart, extension);
}

// The search past the file-system redirection. switchWorked tells whether
// this is 64-bit Windows and the other view could be searched.
bool SearchedInOtherView(const tstring& text, const wchar_t* extension, bool& switchWorked) {
    switchWorked = false;
#ifdef _WIN64
    switchWorked = true;
    return SearchedInWow64Folder(text, extension);
#else
    if (!IsWow64()) return false;
    bool disabled = false;
    try {
        nsWOW::Wow64EnableWow64FsRedirection(FALSE);
        disabled = true;
        bool found = Searched(nullptr, text, extension);
        disabled = false;
        BoolCheck ck;
        ck = nsWOW::Wow64EnableWow64FsRedirection(TRUE);
        switchWorked = true;
        return found;
    } catch (const ErrorBase&) {
        if (disabled) nsWOW::Wow64EnableWow64FsRedirection(TRUE);
        return false;
    }
#endif
}

// The program folder placeholders of this process and the names under which
// it knows the folders that 32-bit programs get for them.
const wchar_t* const kProgramFolders[][2] = {{L"%ProgramFiles%", L"%ProgramFiles(x86)%"},
                                             {L"%CommonProgramFiles%", L"%CommonProgramFiles(x86)%"}};

tstring With32BitPlaceholders(const tstring& given) {
    tstring text = given;
    for (const auto& pair : kProgramFolders) ReplaceNoCase(text, pair[0], pair[1]);
    return text;
}

// The text a 32-bit program meant: its program folders. Placeholders are
// replaced, and so is an already expanded 64-bit program folder at the start.
tstring X86Counterpart(const tstring& given) {
    tstring text = With32BitPlaceholders(given);
    size_t start = (!text.empty() && text[0] == L'"') ? 1 : 0;
    const wchar_t* const folders[][2] = {{L"%CommonProgramFiles%", L"%CommonProgramFiles(x86)%"},
                                         {L"%ProgramFiles%", L"%ProgramFiles(x86)%"}};
    for (const auto& pair : folders) {
        tstring native = Expanded(pair[0]), x86 = Expanded(pair[1]);
        if (native.empty() || x86.empty() || native[0] == L'%' || x86[0] == L'%' ||
            CompareStringOrdinal(native.c_str(), -1, x86.c_str(), -1, TRUE) == CSTR_EQUAL)
            continue;
        native += L'\\';
        if (StartsWithNoCase(text.substr(start), native.c_str())) {
            text.replace(start, native.size() - 1, x86);
            break;
        }
    }
    return text;
}

bool FindFile(const tstring& given, const wchar_t* extension, bool isModule, bool relativeAllowed,
              bool secondPass) {
    tstring text = TrimBlanks(Expanded(given));
    // "path" arguments: the quoted stretch alone is the file.
    tstring quoted;
    if (!text.empty() && text[0] == L'"') {
        size_t close = text.find(L'"', 1);
        if (close != tstring::npos) quoted = TrimBlanks(text.substr(1, close - 1));
        text = TrimBlanks(WithoutQuotes(text));
        if (quoted == text) quoted.clear();
    }
    if ((text.size() == 2 && text[0] == L'%') || (quoted.size() == 2 && quoted[0] == L'%')) return true;
    if (isModule && !relativeAllowed && PathIsRelativeW(text.c_str())) return true;
    if (IsSkippedDrive(text)) return true;
    if (Searched(nullptr, text, extension)) return true;
    if (!quoted.empty() && Searched(nullptr, quoted, extension)) return true;

    bool switchWorked = false;
    if (SearchedInOtherView(text, extension, switchWorked)) return true;
    if (!quoted.empty() && SearchedInOtherView(quoted, extension, switchWorked)) return true;
    if (!switchWorked || secondPass) return false;
    tstring x86 = X86Counterpart(given);
    if (x86 == given) return false;
    return FindFile(x86, extension, isModule, relativeAllowed, true);
}

// The existence rules for one path: found by a search of its folder, else
// by its attributes; a path whose attributes are denied exists.
bool ExistsAt(const tstring& text, bool folderCounts) {
    size_t separator = LastSeparator(text);
    if (separator == tstring::npos) return false;
    tstring folder = text.substr(0, separator + 1), name = text.substr(separator + 1);
    if (!name.empty()) {
        std::vector<wchar_t> found(32768);
        DWORD n = SearchPathW(folder.c_str(), name.c_str(), nullptr, DWORD(found.size()), found.data(), nullptr);
        if (n && n < found.size()) {
            DWORD attributes = GetFileAttributesW(found.data());
            if (attributes != INVALID_FILE_ATTRIBUTES && (folderCounts || !(attributes & FILE_ATTRIBUTE_DIRECTORY)))
                return true;
        }
    }
    SetLastError(0);
    DWORD attributes = GetFileAttributesW(text.c_str());
    if (GetLastError() == ERROR_ACCESS_DENIED) return true;
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    return folderCounts || !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The type of each drive letter (A to Z) as this scan found it, plus one (0:
// not asked yet). Each GetDriveTypeW, and each network test of a drive path,
// is a round trip through the mount manager, and a scan asks for the same few
// drives once per path it judges.
std::atomic<UINT> g_driveTypes[26];

UINT AskDriveType(const tstring& path, int drive) {
    if (PathIsNetworkPathW(path.c_str())) return DRIVE_REMOTE;
    if (drive < 0) return DRIVE_UNKNOWN;
    wchar_t root[4] = {};
    PathBuildRootW(root, drive);
    return DriveTypeSource::Current().DriveType(root);
}

UINT DriveTypeOf(const tstring& path) {
    if (PathIsRelativeW(path.c_str())) return DRIVE_FIXED;
    int drive = PathGetDriveNumberW(path.c_str());
    // Behind a "\\" prefix the prefix decides, not the drive; a test's
    // drive-type source is asked every time, since the test may change its answers.
    bool cacheable = drive >= 0 && drive < 26 && !StartsWithNoCase(path, L"\\\\") &&
                     dynamic_cast<const SystemDriveTypes*>(&DriveTypeSource::Current()) != nullptr;
    if (!cacheable) return AskDriveType(path, drive);
    UINT known = g_driveTypes[drive].load();
    if (known != 0) return known - 1;
    UINT type = AskDriveType(path, drive);
    g_driveTypes[drive].store(type + 1);
    return type;
}

// A kernel32 function bound by name. No lock and no shared table: a scan
// thread ended by force while it binds one must leave nothing held.
FARPROC KernelFunction(const char* qualifiedName) {
    const char* name = qualifiedName;
    for (const char* at = qualifiedName; *at; ++at)
        if (at[0] == ':' && at[1] == ':') name = at + 2;
    HMODULE library = LoadLibraryW(L"Kernel32.dll");
    if (!library) throw Win32Error(ERROR_MOD_NOT_FOUND);
    FARPROC function = GetProcAddress(library, name);
    if (!function) throw Win32Error(ERROR_PROC_NOT_FOUND);
    return function;
}

}  // namespace

tstring ExpandedFor32Bit(const tstring& text) {
    for (const auto& pair : kProgramFolders)
        if (Expanded(pair[1]) == pair[1]) return Expanded(text);
    return Expanded(With32BitPlaceholders(text));
}

tstring UpperText(const tstring& text) {
    tstring upper = text;
    if (!upper.empty()) CharUpperBuffW(&upper[0], DWORD(upper.size()));
    return upper;
}

tstring TrimBlanks(const tstring& text) {
    size_t first = 0, last = text.size();
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

bool StartsWithNoCase(const tstring& text, const wchar_t* start) {
    size_t n = wcslen(start);
    return text.size() >= n &&
           CompareStringOrdinal(text.c_str(), int(n), start, int(n), TRUE) == CSTR_EQUAL;
}

bool IsSkippedDrive(const tstring& path) {
    // Asked at every path by threads that may be ended by force: the mask as
    // it stands, without a lock (the scan's start brought it up to date).
    int32_t mask = Settings::CurrentSkipScanDrives();
    UINT type = DriveTypeOf(path);
    if ((mask & kSkipRemovable) && path.size() > 1 && path[1] == L':' &&
        (type == DRIVE_UNKNOWN || type == DRIVE_NO_ROOT_DIR || type == DRIVE_REMOVABLE || type == DRIVE_CDROM))
        return true;
    return (mask & kSkipNetwork) && type == DRIVE_REMOTE;
}

void ForgetDriveTypes() {
    for (std::atomic<UINT>& type : g_driveTypes) type.store(0);
}

bool PathExistsForCheck(const tstring& path, CheckResult& result, bool folderCounts) {
    result.ErrorID = 0;
    tstring text = TrimBlanks(path);
    if (text.size() >= 2 && text.front() == L'"' && text.back() == L'"') text = text.substr(1, text.size() - 2);
    text = TrimBlanks(Expanded(text));
    if (IsSkippedDrive(text)) return true;
    if (ExistsAt(text, folderCounts)) return true;
#ifdef _WIN64
    tstring counterpart = Wow64Counterpart(text);
    if (!counterpart.empty()) return ExistsAt(counterpart, folderCounts);
#endif
    return false;
}

bool FindModuleFile(const tstring& text, CheckResult& result, bool relativeAllowed, bool secondPass) {
    result.ErrorID = 0;
    return FindFile(text, L".dll", true, relativeAllowed, secondPass);
}

bool FindProgramFile(const tstring& text, CheckResult& result, bool secondPass) {
    result.ErrorID = 0;
    return FindFile(text, L".exe", false, true, secondPass);
}

namespace nsWOW {
BOOLEAN Wow64EnableWow64FsRedirection(BOOLEAN enable) {
    using Function = BOOLEAN(WINAPI*)(BOOLEAN);
    static std::atomic<FARPROC> bound{nullptr};
    FARPROC function = bound.load();
    if (!function) {
        function = KernelFunction("nsWOW::Wow64EnableWow64FsRedirection");
        bound.store(function);
    }
    return reinterpret_cast<Function>(function)(enable);
}
}  // namespace nsWOW

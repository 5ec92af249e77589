#include "common/filepack/FilePack.h"
#include <algorithm>
#include <type_traits>
#include <vector>
#include "common/archive/Crc32.h"
#include "common/errors/ErrorBase.h"
#include "common/system/FileSystem.h"
#include "common/system/HandleHolder.h"

namespace {

const uint32_t kHeaderSize = 8;
const uint32_t kCopyChunk = 0x100000;

const TCHAR kCrcMessage[] = _T("Invalid CRC. File was corrupted or wrong file format.");
const TCHAR kLayoutMessage[] = _T("Invalid file layout. File was corrupted or wrong file format.");

ErrorBase CrcError() { return ErrorBase(HRESULT_FROM_WIN32(ERROR_CRC), kCrcMessage); }
ErrorBase LayoutError() { return ErrorBase(HRESULT_FROM_WIN32(ERROR_FILE_CORRUPT), kLayoutMessage); }

ErrorBase UnsafeNameError(const tstring& name) {
    return ErrorBase(HRESULT_FROM_WIN32(ERROR_INVALID_NAME),
                     FormatText(_T("Invalid entry name \"%s\" in file pack."), name.c_str()));
}

bool IsSeparator(TCHAR c) { return c == _T('\\') || c == _T('/'); }

std::vector<tstring> SplitComponents(const tstring& name) {
    std::vector<tstring> parts(1);
    for (TCHAR c : name) {
        if (IsSeparator(c))
            parts.emplace_back();
        else
            parts.back() += c;
    }
    return parts;
}

tstring LastComponent(const tstring& name) {
    size_t pos = name.find_last_of(_T("\\/"));
    return pos == tstring::npos ? name : tstring(name.substr(pos + 1));
}

// Windows drops trailing dots and blanks from path components, so "..", ". ."
// and "..." all end up naming a parent or the folder itself.
bool IsDotsOnly(const tstring& component) {
    return component.find_first_not_of(_T(". ")) == tstring::npos;
}

tstring FullPath(const tstring& path) {
    TCHAR buffer[MAX_PATH * 4];
    DWORD n = GetFullPathName(path.c_str(), DWORD(sizeof(buffer) / sizeof(buffer[0])), buffer, nullptr);
    if (n == 0 || n >= sizeof(buffer) / sizeof(buffer[0]))
        return path;
    return tstring(buffer);
}

bool IsExcluded(const TCHAR* name, const TCHAR* exclusions) {
    for (const TCHAR* e = exclusions; e && *e; e += lstrlen(e) + 1) {
        if (lstrcmp(name, e) == 0)
            return true;
    }
    return false;
}

// Bytes between two positions, moved in bounded pieces so a large entry never
// needs one large heap block.
void CopyBytes(Archive& from, Archive& to, uint32_t length) {
    std::vector<BYTE> chunk(std::min(length, kCopyChunk));
    while (length > 0) {
        uint32_t n = std::min(length, kCopyChunk);
        from.ReadRaw(chunk.data(), n);
        to.WriteRaw(chunk.data(), n);
        length -= n;
    }
}

// The CRC of the range from offset 8 to the end, given the CRC of the range
// that ended at from.
uint32_t ExtendChecksum(Archive& archive, uint32_t from, uint32_t crc) {
    uint32_t length = archive.Size() - from;
    std::vector<BYTE> chunk(std::min(length, kCopyChunk));
    archive.Seek(from, 0);
    while (length > 0) {
        uint32_t n = std::min(length, kCopyChunk);
        archive.ReadRaw(chunk.data(), n);
        crc = Crc32::Instance().Update(chunk.data(), n, crc);
        length -= n;
    }
    return crc;
}

TCHAR FoldName(TCHAR c) {
    if (c >= 'A' && c <= 'Z')
        return TCHAR(c + ('a' - 'A'));
    return c == _T('/') ? _T('\\') : c;
}

}  // namespace

bool FilePack::NameLess::operator()(const tstring& a, const tstring& b) const {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        TCHAR x = FoldName(a[i]), y = FoldName(b[i]);
        if (x != y)
            return std::make_unsigned<TCHAR>::type(x) < std::make_unsigned<TCHAR>::type(y);
    }
    return a.size() < b.size();
}

FilePack::FilePack(const tstring& packPath, const tstring& folder) {
    Open(packPath, false);
    if (!folder.empty())
        AddFolder(folder, false);
}

FilePack::~FilePack() {
    try {
        archive_.CloseIfOpen();
    } catch (...) {
        // A destructor cannot report; callers who care call Close.
    }
}

tstring FilePack::Open(const tstring& path, bool readOnly) {
    tstring previous = fileName_;
    index_.clear();
    entries_ = 0;
    if (path != fileName_)
        fileName_ = path;
    readOnly_ = readOnly;
    if (readOnly) {
        // Reading never creates: a missing pack is the caller's error to see.
        archive_.Open(path, Archive::ModeRead);
        LoadIndex();
        return previous;
    }
    DWORD attributes = GetFileAttributes(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CreateEmpty(path);
        return previous;
    }
    archive_.Open(path, Archive::ModeReadWrite);
    if (archive_.Size() == 0) {
        // A file made empty by a temp-name helper: start it as an empty pack.
        archive_.Seek(0, 0);
        archive_.WriteInt(0);
        archive_.WriteInt(0);
        return previous;
    }
    LoadIndex();
    return previous;
}

void FilePack::CreateEmpty(const tstring& path) {
    archive_.Open(path, Archive::ModeCreate);
    archive_.WriteInt(0);
    archive_.WriteInt(0);
}

void FilePack::Close() {
    index_.clear();
    entries_ = 0;
    archive_.Close();
}

void FilePack::RequireOpen() const {
    if (!archive_.IsOpen())
        throw Win32Error(ERROR_INVALID_HANDLE);
}

void FilePack::LoadIndex() {
    index_.clear();
    entries_ = 0;
    try {
        uint32_t size = archive_.Size();
        if (size < kHeaderSize)
            throw LayoutError();
        archive_.Seek(0, 0);
        uint32_t stored = archive_.ReadUInt();
        int32_t count = archive_.ReadInt();
        if (archive_.Checksum(kHeaderSize, size - kHeaderSize) != stored)
            throw CrcError();
        // The count lies outside the CRC, so it is checked against the bytes
        // present: each entry takes at least its two length fields.
        if (count < 0 || uint32_t(count) > (size - kHeaderSize) / 8)
            throw LayoutError();
        for (int32_t i = 0; i < count; ++i) {
            if (archive_.Remaining() < 8)
                throw LayoutError();
            int32_t nameBytes = archive_.ReadInt();
            if (nameBytes < 0 || uint32_t(nameBytes) > archive_.Remaining() - 4)
                throw LayoutError();
            archive_.Seek(-4, 1);
            tstring name;
            archive_.ReadStrictString(name);
            int32_t offset = int32_t(archive_.Position());
            int32_t dataLength = archive_.ReadInt();
            if (dataLength < 0 || uint32_t(dataLength) > archive_.Remaining())
                throw LayoutError();
            archive_.Seek(dataLength, 1);
            index_[name] = offset;
        }
        if (archive_.Position() != size)
            throw LayoutError();
        entries_ = count;
    } catch (...) {
        index_.clear();
        try {
            archive_.Close();
        } catch (...) {
            // Nothing was written; the original error is the one to report.
        }
        throw;
    }
}

void FilePack::AddFolder(const tstring& folder, bool includeHidden, const tstring& prefix, const TCHAR* exclusions) {
    RequireOpen();
    tstring prefixText = prefix.empty() ? tstring() : prefix + _T("\\");
    tstring packPath = FullPath(fileName_);
    // Until its close a new pack's content lives in the file beside it.
    tstring packPending = Archive::PendingPath(packPath);
    WIN32_FIND_DATA data;
    FindHandleHolder search(FindFirstFile((folder + _T("\\*")).c_str(), &data));
    if (!search.IsValid())
        throw Win32Error(int32_t(GetLastError()));
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) && !includeHidden)
            continue;
        tstring name = data.cFileName;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (name == _T(".") || name == _T(".."))
                continue;
            // A junction may lead back up its own tree and never end.
            if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                continue;
            AddFolder(folder + _T("\\") + name, includeHidden, prefixText + name, exclusions);
        } else {
            if (IsExcluded(name.c_str(), exclusions))
                continue;
            // The pack itself may live inside the packed folder.
            tstring full = FullPath(folder + _T("\\") + name);
            if (full.CompareNoCase(packPath.c_str()) == 0 || full.CompareNoCase(packPending.c_str()) == 0)
                continue;
            AddFile(prefixText + name, folder);
        }
    } while (FindNextFile(search, &data));
}

void FilePack::AddFile(const tstring& name, const tstring& sourceFolder) {
    RequireOpen();
    if (readOnly_)
        throw Win32Error(ERROR_ACCESS_DENIED);
    tstring stored = CanonicalName(IsAbsolutePath(name) ? LastComponent(name) : name);
    if (stored.empty())
        throw UnsafeNameError(name);

    Archive source(sourceFolder + _T("\\") + LastComponent(name), Archive::ModeRead);
    uint32_t length = source.Size();
    if (length > 0x7FFFFFFFu)
        throw HRError(HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW));

    Index::iterator existing = index_.find(stored);
    bool replaced = existing != index_.end();
    if (replaced)
        RemoveEntry(existing);

    uint32_t oldEnd = archive_.Size();
    archive_.Seek(0, 2);
    try {
        archive_.WriteString(stored);
        uint64_t end = uint64_t(archive_.Position()) + 4 + length;
        if (end > 0xFFFFFFFFu)
            throw HRError(HRESULT_FROM_WIN32(ERROR_ARITHMETIC_OVERFLOW));
        int32_t offset = int32_t(archive_.Position());
        archive_.WriteInt(int32_t(length));
        source.Seek(0, 0);
        CopyBytes(source, archive_, length);
        index_[stored] = offset;
    } catch (...) {
        // Leave the container as it was before this entry.
        archive_.SetSize(oldEnd);
        archive_.Seek(0, 2);
        if (replaced)
            UpdateHeader(oldEnd, false);
        throw;
    }
    ++entries_;
    UpdateHeader(oldEnd, !replaced);
}

// Writes the entry count and the CRC. After a pure append the old CRC is
// extended over the new bytes instead of running over the whole pack again.
void FilePack::UpdateHeader(uint32_t crcStart, bool appended) {
    uint32_t size = archive_.Size();
    archive_.Seek(0, 0);
    uint32_t crc = archive_.ReadUInt();
    if (appended)
        crc = ExtendChecksum(archive_, crcStart, crc);
    else
        crc = archive_.Checksum(kHeaderSize, size - kHeaderSize);
    archive_.Seek(0, 0);
    archive_.WriteUInt(crc);
    archive_.WriteInt(entries_);
    archive_.Seek(0, 2);
}

void FilePack::RemoveEntry(Index::iterator entry) {
    uint32_t dataOffset = uint32_t(entry->second);
    uint32_t start = kHeaderSize;
    for (;;) {
        archive_.Seek(start, 0);
        uint32_t nameEnd = start + 4 + uint32_t(archive_.ReadInt());
        if (nameEnd == dataOffset)
            break;
        if (nameEnd > dataOffset)
            throw LayoutError();
        archive_.Seek(nameEnd, 0);
        start = nameEnd + 4 + uint32_t(archive_.ReadInt());
    }
    archive_.Seek(dataOffset, 0);
    uint32_t end = dataOffset + 4 + uint32_t(archive_.ReadInt());
    uint32_t removed = end - start;
    uint32_t size = archive_.Size();

    std::vector<BYTE> chunk(std::min(size - end, kCopyChunk));
    for (uint32_t from = end; from < size;) {
        uint32_t n = std::min(size - from, kCopyChunk);
        archive_.Seek(from, 0);
        archive_.ReadRaw(chunk.data(), n);
        archive_.Seek(from - removed, 0);
        archive_.WriteRaw(chunk.data(), n);
        from += n;
    }
    archive_.SetSize(size - removed);
    index_.erase(entry);
    for (auto& item : index_) {
        if (uint32_t(item.second) > dataOffset)
            item.second -= int32_t(removed);
    }
    --entries_;
}

tstring FilePack::CanonicalName(const tstring& name) {
    std::vector<tstring> kept;
    for (const tstring& part : SplitComponents(name)) {
        if (part.empty() || part == _T("."))
            continue;
        if (part == _T("..")) {
            if (!kept.empty())
                kept.pop_back();
            continue;
        }
        kept.push_back(part);
    }
    tstring result;
    for (const tstring& part : kept) {
        if (!result.empty())
            result += _T('\\');
        result += part;
    }
    return result;
}

bool FilePack::IsSafeEntryName(const tstring& name) {
    if (name.empty() || IsSeparator(name[0]) || name.find(_T(':')) != tstring::npos)
        return false;
    for (const tstring& part : SplitComponents(name)) {
        if (part.empty() || IsDotsOnly(part))
            return false;
    }
    return true;
}

FilePack::Index::const_iterator FilePack::Find(const tstring& name) const {
    return index_.find(CanonicalName(name));
}

void FilePack::CopyOut(int32_t dataOffset, Archive& target) {
    archive_.Seek(dataOffset, 0);
    uint32_t length = uint32_t(archive_.ReadInt());
    CopyBytes(archive_, target, length);
}

bool FilePack::ReadEntry(const tstring& name, SharedBuffer& out) {
    RequireOpen();
    Index::const_iterator entry = Find(name);
    if (entry == index_.end())
        return false;
    archive_.Seek(entry->second, 0);
    out.Release();
    archive_.ReadBlock(out);
    return true;
}

bool FilePack::ExtractEntry(const tstring& name, const tstring& targetPath) {
    RequireOpen();
    Index::const_iterator entry = Find(name);
    if (entry == index_.end())
        return false;
    if (!IsSafeEntryName(entry->first))
        throw UnsafeNameError(entry->first);
    Archive target(targetPath, Archive::ModeCreate);
    CopyOut(entry->second, target);
    target.Close();
    return true;
}

void FilePack::ExtractAll(const tstring& targetFolder) {
    RequireOpen();
    tstring base = targetFolder;
    while (!base.empty() && IsSeparator(base.back()))
        base.pop_back();
    if (base.empty())
        throw Win32Error(ERROR_INVALID_PARAMETER);
    // Every name is judged before the first file is written.
    for (const auto& entry : index_) {
        if (!IsSafeEntryName(entry.first))
            throw UnsafeNameError(entry.first);
    }
    for (const auto& entry : index_) {
        tstring relative = entry.first;
        std::replace(relative.begin(), relative.end(), _T('/'), _T('\\'));
        tstring path = base + _T("\\") + relative;
        tstring folder = path.substr(0, path.rfind(_T('\\')));
        if (GetFileAttributes(folder.c_str()) == INVALID_FILE_ATTRIBUTES)
            CreateFolderTree(folder);
        Archive target(path, Archive::ModeCreate);
        CopyOut(entry.second, target);
        target.Close();
    }
}

#include "diskexplorer/MftScanner.h"
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include "common/errors/ErrorBase.h"
#include "diskexplorer/Volume.h"

namespace {

const uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFFull;
const uint32_t kEndMarker = 0xFFFFFFFF;
const uint32_t kStandardInformation = 0x10;
const uint32_t kFileName = 0x30;
const uint32_t kData = 0x80;
const uint32_t kIndexRoot = 0x90;
const uint32_t kIndexAllocation = 0xA0;
const uint8_t kDosNameSpace = 2;
// A FILE record is 1 KiB or 4 KiB; anything far outside is not a volume we can read.
const uint32_t kMinRecordSize = 256;
const uint32_t kMaxRecordSize = 65536;
const uint32_t kOnPath = 0xFFFFFFFF;

template <class T>
T Read(const uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

// What one FILE record says, gathered before anything is entered, so that a
// record that turns out malformed halfway leaves no trace.
struct ParsedRecord {
    const uint8_t* standardInformation = nullptr;
    const uint8_t* names[64];
    std::vector<const uint8_t*> moreNames;
    size_t nameCount = 0;
    uint64_t dataSize = 0;
    bool directory = false;

    void AddName(const uint8_t* value) {
        if (nameCount < 64)
            names[nameCount] = value;
        else
            moreNames.push_back(value);
        ++nameCount;
    }
    const uint8_t* Name(size_t i) const { return i < 64 ? names[i] : moreNames[i - 64]; }
};

// Walks the attribute list within `length` bytes; false when the record is
// malformed (an attribute of length 0 or reaching past the record, a value
// outside its attribute, or no end marker).
bool ParseAttributes(const uint8_t* record, uint32_t length, ParsedRecord& out) {
    uint64_t at = Read<uint16_t>(record + 0x14);
    for (;;) {
        if (at + 4 > length)
            return false;
        const uint8_t* attribute = record + at;
        uint32_t type = Read<uint32_t>(attribute);
        if (type == kEndMarker)
            return true;
        if (at + 16 > length)
            return false;
        uint32_t attributeLength = Read<uint32_t>(attribute + 4);
        if (attributeLength < 16 || attributeLength > length - at)
            return false;
        bool nonResident = attribute[8] != 0;
        const uint8_t* value = nullptr;
        uint32_t valueLength = 0;
        if (nonResident) {
            if (attributeLength < 0x38)
                return false;
        } else {
            if (attributeLength < 0x18)
                return false;
            valueLength = Read<uint32_t>(attribute + 0x10);
            uint32_t valueOffset = Read<uint16_t>(attribute + 0x14);
            if (uint64_t(valueOffset) + valueLength > attributeLength)
                return false;
            value = attribute + valueOffset;
        }
        switch (type) {
        case kStandardInformation:
            if (value && valueLength >= 36)
                out.standardInformation = value;
            break;
        case kFileName:
            if (!value || valueLength < 0x42 || 0x42 + 2u * value[0x40] > valueLength)
                return false;
            out.AddName(value);
            break;
        case kData:
            if (!nonResident)
                out.dataSize += valueLength;
            else if (Read<uint64_t>(attribute + 0x10) == 0)  // the stream's first extent only
                out.dataSize += Read<uint64_t>(attribute + 0x30);
            break;
        case kIndexRoot:
        case kIndexAllocation:
            out.directory = true;
            break;
        default:
            break;
        }
        at += attributeLength;
    }
}

}  // namespace

MftScanner::MftScanner(const tstring& devicePath) : devicePath_(devicePath) {}

int32_t MftScanner::AddListener(ScanListener* listener) {
    int32_t key = nextKey_++;
    listeners_[key] = listener;
    return key;
}

void MftScanner::RemoveListener(int32_t key) { listeners_.erase(key); }

bool MftScanner::Notify(int32_t percent) {
    for (auto& entry : listeners_) {
        if (entry.second->OnScanProgress(percent))
            continue;
        TellOthersStopped(entry.first);
        return false;
    }
    return true;
}

bool MftScanner::StopRequested() {
    for (auto& entry : listeners_) {
        if (!entry.second->StopRequested())
            continue;
        TellOthersStopped(entry.first);
        return true;
    }
    return false;
}

void MftScanner::TellOthersStopped(int32_t stopper) {
    for (auto& other : listeners_)
        if (other.first != stopper)
            other.second->OnScanProgress(-1);
}

void MftScanner::ResetTable(uint64_t count) {
    if (count > kMaxRecords)
        throw std::length_error("record table");
    records_.clear();
    chains_.clear();
    records_.reserve(static_cast<size_t>(count) + 1);
    records_.resize(static_cast<size_t>(count));
}

bool MftScanner::Scan() {
    Volume volume(devicePath_);
    const NTFS_VOLUME_DATA_BUFFER& data = volume.GetNtfsData();
    const uint32_t recordSize = data.BytesPerFileRecordSegment;
    if (recordSize < kMinRecordSize || recordSize > kMaxRecordSize || data.MftValidDataLength.QuadPart <= 0)
        throw Win32Error(ERROR_DISK_CORRUPT);
    const uint64_t count = uint64_t(data.MftValidDataLength.QuadPart) / recordSize;
    if (count == 0)
        throw Win32Error(ERROR_DISK_CORRUPT);
    ResetTable(count);

    const uint64_t last = count - 1;
    uint64_t reported = 0;
    uint64_t n = last;
    // Record 0 is the table's own and never read.
    while (n > 0) {
        if (StopRequested())
            return false;
        if ((last - n) * 100 / last > reported) {
            ++reported;
            if (!Notify(static_cast<int32_t>(reported)))
                return false;
        }
        uint64_t delivered = 0;
        const uint8_t* record = nullptr;
        uint32_t length = 0;
        DWORD error = volume.ReadFileRecord(n, delivered, record, length);
        if (!error && delivered > n)
            error = ERROR_INVALID_DATA;
        if (error) {
            std::printf("Error %lx\n", static_cast<unsigned long>(error));
            --n;
            continue;
        }
        // Nothing in use between the table's own record and n.
        if (delivered == 0)
            break;
        ParseFileRecord(static_cast<uint32_t>(delivered), record, length);
        n = delivered - 1;
    }
    SumFolders();
    return true;
}

void MftScanner::ParseFileRecord(uint32_t number, const uint8_t* record, uint32_t length) {
    if (number >= records_.size() || length < 0x28)
        return;
    const uint64_t base = Read<uint64_t>(record + 0x20);
    const uint64_t index = base == 0 ? number : (base & kRecordNumberMask);
    if (index >= records_.size())
        return;
    ParsedRecord parsed;
    if (!ParseAttributes(record, length, parsed))
        return;

    FolderRecord& entry = records_[static_cast<size_t>(index)];
    entry.flags |= FolderRecord::Seen;
    if (const uint8_t* info = parsed.standardInformation) {
        std::memcpy(&entry.creationTime, info, 8);
        std::memcpy(&entry.modificationTime, info + 8, 8);
        std::memcpy(&entry.mftChangeTime, info + 16, 8);
        std::memcpy(&entry.accessTime, info + 24, 8);
        std::memcpy(&entry.attributes, info + 32, 4);
    }
    entry.size += parsed.dataSize;
    if (parsed.nameCount)
        entry.names.reserve(entry.names.size() + parsed.nameCount);
    for (size_t i = 0; i < parsed.nameCount; ++i) {
        const uint8_t* value = parsed.Name(i);
        if (value[0x41] == kDosNameSpace)
            continue;
        // A parent beyond the table (the table grew during the scan) has no entry to hold the name.
        uint64_t parent = Read<uint64_t>(value) & kRecordNumberMask;
        if (parent >= records_.size())
            continue;
        uint32_t chars = value[0x40];
        wchar_t* text = static_cast<wchar_t*>(PrivateHeap::Allocate(chars * sizeof(wchar_t)));
        std::memcpy(text, value + 0x42, chars * sizeof(wchar_t));
        entry.names.push_back(FolderName{text, chars, static_cast<uint32_t>(parent)});
    }
    if (parsed.directory)
        entry.flags |= FolderRecord::Directory;
}

const FolderRecord* MftScanner::Record(uint64_t number) const {
    return number < records_.size() ? &records_[static_cast<size_t>(number)] : nullptr;
}

int32_t MftScanner::ParentOf(uint32_t record) const {
    const FolderRecord* entry = Record(record);
    if (!entry || entry->names.empty())
        return -1;
    return static_cast<int32_t>(entry->names[0].parent);
}

uint32_t MftScanner::ChainLength(uint32_t start) {
    if (chains_[start] != 0 && chains_[start] != kOnPath)
        return chains_[start];
    std::vector<uint32_t> path;
    uint32_t at = start;
    uint32_t length;
    for (;;) {
        uint32_t state = chains_[at];
        if (state == kOnPath) {
            // A cycle: each folder on it reaches every other once.
            size_t first = path.size();
            while (path[first - 1] != at)
                --first;
            --first;
            uint32_t cycle = static_cast<uint32_t>(path.size() - first);
            for (size_t i = first; i < path.size(); ++i)
                chains_[path[i]] = cycle;
            path.resize(first);
            length = cycle;
            break;
        }
        if (state != 0) {
            length = state;
            break;
        }
        const FolderRecord& entry = records_[at];
        if (at == kRootRecord || entry.names.empty()) {
            chains_[at] = length = 1;
            break;
        }
        chains_[at] = kOnPath;
        path.push_back(at);
        at = entry.names[0].parent;
    }
    for (size_t i = path.size(); i-- > 0;)
        chains_[path[i]] = ++length;
    return chains_[start];
}

void MftScanner::SumFolders() {
    chains_.assign(records_.size(), 0);
    for (size_t i = kFirstCountedRecord; i < records_.size(); ++i) {
        const FolderRecord& file = records_[i];
        if (!file.IsSeen() || file.IsDirectory())
            continue;
        for (const FolderName& name : file.names) {
            FolderRecord& folder = records_[name.parent];
            folder.size += file.size;
            folder.fileCount += 1;
            uint32_t at = name.parent;
            for (uint32_t steps = ChainLength(at); steps > 0; --steps) {
                FolderRecord& above = records_[at];
                above.totalSize += file.size;
                above.totalFileCount += 1;
                if (steps > 1)
                    at = above.names[0].parent;
            }
        }
    }
}

uint32_t MftScanner::WalkLimit(uint32_t record) const {
    if (record < chains_.size() && chains_[record] != 0 && chains_[record] != kOnPath)
        return chains_[record];
    return static_cast<uint32_t>(records_.size());
}

tstring MftScanner::BuildFolderPath(uint32_t record, const tstring& driveText) const {
    std::vector<const FolderName*> names;
    uint32_t at = record;
    for (uint32_t steps = WalkLimit(record); at != kRootRecord && steps > 0; --steps) {
        const FolderRecord* entry = Record(at);
        if (!entry || entry->names.empty())
            break;
        names.push_back(&entry->names[0]);
        at = entry->names[0].parent;
    }
    tstring path = driveText;
    for (size_t i = names.size(); i-- > 0;) {
        path.append(names[i]->text, names[i]->length);
        path += L'\\';
    }
    return path;
}

int32_t MftScanner::FindFolderByPath(const tstring& path, const tstring& driveText) const {
    if (lstrcmpiW(path.c_str(), path.Left(2).c_str()) == 0 || lstrcmpiW(path.c_str(), driveText.c_str()) == 0)
        return kRootRecord;
    for (size_t i = kFirstCountedRecord; i < records_.size(); ++i) {
        const FolderRecord& entry = records_[i];
        if (!entry.IsFolder() || entry.names.empty())
            continue;
        tstring candidate = TrimBackslashes(BuildFolderPath(static_cast<uint32_t>(i), driveText));
        if (candidate.size() == path.size() && lstrcmpiW(candidate.c_str(), path.c_str()) == 0)
            return static_cast<int32_t>(i);
    }
    return -1;
}

void DeleteModel(MftScanner*& model) {
    delete model;
    model = nullptr;
    PrivateHeap::Destroy();
}

tstring TrimBackslashes(const tstring& path) {
    size_t end = path.size();
    while (end > 0 && path[end - 1] == L'\\')
        --end;
    return tstring(path, 0, end);
}

#pragma once
#include <windows.h>
#include <cstdint>
#include <string_view>
#include <vector>
#include "diskexplorer/PrivateHeap.h"

// One name of an MFT record: the text lives in the model's private heap.
struct FolderName {
    const wchar_t* text;
    uint32_t length;
    uint32_t parent;  // record number of the folder holding this name
    std::wstring_view Text() const { return std::wstring_view(text, length); }
};

// The model's entry for one MFT record; the record number is its index.
struct FolderRecord {
    enum Flags : uint8_t { Directory = 1, Seen = 2 };

    uint64_t size = 0;        // a file's streams; a folder's own files after summing
    uint64_t totalSize = 0;   // a folder's files anywhere below it
    std::vector<FolderName, HeapAllocator<FolderName>> names;  // no DOS-only names
    FILETIME creationTime{};
    FILETIME modificationTime{};
    FILETIME mftChangeTime{};
    FILETIME accessTime{};
    uint32_t attributes = 0;
    uint32_t fileCount = 0;       // names of files directly in the folder
    uint32_t totalFileCount = 0;  // names of files anywhere below it
    uint8_t flags = 0;

    bool IsSeen() const { return (flags & Seen) != 0; }
    bool IsDirectory() const { return (flags & Directory) != 0; }
    bool IsFolder() const { return IsSeen() && IsDirectory(); }
};

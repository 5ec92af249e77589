#pragma once
#include <windows.h>
#include <commctrl.h>
#include <cstdint>
#include "common/tstring/tstring.h"
#include "common/ui/Window.h"

// The list of a folder's subfolders and its "All files" item: a list view
// with tiles, details and three groups.
class FolderList : public Window {
public:
    enum Group { DriveGroup = 0, FolderGroup = 1, FilesGroup = 2 };
    static constexpr LPARAM kAllFiles = -1;

    ~FolderList();
    bool Create(HWND parent, UINT id);
    void Clear();
    int Count() const { return count_; }
    // Appends an item; `parameter` is the record number or kAllFiles.
    void AddItem(LPARAM parameter, uint32_t percent, const tstring& name, uint64_t size, uint64_t items, Group group);
    // LVM_SETVIEW; Wine refuses the tile view, which is not an error here.
    void SetView(bool details);
    void SetDetailsWidths();
    void Sort(PFNLVCOMPARE compare, LPARAM context);
    int Selected() const;
    LPARAM Parameter(int index) const;
    int GroupOf(int index) const;
    tstring ItemText(int index, int column = 0) const;
    int ItemImage(int index) const;
    void Select(int index);
    HIMAGELIST LargeImages() const { return large_; }

private:
    int count_ = 0;
    HIMAGELIST large_ = nullptr;
    HIMAGELIST small_ = nullptr;
};

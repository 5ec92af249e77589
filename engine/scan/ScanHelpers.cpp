#include "engine/scan/ScanHelpers.h"

int32_t CountSubkeys(HKEY key, int depth) {
    int32_t count = 0;
    int failuresInRow = 0;
    for (DWORD index = 0;; ++index) {
        wchar_t name[1024];
        DWORD length = 1024;
        LONG rc = RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS || rc == ERROR_ACCESS_DENIED) break;
        if (rc != ERROR_SUCCESS) {
            // A name too long for the buffer fails only its own index; a key
            // deleted meanwhile fails every index and would never end the loop.
            if (++failuresInRow > 64) break;
            continue;
        }
        failuresInRow = 0;
        if (depth == 3) {
            ++count;
            continue;
        }
        HKEY child = nullptr;
        if (RegOpenKeyExW(key, name, 0, KEY_ENUMERATE_SUB_KEYS, &child) == ERROR_SUCCESS) {
            count += CountSubkeys(child, depth + 1);
            RegCloseKey(child);
        }
    }
    return count;
}

tstring CountedNameText(const wchar_t* chars, size_t count) {
    tstring text;
    text.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        if (chars[i] == L'\0')
            text += L"(null)";
        else
            text += chars[i];
    }
    return text;
}

#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>
#include "FileBytes.h"
#include "TempFolder.h"

inline std::wstring DecodeUtf16(const std::string& bytes, size_t from = 0) {
    std::wstring text((bytes.size() - from) / 2, L'\0');
    if (!text.empty())
        memcpy(&text[0], bytes.data() + from, text.size() * 2);
    return text;
}

// The CR LF ended lines of a UTF-16LE text.
inline std::vector<std::wstring> SplitLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

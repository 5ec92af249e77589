#pragma once
#include <windows.h>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>
#include "common/archive/Crc32.h"
#include "FileBytes.h"
#include "TempFolder.h"

// Other tests share this executable: the helpers keep to their own namespace.
namespace ignoretest {

// The bytes of an ignore file body, field by field; Bytes() puts the check
// value in front.
class IgnoreBytes {
public:
    IgnoreBytes& Byte(uint8_t b) {
        body_.push_back(char(b));
        return *this;
    }
    IgnoreBytes& Int(int32_t v) {
        body_.append(reinterpret_cast<const char*>(&v), 4);
        return *this;
    }
    IgnoreBytes& Text(const std::wstring& s) {
        Int(int32_t(s.size() * 2));
        body_.append(reinterpret_cast<const char*>(s.data()), s.size() * 2);
        return *this;
    }
    IgnoreBytes& Full(const std::wstring& key, const std::wstring& value, const std::wstring& reason,
                      const std::wstring& item, int32_t errorId) {
        return Byte(0).Text(key).Text(value).Text(reason).Text(item).Int(errorId);
    }
    IgnoreBytes& Short(uint8_t flag, const std::wstring& key, const std::wstring& value) {
        return Byte(flag).Text(key).Text(value);
    }
    const std::string& Body() const { return body_; }
    std::string Bytes() const {
        uint32_t crc = Crc32::Of(body_.data(), body_.size());
        return std::string(reinterpret_cast<const char*>(&crc), 4) + body_;
    }

private:
    std::string body_;
};

// The key paths of an engine-written ignore file (full records), in file
// order; "?" for a record cut short.
inline std::vector<std::wstring> StoredKeys(const std::string& bytes) {
    std::vector<std::wstring> keys;
    size_t at = 4;
    auto text = [&] {
        int32_t size = 0;
        if (at + 4 > bytes.size())
            return std::wstring(L"?");
        memcpy(&size, bytes.data() + at, 4);
        at += 4;
        if (size < 0 || at + size_t(size) > bytes.size())
            return std::wstring(L"?");
        std::wstring value(reinterpret_cast<const wchar_t*>(bytes.data() + at), size_t(size) / 2);
        at += size_t(size);
        return value;
    };
    while (at < bytes.size()) {
        uint8_t flag = uint8_t(bytes[at++]);
        keys.push_back(text());
        text();
        if (flag == 0) {
            text();
            text();
            at += 4;
        }
    }
    return keys;
}

// The same keys on one line, for checks that print what they found.
inline std::string StoredKeyText(const std::string& bytes) {
    std::string text;
    for (const std::wstring& key : StoredKeys(bytes)) {
        text += text.empty() ? "" : " ";
        for (wchar_t c : key)
            text += c < 0x80 ? char(c) : '?';
    }
    return text;
}

}  // namespace ignoretest

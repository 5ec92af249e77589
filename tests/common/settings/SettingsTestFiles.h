#pragma once
#include <windows.h>
#include <cstdint>
#include <string>
#include "FileBytes.h"
#include "TempFolder.h"

// The bytes of a settings file, built field by field.
class SettingsBytes {
public:
    SettingsBytes& Int(int32_t v) {
        bytes_.append(reinterpret_cast<const char*>(&v), 4);
        return *this;
    }
    SettingsBytes& Text(const std::wstring& s) {
        Int(int32_t(s.size() * 2));
        bytes_.append(reinterpret_cast<const char*>(s.data()), s.size() * 2);
        return *this;
    }
    SettingsBytes& Byte(uint8_t b) {
        bytes_.push_back(char(b));
        return *this;
    }
    SettingsBytes& Raw(const std::string& s) {
        bytes_ += s;
        return *this;
    }
    const std::string& Get() const { return bytes_; }

private:
    std::string bytes_;
};

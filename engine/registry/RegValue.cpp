#include "engine/registry/RegValue.h"
#include <cwchar>
#include <cstring>
#include <vector>
#include "common/errors/CheckObjects.h"

namespace {

// The data of a value, wherever it is kept.
class ByteView {
public:
    ByteView(const std::vector<BYTE>& read, const SharedBuffer& shared)
        : data_(read.empty() ? shared.Data() : read.data()),
          size_(read.empty() ? shared.Size() : uint32_t(read.size())) {}
    const BYTE* Data() const { return data_; }
    uint32_t Size() const { return size_; }

private:
    const BYTE* data_;
    uint32_t size_;
};

// Code units of string data, never reading past its used size (the size may
// be odd, or lack a terminator, when the data came from SetBytes or SetData).
size_t UnitCount(const ByteView& data) {
    return data.Size() / sizeof(wchar_t);
}

const wchar_t* Units(const ByteView& data) {
    return reinterpret_cast<const wchar_t*>(data.Data());
}

size_t BoundedLength(const wchar_t* text, size_t max) {
    size_t n = 0;
    while (n < max && text[n] != L'\0')
        ++n;
    return n;
}

uint64_t LittleEndianNumber(const ByteView& data, uint32_t width) {
    // Short data gives the bytes that are there, the rest zero.
    uint64_t value = 0;
    std::memcpy(&value, data.Data(), data.Size() < width ? data.Size() : width);
    return value;
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

uint32_t ParseHex32(const tstring& text) {
    return uint32_t(wcstoul(text.c_str(), nullptr, 16));
}

}  // namespace

DWORD RegValue::RegistryType(int32_t code) {
    switch (code) {
    case String: return REG_SZ;
    case ExpandString: return REG_EXPAND_SZ;
    case MultiString: return REG_MULTI_SZ;
    case Number32: return REG_DWORD;
    case Number64: return REG_QWORD;
    case Binary: return REG_BINARY;
    default: return REG_NONE;
    }
}

int32_t RegValue::CodeOf(DWORD registryType) {
    switch (registryType) {
    case REG_SZ: return String;
    case REG_EXPAND_SZ: return ExpandString;
    case REG_MULTI_SZ: return MultiString;
    case REG_DWORD: return Number32;
    case REG_QWORD: return Number64;
    case REG_BINARY: return Binary;
    default: return OtherType;
    }
}

RegValue::RegValue(const RegKey& key, const tstring& name) : RegKey(key) {
    if (name.CompareNoCase(L"(Default)") != 0)
        valueName_ = name;
}

RegValue::RegValue(const RegValue& other) : RegKey(other), valueName_(other.valueName_) {
    const SharedBuffer& data = const_cast<RegValue&>(other).Data();
    if (data.Size() == 0)
        return;
    data_ = data;
    type_ = other.type_;
    textCached_ = other.textCached_;
    if (textCached_)
        text_ = other.text_;
}

RegValue& RegValue::operator=(const RegValue& other) {
    if (this == &other)
        return *this;
    RegValue copy(other);
    return *this = std::move(copy);
}

RegValue::RegValue(RegValue&& other) noexcept
    : RegKey(std::move(other)), valueName_(std::move(other.valueName_)), data_(std::move(other.data_)),
      read_(std::move(other.read_)), type_(other.type_), textCached_(other.textCached_),
      text_(std::move(other.text_)) {
    other.read_.clear();
    other.type_ = NotRead;
    other.textCached_ = false;
}

RegValue& RegValue::operator=(RegValue&& other) noexcept {
    if (this == &other)
        return *this;
    RegKey::operator=(std::move(other));
    valueName_ = std::move(other.valueName_);
    data_ = std::move(other.data_);
    read_ = std::move(other.read_);
    other.read_.clear();
    type_ = other.type_;
    textCached_ = other.textCached_;
    text_ = std::move(other.text_);
    other.type_ = NotRead;
    other.textCached_ = false;
    return *this;
}

void RegValue::Forget() {
    data_.Release();
    read_.clear();
    textCached_ = false;
    text_.clear();
}

bool RegValue::Query() {
    type_ = NotRead;
    Forget();
    type_ = Reading;
    Win32Check ck;
    // Most values fit a first guess, which spares a round trip asking for the
    // size. The value may grow between reads; a few rounds settle it, a value
    // that keeps growing ends with ERROR_MORE_DATA.
    DWORD room = 1024;
    std::vector<BYTE> bytes;
    for (int round = 0;; ++round) {
        // Room for a terminator after any string data, also of odd length.
        bytes.assign(size_t(room) + 4, 0);
        DWORD registryType = REG_NONE;
        DWORD read = room;
        LONG status = RegQueryValueExW(Handle(), valueName_.c_str(), nullptr, &registryType, bytes.data(), &read);
        if (status == ERROR_FILE_NOT_FOUND) {
            type_ = Absent;
            return false;
        }
        if (status == ERROR_MORE_DATA && round < 8) {
            room = read > room ? read : room * 2;
            continue;
        }
        ck = status;
        Store(registryType, bytes.data(), read);
        return true;
    }
}

void RegValue::Store(DWORD registryType, const BYTE* bytes, DWORD read) {
    Forget();
    if (read == 0) {
        type_ = CodeOf(registryType);
        return;
    }
    uint32_t used = read;
    // String data gets a terminator when it lacks one.
    if (registryType == REG_SZ || registryType == REG_EXPAND_SZ) {
        uint32_t even = (read + 1) & ~1u;
        if (even != read || read < 2 || bytes[read - 1] != 0 || bytes[read - 2] != 0)
            used = even + 2;
    }
    read_.assign(bytes, bytes + read);
    read_.resize(used, 0);
    type_ = CodeOf(registryType);
}

const SharedBuffer& RegValue::Data() {
    if (type_ == NotRead)
        Query();
    if (!read_.empty()) {
        data_ = SharedBuffer(read_.data(), uint32_t(read_.size()));
        read_.clear();
    }
    return data_;
}

tstring RegValue::DataText() {
    if (type_ == NotRead)
        Query();
    ByteView data(read_, data_);
    if (data.Size() == 0)
        return tstring();
    if (textCached_)
        return text_;
    tstring text;
    switch (type_) {
    case String:
    case ExpandString: {
        const wchar_t* units = Units(data);
        text.assign(units, BoundedLength(units, UnitCount(data)));
        if (type_ == ExpandString) {
            tstring expanded;
            ExpandEnvironment(expanded, text.c_str());
            text = expanded;
        }
        break;
    }
    case MultiString: {
        const wchar_t* units = Units(data);
        size_t count = UnitCount(data);
        for (size_t at = 0; at < count;) {
            size_t length = BoundedLength(units + at, count - at);
            if (length == 0)
                break;
            text.append(units + at, length);
            text += L' ';
            at += length + 1;
        }
        break;
    }
    case Number32:
        text = FormatText(L"0x%.8X", unsigned(LittleEndianNumber(data, 4)));
        break;
    case Number64:
        text = FormatText(L"0x%.16I64X", LittleEndianNumber(data, 8));
        break;
    case Binary: {
        static const wchar_t digits[] = L"0123456789ABCDEF";
        const BYTE* bytes = data.Data();
        text.reserve(data.Size() * 2);
        for (uint32_t i = 0; i < data.Size(); ++i) {
            text += digits[bytes[i] >> 4];
            text += digits[bytes[i] & 15];
        }
        break;
    }
    default:
        break;
    }
    text_ = text;
    textCached_ = true;
    return text;
}

tstring RegValue::StoredText() {
    if (type_ == NotRead)
        Query();
    ByteView data(read_, data_);
    if (type_ != ExpandString || data.Size() < sizeof(wchar_t))
        return DataText();
    const wchar_t* units = Units(data);
    return tstring(units, BoundedLength(units, UnitCount(data)));
}

bool RegValue::SetText(const tstring& text, int32_t type) {
    int32_t code = type == KeepType ? type_ : type;
    bool result = true;
    switch (code) {
    case Number32: {
        uint32_t number = ParseHex32(text);
        SetBytes(&number, sizeof number, code);
        break;
    }
    case Number64: {
        uint64_t number = 0;
        if (text.size() > 8) {
            number = uint64_t(ParseHex32(text.substr(text.size() - 8)));
            number |= uint64_t(ParseHex32(text.substr(0, text.size() - 8))) << 32;
        } else {
            number = ParseHex32(text);
        }
        SetBytes(&number, sizeof number, code);
        break;
    }
    case Binary: {
        std::vector<BYTE> bytes;
        for (size_t at = 0; at < text.size(); at += 2) {
            int high = HexDigit(text[at]);
            int low = at + 1 < text.size() ? HexDigit(text[at + 1]) : -2;
            // A lone last character is the low digit of the last byte.
            int value = low == -2 ? (high < 0 ? 0 : high)
                                  : (high < 0 ? 0 : high) * 16 + (low < 0 ? 0 : low);
            bytes.push_back(BYTE(value));
        }
        result = SetBytes(bytes.data(), uint32_t(bytes.size()), code);
        break;
    }
    default: {
        tstring stored = text;
        if (code == MultiString)
            for (wchar_t& c : stored)
                if (c == L'\n')
                    c = L'\0';
        if (code < String || code > Binary)
            code = String;
        SetBytes(stored.c_str(), uint32_t((stored.size() + 1) * sizeof(wchar_t)), code);
        break;
    }
    }
    return result;
}

bool RegValue::SetBytes(const void* bytes, uint32_t count, int32_t type) {
    if (count != 0 && !bytes)
        return false;
    SetData(count ? SharedBuffer(bytes, count) : SharedBuffer(), type);
    return true;
}

void RegValue::SetData(const SharedBuffer& data, int32_t type) {
    Forget();
    data_ = data;
    if (type != KeepType)
        type_ = type;
}

bool RegValue::Write() {
    DWORD registryType = RegistryType(type_);
    if (registryType == REG_NONE)
        return false;
    Win32Check ck;
    ByteView data(read_, data_);
    ck = RegSetValueExW(Handle(), valueName_.c_str(), 0, registryType, data.Data(), data.Size());
    return true;
}

void RegValue::Delete() {
    Win32Check ck;
    ck = RegDeleteValueW(Handle(), valueName_.c_str());
    type_ = NotRead;
    Forget();
}

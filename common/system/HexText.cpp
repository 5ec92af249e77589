#include "common/system/HexText.h"

namespace {

int HexDigit(TCHAR c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

BYTE PairValue(const TCHAR* pair, size_t n) {
    int value = 0;
    for (size_t i = 0; i < n; ++i) {
        int digit = HexDigit(pair[i]);
        if (digit < 0)
            break;
        value = value * 16 + digit;
    }
    return BYTE(value);
}

void Decode(const tstring& text, BYTE* out) {
    for (size_t i = 0; i < text.size(); i += 2)
        *out++ = PairValue(text.data() + i, text.size() - i >= 2 ? 2 : 1);
}

}  // namespace

tstring BytesToHexText(const BYTE* bytes, size_t length) {
    static const TCHAR digits[] = _T("0123456789ABCDEF");
    tstring text;
    if (!bytes)
        return text;
    text.resize(length * 2);
    for (size_t i = 0; i < length; ++i) {
        text[2 * i] = digits[bytes[i] >> 4];
        text[2 * i + 1] = digits[bytes[i] & 0x0F];
    }
    return text;
}

size_t HexTextToBytes(const tstring& text, std::vector<BYTE>& bytes) {
    bytes.assign((text.size() + 1) / 2, 0);
    if (!bytes.empty())
        Decode(text, bytes.data());
    return bytes.size();
}

size_t HexTextToBytes(const tstring& text, SharedBuffer& bytes) {
    bytes.Release();
    size_t n = (text.size() + 1) / 2;
    if (n == 0)
        return 0;
    SharedBuffer decoded{static_cast<uint32_t>(n)};
    Decode(text, decoded.Data());
    bytes = std::move(decoded);
    return n;
}

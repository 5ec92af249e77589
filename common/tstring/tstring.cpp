#include "common/tstring/tstring.h"
#include <cstring>

namespace {

HMODULE g_resourceModule = nullptr;

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleEx(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                      reinterpret_cast<LPCTSTR>(&ThisModule), &module);
    return module;
}

bool IsResourceId(const void* p) {
    uintptr_t v = reinterpret_cast<uintptr_t>(p);
    return v >= 1 && v <= 0xFFFF;
}

#ifndef UNICODE
// Narrow text follows the calling thread's locale rather than the system's, so
// a program that sets its thread locale reads and writes names in that code page.
const UINT kNarrowCodePage = CP_THREAD_ACP;
#endif

TCHAR FoldAscii(TCHAR c) {
    return (c >= 'A' && c <= 'Z') ? TCHAR(c + ('a' - 'A')) : c;
}

// The count _vsctprintf reports, or -1; the va_list is copied so it can be reused.
int MeasureV(const TCHAR* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int n = _vsctprintf(format, copy);
    va_end(copy);
    return n;
}

}  // namespace

HMODULE ResourceModule() { return g_resourceModule ? g_resourceModule : ThisModule(); }
void SetResourceModule(HMODULE module) { g_resourceModule = module; }

tstring::tstring(const TCHAR* text) {
    if (!text)
        return;
    if (IsResourceId(text))
        LoadString(UINT(reinterpret_cast<uintptr_t>(text)));
    else
        assign(text);
}

tstring tstring::FromNarrow(const char* text) {
    tstring s;
    if (IsResourceId(text))
        s.LoadString(UINT(reinterpret_cast<uintptr_t>(text)));
    else
        s.AssignNarrow(text);
    return s;
}

tstring tstring::FromWide(const wchar_t* text) {
    return text ? FromWide(text, wcslen(text)) : tstring();
}

tstring tstring::FromWide(const wchar_t* text, size_t length) {
#ifdef UNICODE
    return length ? tstring(text, length) : tstring();
#else
    tstring narrow;
    int n = WideCharToMultiByte(kNarrowCodePage, 0, text, int(length), nullptr, 0, nullptr, nullptr);
    if (n > 0) {
        narrow.resize(size_t(n));
        WideCharToMultiByte(kNarrowCodePage, 0, text, int(length), &narrow[0], n, nullptr, nullptr);
    }
    return narrow;
#endif
}

tstring tstring::FromWideStrict(const wchar_t* text) {
#ifdef UNICODE
    return FromWide(text);
#else
    if (!text || !*text)
        return tstring();
    int length = int(wcslen(text));
    int n = WideCharToMultiByte(kNarrowCodePage, WC_NO_BEST_FIT_CHARS, text, length, nullptr, 0, nullptr, nullptr);
    // A UTF-8 code page refuses the flag; it holds every character as it is.
    if (n <= 0)
        return FromWide(text, size_t(length));
    tstring narrow(size_t(n), '\0');
    WideCharToMultiByte(kNarrowCodePage, WC_NO_BEST_FIT_CHARS, text, length, &narrow[0], n, nullptr, nullptr);
    return narrow;
#endif
}

std::wstring tstring::ToWide() const {
#ifdef UNICODE
    return std::wstring(data(), size());
#else
    std::wstring wide;
    int n = MultiByteToWideChar(kNarrowCodePage, 0, data(), int(size()), nullptr, 0);
    if (n > 0) {
        wide.resize(size_t(n));
        MultiByteToWideChar(kNarrowCodePage, 0, data(), int(size()), &wide[0], n);
    }
    return wide;
#endif
}

tstring tstring::FromVariant(const VARIANT& value) {
    if (value.vt == VT_BSTR) {
#ifdef UNICODE
        return value.bstrVal ? tstring(value.bstrVal, SysStringLen(value.bstrVal)) : tstring();
#endif
    }
    VARIANT converted;
    VariantInit(&converted);
    tstring s;
    if (SUCCEEDED(VariantChangeType(&converted, const_cast<VARIANT*>(&value), 0, VT_BSTR)) && converted.bstrVal)
        s = FromWide(converted.bstrVal, SysStringLen(converted.bstrVal));
    VariantClear(&converted);
    return s;
}

bool tstring::LoadString(UINT id, HMODULE module) {
    if (!module)
        module = ResourceModule();
    HRSRC res = FindResource(module, MAKEINTRESOURCE(id / 16 + 1), RT_STRING);
    if (!res)
        return false;
    DWORD size = SizeofResource(module, res);
    if (size <= 1)
        return false;
    int units = int(size / 2);
    tstring loaded;
    int n = ::LoadString(module, id, loaded.GetBuffer(units), units);
    if (n == 0) {
        clear();
        return false;
    }
    loaded.ReleaseBuffer(-1);
    *this = std::move(loaded);
    return true;
}

int tstring::Format(const TCHAR* format, ...) {
    va_list args;
    va_start(args, format);
    int n = FormatV(format, args);
    va_end(args);
    return n;
}

int tstring::FormatV(const TCHAR* format, va_list args) {
    if (!format)
        return int(length());
    int n = MeasureV(format, args);
    if (n < 0) {
        clear();
        return 0;
    }
    tstring out;
    out.resize(size_t(n) + 1);
    va_list copy;
    va_copy(copy, args);
    int written = _vsntprintf(&out[0], size_t(n) + 1, format, copy);
    va_end(copy);
    out.resize(written < 0 ? 0 : size_t(written));
    *this = std::move(out);
    return int(length());
}

int tstring::Format2(const TCHAR* format, const tstring& a, const tstring& b) {
    return Format(format, a.c_str(), b.c_str());
}

int tstring::Replace(const TCHAR* oldText, const TCHAR* newText) {
    if (!oldText || !*oldText)
        return 0;
    const size_t oldLen = _tcslen(oldText);
    const size_t newLen = newText ? _tcslen(newText) : 0;
    if (newLen > oldLen) {
        size_t count = 0;
        for (size_t p = find(oldText); p != npos; p = find(oldText, p + oldLen))
            ++count;
        if (count == 0)
            return 0;
        reserve(length() + (newLen - oldLen) * count);
    }
    int replaced = 0;
    size_t pos = 0;
    while ((pos = find(oldText, pos, oldLen)) != npos) {
        replace(pos, oldLen, newText ? newText : _T(""), newLen);
        pos += newLen;
        ++replaced;
    }
    return replaced;
}

tstring tstring::Mid(int start, int count) const {
    if (start < 0)
        start = 0;
    if (count < 0)
        count = 0;
    if (size_t(start) > length())
        return tstring();
    size_t n = std::min(size_t(count), length() - size_t(start));
    return tstring(substr(size_t(start), n));
}

tstring tstring::Left(int n) const {
    size_t k = n < 0 ? 0 : std::min(size_t(n), length());
    return tstring(substr(0, k));
}

tstring tstring::Right(int n) const {
    size_t k = n < 0 ? 0 : std::min(size_t(n), length());
    return tstring(substr(length() - k, k));
}

TCHAR* tstring::GetBuffer(int n) {
    if (n > 0 && length() < size_t(n))
        resize(size_t(n), TCHAR(0));
    return &(*this)[0];
}

void tstring::ReleaseBuffer(int n) {
    if (n < 0)
        n = int(_tcsnlen(c_str(), length()));
    resize(size_t(n), TCHAR(0));
}

void tstring::MakeLower() { MakeLower(std::locale()); }

void tstring::MakeLower(const std::locale& loc) {
    const auto& facet = std::use_facet<std::ctype<TCHAR>>(loc);
    if (!empty())
        facet.tolower(&(*this)[0], &(*this)[0] + length());
}

void tstring::MakeUpper(const std::locale& loc) {
    const auto& facet = std::use_facet<std::ctype<TCHAR>>(loc);
    if (!empty())
        facet.toupper(&(*this)[0], &(*this)[0] + length());
}

void tstring::ToUpperW() {
    if (empty())
        return;
    // Upper-casing never changes the length for LCMapString, so the text
    // is mapped onto itself.
    LCMapString(LOCALE_USER_DEFAULT, LCMAP_UPPERCASE, &(*this)[0], int(length()), &(*this)[0],
                int(length()));
}

int tstring::CompareNoCase(const TCHAR* other) const { return ::CompareNoCase(c_str(), other); }

int CompareNoCase(const TCHAR* a, const TCHAR* b) {
    using Unit = std::make_unsigned_t<TCHAR>;
    Unit ca, cb;
    do {
        ca = Unit(FoldAscii(*a++));
        cb = Unit(FoldAscii(*b++));
    } while (ca == cb && ca != 0);
    return int(ca) - int(cb);
}

void tstring::AssignNarrow(const char* text) {
    clear();
    AppendNarrow(text);
}

void tstring::AppendNarrow(const char* text) {
    if (!text || !*text)
        return;
#ifdef UNICODE
    // The narrow-to-wide facet of the global locale; the process keeps the
    // classic locale, where every byte becomes the character of the same value.
    std::locale loc;
    const auto& facet = std::use_facet<std::ctype<wchar_t>>(loc);
    const size_t n = strlen(text);
    size_t old = length();
    resize(old + n);
    facet.widen(text, text + n, &(*this)[old]);
#else
    append(text);
#endif
}

void tstring::ExpandInPlace() {
    tstring source = *this;
    ExpandEnvironment(*this, source.c_str());
}

bool ExpandEnvironment(tstring& target, const TCHAR* text) {
    DWORD n = ExpandEnvironmentStrings(text, nullptr, 0);
    if (n == 0) {
        target.clear();
        return true;
    }
    tstring out;
    for (;;) {
        DWORD got = ExpandEnvironmentStrings(text, out.GetBuffer(int(n)), n);
        if (got == 0) {
            target.clear();
            return true;
        }
        if (got <= n)
            break;
        n = got;
    }
    out.ReleaseBuffer(-1);
    target = std::move(out);
    return true;
}

tstring GetModulePath() {
    TCHAR path[1040];
    DWORD n = GetModuleFileName(nullptr, path, 1040);
    return tstring(path, n < 1040 ? n : 1039);
}

tstring FormatText(const TCHAR* format, ...) {
    tstring s;
    va_list args;
    va_start(args, format);
    s.FormatV(format, args);
    va_end(args);
    return s;
}

#pragma once
#include <windows.h>
#include <oaidl.h>
#include <tchar.h>
#include <cstdarg>
#include <cstdint>
#include <locale>
#include <string>

// The system's string type: the standard string of TCHAR (wide in every
// deliverable but the ANSI restore program) with the operations of a classic
// string class. Lengths and positions count TCHAR units.
class tstring : public std::basic_string<TCHAR> {
public:
    using base = std::basic_string<TCHAR>;
    using base::base;

    tstring() = default;
    tstring(const base& s) : base(s) {}
    tstring(base&& s) : base(std::move(s)) {}
    // A value from 1 to 0xFFFF is a string-table id; NULL is the empty string.
    tstring(const TCHAR* text);

    static tstring FromNarrow(const char* text);
    static tstring FromVariant(const VARIANT& value);
    // Wide text in this build's characters; the ANSI build converts through
    // the calling thread's ANSI code page. NULL is the empty string.
    static tstring FromWide(const wchar_t* text);
    static tstring FromWide(const wchar_t* text, size_t length);
    // The same, except that the ANSI build turns a character its code page
    // lacks into the code page's default character ('?') instead of a
    // look-alike, so that no name reads as another one (full-width letters
    // as the plain ones).
    static tstring FromWideStrict(const wchar_t* text);
    // The whole text (embedded NULs too) as wide characters, converted likewise.
    std::wstring ToWide() const;

    bool LoadString(UINT id, HMODULE module = nullptr);

    int Format(const TCHAR* format, ...);
    int FormatV(const TCHAR* format, va_list args);
    // Formats with the string-table text id as the format; a missing text
    // leaves the string unchanged. tstring arguments pass as their text.
    template <class... Args>
    void FormatResource(UINT id, const Args&... arguments) {
        tstring format;
        if (format.LoadString(id))
            Format(format.c_str(), FormatArgument(arguments)...);
    }
    int Format2(const TCHAR* format, const tstring& a, const tstring& b);

    int Replace(const TCHAR* oldText, const TCHAR* newText);

    tstring Mid(int start, int count = INT32_MAX) const;
    tstring Left(int n) const;
    tstring Right(int n) const;

    TCHAR* GetBuffer(int n);
    TCHAR* GetBufferSetLength(int n) { return GetBuffer(n); }
    void ReleaseBuffer(int n = -1);

    void MakeLower();
    void MakeLower(const std::locale& loc);
    void MakeUpper(const std::locale& loc);
    // Upper-cases in place by the rules of the user's locale, as the system
    // maps case (so letters beyond ASCII fold too).
    void ToUpperW();

    int CompareNoCase(const TCHAR* other) const;

    void AssignNarrow(const char* text);
    void AppendNarrow(const char* text);

    void ExpandInPlace();

private:
    static const TCHAR* FormatArgument(const tstring& text) { return text.c_str(); }
    static const TCHAR* FormatArgument(const base& text) { return text.c_str(); }
    template <class T>
    static const T& FormatArgument(const T& value) { return value; }
};

// Case-insensitive three-way comparison; only the ASCII letters fold.
int CompareNoCase(const TCHAR* a, const TCHAR* b);

// Expands %NAME% references; an expansion that fails leaves target empty.
bool ExpandEnvironment(tstring& target, const TCHAR* text);

// Full path of the running program's file.
tstring GetModulePath();

// The module string-table ids are loaded from when none is named: the module
// holding this code unless a deliverable sets another.
HMODULE ResourceModule();
void SetResourceModule(HMODULE module);

// Formats into a new string (printf-style, Microsoft wide conventions: "%s" takes TCHAR text).
tstring FormatText(const TCHAR* format, ...);

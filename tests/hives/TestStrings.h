#pragma once
#include <doctest/doctest.h>
#include <set>
#include <vector>
#include "common/tstring/tstring.h"

// Readable values in failure reports.
namespace doctest {
template <>
struct StringMaker<tstring> {
    static String convert(const tstring& s) {
        std::string narrow;
        for (TCHAR c : s)
            narrow += c < 128 ? char(c) : '?';
        return String(("\"" + narrow + "\"").c_str());
    }
};
template <class T>
struct StringMaker<std::vector<T>> {
    static String convert(const std::vector<T>& v) {
        String out("{");
        for (const T& item : v)
            out += StringMaker<T>::convert(item) + " ";
        return out + "}";
    }
};
template <class T>
struct StringMaker<std::set<T>> {
    static String convert(const std::set<T>& v) {
        String out("{");
        for (const T& item : v)
            out += StringMaker<T>::convert(item) + " ";
        return out + "}";
    }
};
}  // namespace doctest

#include "common/errors/ErrorBase.h"

// Failures of the code under test name themselves.
inline doctest::String DescribeErrorBase(const ErrorBase& e) {
    return doctest::StringMaker<tstring>::convert(FormatText(_T("ErrorBase 0x%08X: "), unsigned(e.Code())) + e.Message());
}
REGISTER_EXCEPTION_TRANSLATOR(const ErrorBase& e) {
    return DescribeErrorBase(e);
}

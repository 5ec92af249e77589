#pragma once
#include "common/errors/ErrorBase.h"

// Check objects: assign a Windows result; a failure throws the matching error
// whose message is "context: system text" (the system text alone without context).
class BoolCheck {
public:
    BoolCheck() = default;
    explicit BoolCheck(const tstring& context) : context_(context) {}
    explicit BoolCheck(BOOL result) { *this = result; }
    int operator=(int result);
    const tstring& Context() const { return context_; }

private:
    tstring context_;
};

class HRCheck {
public:
    HRCheck() = default;
    explicit HRCheck(const tstring& context) : context_(context) {}
    explicit HRCheck(HRESULT hr) { *this = hr; }
    HRESULT operator=(HRESULT hr);
    const tstring& Context() const { return context_; }

private:
    tstring context_;
};

class Win32Check {
public:
    Win32Check() = default;
    explicit Win32Check(const tstring& context) : context_(context) {}
    explicit Win32Check(LONG status) { *this = status; }
    LONG operator=(LONG status);
    const tstring& Context() const { return context_; }

private:
    tstring context_;
};

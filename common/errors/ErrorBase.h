#pragma once
#include <windows.h>
#include "common/tstring/tstring.h"

// The exception family of every deliverable. Codes are HRESULT-style: a
// positive Win32 status is folded to 0x8007xxxx before it is stored.
class ErrorBase {
public:
    ErrorBase() = default;
    ErrorBase(int32_t code, const tstring& message) : code_(code), message_(message) {}
    virtual ~ErrorBase() = default;

    virtual const tstring& Message() const { return message_; }
    virtual int32_t Code() const { return code_; }
    virtual void SetMessage(const tstring& message);

protected:
    int32_t code_ = 0;
    tstring message_;
};

class BoolError : public ErrorBase {
public:
    BoolError();  // from GetLastError
    ~BoolError() override = default;
};

class HRError : public ErrorBase {
public:
    explicit HRError(HRESULT hr);
    ~HRError() override = default;
};

class Win32Error : public ErrorBase {
public:
    explicit Win32Error(int32_t status);
    ~Win32Error() override = default;
};

// 0x80070000 | (status & 0xFFFF) for a positive status; 0 and negative values unchanged.
int32_t FoldWin32(int32_t status);

// The HRESULT a boundary returns for an error: its code when that is a failure,
// E_FAIL otherwise (a code of 0 must never travel as success).
HRESULT HResultOf(const ErrorBase& e);

#pragma once
#include <windows.h>

// What the report printer does with a printer: a device context and the
// document calls. The product prints on the context the print dialog
// returns; tests measure on a memory context and record what is drawn.
class PrintTarget {
public:
    explicit PrintTarget(HDC dc) : dc_(dc) {}
    virtual ~PrintTarget() = default;
    PrintTarget(const PrintTarget&) = delete;
    PrintTarget& operator=(const PrintTarget&) = delete;

    HDC Dc() const { return dc_; }
    virtual int Caps(int index) { return GetDeviceCaps(dc_, index); }
    virtual HGDIOBJ Select(HGDIOBJ object) { return SelectObject(dc_, object); }
    virtual void StartDocument(const wchar_t* name);
    virtual void StartPrintedPage() { StartPage(dc_); }
    virtual void EndPrintedPage() { EndPage(dc_); }
    virtual void EndDocument() { EndDoc(dc_); }
    virtual void Draw(const wchar_t* text, int length, RECT rect, UINT format) {
        DrawTextW(dc_, text, length, &rect, format);
    }

private:
    HDC dc_;
};

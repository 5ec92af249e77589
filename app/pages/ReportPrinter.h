#pragma once
#include <windows.h>
#include <memory>
#include "app/pages/PrintTarget.h"
#include "common/tstring/tstring.h"

// Prints a plain report text: lines broken to the frame width, pages broken
// by height, from the second page on a header with the fix date and the
// page number. A line followed by a row of hyphens is a section title and is
// drawn bold.
class ReportPrinter {
public:
    // Margins in inches. The target's context stays the caller's.
    ReportPrinter(PrintTarget& target, double left, double right, double top, double bottom);
    ~ReportPrinter();
    ReportPrinter(const ReportPrinter&) = delete;
    ReportPrinter& operator=(const ReportPrinter&) = delete;

    void PrintFixReport(const tstring& text, const tstring& fixDate);
    // The next line from position (advanced past it), measured with the font
    // selected now. Each line takes at least one character, so a character
    // wider than the frame cannot stall the text.
    tstring NextLine(const tstring& text, size_t& position, int width);

    int LineHeight() const { return lineHeight_; }
    int LinesPerPage() const { return lineHeight_ > 0 ? (bottom_ - top_) / lineHeight_ : 0; }
    RECT Frame() const { return {left_, top_, right_, bottom_}; }

private:
    HFONT MakeFont(int points, int weight) const;
    int Width(const tstring& line) const;
    void Draw(const tstring& line, RECT rect, UINT format);

    PrintTarget& target_;
    int lineHeight_ = 0;
    int textWidth_ = 0;
    int left_ = 0, top_ = 0, right_ = 0, bottom_ = 0;
    HFONT normal_ = nullptr, bold_ = nullptr, title_ = nullptr, header_ = nullptr;
    HGDIOBJ original_ = nullptr;
};

// Shows the print dialog (owner: the active window) and prints the text
// with the report margins on the printer chosen; nothing when cancelled.
void PrintReportText(const tstring& text, const tstring& fixDate);

// What PrintReportText draws on: the chosen printer's context itself unless a
// maker is set (the page driver prints the pages as text). NULL restores it.
using PrintTargetMaker = std::unique_ptr<PrintTarget> (*)(HDC printer);
void SetPrintTargetMaker(PrintTargetMaker maker);

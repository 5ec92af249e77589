#include <doctest/doctest.h>
#include <windows.h>
#include <string>
#include <vector>
#include "app/pages/ReportPrinter.h"

namespace {

// A printer of a set page size: measures on a memory context and records
// pages, fonts, formats and every DrawText call.
class RecordingPrintTarget : public PrintTarget {
public:
    struct Drawn {
        std::wstring text;
        RECT rect;
        UINT format;
        LONG weight;
    };
    RecordingPrintTarget(int width, int height) : PrintTarget(CreateCompatibleDC(nullptr)), width_(width), height_(height) {}
    ~RecordingPrintTarget() override { DeleteDC(Dc()); }

    int Caps(int index) override {
        if (index == LOGPIXELSX || index == LOGPIXELSY) return 96;
        if (index == HORZRES) return width_;
        if (index == VERTRES) return height_;
        return PrintTarget::Caps(index);
    }
    HGDIOBJ Select(HGDIOBJ object) override {
        LOGFONTW font = {};
        if (GetObjectW(object, sizeof(font), &font))
            weight_ = font.lfWeight;
        return PrintTarget::Select(object);
    }
    void StartDocument(const wchar_t* name) override { documents.push_back(name); }
    void StartPrintedPage() override {
        CHECK(!inPage);
        inPage = true;
        pages.emplace_back();
    }
    void EndPrintedPage() override {
        CHECK(inPage);
        inPage = false;
    }
    void EndDocument() override { ++ended; }
    void Draw(const wchar_t* text, int length, RECT rect, UINT format) override {
        REQUIRE(!pages.empty());
        pages.back().push_back({std::wstring(text, length), rect, format, weight_});
    }

    std::vector<std::wstring> documents;
    std::vector<std::vector<Drawn>> pages;
    bool inPage = false;
    int ended = 0;

private:
    int width_, height_;
    LONG weight_ = 0;
};

std::wstring NonSpace(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text)
        if (c != L' ' && c != L'\t' && c != L'\r' && c != L'\n') out += c;
    return out;
}

int TextWidth(HDC dc, std::wstring line) {
    while (!line.empty() && line.back() == L' ') line.pop_back();
    SIZE size = {};
    GetTextExtentPoint32W(dc, line.c_str(), static_cast<int>(line.size()), &size);
    return size.cx;
}

}  // namespace

TEST_CASE("a long report breaks into frame-wide lines and pages with a header from the second page on") {
    std::wstring text = L"Registry Fix Report\r\n\r\nFixes\r\n--------\r\n";
    text += std::wstring(600, L'W') + L"\r\n";
    text += L"\tTabbed & \"quoted\"\tvalue\n";
    for (int i = 0; i < 120; ++i)
        text += L"HKCU\\Software\\Key " + std::to_wstring(i) + L" value & data with some words in it\r\n";
    RecordingPrintTarget target(816, 1056);  // letter size at 96 dpi
    ReportPrinter printer(target, 1.18, 0.59, 0.79, 0.79);
    printer.PrintFixReport(text, L"12/09/2026, 00:41:02");

    const int perPage = printer.LinesPerPage();
    const RECT frame = printer.Frame();
    REQUIRE(perPage >= 2);
    CHECK(target.documents == std::vector<std::wstring>{L"Text Document"});
    CHECK(target.ended == 1);
    CHECK_FALSE(target.inPage);
    REQUIRE(target.pages.size() >= 3);
    CHECK(target.pages[0].size() == static_cast<size_t>(perPage));
    for (size_t p = 1; p + 1 < target.pages.size(); ++p)
        CHECK(target.pages[p].size() == static_cast<size_t>(perPage));  // the header and perPage - 1 lines

    const auto& header = target.pages[1][0];
    CHECK(header.text == L"Registry Fix Report (fix date: 12/09/2026, 00:41:02)       page no. 2");
    CHECK((header.format & DT_RIGHT));
    CHECK(header.rect.right == frame.right);
    CHECK(header.rect.top == frame.top - printer.LineHeight() * 3 / 2);
    CHECK(header.weight == 200);
    CHECK(target.pages[0][0].weight == 900);  // the title
    CHECK(target.pages[0][2].text == L"Fixes");
    CHECK(target.pages[0][2].weight == 700);   // above the hyphens
    CHECK(target.pages[0][3].weight == FW_DONTCARE);

    std::wstring drawn;
    // The printer leaves its normal font selected: the one lines are measured with.
    for (size_t p = 0; p < target.pages.size(); ++p)
        for (size_t i = p ? 1 : 0; i < target.pages[p].size(); ++i) {
            const auto& line = target.pages[p][i];
            CHECK((line.format & DT_NOPREFIX));
            if (line.weight == FW_DONTCARE)
                CHECK(TextWidth(target.Dc(), line.text) < frame.right - frame.left);
            drawn += line.text;
        }
    CHECK(NonSpace(drawn) == NonSpace(text));
}

TEST_CASE("line breaking: at the last space, else before the last character, never an empty stall") {
    RecordingPrintTarget target(816, 1056);
    ReportPrinter printer(target, 1.18, 0.59, 0.79, 0.79);
    std::wstring text = L"one two three";
    size_t position = 0;
    int width = 0;
    SIZE size = {};
    GetTextExtentPoint32W(target.Dc(), L"one two th", 10, &size);
    width = size.cx;
    CHECK(printer.NextLine(text, position, width) == L"one two");
    CHECK(printer.NextLine(text, position, width) == L"three");
    CHECK(position == text.size());
    // A frame narrower than any character still takes one character a line.
    position = 0;
    std::wstring word = L"abc";
    CHECK(printer.NextLine(word, position, 1) == L"a");
    CHECK(printer.NextLine(word, position, 1) == L"b");
    CHECK(printer.NextLine(word, position, 0) == L"c");
    CHECK(position == 3);
    position = 0;
    std::wstring lines = L"a\r\nb\rc\n\td";
    CHECK(printer.NextLine(lines, position, 10000) == L"a");
    CHECK(printer.NextLine(lines, position, 10000) == L"b");
    CHECK(printer.NextLine(lines, position, 10000) == L"c");
    CHECK(printer.NextLine(lines, position, 10000) == L"    d");
}

TEST_CASE("margins wider than the page and an empty text each give one empty page") {
    RecordingPrintTarget narrow(100, 100);
    ReportPrinter wide(narrow, 1.18, 0.59, 0.79, 0.79);
    wide.PrintFixReport(L"some text\r\nmore text", L"");
    CHECK(narrow.pages.size() == 1);
    CHECK(narrow.pages[0].empty());
    CHECK(narrow.ended == 1);

    RecordingPrintTarget page(816, 1056);
    ReportPrinter printer(page, 1.18, 0.59, 0.79, 0.79);
    printer.PrintFixReport(L"", L"");
    CHECK(page.pages.size() == 1);
    CHECK(page.pages[0].empty());
}

#include "app/pages/ReportPrinter.h"
#include "app/frame/UiServices.h"

namespace {

// DrawText would take "&" for a mnemonic prefix and swallow it.
const UINT kLineFormat = DT_NOPREFIX | DT_SINGLELINE;

PrintTargetMaker targetMaker = nullptr;

}  // namespace

ReportPrinter::ReportPrinter(PrintTarget& target, double left, double right, double top, double bottom)
    : target_(target) {
    normal_ = MakeFont(10, FW_DONTCARE);
    bold_ = MakeFont(10, 700);
    title_ = MakeFont(12, 900);
    header_ = MakeFont(10, 200);
    original_ = target_.Select(normal_);
    TEXTMETRICW metrics = {};
    GetTextMetricsW(target_.Dc(), &metrics);
    lineHeight_ = metrics.tmHeight + 10;
    int dpiX = target_.Caps(LOGPIXELSX), dpiY = target_.Caps(LOGPIXELSY);
    left_ = static_cast<int>(dpiX * left);
    right_ = target_.Caps(HORZRES) - static_cast<int>(dpiX * right);
    top_ = static_cast<int>(dpiY * top);
    bottom_ = target_.Caps(VERTRES) - static_cast<int>(dpiY * bottom);
    textWidth_ = right_ - left_;
}

ReportPrinter::~ReportPrinter() {
    if (original_)
        target_.Select(original_);
    for (HFONT font : {normal_, bold_, title_, header_})
        if (font)
            DeleteObject(font);
}

HFONT ReportPrinter::MakeFont(int points, int weight) const {
    LOGFONTW font = {};
    font.lfHeight = -MulDiv(points, target_.Caps(LOGPIXELSY), 72);
    font.lfWeight = weight;
    font.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(font.lfFaceName, L"Arial", LF_FACESIZE);
    return CreateFontIndirectW(&font);
}

int ReportPrinter::Width(const tstring& line) const {
    SIZE size = {};
    GetTextExtentPoint32W(target_.Dc(), line.c_str(), static_cast<int>(line.size()), &size);
    return size.cx;
}

void ReportPrinter::Draw(const tstring& line, RECT rect, UINT format) {
    target_.Draw(line.c_str(), static_cast<int>(line.size()), rect, format);
}

tstring ReportPrinter::NextLine(const tstring& text, size_t& position, int width) {
    while (position < text.size() && text[position] == L' ')
        ++position;
    tstring line;
    bool full = false;
    while (position < text.size()) {
        wchar_t c = text[position++];
        if (c == L'\r') {
            if (position < text.size() && text[position] == L'\n')
                ++position;
            break;
        }
        if (c == L'\n')
            break;
        if (c == L'\t')
            line += L"    ";
        else
            line += c;
        if (Width(line) >= width) {
            full = true;
            break;
        }
    }
    if (!full || line.back() == L' ')
        return line;
    size_t space = line.find_last_of(L' ');
    if (space != tstring::npos && line.find_first_not_of(L' ') < space) {
        position -= line.size() - space - 1;
        line.erase(space);
    } else if (line.size() > 1) {
        --position;
        line.pop_back();
    }
    return line;
}

void ReportPrinter::PrintFixReport(const tstring& text, const tstring& fixDate) {
    int linesPerPage = LinesPerPage();
    target_.StartDocument(L"Text Document");
    target_.StartPrintedPage();
    // A frame narrower than a character or lower than a line and its header
    // holds nothing: the document ends empty instead of never.
    if (textWidth_ > 0 && linesPerPage >= 2) {
        RECT rect = {left_, top_, right_, top_ + lineHeight_};
        target_.Select(title_);
        size_t position = 0;
        int index = 0, page = 1;
        bool first = true;
        while (position < text.size()) {
            tstring line = NextLine(text, position, textWidth_);
            size_t ahead = position;
            tstring following = NextLine(text, ahead, textWidth_);
            if (following.find(L"--------") != tstring::npos) {
                target_.Select(bold_);
                Draw(line, rect, kLineFormat);
                target_.Select(normal_);
            } else {
                Draw(line, rect, kLineFormat);
            }
            if (first) {
                target_.Select(normal_);
                first = false;
            }
            OffsetRect(&rect, 0, lineHeight_);
            if (index >= linesPerPage - 1 && position < text.size()) {
                target_.EndPrintedPage();
                target_.StartPrintedPage();
                ++page;
                tstring header = FormatText(L"Registry Fix Report (fix date: %s)       page no. %d", fixDate.c_str(), page);
                int headerTop = top_ - lineHeight_ * 3 / 2;
                target_.Select(header_);
                Draw(header, {left_, headerTop, right_, headerTop + lineHeight_}, DT_RIGHT | kLineFormat);
                target_.Select(normal_);
                rect = {left_, top_, right_, top_ + lineHeight_};
                index = 1;
            } else {
                ++index;
            }
        }
    }
    target_.EndPrintedPage();
    target_.EndDocument();
}

void PrintReportText(const tstring& text, const tstring& fixDate) {
    PRINTDLGW request = {};
    request.lStructSize = sizeof(request);
    request.hwndOwner = GetActiveWindow();
    request.Flags = PD_RETURNDC | PD_NOSELECTION | PD_NOPAGENUMS | PD_HIDEPRINTTOFILE | PD_USEDEVMODECOPIESANDCOLLATE;
    if (!GetUiServices().PrintDialog(&request) || !request.hDC) {
        if (request.hDevMode) GlobalFree(request.hDevMode);
        if (request.hDevNames) GlobalFree(request.hDevNames);
        return;
    }
    {
        std::unique_ptr<PrintTarget> target =
            targetMaker ? targetMaker(request.hDC) : std::make_unique<PrintTarget>(request.hDC);
        ReportPrinter printer(*target, 1.18, 0.59, 0.79, 0.79);
        printer.PrintFixReport(text, fixDate);
    }
    DeleteDC(request.hDC);
    if (request.hDevMode) GlobalFree(request.hDevMode);
    if (request.hDevNames) GlobalFree(request.hDevNames);
}

void SetPrintTargetMaker(PrintTargetMaker maker) { targetMaker = maker; }

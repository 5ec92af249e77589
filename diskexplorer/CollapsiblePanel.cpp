#include "diskexplorer/CollapsiblePanel.h"
#include <algorithm>

namespace {
const int kSideMargin = 10;
const int kTopMargin = 12;
const int kSpacing = 8;
const int kCorner = 10;
const int kButtonArea = 30;
const COLORREF kBackground = RGB(195, 199, 211);
const COLORREF kTitle = RGB(0, 0, 128);
const COLORREF kFocusedTitle = RGB(255, 255, 255);
const COLORREF kFixedTitle = RGB(120, 120, 120);
const COLORREF kFill = RGB(255, 255, 255), kEdge = RGB(214, 215, 224);
const COLORREF kFixedFill = RGB(245, 245, 245), kFixedEdge = RGB(184, 184, 184);
const COLORREF kFocusedFill = RGB(45, 120, 245), kFocusedEdge = RGB(128, 128, 128);
const COLORREF kDefault = CLR_INVALID;

COLORREF Blend(COLORREF a, COLORREF b, int k) {
    return RGB((GetRValue(a) * (64 - k) + GetRValue(b) * k) / 64, (GetGValue(a) * (64 - k) + GetGValue(b) * k) / 64,
               (GetBValue(a) * (64 - k) + GetBValue(b) * k) / 64);
}
}  // namespace

CollapsiblePanel::~CollapsiblePanel() {
    if (titleFont_)
        DeleteObject(titleFont_);
    if (expandIcon_)
        DestroyIcon(expandIcon_);
    if (collapseIcon_)
        DestroyIcon(collapseIcon_);
}

void CollapsiblePanel::ModifyClass(WNDCLASSEX& windowClass) const {
    windowClass.style |= CS_DBLCLKS;
    windowClass.hbrBackground = nullptr;
}

int CollapsiblePanel::AddPane(HWND pane, const wchar_t* title, int image, int ownerValue) {
    Item item{};
    try {
        item.title = title ? title : L"";
    } catch (...) {
        return -1;
    }
    SetParent(pane, Handle());
    RECT rect;
    GetWindowRect(pane, &rect);
    item.window = pane;
    item.image = image;
    item.collapsible = item.expanded = true;
    item.ownerValue = ownerValue;
    item.fill = item.edge = kDefault;
    item.width = rect.right - rect.left;
    item.fullHeight = item.current = rect.bottom - rect.top;
    items_.push_back(item);
    if (IsWindow()) {
        MovePanes();
        UpdateScrollBar();
        Invalidate(false);
    }
    ShowWindow(pane, SW_SHOWNOACTIVATE);
    return PaneCount() - 1;
}

bool CollapsiblePanel::IsExpanded(int index) const {
    return index >= 0 && index < PaneCount() && items_[index].expanded;
}

bool CollapsiblePanel::IsCollapsible(int index) const {
    return index >= 0 && index < PaneCount() && items_[index].collapsible;
}

void CollapsiblePanel::SetCollapsible(int index, bool collapsible) {
    if (index >= 0 && index < PaneCount())
        items_[index].collapsible = collapsible;
}

void CollapsiblePanel::SetButtonIcons(HICON expand, HICON collapse) {
    if (expandIcon_)
        DestroyIcon(expandIcon_);
    if (collapseIcon_)
        DestroyIcon(collapseIcon_);
    expandIcon_ = expand;
    collapseIcon_ = collapse;
}

void CollapsiblePanel::SetImageList(HIMAGELIST list) {
    images_ = list;
    Measure();
}

bool CollapsiblePanel::ExpandPane(int index, bool expand, bool animate) {
    if (index < 0 || index >= PaneCount() || items_[index].expanded == expand)
        return false;
    Notify(PaneChanging);
    Item& item = items_[index];
    item.expanded = expand;
    item.animationEnd = GetTickCount() + (animate && !(style_ & NoAnimation) ? kAnimationTime : 0);
    if (!item.animationEnd)
        item.animationEnd = 1;  // 0 means "no animation running"
    ShowWindow(item.window, SW_SHOWNOACTIVATE);
    SetTimer(kAnimationTimer, kAnimationStep);
    OnTimer();
    return true;
}

bool CollapsiblePanel::IsAnimating() const {
    for (const Item& item : items_)
        if (item.animationEnd)
            return true;
    return false;
}

void CollapsiblePanel::Notify(WORD code) {
    HWND parent = GetParent(Handle());
    if (parent)
        SendMessage(parent, WM_COMMAND, MAKEWPARAM(Id(), code), reinterpret_cast<LPARAM>(Handle()));
}

void CollapsiblePanel::OnTimer() {
    DWORD now = GetTickCount();
    for (Item& item : items_) {
        if (!item.animationEnd)
            continue;
        if (static_cast<int32_t>(now - item.animationEnd) < 0) {
            if (item.expanded)
                item.current = item.fullHeight - (item.fullHeight - item.current) / 2;
            else
                item.current /= 2;
            continue;
        }
        item.animationEnd = 0;
        item.current = item.expanded ? item.fullHeight : 0;
        ShowWindow(item.window, item.expanded ? SW_SHOWNOACTIVATE : SW_HIDE);
        Notify(PaneChanged);
    }
    MovePanes();
    Invalidate(false);
    if (!IsAnimating()) {
        UpdateScrollBar();
        KillTimer(kAnimationTimer);
    }
}

void CollapsiblePanel::Measure() {
    if (!IsWindow())
        return;
    HDC dc = GetDC(Handle());
    HGDIOBJ old = SelectObject(dc, titleFont_);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(Handle(), dc);
    headerHeight_ = std::max<int>(metrics.tmHeight + 6, 22);
    int iconWidth = 0, iconHeight = 0;
    if (images_ && ImageList_GetIconSize(images_, &iconWidth, &iconHeight))
        imageHeaderHeight_ = std::max(headerHeight_, iconHeight + 5);
    else
        imageHeaderHeight_ = headerHeight_;
}

int CollapsiblePanel::HeaderHeight(int index) {
    const Item& item = items_[index];
    if (item.image >= 0)
        return imageHeaderHeight_;
    if (item.image == -2) {
        OwnerImage image{};
        if (Send(kGetOwnerImage, index, reinterpret_cast<LPARAM>(&image)) && image.headerHeight > 12)
            return std::max(headerHeight_, image.headerHeight);
    }
    return headerHeight_;
}

RECT CollapsiblePanel::HeaderRect(int index) {
    RECT client = ClientRect();
    int y = kTopMargin - scroll_;
    for (int i = 0; i < index; ++i)
        y += HeaderHeight(i) + items_[i].current + kSpacing;
    RECT rect{kSideMargin, y, client.right - kSideMargin, y + HeaderHeight(index)};
    if (Style() & WS_BORDER)
        InflateRect(&rect, -1, 0);
    return rect;
}

RECT CollapsiblePanel::PaneRect(int index) {
    RECT header = HeaderRect(index);
    return RECT{header.left, header.bottom, header.right, header.bottom + items_[index].current};
}

int CollapsiblePanel::ContentBottom() {
    if (items_.empty())
        return 0;
    return PaneRect(PaneCount() - 1).bottom + scroll_ + kTopMargin;
}

void CollapsiblePanel::MovePanes() {
    if (items_.empty())
        return;
    HDWP batch = BeginDeferWindowPos(PaneCount());
    for (int i = 0; i < PaneCount(); ++i) {
        RECT rect = PaneRect(i);
        if (batch)
            batch = DeferWindowPos(batch, items_[i].window, nullptr, rect.left, rect.top, rect.right - rect.left,
                                   rect.bottom - rect.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (batch)
        EndDeferWindowPos(batch);
}

void CollapsiblePanel::UpdateScrollBar() {
    SCROLLINFO info{sizeof info};
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = 0;
    info.nMax = ContentBottom();
    info.nPage = ClientRect().bottom;
    info.nPos = scroll_;
    SetScrollInfo(Handle(), SB_VERT, &info, TRUE);
    info.fMask = SIF_POS;
    GetScrollInfo(Handle(), SB_VERT, &info);
    if (info.nPos != scroll_) {
        scroll_ = info.nPos;
        MovePanes();
        Invalidate(false);
    }
}

void CollapsiblePanel::OnVScroll(int request) {
    SCROLLINFO info{sizeof info};
    info.fMask = SIF_ALL;
    GetScrollInfo(Handle(), SB_VERT, &info);
    int position = info.nPos;
    switch (request) {
    case SB_LINEUP: position -= 1; break;
    case SB_LINEDOWN: position += 1; break;
    case SB_PAGEUP: position -= info.nPage; break;
    case SB_PAGEDOWN: position += info.nPage; break;
    case SB_THUMBTRACK: position = info.nTrackPos; break;
    case SB_TOP: position = info.nMin; break;
    case SB_BOTTOM: position = info.nMax; break;
    default: return;
    }
    info.fMask = SIF_POS;
    info.nPos = position;
    SetScrollInfo(Handle(), SB_VERT, &info, TRUE);
    GetScrollInfo(Handle(), SB_VERT, &info);
    if (info.nPos != scroll_) {
        scroll_ = info.nPos;
        MovePanes();
        Invalidate(false);
    }
}

void CollapsiblePanel::OnClick(POINT point) {
    for (int i = 0; i < PaneCount(); ++i) {
        RECT rect = HeaderRect(i);
        if (style_ & ButtonOnly)
            rect = RECT{rect.right - kButtonArea, rect.top + 3, rect.right, rect.bottom - 3};
        if (!PtInRect(&rect, point) || !items_[i].collapsible)
            continue;
        focused_ = i;
        ExpandPane(i, !items_[i].expanded, true);
        if (style_ & HighlightFocused)
            Invalidate(false);
        return;
    }
}

void CollapsiblePanel::PaintHeader(HDC dc, int index, const RECT& rect) {
    const Item& item = items_[index];
    bool focused = (style_ & HighlightFocused) && index == focused_;
    COLORREF fill = item.fill != kDefault ? item.fill : focused ? kFocusedFill : item.collapsible ? kFill : kFixedFill;
    COLORREF edge = item.edge != kDefault ? item.edge : focused ? kFocusedEdge : item.collapsible ? kEdge : kFixedEdge;
    if (style_ & OwnerDrawHeaders) {
        DRAWITEMSTRUCT draw{};
        draw.CtlType = 5;
        draw.CtlID = Id();
        draw.itemID = index;
        draw.itemAction = ODA_DRAWENTIRE;
        draw.itemState = (focused ? ODS_SELECTED : 0) | (item.expanded ? 0 : 0x80) | (item.collapsible ? 0 : ODS_DISABLED);
        draw.hwndItem = Handle();
        draw.hDC = dc;
        draw.rcItem = rect;
        SendMessage(GetParent(Handle()), WM_DRAWITEM, Id(), reinterpret_cast<LPARAM>(&draw));
        return;
    }
    HPEN pen = CreatePen(PS_SOLID, 1, edge);
    HGDIOBJ oldPen = SelectObject(dc, pen);
    if (style_ & FlatHeaders) {
        HBRUSH brush = CreateSolidBrush(fill);
        HGDIOBJ oldBrush = SelectObject(dc, brush);
        Rectangle(dc, rect.left, rect.top, rect.right, rect.bottom);
        SelectObject(dc, oldBrush);
        DeleteObject(brush);
    } else {
        HRGN region = CreateRoundRectRgn(rect.left, rect.top, rect.right + 1, rect.bottom + 666, kCorner, kCorner);
        SelectClipRgn(dc, region);
        int width = rect.right - rect.left;
        for (int k = 0; k < 64; ++k) {
            RECT stripe{rect.left + k * width / 64, rect.top, rect.left + (k + 1) * width / 64, rect.bottom};
            HBRUSH brush = CreateSolidBrush(GetDeviceCaps(dc, BITSPIXEL) > 8 ? Blend(fill, edge, k) : fill);
            FillRect(dc, &stripe, brush);
            DeleteObject(brush);
        }
        SelectClipRgn(dc, nullptr);
        DeleteObject(region);
        HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(NULL_BRUSH));
        RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom + kCorner, kCorner, kCorner);
        SelectObject(dc, oldBrush);
    }
    SelectObject(dc, oldPen);
    DeleteObject(pen);

    RECT text = rect;
    text.left += 8;
    if (item.image >= 0 && images_) {
        ImageList_Draw(images_, item.image, dc, rect.left + 2, rect.bottom - 32 - 2, ILD_TRANSPARENT);
        text.left += 34;
    } else if (item.image == -2) {
        OwnerImage image{};
        if (Send(kGetOwnerImage, index, reinterpret_cast<LPARAM>(&image)) && image.list) {
            ImageList_Draw(image.list, image.index, dc, rect.left + 2 + image.offset,
                           rect.bottom - image.imageHeight - 2, ILD_TRANSPARENT);
            text.left += image.width + image.offset + 2;
        }
    }
    if (!(style_ & NoButton)) {
        HICON icon = item.expanded ? collapseIcon_ : expandIcon_;
        if (icon)
            DrawIconEx(dc, rect.right - 24, rect.top + 3, icon, 16, 16, 0, nullptr, DI_NORMAL);
        text.right -= 26;
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, focused ? kFocusedTitle : item.collapsible ? kTitle : kFixedTitle);
    HGDIOBJ oldFont = SelectObject(dc, titleFont_);
    DrawTextW(dc, item.title.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS);
    SelectObject(dc, oldFont);
}

void CollapsiblePanel::Paint(HDC target) {
    RECT client = ClientRect();
    HDC dc = CreateCompatibleDC(target);
    HBITMAP bitmap = CreateCompatibleBitmap(target, std::max<int>(client.right, 1), std::max<int>(client.bottom, 1));
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    HBRUSH background = CreateSolidBrush(kBackground);
    FillRect(dc, &client, background);
    DeleteObject(background);
    for (int i = 0; i < PaneCount(); ++i)
        PaintHeader(dc, i, HeaderRect(i));
    if (Style() & WS_BORDER)
        FrameRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    BitBlt(target, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    SelectObject(dc, oldBitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

void CollapsiblePanel::OnCreate() {
    HFONT font = reinterpret_cast<HFONT>(Send(WM_GETFONT));
    LOGFONTW description{};
    GetObjectW(font ? font : GetStockObject(DEFAULT_GUI_FONT), sizeof description, &description);
    description.lfWeight = std::min<LONG>(description.lfWeight + 700, 1000);
    titleFont_ = CreateFontIndirectW(&description);
    Send(WM_SETFONT, reinterpret_cast<WPARAM>(titleFont_), FALSE);
    Measure();
}

LRESULT CollapsiblePanel::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnCreate();
        return 0;
    case WM_DESTROY:
        items_.clear();
        KillTimer(kAnimationTimer);
        return 0;
    case WM_SIZE:
        Measure();
        MovePanes();
        UpdateScrollBar();
        Invalidate(false);
        return 0;
    case WM_VSCROLL:
        OnVScroll(LOWORD(wParam));
        return 0;
    case WM_TIMER:
        if (wParam == kAnimationTimer) {
            OnTimer();
            return 0;
        }
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        OnClick(POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_PRINTCLIENT:
        Paint(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(Handle(), &paint);
        Paint(dc);
        EndPaint(Handle(), &paint);
        return 0;
    }
    default:
        break;
    }
    return DefaultProc(message, wParam, lParam);
}

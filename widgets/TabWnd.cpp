#include "widgets/TabWnd.h"

#include <commctrl.h>

#include <algorithm>

#include "framework/Logger.h"

namespace {

const wchar_t kTabStripClassName[] = L"NulvaneTabStrip";

// The strip's own buttons.
enum : UINT { kNewTabId = 1, kListId, kLeftId, kRightId, kMakeDefaultId };

// Sizes at 96 DPI.
constexpr int kHeight = 32;
constexpr int kButton = 28;
constexpr int kTabTop = 4;
constexpr int kTabMinWidth = 96;
constexpr int kTabMaxWidth = 216;
constexpr int kTabGap = 2;
constexpr int kPad = 8;
constexpr int kIcon = 16;
constexpr int kCorner = 8;

constexpr COLORREF kBackColour = RGB(0xEE, 0xF1, 0xF4);
constexpr COLORREF kTabColour = RGB(0xDF, 0xE5, 0xEA);
constexpr COLORREF kCurrentColour = RGB(0xFF, 0xFF, 0xFF);
constexpr COLORREF kBorderColour = RGB(0xC9, 0xD2, 0xDA);
constexpr COLORREF kTextColour = RGB(0x26, 0x32, 0x3B);
constexpr COLORREF kDimTextColour = RGB(0x4A, 0x58, 0x63);

CFont MessageFont()
{
    NONCLIENTMETRICSW metrics = {sizeof(metrics)};
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        return CFont();
    }
    return CFont(CreateFontIndirectW(&metrics.lfMessageFont));
}

int Width(const RECT& rc)
{
    return rc.right - rc.left;
}

// "&" shows as an underline in a menu; a title's own must stay a "&".
CString MenuText(const CString& strLabel)
{
    CString strText = strLabel;
    strText.Replace(L"&", L"&&");
    return strText;
}

}  // namespace

TTabWnd::~TTabWnd()
{
    DestroyWindow();
}

bool TTabWnd::Create(HWND hParent, UINT nId, const CSettings& settings)
{
    if (settings.pImages == nullptr ||
        !RegisterWindowClass(kTabStripClassName, CS_DBLCLKS, LoadCursorW(nullptr, IDC_ARROW), nullptr, nullptr)) {
        return false;
    }
    m_settings = settings;
    m_nId = nId;
    return CreateEx(0, kTabStripClassName, L"", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 0, 0, hParent, nId);
}

int TTabWnd::HeightFor(int nDpi)
{
    return MulDiv(kHeight, nDpi, 96);
}

int TTabWnd::OnCreate(const CREATESTRUCTW& cs)
{
    (void)cs;
    m_font = MessageFont();
    const CImageStrip& images = *m_settings.pImages;
    struct {
        CBitmapButton& button;
        UINT nId;
        int nGlyph;
        const CString& strTip;
    } buttons[] = {{m_newTab, kNewTabId, m_settings.nNewTabGlyph, m_settings.strNewTabTip},
                   {m_list, kListId, m_settings.nListGlyph, m_settings.strListTip},
                   {m_left, kLeftId, m_settings.nLeftGlyph, m_settings.strLeftTip},
                   {m_right, kRightId, m_settings.nRightGlyph, m_settings.strRightTip},
                   {m_makeDefault, kMakeDefaultId, m_settings.nMakeDefaultGlyph, m_settings.strMakeDefaultTip}};
    for (const auto& b : buttons) {
        const wchar_t* pszText = b.nId == kMakeDefaultId ? m_settings.strMakeDefault.GetString() : L"";
        HWND hButton = CreateWindowExW(0, L"Button", pszText, WS_CHILD | BS_OWNERDRAW, 0, 0, 0, 0, GetSafeHwnd(),
                                       reinterpret_cast<HMENU>(static_cast<UINT_PTR>(b.nId)), nullptr, nullptr);
        if (hButton == nullptr || !b.button.SubclassDlgItem(b.nId, GetSafeHwnd())) {
            LOG_ERROR(GetLastError(), L"TTabWnd::OnCreate cannot create button %u", b.nId);
            return -1;
        }
        SendMessageW(hButton, WM_SETFONT, reinterpret_cast<WPARAM>(m_font.get()), FALSE);
        b.button.SetBitmaps(images.CopyCell(b.nGlyph, 0), 0, images.CopyCell(b.nGlyph, 1), 0);
        b.button.SetDisabledBitmap(images.CopyCell(b.nGlyph, 2));
        b.button.SetTooltipText(b.strTip);
    }
    ShowWindow(m_newTab.GetSafeHwnd(), SW_SHOW);

    // The strip is up: other copies may now hand their addresses over.
    m_hTabOpenMutex.reset(CreateMutexW(nullptr, FALSE, kTabOpenMutexName));
    if (!m_hTabOpenMutex) {
        LOG_ERROR(GetLastError(), L"TTabWnd::OnCreate cannot create %s", kTabOpenMutexName);
    }
    return 0;
}

void TTabWnd::OnDestroy()
{
    m_hTabOpenMutex.reset();
}

void TTabWnd::OnSize(UINT nType, int cx, int cy)
{
    (void)nType;
    (void)cx;
    (void)cy;
    Layout();
}

std::vector<int> TTabWnd::OpenTabs() const
{
    std::vector<int> open;
    for (int i = 0; i < GetTabCount(); ++i) {
        if (m_tabs[i].bOpen) {
            open.push_back(i);
        }
    }
    return open;
}

int TTabWnd::GetOpenCount() const
{
    return static_cast<int>(OpenTabs().size());
}

int TTabWnd::AddTab(const CString& strLabel, LPARAM lData)
{
    CTab tab;
    tab.strLabel = strLabel;
    tab.lData = lData;
    m_tabs.push_back(tab);
    Layout();
    return GetTabCount() - 1;
}

bool TTabWnd::SelectTab(int nIndex)
{
    if (!IsTabOpen(nIndex)) {
        return false;
    }
    m_nCurrent = nIndex;
    EnsureCurrentShown();
    return true;
}

void TTabWnd::HideTab(int nIndex)
{
    if (IsTabOpen(nIndex)) {
        m_tabs[nIndex].bOpen = false;
        m_tabs[nIndex].hIcon = nullptr;
        if (m_nHotClose == nIndex) {
            m_nHotClose = -1;
        }
        Layout();
    }
}

bool TTabWnd::IsTabOpen(int nIndex) const
{
    return nIndex >= 0 && nIndex < GetTabCount() && m_tabs[nIndex].bOpen;
}

LPARAM TTabWnd::GetTabData(int nIndex) const
{
    return nIndex >= 0 && nIndex < GetTabCount() ? m_tabs[nIndex].lData : 0;
}

void TTabWnd::SetTabLabel(int nIndex, const CString& strLabel)
{
    if (nIndex >= 0 && nIndex < GetTabCount() && m_tabs[nIndex].strLabel != strLabel) {
        m_tabs[nIndex].strLabel = strLabel;
        InvalidateRect(GetSafeHwnd(), nullptr, FALSE);
    }
}

CString TTabWnd::GetTabLabel(int nIndex) const
{
    return nIndex >= 0 && nIndex < GetTabCount() ? m_tabs[nIndex].strLabel : CString();
}

void TTabWnd::SetTabIcon(int nIndex, HANDLE hIcon, UINT nKind)
{
    if (IsTabOpen(nIndex)) {
        m_tabs[nIndex].hIcon = hIcon;
        m_tabs[nIndex].nIconKind = nKind;
        InvalidateRect(GetSafeHwnd(), nullptr, FALSE);
    }
}

void TTabWnd::ShowMakeDefault(bool bShow)
{
    m_bMakeDefaultShown = bShow;
    Layout();
}

void TTabWnd::EnsureCurrentShown()
{
    const std::vector<int> open = OpenTabs();
    const auto at = std::find(open.begin(), open.end(), m_nCurrent);
    if (at != open.end() && m_bOverflow) {
        const int nPosition = static_cast<int>(at - open.begin());
        const int nFit = std::max<int>(1, static_cast<int>(m_shown.size()));
        if (nPosition < m_nFirstShown) {
            m_nFirstShown = nPosition;
        } else if (nPosition >= m_nFirstShown + nFit) {
            m_nFirstShown = nPosition - nFit + 1;
        }
    }
    Layout();
}

void TTabWnd::Scroll(int nDelta)
{
    m_nFirstShown += nDelta;
    Layout();
}

void TTabWnd::Layout()
{
    HWND hWnd = GetSafeHwnd();
    if (hWnd == nullptr) {
        return;
    }
    RECT rcClient = {};
    GetClientRect(hWnd, &rcClient);
    const int nButton = CImageStrip::Scaled(kButton);
    const int yButton = (rcClient.bottom - nButton) / 2;
    int xRight = rcClient.right - CImageStrip::Scaled(kPad);
    auto place = [&](const CBitmapButton& button, int nWidth, bool bShow) {
        if (bShow) {
            xRight -= nWidth;
            MoveWindow(button.GetSafeHwnd(), xRight, yButton, nWidth, nButton, TRUE);
            xRight -= CImageStrip::Scaled(kTabGap);
        }
        ShowWindow(button.GetSafeHwnd(), bShow ? SW_SHOWNA : SW_HIDE);
    };
    if (!m_bMakeDefaultShown) {
        place(m_makeDefault, 0, false);
    } else {
        SIZE text = {};
        CClientDc dc(hWnd);
        HGDIOBJ hOld = SelectObject(dc.get(), m_font.get());
        GetTextExtentPoint32W(dc.get(), m_settings.strMakeDefault, m_settings.strMakeDefault.GetLength(), &text);
        SelectObject(dc.get(), hOld);
        place(m_makeDefault, m_settings.pImages->CellSize() + text.cx + CImageStrip::Scaled(kPad), true);
        xRight -= CImageStrip::Scaled(kPad);
    }
    place(m_list, nButton, true);

    // The tabs share what is left, each between the smallest and largest
    // width; when even the smallest do not fit, the left and right buttons
    // appear and the tabs scroll.
    const std::vector<int> open = OpenTabs();
    const int nOpen = static_cast<int>(open.size());
    const int xLeft = CImageStrip::Scaled(kPad);
    int nArea = xRight - xLeft - nButton - CImageStrip::Scaled(kTabGap);
    m_bOverflow = nOpen * CImageStrip::Scaled(kTabMinWidth) > nArea;
    place(m_right, nButton, m_bOverflow);
    place(m_left, nButton, m_bOverflow);
    nArea = xRight - xLeft - nButton - CImageStrip::Scaled(kTabGap);
    const int nFit = m_bOverflow ? std::max(1, nArea / CImageStrip::Scaled(kTabMinWidth)) : nOpen;
    m_nFirstShown = m_bOverflow ? std::clamp(m_nFirstShown, 0, std::max(0, nOpen - nFit)) : 0;
    const int nWidth = nFit > 0 ? std::clamp(nArea / nFit, CImageStrip::Scaled(kTabMinWidth), CImageStrip::Scaled(kTabMaxWidth)) : 0;
    m_shown.clear();
    int x = xLeft;
    for (int i = m_nFirstShown; i < nOpen && i < m_nFirstShown + nFit; ++i) {
        m_shown.push_back({open[i], RECT{x, CImageStrip::Scaled(kTabTop), x + nWidth - CImageStrip::Scaled(kTabGap), rcClient.bottom}});
        x += nWidth;
    }
    EnableWindow(m_left.GetSafeHwnd(), m_nFirstShown > 0);
    EnableWindow(m_right.GetSafeHwnd(), m_nFirstShown + nFit < nOpen);
    MoveWindow(m_newTab.GetSafeHwnd(), x, yButton, nButton, nButton, TRUE);
    InvalidateRect(hWnd, nullptr, FALSE);
}

RECT TTabWnd::CloseRect(const RECT& rcTab) const
{
    const int nSize = CImageStrip::Scaled(kIcon);
    const int x = rcTab.right - CImageStrip::Scaled(6) - nSize;
    const int y = rcTab.top + (rcTab.bottom - rcTab.top - nSize) / 2;
    return RECT{x, y, x + nSize, y + nSize};
}

int TTabWnd::HitTest(POINT pt, bool* pbOnClose) const
{
    for (const CShownTab& shown : m_shown) {
        if (PtInRect(&shown.rc, pt)) {
            if (pbOnClose != nullptr) {
                const RECT rcClose = CloseRect(shown.rc);
                *pbOnClose = PtInRect(&rcClose, pt) != FALSE;
            }
            return shown.nIndex;
        }
    }
    return -1;
}

void TTabWnd::PaintTab(HDC hDc, const CTab& tab, const RECT& rc, bool bCurrent, bool bCloseHot) const
{
    // Rounded at the top only: the shape runs on past the strip's foot.
    const int nCorner = CImageStrip::Scaled(kCorner);
    CGdiObject<HRGN> shape(CreateRoundRectRgn(rc.left, rc.top, rc.right + 1, rc.bottom + nCorner, nCorner, nCorner));
    CGdiObject<HRGN> clip(CreateRectRgn(rc.left, rc.top, rc.right + 1, rc.bottom));
    CombineRgn(shape.get(), shape.get(), clip.get(), RGN_AND);
    CBrush fill(CreateSolidBrush(bCurrent ? kCurrentColour : kTabColour));
    FillRgn(hDc, shape.get(), fill.get());
    if (bCurrent) {
        CBrush border(CreateSolidBrush(kBorderColour));
        FrameRgn(hDc, shape.get(), border.get(), 1, 1);
        // Open at the foot: the tab runs into its page.
        RECT rcFoot = {rc.left + 1, rc.bottom - 1, rc.right, rc.bottom};
        FillRect(hDc, &rcFoot, fill.get());
    }

    const int nIcon = CImageStrip::Scaled(kIcon);
    const int xIcon = rc.left + CImageStrip::Scaled(kPad);
    const int yIcon = rc.top + (rc.bottom - rc.top - nIcon) / 2;
    HANDLE hIcon = tab.hIcon != nullptr ? tab.hIcon : m_hDefaultIcon;
    const UINT nKind = tab.hIcon != nullptr ? tab.nIconKind : IMAGE_ICON;
    if (hIcon != nullptr && nKind == IMAGE_ICON) {
        DrawIconEx(hDc, xIcon, yIcon, static_cast<HICON>(hIcon), nIcon, nIcon, 0, nullptr, DI_NORMAL);
    } else if (hIcon != nullptr && nKind == IMAGE_BITMAP) {
        BITMAP bm = {};
        CMemoryDc memory(CreateCompatibleDC(hDc));
        if (memory && GetObjectW(hIcon, sizeof(bm), &bm) != 0) {
            HGDIOBJ hOld = SelectObject(memory.get(), hIcon);
            SetStretchBltMode(hDc, HALFTONE);
            StretchBlt(hDc, xIcon, yIcon, nIcon, nIcon, memory.get(), 0, 0, bm.bmWidth, bm.bmHeight, SRCCOPY);
            SelectObject(memory.get(), hOld);
        }
    }

    const RECT rcClose = CloseRect(rc);
    const CImageStrip& images = *m_settings.pImages;
    const int nInset = (images.CellSize() - Width(rcClose)) / 2;
    images.Draw(hDc, m_settings.nCloseGlyph, bCloseHot ? 1 : 0, rcClose.left, rcClose.top, std::max(0, nInset));

    RECT rcText = {xIcon + nIcon + CImageStrip::Scaled(6), rc.top, rcClose.left - CImageStrip::Scaled(4), rc.bottom};
    SetTextColor(hDc, bCurrent ? kTextColour : kDimTextColour);
    DrawTextW(hDc, tab.strLabel, tab.strLabel.GetLength(), &rcText,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
}

void TTabWnd::Paint(HDC hDc, const RECT& rcClient) const
{
    CBrush back(CreateSolidBrush(kBackColour));
    FillRect(hDc, &rcClient, back.get());
    // The strip's foot, which the current tab breaks.
    CBrush border(CreateSolidBrush(kBorderColour));
    RECT rcFoot = {rcClient.left, rcClient.bottom - 1, rcClient.right, rcClient.bottom};
    FillRect(hDc, &rcFoot, border.get());
    HGDIOBJ hOldFont = SelectObject(hDc, m_font.get());
    SetBkMode(hDc, TRANSPARENT);
    for (const CShownTab& shown : m_shown) {
        PaintTab(hDc, m_tabs[shown.nIndex], shown.rc, shown.nIndex == m_nCurrent, shown.nIndex == m_nHotClose);
    }
    SelectObject(hDc, hOldFont);
}

void TTabWnd::UserSelect(int nIndex)
{
    if (nIndex == m_nCurrent || !SelectTab(nIndex)) {
        return;
    }
    NMHDR header = {GetSafeHwnd(), m_nId, static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageW(GetParent(GetSafeHwnd()), WM_NOTIFY, m_nId, reinterpret_cast<LPARAM>(&header));
}

void TTabWnd::ChooseFromList(int nIndex)
{
    UserSelect(nIndex);
}

void TTabWnd::ShowListMenu()
{
    HMENU hMenu = CreatePopupMenu();
    if (hMenu == nullptr) {
        return;
    }
    for (int nIndex : OpenTabs()) {
        AppendMenuW(hMenu, MF_STRING | (nIndex == m_nCurrent ? MF_CHECKED : MF_UNCHECKED),
                    static_cast<UINT_PTR>(nIndex) + 1, MenuText(m_tabs[nIndex].strLabel));
    }
    RECT rc = {};
    GetWindowRect(m_list.GetSafeHwnd(), &rc);
    const int nChosen = TrackPopupMenu(hMenu, TPM_RETURNCMD | TPM_RIGHTALIGN | TPM_TOPALIGN | TPM_RIGHTBUTTON,
                                       rc.right, rc.bottom, 0, GetSafeHwnd(), nullptr);
    DestroyMenu(hMenu);
    if (nChosen > 0) {
        ChooseFromList(nChosen - 1);
    }
}

void TTabWnd::ShowContextMenu(int nIndex, POINT ptScreen)
{
    HMENU hMenu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_settings.nContextMenu));
    HMENU hPopup = hMenu != nullptr ? GetSubMenu(hMenu, 0) : nullptr;
    if (hPopup == nullptr) {
        LOG_ERROR(GetLastError(), L"TTabWnd::ShowContextMenu cannot load menu %u", m_settings.nContextMenu);
        if (hMenu != nullptr) {
            DestroyMenu(hMenu);
        }
        return;
    }
    const UINT nChosen = static_cast<UINT>(TrackPopupMenu(hPopup, TPM_RETURNCMD | TPM_RIGHTBUTTON, ptScreen.x,
                                                          ptScreen.y, 0, GetSafeHwnd(), nullptr));
    DestroyMenu(hMenu);
    HWND hParent = GetParent(GetSafeHwnd());
    const WPARAM wIndex = static_cast<WPARAM>(nIndex);
    if (nChosen == 0) {
        return;
    } else if (nChosen == m_settings.nMenuClose) {
        PostMessageW(hParent, WM_TAB_CLOSE, wIndex, 0);
    } else if (nChosen == m_settings.nMenuCloseOthers) {
        PostMessageW(hParent, WM_TAB_CLOSE_OTHERS, wIndex, 0);
    } else if (nChosen == m_settings.nMenuRefresh) {
        PostMessageW(hParent, WM_TAB_REFRESH, wIndex, 0);
    } else if (nChosen == m_settings.nMenuRefreshAll) {
        PostMessageW(hParent, WM_TAB_REFRESH_ALL, 0, 0);
    } else if (nChosen == m_settings.nMenuNewTab) {
        PostMessageW(hParent, WM_COMMAND, m_settings.nNewTabCommand, 0);
    }
}

void TTabWnd::OnButton(UINT nId)
{
    HWND hParent = GetParent(GetSafeHwnd());
    switch (nId) {
    case kNewTabId:
        SendMessageW(hParent, WM_COMMAND, m_settings.nNewTabCommand, 0);
        break;
    case kListId:
        ShowListMenu();
        break;
    case kLeftId:
        Scroll(-1);
        break;
    case kRightId:
        Scroll(1);
        break;
    case kMakeDefaultId:
        SendMessageW(hParent, WM_COMMAND, m_settings.nMakeDefaultCommand, 0);
        break;
    default:
        break;
    }
}

bool TTabWnd::OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    const POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    lResult = 0;
    switch (uMsg) {
    case WM_ERASEBKGND:
        lResult = 1;
        return true;
    case WM_PAINT: {
        PAINTSTRUCT ps = {};
        HDC hDc = BeginPaint(GetSafeHwnd(), &ps);
        RECT rc = {};
        GetClientRect(GetSafeHwnd(), &rc);
        // Drawn off screen first: the tabs overlap the background.
        CMemoryDc memory(CreateCompatibleDC(hDc));
        CBitmap buffer(CreateCompatibleBitmap(hDc, std::max(1L, rc.right), std::max(1L, rc.bottom)));
        if (memory && buffer) {
            HGDIOBJ hOld = SelectObject(memory.get(), buffer.get());
            Paint(memory.get(), rc);
            BitBlt(hDc, 0, 0, rc.right, rc.bottom, memory.get(), 0, 0, SRCCOPY);
            SelectObject(memory.get(), hOld);
        }
        EndPaint(GetSafeHwnd(), &ps);
        return true;
    }
    case WM_CTLCOLORBTN: {
        static CBrush s_back(CreateSolidBrush(kBackColour));
        lResult = reinterpret_cast<LRESULT>(s_back.get());
        return true;
    }
    case WM_NCHITTEST: {
        // The frame's sizing edges work over the strip's empty parts.
        POINT ptClient = pt;
        ScreenToClient(GetSafeHwnd(), &ptClient);
        lResult = HitTest(ptClient) >= 0 ? HTCLIENT : HTTRANSPARENT;
        return true;
    }
    case WM_LBUTTONDOWN: {
        bool bOnClose = false;
        const int nIndex = HitTest(pt, &bOnClose);
        if (nIndex >= 0 && bOnClose) {
            PostMessageW(GetParent(GetSafeHwnd()), WM_TAB_CLOSE, static_cast<WPARAM>(nIndex), 0);
        } else if (nIndex >= 0) {
            UserSelect(nIndex);
        }
        return true;
    }
    case WM_MBUTTONUP:
        if (const int nIndex = HitTest(pt); nIndex >= 0) {
            PostMessageW(GetParent(GetSafeHwnd()), WM_TAB_CLOSE, static_cast<WPARAM>(nIndex), 0);
        }
        return true;
    case WM_RBUTTONUP:
        if (const int nIndex = HitTest(pt); nIndex >= 0) {
            POINT ptScreen = pt;
            ClientToScreen(GetSafeHwnd(), &ptScreen);
            ShowContextMenu(nIndex, ptScreen);
        }
        return true;
    case WM_MOUSEMOVE: {
        bool bOnClose = false;
        const int nIndex = HitTest(pt, &bOnClose);
        const int nHot = bOnClose ? nIndex : -1;
        if (nHot != m_nHotClose) {
            m_nHotClose = nHot;
            InvalidateRect(GetSafeHwnd(), nullptr, FALSE);
            TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, GetSafeHwnd(), 0};
            TrackMouseEvent(&track);
        }
        return true;
    }
    case WM_MOUSELEAVE:
        if (m_nHotClose != -1) {
            m_nHotClose = -1;
            InvalidateRect(GetSafeHwnd(), nullptr, FALSE);
        }
        return true;
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && lParam != 0) {
            OnButton(LOWORD(wParam));
            return true;
        }
        return false;
    default:
        return false;
    }
}

#include "shell/TopBar.h"

#include <algorithm>

#include "framework/LanguageManagerResource.h"
#include "resources/Resource.h"
#include "shell/FrameRules.h"

namespace {

// Sizes at 96 DPI.
constexpr int kCaptionRow = 32;
constexpr int kNavigationRow = 36;
constexpr int kButton = 28;
constexpr int kGap = 2;
constexpr int kGroupGap = 8;
constexpr int kMargin = 6;
constexpr int kIcon = 16;
constexpr int kCaptionLeft = 30;
constexpr int kSearchMin = 120;
constexpr int kSearchMax = 240;

constexpr COLORREF kCaptionColour = RGB(0x26, 0x32, 0x3B);
constexpr COLORREF kFieldBorder = RGB(0xC9, 0xD2, 0xDA);

struct CButtonSpec {
    int nId;
    CTopBar::Glyph glyph;
    const wchar_t* pszTooltipKey;
    bool bNavigation;
};

// In the order of CTopBar::m_buttons.
const CButtonSpec kButtons[] = {
    {IDC_PREVIOUS, CTopBar::kBack, L"PREVIOUS", true},
    {IDC_NEXT, CTopBar::kForward, L"NEXT_PAGE", true},
    {IDC_REFRESH, CTopBar::kRefresh, L"REFRESH", true},
    {IDC_STOP, CTopBar::kStop, L"STOP", true},
    {IDC_HOME, CTopBar::kHome, L"HOME", true},
    {IDC_GOTO_ADDRESS, CTopBar::kGo, L"GOTO_ADDRESS", true},
    {IDC_SEARCH, CTopBar::kSearch, L"SEARCH", true},
    {IDC_PRINT, CTopBar::kPrint, L"PRINT", true},
    {IDC_TOOLS, CTopBar::kTools, L"TOOLS", true},
    {ID_BOSS_BUTTON, CTopBar::kBoss, L"BOSS_BUTTON_TOOLTIP", false},
    {IDC_MINIMIZE, CTopBar::kMinimize, L"MINIMIZE", false},
    {IDC_MAXIMIZE, CTopBar::kMaximize, L"MAXIMIZE", false},
    {IDC_CLOSE, CTopBar::kClose, L"CLOSE", false},
};

// Every control of the navigation row, for hiding it without the toolbar.
const int kNavigationControls[] = {IDC_PREVIOUS, IDC_NEXT, IDC_REFRESH, IDC_STOP, IDC_HOME, IDC_PAGE_ICON, IDC_ADDRESS,
                                   IDC_GOTO_ADDRESS, IDC_SEARCH_TEXT, IDC_SEARCH, IDC_PRINT, IDC_TOOLS};

}  // namespace

int CTopBar::GetHeight() const
{
    return CImageStrip::Scaled(m_bToolbar ? kCaptionRow + kNavigationRow : kCaptionRow);
}

void CTopBar::OnInitDialog()
{
    CLanguageManagerResource* pLanguage = CLanguageManagerResource::Instance();
    for (size_t i = 0; i < std::size(kButtons); ++i) {
        const CButtonSpec& item = kButtons[i];
        CBitmapButton& button = m_buttons[i];
        if (!button.SubclassDlgItem(static_cast<UINT>(item.nId), GetSafeHwnd())) {
            continue;
        }
        button.SetBitmaps(m_images.CopyCell(item.glyph, 0), 0, m_images.CopyCell(item.glyph, 1), 0);
        button.SetDisabledBitmap(m_images.CopyCell(item.glyph, 2));
        button.SetTooltipText(pLanguage != nullptr ? pLanguage->GetString(item.pszTooltipKey) : CString(item.pszTooltipKey));
    }
    m_search.SubclassDlgItem(IDC_SEARCH_TEXT, GetSafeHwnd());
    m_search.SetPlaceholder(pLanguage != nullptr ? pLanguage->GetString(L"POWERED_BY_QUERANT") : L"");

    NONCLIENTMETRICSW metrics = {sizeof(metrics)};
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        metrics.lfMessageFont.lfWeight = FW_SEMIBOLD;
        m_captionFont.reset(CreateFontIndirectW(&metrics.lfMessageFont));
    }
    m_programIcon.reset(static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_NULVANE),
                                                      IMAGE_ICON, CImageStrip::Scaled(kIcon), CImageStrip::Scaled(kIcon), 0)));
    SetPageIcon(nullptr, IMAGE_ICON);
    // Back and forward stay off until the page says there is a way to go.
    SetBackEnabled(false);
    SetForwardEnabled(false);
}

void CTopBar::SetToolbarShown(bool bShown)
{
    if (bShown == m_bToolbar) {
        return;
    }
    m_bToolbar = bShown;
    for (int nId : kNavigationControls) {
        ShowWindow(GetDlgItem(nId), bShown ? SW_SHOWNA : SW_HIDE);
    }
    RECT rc = {};
    GetClientRect(GetSafeHwnd(), &rc);
    Layout(rc.right);
}

void CTopBar::SetCaption(const CString& strCaption)
{
    if (strCaption != m_strCaption) {
        m_strCaption = strCaption;
        InvalidateRect(GetSafeHwnd(), nullptr, TRUE);
    }
}

void CTopBar::SetMaximizeState(bool bFullScreen, bool bMaximized)
{
    const bool bRestore = bFullScreen || bMaximized;
    if (bRestore != m_bRestoreGlyph) {
        m_bRestoreGlyph = bRestore;
        const Glyph glyph = bRestore ? kRestore : kMaximize;
        m_maximize.SetBitmaps(m_images.CopyCell(glyph, 0), 0, m_images.CopyCell(glyph, 1), 0);
        m_maximize.SetDisabledBitmap(m_images.CopyCell(glyph, 2));
    }
    m_maximize.SetTooltipText(CFrameRules::MaximizeTooltip(bFullScreen, bMaximized));
}

void CTopBar::SetBackEnabled(bool bEnabled)
{
    EnableWindow(GetDlgItem(IDC_PREVIOUS), bEnabled);
}

void CTopBar::SetForwardEnabled(bool bEnabled)
{
    EnableWindow(GetDlgItem(IDC_NEXT), bEnabled);
}

void CTopBar::SetPageIcon(HANDLE hIcon, UINT nKind)
{
    HWND hStatic = GetDlgItem(IDC_PAGE_ICON);
    if (hStatic == nullptr) {
        return;
    }
    if (hIcon == nullptr) {
        hIcon = m_programIcon.get();
        nKind = IMAGE_ICON;
    }
    // The static shows either kind only with the matching style.
    const LONG_PTR style = GetWindowLongPtrW(hStatic, GWL_STYLE) & ~static_cast<LONG_PTR>(SS_TYPEMASK);
    SetWindowLongPtrW(hStatic, GWL_STYLE, style | (nKind == IMAGE_BITMAP ? SS_BITMAP : SS_ICON));
    SendMessageW(hStatic, STM_SETIMAGE, nKind, reinterpret_cast<LPARAM>(hIcon));
    // The static may have sized itself to the image.
    const RECT rc = m_rcAddressField;
    MoveWindow(hStatic, rc.left + CImageStrip::Scaled(kMargin), (rc.top + rc.bottom - CImageStrip::Scaled(kIcon)) / 2, CImageStrip::Scaled(kIcon),
               CImageStrip::Scaled(kIcon), TRUE);
}

CString CTopBar::GetAddressText() const
{
    HWND hBox = GetAddressBox();
    CString strText;
    const int nLength = GetWindowTextLengthW(hBox);
    if (nLength > 0) {
        GetWindowTextW(hBox, strText.GetBuffer(nLength + 1), nLength + 1);
        strText.ReleaseBuffer();
    }
    return strText;
}

void CTopBar::SetAddressText(const CString& strText)
{
    SetWindowTextW(GetAddressBox(), strText);
}

void CTopBar::FocusAddress()
{
    SetFocus(GetAddressBox());
    SendMessageW(GetAddressBox(), EM_SETSEL, 0, -1);
}

void CTopBar::FocusSearch()
{
    SetFocus(m_search.GetSafeHwnd());
    SendMessageW(m_search.GetSafeHwnd(), EM_SETSEL, 0, -1);
}

void CTopBar::OnSize(int cx, int cy)
{
    (void)cy;
    Layout(cx);
}

void CTopBar::Layout(int cx)
{
    const int nButton = CImageStrip::Scaled(kButton);
    auto place = [&](int nId, int x, int y, int nWidth, int nHeight) {
        MoveWindow(GetDlgItem(nId), x, y, nWidth, nHeight, TRUE);
    };

    // The caption row: the window's own buttons at the right, clear of the
    // sizing edge.
    int x = cx - CImageStrip::Scaled(kMargin) - nButton;
    const int yCaption = (CImageStrip::Scaled(kCaptionRow) - nButton) / 2;
    for (int nId : {IDC_CLOSE, IDC_MAXIMIZE, IDC_MINIMIZE}) {
        place(nId, x, yCaption, nButton, nButton);
        x -= nButton + CImageStrip::Scaled(kGap);
    }
    place(ID_BOSS_BUTTON, x - CImageStrip::Scaled(kGroupGap), yCaption, nButton, nButton);

    // The navigation row: page buttons, the address field, the search field
    // (a third of what is left, within bounds), print and tools.
    const int y = CImageStrip::Scaled(kCaptionRow) + (CImageStrip::Scaled(kNavigationRow) - nButton) / 2 - CImageStrip::Scaled(2);
    x = CImageStrip::Scaled(kMargin);
    for (int nId : {IDC_PREVIOUS, IDC_NEXT, IDC_REFRESH, IDC_STOP, IDC_HOME}) {
        place(nId, x, y, nButton, nButton);
        x += nButton + CImageStrip::Scaled(kGap);
    }
    const int xAddress = x + CImageStrip::Scaled(kGroupGap) - CImageStrip::Scaled(kGap);
    int xRight = cx - CImageStrip::Scaled(kMargin) - nButton;
    place(IDC_TOOLS, xRight, y, nButton, nButton);
    xRight -= nButton + CImageStrip::Scaled(kGap);
    place(IDC_PRINT, xRight, y, nButton, nButton);
    xRight -= nButton + CImageStrip::Scaled(kGroupGap);
    place(IDC_SEARCH, xRight, y, nButton, nButton);
    const int nSearch = std::clamp((xRight - xAddress) / 3, CImageStrip::Scaled(kSearchMin), CImageStrip::Scaled(kSearchMax));
    m_rcSearchField = {xRight - CImageStrip::Scaled(kGap) - nSearch, y, xRight - CImageStrip::Scaled(kGap), y + nButton};
    const int xGo = m_rcSearchField.left - CImageStrip::Scaled(kGroupGap) - nButton;
    place(IDC_GOTO_ADDRESS, xGo, y, nButton, nButton);
    m_rcAddressField = {xAddress, y, std::max(xAddress + nButton, xGo - CImageStrip::Scaled(kGap)), y + nButton};

    // The edits sit inside their fields, which the bar draws.
    CClientDc dc(GetSafeHwnd());
    HGDIOBJ hOld = SelectObject(dc.get(), reinterpret_cast<HFONT>(SendMessageW(GetSafeHwnd(), WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc.get(), &metrics);
    SelectObject(dc.get(), hOld);
    const int nEdit = metrics.tmHeight + CImageStrip::Scaled(2);
    const int yEdit = y + (nButton - nEdit) / 2;
    const int xEdit = m_rcAddressField.left + CImageStrip::Scaled(kMargin) * 2 + CImageStrip::Scaled(kIcon);
    place(IDC_ADDRESS, xEdit, yEdit, m_rcAddressField.right - CImageStrip::Scaled(kMargin) - xEdit, nEdit);
    place(IDC_SEARCH_TEXT, m_rcSearchField.left + CImageStrip::Scaled(kMargin) + CImageStrip::Scaled(2), yEdit,
          m_rcSearchField.right - m_rcSearchField.left - CImageStrip::Scaled(kMargin) * 2 - CImageStrip::Scaled(2), nEdit);
    place(IDC_PAGE_ICON, m_rcAddressField.left + CImageStrip::Scaled(kMargin), (m_rcAddressField.top + m_rcAddressField.bottom -
          CImageStrip::Scaled(kIcon)) / 2, CImageStrip::Scaled(kIcon), CImageStrip::Scaled(kIcon));
    InvalidateRect(GetSafeHwnd(), nullptr, TRUE);
}

bool CTopBar::OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    // The page icon sits inside the white address field.
    if (uMsg == WM_CTLCOLORSTATIC && reinterpret_cast<HWND>(lParam) == GetDlgItem(IDC_PAGE_ICON)) {
        SetBkColor(reinterpret_cast<HDC>(wParam), RGB(0xFF, 0xFF, 0xFF));
        lResult = reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
        return true;
    }
    return false;
}

void CTopBar::PaintField(HDC hDc, const RECT& rc) const
{
    CBrush fill(CreateSolidBrush(RGB(0xFF, 0xFF, 0xFF)));
    CGdiObject<HPEN> border(CreatePen(PS_SOLID, 1, kFieldBorder));
    HGDIOBJ hOldBrush = SelectObject(hDc, fill.get());
    HGDIOBJ hOldPen = SelectObject(hDc, border.get());
    RoundRect(hDc, rc.left, rc.top, rc.right, rc.bottom, CImageStrip::Scaled(8), CImageStrip::Scaled(8));
    SelectObject(hDc, hOldPen);
    SelectObject(hDc, hOldBrush);
}

void CTopBar::OnPaint(HDC hDc, const RECT& rcClient)
{
    const int nIcon = CImageStrip::Scaled(kIcon);
    if (m_programIcon) {
        DrawIconEx(hDc, CImageStrip::Scaled(7), CImageStrip::Scaled(7), m_programIcon.get(), nIcon, nIcon, 0, nullptr, DI_NORMAL);
    }
    RECT rcBoss = {};
    GetWindowRect(GetDlgItem(ID_BOSS_BUTTON), &rcBoss);
    MapWindowPoints(nullptr, GetSafeHwnd(), reinterpret_cast<POINT*>(&rcBoss), 2);
    RECT rcCaption = {CImageStrip::Scaled(kCaptionLeft), 0, rcBoss.left - CImageStrip::Scaled(kGroupGap), CImageStrip::Scaled(kCaptionRow)};
    HGDIOBJ hOldFont = SelectObject(hDc, m_captionFont.get());
    SetBkMode(hDc, TRANSPARENT);
    SetTextColor(hDc, kCaptionColour);
    DrawTextW(hDc, m_strCaption, m_strCaption.GetLength(), &rcCaption,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(hDc, hOldFont);
    if (m_bToolbar) {
        PaintField(hDc, m_rcAddressField);
        PaintField(hDc, m_rcSearchField);
    }
    (void)rcClient;
}

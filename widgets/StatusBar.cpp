#include "widgets/StatusBar.h"

#include <commctrl.h>

namespace {

// At 96 DPI.
constexpr int kHeight = 22;
constexpr int kProgressWidth = 120;
constexpr int kProgressHeight = 8;
constexpr int kMargin = 8;
constexpr COLORREF kTextColour = RGB(0x4A, 0x58, 0x63);
constexpr COLORREF kRuleColour = RGB(0xD3, 0xDB, 0xE2);

}  // namespace

CStatusBar::CStatusBar(const CImageStrip& images, int nLockColumn, UINT nProgressId)
    : m_images(images), m_nLockColumn(nLockColumn), m_nProgressId(nProgressId)
{
}

int CStatusBar::HeightFor(int nDpi)
{
    return MulDiv(kHeight, nDpi, 96);
}

void CStatusBar::SetText(const CString& strText)
{
    if (strText != m_strText) {
        m_strText = strText;
        InvalidateRect(GetSafeHwnd(), nullptr, TRUE);
    }
}

void CStatusBar::SetSecureLock(LONG nLevel)
{
    if (nLevel != m_nSecureLock) {
        m_nSecureLock = nLevel;
        InvalidateRect(GetSafeHwnd(), nullptr, TRUE);
    }
}

void CStatusBar::SetProgress(int nPercent)
{
    m_nProgress = nPercent < 0 ? -1 : nPercent > 100 ? 100 : nPercent;
    HWND hProgress = GetDlgItem(static_cast<int>(m_nProgressId));
    if (hProgress == nullptr) {
        return;
    }
    if (m_nProgress >= 0) {
        SendMessageW(hProgress, PBM_SETPOS, static_cast<WPARAM>(m_nProgress), 0);
    }
    ShowWindow(hProgress, m_nProgress >= 0 ? SW_SHOWNA : SW_HIDE);
}

void CStatusBar::OnSize(int cx, int cy)
{
    HWND hProgress = GetDlgItem(static_cast<int>(m_nProgressId));
    if (hProgress == nullptr) {
        return;
    }
    // Left of the padlock's place, so that neither moves when the other
    // comes and goes.
    const int nWidth = CImageStrip::Scaled(kProgressWidth);
    const int nHeight = CImageStrip::Scaled(kProgressHeight);
    const int x = cx - CImageStrip::Scaled(kMargin) - m_images.CellSize() - nWidth;
    MoveWindow(hProgress, x, (cy - nHeight) / 2, nWidth, nHeight, TRUE);
    InvalidateRect(GetSafeHwnd(), nullptr, TRUE);
}

void CStatusBar::OnPaint(HDC hDc, const RECT& rcClient)
{
    // A hairline along the top separates the bar from the page.
    RECT rcRule = {rcClient.left, rcClient.top, rcClient.right, rcClient.top + 1};
    CBrush rule(CreateSolidBrush(kRuleColour));
    FillRect(hDc, &rcRule, rule.get());

    // The padlock without the cell's empty margin, which the bar has no
    // room for.
    const int nCell = m_images.CellSize();
    const int nInset = CImageStrip::Scaled(5);
    if (m_nSecureLock != 0) {
        m_images.Draw(hDc, m_nLockColumn, 0, rcClient.right - CImageStrip::Scaled(kMargin) - nCell + nInset,
                      (rcClient.bottom - nCell) / 2 + nInset, nInset);
    }
    RECT rcText = rcClient;
    rcText.left += CImageStrip::Scaled(kMargin);
    rcText.right -= CImageStrip::Scaled(kMargin) * 2 + nCell + CImageStrip::Scaled(kProgressWidth);
    HGDIOBJ hOldFont = SelectObject(hDc, reinterpret_cast<HFONT>(SendMessageW(GetSafeHwnd(), WM_GETFONT, 0, 0)));
    SetBkMode(hDc, TRANSPARENT);
    SetTextColor(hDc, kTextColour);
    DrawTextW(hDc, m_strText, m_strText.GetLength(), &rcText,
              DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
    SelectObject(hDc, hOldFont);
}

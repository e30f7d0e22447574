#include "widgets/BitmapButton.h"

#include <commctrl.h>

#include "widgets/ImageStrip.h"

namespace {

constexpr UINT_PTR kButtonSubclassId = 0x42544E31;

SIZE BitmapSize(HBITMAP hBitmap)
{
    BITMAP bm = {};
    if (hBitmap == nullptr || GetObjectW(hBitmap, sizeof(bm), &bm) == 0) {
        return {0, 0};
    }
    return {bm.bmWidth, bm.bmHeight};
}

TOOLINFOW ToolFor(HWND hParent, HWND hButton)
{
    TOOLINFOW info = {};
    // The version 5 layout: comctl32 of every version accepts it.
    info.cbSize = TTTOOLINFOW_V2_SIZE;
    info.hwnd = hParent;
    info.uId = reinterpret_cast<UINT_PTR>(hButton);
    return info;
}

}  // namespace

CBitmapButton::~CBitmapButton()
{
    Detach();
}

BOOL CBitmapButton::SubclassDlgItem(UINT nID, HWND hParent)
{
    HWND hWnd = GetDlgItem(hParent, static_cast<int>(nID));
    if (hWnd == nullptr || m_hWnd != nullptr) {
        return FALSE;
    }
    // The button itself tracks the mouse; its parent, which receives
    // WM_DRAWITEM, hands the drawing back to us.
    if (!SetWindowSubclass(hWnd, ButtonProc, kButtonSubclassId, reinterpret_cast<DWORD_PTR>(this))) {
        return FALSE;
    }
    if (!SetWindowSubclass(hParent, ParentProc, reinterpret_cast<UINT_PTR>(this),
                           reinterpret_cast<DWORD_PTR>(this))) {
        RemoveWindowSubclass(hWnd, ButtonProc, kButtonSubclassId);
        return FALSE;
    }
    m_hWnd = hWnd;
    m_hParent = hParent;
    const LONG_PTR style = GetWindowLongPtrW(hWnd, GWL_STYLE);
    if ((style & BS_TYPEMASK) != BS_OWNERDRAW) {
        SendMessageW(hWnd, BM_SETSTYLE, (style & ~static_cast<LONG_PTR>(BS_TYPEMASK)) | BS_OWNERDRAW, TRUE);
    }
    return TRUE;
}

void CBitmapButton::Detach()
{
    if (m_hWnd == nullptr) {
        return;
    }
    RemoveWindowSubclass(m_hWnd, ButtonProc, kButtonSubclassId);
    RemoveWindowSubclass(m_hParent, ParentProc, reinterpret_cast<UINT_PTR>(this));
    m_hTooltip.reset();
    m_hWnd = nullptr;
    m_hParent = nullptr;
    m_bHot = false;
}

void CBitmapButton::SetBitmaps(CBitmap normal, COLORREF crNormalKey, CBitmap second, COLORREF crSecondKey)
{
    m_normal = std::move(normal);
    m_second = std::move(second);
    m_crNormalKey = crNormalKey;
    m_crSecondKey = crSecondKey;
    if (m_hWnd != nullptr) {
        InvalidateRect(m_hWnd, nullptr, FALSE);
    }
}

void CBitmapButton::SetDisabledBitmap(CBitmap disabled)
{
    m_disabled = std::move(disabled);
    if (m_hWnd != nullptr) {
        InvalidateRect(m_hWnd, nullptr, FALSE);
    }
}

void CBitmapButton::SizeToBitmap()
{
    const SIZE size = BitmapSize(m_normal.get());
    if (m_hWnd != nullptr && size.cx > 0 && size.cy > 0) {
        SetWindowPos(m_hWnd, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

BOOL CBitmapButton::SetTooltipText(const wchar_t* pszText)
{
    if (m_hWnd == nullptr) {
        return FALSE;
    }
    TOOLINFOW info = ToolFor(m_hParent, m_hWnd);
    info.lpszText = const_cast<wchar_t*>(pszText != nullptr ? pszText : L"");
    if (m_hTooltip) {
        SendMessageW(m_hTooltip.get(), TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
        return TRUE;
    }
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&icc);
    m_hTooltip.reset(CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                     CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hParent, nullptr,
                                     nullptr, nullptr));
    if (!m_hTooltip) {
        return FALSE;
    }
    // TTF_SUBCLASS: the tooltip watches the button's mouse messages itself.
    info.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    if (!SendMessageW(m_hTooltip.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info))) {
        m_hTooltip.reset();
        return FALSE;
    }
    return TRUE;
}

CString CBitmapButton::GetTooltipText() const
{
    if (!m_hTooltip) {
        return CString();
    }
    // Tooltips copy at most 80 characters without TTM_GETTEXT's newer
    // length argument; this buffer holds any text comctl32 keeps.
    wchar_t buffer[1024] = {};
    TOOLINFOW info = ToolFor(m_hParent, m_hWnd);
    info.lpszText = buffer;
    SendMessageW(m_hTooltip.get(), TTM_GETTEXTW, sizeof(buffer) / sizeof(buffer[0]), reinterpret_cast<LPARAM>(&info));
    buffer[sizeof(buffer) / sizeof(buffer[0]) - 1] = L'\0';
    return CString(buffer);
}

void CBitmapButton::SetHot(bool bHot)
{
    if (m_bHot != bHot) {
        m_bHot = bHot;
        InvalidateRect(m_hWnd, nullptr, FALSE);
    }
}

void CBitmapButton::DrawItem(const DRAWITEMSTRUCT& item) const
{
    HBRUSH hBack = reinterpret_cast<HBRUSH>(
        SendMessageW(m_hParent, WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(item.hDC), reinterpret_cast<LPARAM>(m_hWnd)));
    FillRect(item.hDC, &item.rcItem, hBack != nullptr ? hBack : GetSysColorBrush(COLOR_BTNFACE));

    const bool bDisabled = (item.itemState & ODS_DISABLED) != 0;
    const bool bSecond = !bDisabled && m_second && (m_bHot || (item.itemState & ODS_SELECTED) != 0);
    HBITMAP hBitmap = bDisabled && m_disabled ? m_disabled.get() : bSecond ? m_second.get() : m_normal.get();
    const COLORREF crKey = bSecond ? m_crSecondKey : m_crNormalKey;
    const SIZE size = BitmapSize(hBitmap);
    if (size.cx == 0 || size.cy == 0) {
        return;
    }
    wchar_t szText[128] = {};
    const int nText = GetWindowTextW(m_hWnd, szText, ARRAYSIZE(szText));
    // A bitmap alone is centred; with a text, both sit at the left.
    const int x = nText > 0 ? item.rcItem.left : item.rcItem.left + (item.rcItem.right - item.rcItem.left - size.cx) / 2;
    const int y = item.rcItem.top + (item.rcItem.bottom - item.rcItem.top - size.cy) / 2;
    if (CImageStrip::HasAlpha(hBitmap)) {
        CImageStrip::Blend(item.hDC, hBitmap, x, y, RECT{0, 0, size.cx, size.cy});
    } else if (CMemoryDc memory(CreateCompatibleDC(item.hDC)); memory) {
        HGDIOBJ hOld = SelectObject(memory.get(), hBitmap);
        TransparentBlt(item.hDC, x, y, size.cx, size.cy, memory.get(), 0, 0, size.cx, size.cy, crKey);
        SelectObject(memory.get(), hOld);
    }
    if (nText > 0) {
        RECT rcText = item.rcItem;
        rcText.left = x + size.cx;
        HGDIOBJ hOldFont = SelectObject(item.hDC, reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0)));
        SetBkMode(item.hDC, TRANSPARENT);
        SetTextColor(item.hDC, GetSysColor(bDisabled ? COLOR_GRAYTEXT : COLOR_BTNTEXT));
        DrawTextW(item.hDC, szText, nText, &rcText, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
        SelectObject(item.hDC, hOldFont);
    }
}

LRESULT CALLBACK CBitmapButton::ButtonProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                           DWORD_PTR dwRefData)
{
    (void)uIdSubclass;
    auto* pThis = reinterpret_cast<CBitmapButton*>(dwRefData);
    if (uMsg == WM_NCDESTROY) {
        pThis->Detach();
        return DefSubclassProc(hWnd, uMsg, wParam, lParam);
    }
    return pThis->HandleButtonMessage(uMsg, wParam, lParam);
}

LRESULT CBitmapButton::HandleButtonMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) noexcept
{
    switch (uMsg) {
    case WM_MOUSEMOVE:
        if (!m_bHot) {
            TRACKMOUSEEVENT track = {sizeof(track), TME_LEAVE, m_hWnd, 0};
            TrackMouseEvent(&track);
            SetHot(true);
        }
        break;
    case WM_MOUSELEAVE:
        SetHot(false);
        break;
    case WM_ERASEBKGND:
        // DrawItem paints every pixel.
        return TRUE;
    default:
        break;
    }
    return DefSubclassProc(m_hWnd, uMsg, wParam, lParam);
}

LRESULT CALLBACK CBitmapButton::ParentProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                           DWORD_PTR dwRefData)
{
    (void)uIdSubclass;
    auto* pThis = reinterpret_cast<CBitmapButton*>(dwRefData);
    if (uMsg == WM_DRAWITEM) {
        const auto* pItem = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (pItem != nullptr && pItem->hwndItem == pThis->m_hWnd) {
            pThis->DrawItem(*pItem);
            return TRUE;
        }
    }
    return DefSubclassProc(hWnd, uMsg, wParam, lParam);
}

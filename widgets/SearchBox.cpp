#include "widgets/SearchBox.h"

#include <commctrl.h>

namespace {

constexpr UINT_PTR kEditSubclassId = 0x53524348;

CString WindowText(HWND hWnd)
{
    CString strText;
    const int nLength = GetWindowTextLengthW(hWnd);
    if (nLength > 0) {
        GetWindowTextW(hWnd, strText.GetBuffer(nLength + 1), nLength + 1);
        strText.ReleaseBuffer();
    }
    return strText;
}

}  // namespace

CSearchBox::~CSearchBox()
{
    Detach();
}

BOOL CSearchBox::SubclassDlgItem(UINT nID, HWND hParent)
{
    HWND hWnd = GetDlgItem(hParent, static_cast<int>(nID));
    if (hWnd == nullptr || m_hWnd != nullptr) {
        return FALSE;
    }
    if (!SetWindowSubclass(hWnd, EditProc, kEditSubclassId, reinterpret_cast<DWORD_PTR>(this))) {
        return FALSE;
    }
    // The parent chooses the edit's colours (WM_CTLCOLOREDIT).
    if (!SetWindowSubclass(hParent, ParentProc, reinterpret_cast<UINT_PTR>(this), reinterpret_cast<DWORD_PTR>(this))) {
        RemoveWindowSubclass(hWnd, EditProc, kEditSubclassId);
        return FALSE;
    }
    m_hWnd = hWnd;
    m_hParent = hParent;
    return TRUE;
}

void CSearchBox::Detach()
{
    if (m_hWnd == nullptr) {
        return;
    }
    RemoveWindowSubclass(m_hWnd, EditProc, kEditSubclassId);
    RemoveWindowSubclass(m_hParent, ParentProc, reinterpret_cast<UINT_PTR>(this));
    m_hWnd = nullptr;
    m_hParent = nullptr;
}

void CSearchBox::SetPlaceholder(const CString& strPlaceholder)
{
    m_strPlaceholder = strPlaceholder;
    ShowPlaceholder();
}

void CSearchBox::ShowPlaceholder()
{
    m_bPlaceholder = true;
    if (m_hWnd != nullptr) {
        SetWindowTextW(m_hWnd, m_strPlaceholder);
        InvalidateRect(m_hWnd, nullptr, TRUE);
    }
}

void CSearchBox::ClearPlaceholder()
{
    if (m_bPlaceholder) {
        m_bPlaceholder = false;
        SetWindowTextW(m_hWnd, L"");
        InvalidateRect(m_hWnd, nullptr, TRUE);
    }
}

bool CSearchBox::TakeSearchText(CString& strText)
{
    if (m_bPlaceholder || m_hWnd == nullptr) {
        return false;
    }
    strText = WindowText(m_hWnd);
    ShowPlaceholder();
    return true;
}

LRESULT CALLBACK CSearchBox::EditProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                      DWORD_PTR dwRefData)
{
    (void)uIdSubclass;
    auto* pThis = reinterpret_cast<CSearchBox*>(dwRefData);
    if (uMsg == WM_NCDESTROY) {
        pThis->Detach();
        return DefSubclassProc(hWnd, uMsg, wParam, lParam);
    }
    return pThis->HandleEditMessage(uMsg, wParam, lParam);
}

LRESULT CSearchBox::HandleEditMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) noexcept
{
    HWND hWnd = m_hWnd;
    switch (uMsg) {
    case WM_SETFOCUS:
        ClearPlaceholder();
        break;
    case WM_KILLFOCUS:
        m_bSelectOnClick = true;
        break;
    case WM_CHAR:
    case WM_PASTE:
        // The box showed the placeholder while it kept the focus (a search
        // run by Enter): what the user types replaces it.
        ClearPlaceholder();
        break;
    case WM_LBUTTONUP:
        if (m_bSelectOnClick) {
            m_bSelectOnClick = false;
            const LRESULT lResult = DefSubclassProc(hWnd, uMsg, wParam, lParam);
            SendMessageW(hWnd, EM_SETSEL, 0, -1);
            return lResult;
        }
        break;
    default:
        break;
    }
    return DefSubclassProc(hWnd, uMsg, wParam, lParam);
}

LRESULT CALLBACK CSearchBox::ParentProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                        DWORD_PTR dwRefData)
{
    (void)uIdSubclass;
    auto* pThis = reinterpret_cast<CSearchBox*>(dwRefData);
    if (uMsg == WM_CTLCOLOREDIT && reinterpret_cast<HWND>(lParam) == pThis->m_hWnd) {
        // The parent's own answer gives the background; only the text
        // colour is ours.
        const LRESULT lBrush = DefSubclassProc(hWnd, uMsg, wParam, lParam);
        SetTextColor(reinterpret_cast<HDC>(wParam),
                     pThis->m_bPlaceholder ? kPlaceholderColour : GetSysColor(COLOR_WINDOWTEXT));
        return lBrush != 0 ? lBrush : reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    }
    return DefSubclassProc(hWnd, uMsg, wParam, lParam);
}

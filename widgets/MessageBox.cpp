#include "widgets/MessageBox.h"

#include <commctrl.h>

#include <algorithm>

namespace {

// The box of the innermost DoModal running on this thread. A handler that
// shows another box nests a second DoModal; each restores the one before.
thread_local CMessageBox* t_pActive = nullptr;

constexpr UINT_PTR kSubclassId = 0x4E4D42;  // any id unique among our subclasses

// Hook handles are released by UnhookWindowsHookEx.
class CHook {
public:
    CHook(int idHook, HOOKPROC pfn) : m_hHook(SetWindowsHookExW(idHook, pfn, nullptr, GetCurrentThreadId())) {}
    ~CHook()
    {
        if (m_hHook != nullptr) {
            UnhookWindowsHookEx(m_hHook);
        }
    }
    CHook(const CHook&) = delete;
    CHook& operator=(const CHook&) = delete;

private:
    HHOOK m_hHook;
};

bool IsDialogClass(HWND hWnd)
{
    wchar_t szClass[16] = L"";
    GetClassNameW(hWnd, szClass, ARRAYSIZE(szClass));
    return wcscmp(szClass, L"#32770") == 0;
}

bool IsPushButton(HWND hWnd)
{
    wchar_t szClass[16] = L"";
    GetClassNameW(hWnd, szClass, ARRAYSIZE(szClass));
    // The box itself is not visible yet: look at the button's own style.
    const LONG_PTR style = GetWindowLongPtrW(hWnd, GWL_STYLE);
    if (_wcsicmp(szClass, L"Button") != 0 || (style & WS_VISIBLE) == 0) {
        return false;
    }
    return (style & BS_TYPEMASK) == BS_PUSHBUTTON || (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}

// A child's rectangle in its parent's client coordinates.
RECT ChildRect(HWND hChild, HWND hParent)
{
    RECT rc;
    GetWindowRect(hChild, &rc);
    MapWindowPoints(HWND_DESKTOP, hParent, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

}  // namespace

CMessageBox::CMessageBox(HWND hOwner, const CString& strText, const CString& strCaption, UINT uType)
    : m_hOwner(hOwner), m_strText(strText), m_strCaption(strCaption), m_uType(uType)
{
}

void CMessageBox::SetButtonText(int nButtonId, const CString& strText)
{
    for (CButtonText& button : m_buttonTexts) {
        if (button.nId == nButtonId) {
            button.strText = strText;
            return;
        }
    }
    m_buttonTexts.push_back({nButtonId, strText});
}

int CMessageBox::DoModal()
{
    CMessageBox* pOuter = t_pActive;
    t_pActive = this;
    m_hWnd = nullptr;
    m_bCaught = false;
    int nResult = 0;
    {
        // The box's own modal loop passes every message it takes through
        // the message-filter hook before dispatching it; that is where
        // messages posted to the thread can be handed on instead of lost.
        CHook cbt(WH_CBT, &CMessageBox::CbtHook);
        CHook filter(WH_MSGFILTER, &CMessageBox::MessageFilterHook);
        nResult = MessageBoxW(m_hOwner, m_strText, m_strCaption, m_uType);
    }
    t_pActive = pOuter;
    m_hWnd = nullptr;
    return nResult;
}

LRESULT CALLBACK CMessageBox::CbtHook(int nCode, WPARAM wParam, LPARAM lParam)
{
    // The first dialog window created while the box is being shown is the
    // box itself: it is created before anything else of it runs.
    CMessageBox* pBox = t_pActive;
    if (nCode == HCBT_CREATEWND && pBox != nullptr && !pBox->m_bCaught) {
        auto hWnd = reinterpret_cast<HWND>(wParam);
        if (IsDialogClass(hWnd)) {
            pBox->m_bCaught = true;
            pBox->m_hWnd = hWnd;
            SetWindowSubclass(hWnd, &CMessageBox::BoxProc, kSubclassId, reinterpret_cast<DWORD_PTR>(pBox));
        }
    }
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

LRESULT CALLBACK CMessageBox::MessageFilterHook(int nCode, WPARAM wParam, LPARAM lParam)
{
    CMessageBox* pBox = t_pActive;
    const auto* pMsg = reinterpret_cast<const MSG*>(lParam);
    if (nCode >= 0 && pBox != nullptr && pMsg != nullptr && pMsg->hwnd == nullptr && pBox->m_threadMessageHandler) {
        const MSG msg = *pMsg;
        // Exceptions must not cross back into the system's loop.
        try {
            ThreadMessageHandler handler = pBox->m_threadMessageHandler;
            handler(msg);
        } catch (...) {
        }
        return TRUE;
    }
    return CallNextHookEx(nullptr, nCode, wParam, lParam);
}

LRESULT CALLBACK CMessageBox::BoxProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                      DWORD_PTR dwRefData)
{
    auto* pBox = reinterpret_cast<CMessageBox*>(dwRefData);
    if (uMsg == WM_INITDIALOG) {
        // The system lays the box out first; the texts and sizes change
        // before it is first shown.
        const LRESULT lResult = DefSubclassProc(hWnd, uMsg, wParam, lParam);
        pBox->Relabel();
        return lResult;
    }
    if (uMsg == WM_NCDESTROY) {
        RemoveWindowSubclass(hWnd, &CMessageBox::BoxProc, uIdSubclass);
    }
    return DefSubclassProc(hWnd, uMsg, wParam, lParam);
}

void CMessageBox::Relabel() noexcept
{
    try {
        for (const CButtonText& button : m_buttonTexts) {
            if (HWND hButton = GetDlgItem(m_hWnd, button.nId)) {
                SetWindowTextW(hButton, button.strText);
            }
        }
        if (!m_buttonTexts.empty()) {
            FitButtons();
        }
    } catch (...) {
    }
}

// Gives every button the width the widest text needs when that is more than
// the system's, keeps the gaps between them, and centres the row, widening
// the box (around its centre, within the work area) when the row needs it.
void CMessageBox::FitButtons()
{
    std::vector<HWND> buttons;
    for (HWND hChild = GetWindow(m_hWnd, GW_CHILD); hChild != nullptr; hChild = GetWindow(hChild, GW_HWNDNEXT)) {
        if (IsPushButton(hChild)) {
            buttons.push_back(hChild);
        }
    }
    if (buttons.empty()) {
        return;
    }
    std::sort(buttons.begin(), buttons.end(),
              [this](HWND a, HWND b) { return ChildRect(a, m_hWnd).left < ChildRect(b, m_hWnd).left; });

    HDC hDc = GetDC(m_hWnd);
    if (hDc == nullptr) {
        return;
    }
    auto hFont = reinterpret_cast<HFONT>(SendMessageW(m_hWnd, WM_GETFONT, 0, 0));
    HGDIOBJ hOldFont = hFont != nullptr ? SelectObject(hDc, hFont) : nullptr;
    TEXTMETRICW tm = {};
    GetTextMetricsW(hDc, &tm);
    // Room on each side of a text, as the system leaves around its own
    // longest caption: about two average characters and the 3-D edge.
    const int nPadding = 2 * tm.tmAveCharWidth + 2 * GetSystemMetrics(SM_CXEDGE);
    int nNeeded = 0;
    for (HWND hButton : buttons) {
        const int nLength = GetWindowTextLengthW(hButton);
        CString strText;
        GetWindowTextW(hButton, strText.GetBuffer(nLength + 1), nLength + 1);
        strText.ReleaseBuffer();
        RECT rcText = {0, 0, 0, 0};
        DrawTextW(hDc, strText, strText.GetLength(), &rcText, DT_CALCRECT | DT_SINGLELINE);
        nNeeded = std::max(nNeeded, static_cast<int>(rcText.right - rcText.left) + 2 * nPadding);
    }
    if (hOldFont != nullptr) {
        SelectObject(hDc, hOldFont);
    }
    ReleaseDC(m_hWnd, hDc);

    const RECT rcFirst = ChildRect(buttons.front(), m_hWnd);
    const int nWidth = rcFirst.right - rcFirst.left;
    if (nNeeded <= nWidth) {
        return;
    }
    const int nCount = static_cast<int>(buttons.size());
    const int nGap = nCount > 1 ? std::max(0L, ChildRect(buttons[1], m_hWnd).left - rcFirst.right) : 0;
    const int nRow = nCount * nNeeded + (nCount - 1) * nGap;

    RECT rcClient;
    GetClientRect(m_hWnd, &rcClient);
    const int nMargin = std::max(static_cast<int>(rcFirst.left), nPadding);
    const int nGrowth = std::max(0, nRow + 2 * nMargin - static_cast<int>(rcClient.right));
    if (nGrowth > 0) {
        RECT rcWindow;
        GetWindowRect(m_hWnd, &rcWindow);
        int nLeft = rcWindow.left - nGrowth / 2;
        const int nNewWidth = (rcWindow.right - rcWindow.left) + nGrowth;
        MONITORINFO monitor = {sizeof(monitor)};
        if (GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &monitor)) {
            nLeft = std::min(nLeft, static_cast<int>(monitor.rcWork.right) - nNewWidth);
            nLeft = std::max(nLeft, static_cast<int>(monitor.rcWork.left));
        }
        SetWindowPos(m_hWnd, nullptr, nLeft, rcWindow.top, nNewWidth, rcWindow.bottom - rcWindow.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        GetClientRect(m_hWnd, &rcClient);
    }
    int x = (rcClient.right - nRow) / 2;
    for (HWND hButton : buttons) {
        const RECT rc = ChildRect(hButton, m_hWnd);
        SetWindowPos(hButton, nullptr, x, rc.top, nNeeded, rc.bottom - rc.top, SWP_NOZORDER | SWP_NOACTIVATE);
        x += nNeeded + nGap;
    }
}

#include "tests/support/MessageBoxAnswerer.h"

namespace {

constexpr DWORD kFindTimeoutMs = 10000;

CString WindowText(HWND hWnd)
{
    wchar_t szText[1024] = L"";
    GetWindowTextW(hWnd, szText, ARRAYSIZE(szText));
    return szText;
}

CString ClassOf(HWND hWnd)
{
    wchar_t szClass[64] = L"";
    GetClassNameW(hWnd, szClass, ARRAYSIZE(szClass));
    return szClass;
}

int TextWidth(HWND hButton, const CString& strText)
{
    HDC hDc = GetDC(hButton);
    auto hFont = reinterpret_cast<HFONT>(SendMessageW(hButton, WM_GETFONT, 0, 0));
    HGDIOBJ hOld = SelectObject(hDc, hFont != nullptr ? hFont : GetStockObject(DEFAULT_GUI_FONT));
    RECT rc = {0, 0, 0, 0};
    DrawTextW(hDc, strText, strText.GetLength(), &rc, DT_CALCRECT | DT_SINGLELINE);
    SelectObject(hDc, hOld);
    ReleaseDC(hButton, hDc);
    return rc.right - rc.left;
}

}  // namespace

CMessageBoxAnswerer::CMessageBoxAnswerer(const CString& strCaption, int nButtonToPress, UINT uPostFirst)
    : m_strCaption(strCaption), m_nButtonToPress(nButtonToPress), m_uPostFirst(uPostFirst),
      m_dwThreadId(GetCurrentThreadId()), m_thread([this] { Run(); })
{
}

CMessageBoxAnswerer::~CMessageBoxAnswerer()
{
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

const CMessageBoxAnswerer::CSeen& CMessageBoxAnswerer::Seen()
{
    if (m_thread.joinable()) {
        m_thread.join();
    }
    return m_seen;
}

HWND CMessageBoxAnswerer::FindBox(bool bAnyCaption) const
{
    struct CSearch {
        const CString* pCaption;
        HWND hFound;
    } search = {bAnyCaption ? nullptr : &m_strCaption, nullptr};
    EnumThreadWindows(
        m_dwThreadId,
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            auto* p = reinterpret_cast<CSearch*>(lParam);
            if (IsWindowVisible(hWnd) && ClassOf(hWnd) == L"#32770" &&
                (p->pCaption == nullptr || WindowText(hWnd) == *p->pCaption)) {
                p->hFound = hWnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.hFound;
}

void CMessageBoxAnswerer::Run()
{
    const ULONGLONG deadline = GetTickCount64() + kFindTimeoutMs;
    HWND hBox = nullptr;
    while ((hBox = FindBox(false)) == nullptr && GetTickCount64() < deadline) {
        Sleep(20);
    }
    if (hBox == nullptr) {
        if (HWND hOther = FindBox(true)) {
            PostMessageW(hOther, WM_COMMAND, MAKEWPARAM(m_nButtonToPress, BN_CLICKED), 0);
        }
        return;
    }
    // Let the box settle (activation, foreground) before looking at it.
    Sleep(100);
    m_seen.bFound = true;
    m_seen.bForeground = GetForegroundWindow() == hBox;
    GetClientRect(hBox, &m_seen.rcClient);
    for (HWND hChild = GetWindow(hBox, GW_CHILD); hChild != nullptr; hChild = GetWindow(hChild, GW_HWNDNEXT)) {
        const CString strClass = ClassOf(hChild);
        const LONG_PTR style = GetWindowLongPtrW(hChild, GWL_STYLE);
        if (strClass.CompareNoCase(L"Button") == 0) {
            CButton button;
            button.strText = WindowText(hChild);
            GetWindowRect(hChild, &button.rc);
            MapWindowPoints(HWND_DESKTOP, hBox, reinterpret_cast<POINT*>(&button.rc), 2);
            button.nTextWidth = TextWidth(hChild, button.strText);
            m_seen.buttons[GetDlgCtrlID(hChild)] = button;
        } else if (strClass.CompareNoCase(L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
            m_seen.hIcon = reinterpret_cast<HICON>(SendMessageW(hChild, STM_GETICON, 0, 0));
        } else if (strClass.CompareNoCase(L"Static") == 0 && IsWindowVisible(hChild)) {
            m_seen.strText += WindowText(hChild);
        }
    }
    if (m_uPostFirst != 0) {
        PostThreadMessageW(m_dwThreadId, m_uPostFirst, 7, 11);
    }
    PostMessageW(hBox, WM_COMMAND, MAKEWPARAM(m_nButtonToPress, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(hBox, m_nButtonToPress)));
}

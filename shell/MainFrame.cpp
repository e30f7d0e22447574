#include "shell/MainFrame.h"

#include "framework/Logger.h"
#include "shell/FrameUrlMessage.h"
#include "shell/QuelmarSMDIView.h"
#include "shell/ShellMessages.h"

namespace {

const wchar_t kFrameClassName[] = L"NulvaneMainFrame";
const wchar_t kProductTitle[] = L"Nulvane";

}  // namespace

CMainFrame::~CMainFrame()
{
    // Our own handlers must see the window go, not only the base class's.
    DestroyWindow();
}

const wchar_t* CMainFrame::GetClassName() const
{
    return kFrameClassName;
}

const wchar_t* CMainFrame::GetInitialTitle() const
{
    return kProductTitle;
}

int CMainFrame::OnCreate(const CREATESTRUCTW& cs)
{
    const int nResult = CFrameWindow::OnCreate(cs);
    if (nResult != 0) {
        return nResult;
    }
    // The first tab is open. Every window holds a handle, so the mutex
    // exists as long as any window of this copy has a tab.
    m_hTabOpenMutex.reset(CreateMutexW(nullptr, FALSE, kTabOpenMutexName));
    if (!m_hTabOpenMutex) {
        LOG_ERROR(GetLastError(), L"CMainFrame::OnCreate cannot create %s", kTabOpenMutexName);
    }
    return 0;
}

void CMainFrame::OnDestroy()
{
    // The tabs go with the window.
    m_hTabOpenMutex.reset();
    CFrameWindow::OnDestroy();
}

CQuelmarSMDIView* CMainFrame::GetActiveBrowserView() const
{
    return dynamic_cast<CQuelmarSMDIView*>(GetActiveView());
}

void CMainFrame::GoToAddress(const CString& strAddress)
{
    CString strTrimmed = strAddress;
    strTrimmed.Trim();
    CQuelmarSMDIView* pView = GetActiveBrowserView();
    if (strTrimmed.IsEmpty() || pView == nullptr) {
        return;
    }
    pView->Navigate(strTrimmed);
}

void CMainFrame::OpenInNewTab(const CString& strUrl)
{
    if (CQuelmarSMDIView* pView = GetActiveBrowserView()) {
        pView->Navigate(strUrl);
    }
}

void CMainFrame::BringToForeground()
{
    HWND hWnd = GetSafeHwnd();
    if (hWnd == nullptr) {
        return;
    }
    if (IsIconic(hWnd)) {
        ShowWindow(hWnd, SW_RESTORE);
    }
    SetForegroundWindow(hWnd);
}

void CMainFrame::OnViewTitleChanged(CQuelmarSMDIView* pView)
{
    if (pView == nullptr || pView != GetActiveBrowserView() || GetSafeHwnd() == nullptr) {
        return;
    }
    const CString& strTitle = pView->GetTitle();
    const CString strCaption = strTitle.IsEmpty() ? CString(kProductTitle) : strTitle + L" - " + kProductTitle;
    SetWindowTextW(GetSafeHwnd(), strCaption);
}

void CMainFrame::OnBackEnabled(CQuelmarSMDIView* pView, bool bEnabled)
{
    if (pView == GetActiveBrowserView()) {
        m_bBackEnabled = bEnabled;
    }
}

void CMainFrame::OnForwardEnabled(CQuelmarSMDIView* pView, bool bEnabled)
{
    if (pView == GetActiveBrowserView()) {
        m_bForwardEnabled = bEnabled;
    }
}

void CMainFrame::SetAddressText(CQuelmarSMDIView* pView, const CString& strUrl)
{
    (void)pView;
    (void)strUrl;
}

void CMainFrame::SetStatusText(CQuelmarSMDIView* pView, const CString& strText)
{
    (void)pView;
    (void)strText;
}

void CMainFrame::SetSecureLock(CQuelmarSMDIView* pView, LONG nSecureLock)
{
    (void)pView;
    (void)nSecureLock;
}

void CMainFrame::SetProgress(CQuelmarSMDIView* pView, int nPercent)
{
    (void)pView;
    (void)nPercent;
}

void CMainFrame::SetPageIcon(CQuelmarSMDIView* pView, HANDLE hIcon, UINT nKind)
{
    (void)pView;
    (void)hIcon;
    (void)nKind;
}

void CMainFrame::SetWindowLeft(int nLeft)
{
    RECT rc = {};
    if (GetWindowRect(GetSafeHwnd(), &rc)) {
        SetWindowPos(GetSafeHwnd(), nullptr, nLeft, rc.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void CMainFrame::SetWindowTop(int nTop)
{
    RECT rc = {};
    if (GetWindowRect(GetSafeHwnd(), &rc)) {
        SetWindowPos(GetSafeHwnd(), nullptr, rc.left, nTop, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void CMainFrame::SetViewWidth(int nWidth)
{
    CQuelmarSMDIView* pView = GetActiveBrowserView();
    RECT rcWindow = {};
    RECT rcView = {};
    if (pView == nullptr || !GetWindowRect(GetSafeHwnd(), &rcWindow) || !GetClientRect(pView->GetSafeHwnd(), &rcView)) {
        return;
    }
    const int nWindowWidth = (rcWindow.right - rcWindow.left) + (nWidth - rcView.right);
    SetWindowPos(GetSafeHwnd(), nullptr, 0, 0, nWindowWidth, rcWindow.bottom - rcWindow.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CMainFrame::SetViewHeight(int nHeight)
{
    CQuelmarSMDIView* pView = GetActiveBrowserView();
    RECT rcWindow = {};
    RECT rcView = {};
    if (pView == nullptr || !GetWindowRect(GetSafeHwnd(), &rcWindow) || !GetClientRect(pView->GetSafeHwnd(), &rcView)) {
        return;
    }
    const int nWindowHeight = (rcWindow.bottom - rcWindow.top) + (nHeight - rcView.bottom);
    SetWindowPos(GetSafeHwnd(), nullptr, 0, 0, rcWindow.right - rcWindow.left, nWindowHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CMainFrame::OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    switch (uMsg) {
    case WM_FRAME_OPEN_IN_NEW_TAB: {
        lResult = 0;
        CString strUrl;
        if (!CFrameUrlMessage::Take(wParam, strUrl)) {
            LOG_MESSAGE(L"CMainFrame: refused WM_FRAME_OPEN_IN_NEW_TAB with a URL this process did not send");
            return true;
        }
        OpenInNewTab(strUrl);
        if (lParam != 0) {
            BringToForeground();
        }
        return true;
    }
    case WM_FRAME_BOSS:
        lResult = 0;
        if (!m_bBossPressed) {
            m_bBossPressed = true;
            ShowWindow(GetSafeHwnd(), SW_HIDE);
            PostMessageW(GetSafeHwnd(), WM_CLOSE, 0, 0);
        }
        return true;
    case WM_FRAME_DEFAULT_SET:
        // The tab strip's make-default button has nothing left to offer.
        m_bMakeDefaultHidden = true;
        lResult = 0;
        return true;
    default:
        return CFrameWindow::OnMessage(uMsg, wParam, lParam, lResult);
    }
}

void CMainFrame::OnUnhandledException(const wchar_t* pszWhere) noexcept
{
    try {
        LOG_MESSAGE(L"CMainFrame: exception stopped in %s", pszWhere);
    } catch (...) {
    }
}

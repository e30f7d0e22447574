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

#include "shell/QuelmarSMDIView.h"

#include <exdispid.h>

#include "framework/Logger.h"
#include "shell/MSDIThread.h"
#include "shell/MSDIThreadManager.h"
#include "shell/MainFrame.h"
#include "shell/QuelmarSMDIDoc.h"
#include "shell/ShellMessages.h"

namespace {

const wchar_t kViewClassName[] = L"NulvaneBrowserView";
const wchar_t kBlankPage[] = L"about:blank";

// The blank page has arrived; its control goes once the event is over.
constexpr UINT_PTR kBlankReachedTimer = 2;
constexpr UINT kBlankReachedDelayMs = 10;

// The flags of a NewWindow3 request.
constexpr DWORD kNewWindowUserInitiated = 0x2;
constexpr DWORD kNewWindowFirst = 0x4;
constexpr DWORD kNewWindowOverrideKey = 0x8;

}  // namespace

CQuelmarSMDIView::~CQuelmarSMDIView()
{
    CloseBrowser();
}

const wchar_t* CQuelmarSMDIView::GetClassName() const
{
    return kViewClassName;
}

CQuelmarSMDIDoc* CQuelmarSMDIView::GetDocument() const
{
    return dynamic_cast<CQuelmarSMDIDoc*>(CView::GetDocument());
}

void CQuelmarSMDIView::OnInitialUpdate()
{
    CView::OnInitialUpdate();
    RECT rc = {};
    GetClientRect(GetSafeHwnd(), &rc);
    const HRESULT hr = CBrowserSite::Create(GetSafeHwnd(), rc, this, m_pSite);
    if (FAILED(hr)) {
        LOG_ERROR(static_cast<DWORD>(hr), L"CQuelmarSMDIView::OnInitialUpdate cannot create the browser control");
        return;
    }
    IWebBrowser2* pBrowser = GetBrowser();
    if (pBrowser == nullptr) {
        LOG_MESSAGE(L"CQuelmarSMDIView::OnInitialUpdate the control is not a web browser");
        CloseBrowser();
        return;
    }
    SetSilent(false);

    // The new-window hand-off: the requesting window's control is waiting
    // for this browser.
    CMSDIThread* pThread = CMSDIThread::GetCurrent();
    if (pThread != nullptr && pThread->IsNewWindowRequest()) {
        pBrowser->put_RegisterAsBrowser(VARIANT_TRUE);
        CComPtr<IDispatch> pApplication;
        const HRESULT hrApplication = pBrowser->get_Application(pApplication.put());
        if (FAILED(hrApplication) || !pThread->PublishNewWindow(pApplication.get())) {
            // The requester gave up (or gets nothing): this window has no
            // page to show and must not stay behind.
            LOG_MESSAGE(L"CQuelmarSMDIView::OnInitialUpdate new window not handed over, closing it");
            PostQuitMessage(0);
        }
    }

    CQuelmarSMDIDoc* pDocument = GetDocument();
    if (pDocument != nullptr && !pDocument->GetUrl().IsEmpty()) {
        Navigate(pDocument->GetUrl());
    }
    m_bInitialised = true;
}

void CQuelmarSMDIView::OnActivateView(bool bActivate)
{
    if (!m_bInitialised) {
        return;
    }
    SetSilent(!bActivate);
    if (bActivate) {
        if (auto* pFrame = dynamic_cast<CMainFrame*>(GetParentFrame())) {
            pFrame->OnViewTitleChanged(this);
        }
    }
}

void CQuelmarSMDIView::SetSilent(bool bSilent)
{
    if (IWebBrowser2* pBrowser = GetBrowser()) {
        pBrowser->put_Silent(bSilent ? VARIANT_TRUE : VARIANT_FALSE);
    }
}

bool CQuelmarSMDIView::IsInControl(HWND hWnd) const
{
    HWND hControl = m_pSite ? m_pSite->GetControlWindow() : nullptr;
    return hControl != nullptr && hWnd != nullptr && (hWnd == hControl || IsChild(hControl, hWnd));
}

BOOL CQuelmarSMDIView::PreTranslateMessage(MSG* pMsg)
{
    if (!m_pSite || !IsInControl(pMsg->hwnd)) {
        return FALSE;
    }
    if (pMsg->message == WM_LBUTTONDOWN) {
        m_ullLastClick = GetTickCount64();
        return FALSE;
    }
    if (pMsg->message < WM_KEYFIRST || pMsg->message > WM_KEYLAST) {
        return FALSE;
    }
    // Enter goes to the page as a plain key: translated by the control, it
    // would submit forms twice.
    if (pMsg->wParam == VK_RETURN) {
        return FALSE;
    }
    return m_pSite->TranslateAccelerator(pMsg) ? TRUE : FALSE;
}

void CQuelmarSMDIView::CloseTab()
{
    if (m_bClosing) {
        return;
    }
    m_bClosing = true;
    m_bBlankReached = false;
    SetSilent(true);
    Navigate(kBlankPage);
}

void CQuelmarSMDIView::Navigate(const CString& strUrl)
{
    IWebBrowser2* pBrowser = GetBrowser();
    if (pBrowser == nullptr) {
        return;
    }
    CBstr bstrUrl(strUrl);
    CVariant empty;
    CVariant target;
    V_VT(target.get()) = VT_BSTR;
    V_BSTR(target.get()) = SysAllocString(L"_self");
    const HRESULT hr = pBrowser->Navigate(bstrUrl.get(), empty.get(), target.get(), empty.get(), empty.get());
    if (FAILED(hr)) {
        LOG_ERROR(static_cast<DWORD>(hr), L"CQuelmarSMDIView::Navigate failed for %s", strUrl.GetString());
    }
}

void CQuelmarSMDIView::Search(const CString& strText)
{
    Navigate(strText);
}

void CQuelmarSMDIView::GoBack()
{
    if (IWebBrowser2* pBrowser = GetBrowser()) {
        pBrowser->GoBack();
    }
}

void CQuelmarSMDIView::GoForward()
{
    if (IWebBrowser2* pBrowser = GetBrowser()) {
        pBrowser->GoForward();
    }
}

void CQuelmarSMDIView::Refresh()
{
    if (IWebBrowser2* pBrowser = GetBrowser()) {
        pBrowser->Refresh();
    }
}

void CQuelmarSMDIView::Stop()
{
    if (IWebBrowser2* pBrowser = GetBrowser()) {
        pBrowser->Stop();
    }
}

HRESULT CQuelmarSMDIView::ExecWB(OLECMDID nCommand, OLECMDEXECOPT nOption)
{
    IWebBrowser2* pBrowser = GetBrowser();
    if (pBrowser == nullptr) {
        return E_UNEXPECTED;
    }
    return pBrowser->ExecWB(nCommand, nOption, nullptr, nullptr);
}

int CQuelmarSMDIView::GetZoomLevel() const
{
    IWebBrowser2* pBrowser = GetBrowser();
    CVariant level;
    if (pBrowser == nullptr || FAILED(pBrowser->ExecWB(OLECMDID_ZOOM, OLECMDEXECOPT_DONTPROMPTUSER, nullptr, level.put())) ||
        V_VT(level.get()) != VT_I4 || V_I4(level.get()) < kSmallestZoom || V_I4(level.get()) > kLargestZoom) {
        return (kSmallestZoom + kLargestZoom) / 2;
    }
    return V_I4(level.get());
}

void CQuelmarSMDIView::SetZoomLevel(int nLevel)
{
    IWebBrowser2* pBrowser = GetBrowser();
    if (pBrowser == nullptr || nLevel < kSmallestZoom || nLevel > kLargestZoom) {
        return;
    }
    CVariant level;
    V_VT(level.get()) = VT_I4;
    V_I4(level.get()) = nLevel;
    pBrowser->ExecWB(OLECMDID_ZOOM, OLECMDEXECOPT_DONTPROMPTUSER, level.get(), nullptr);
}

CString CQuelmarSMDIView::GetLocationUrl() const
{
    CBstr bstrUrl;
    IWebBrowser2* pBrowser = GetBrowser();
    if (pBrowser == nullptr || FAILED(pBrowser->get_LocationURL(bstrUrl.put())) || bstrUrl.get() == nullptr) {
        return CString();
    }
    return CString(bstrUrl.get(), static_cast<int>(bstrUrl.Length()));
}

bool CQuelmarSMDIView::CreateNewWindow(IDispatch** ppDisp)
{
    LOG_MESSAGE(L"CQuelmarSMDIView::CreateNewWindow start");
    CMSDIThread* pThread = CMSDIThread::GetCurrent();
    const bool bCreated = pThread != nullptr && pThread->GetManager().RequestNewWindow(ppDisp);
    if (!bCreated) {
        LOG_MESSAGE(L"CQuelmarSMDIView::CreateNewWindow end, returning false");
        return false;
    }
    LOG_MESSAGE(L"CQuelmarSMDIView::CreateNewWindow end, returning true");
    return true;
}

bool CQuelmarSMDIView::AllowNewWindow2(bool bBlockPopups, bool bUserRequested, ULONGLONG ullLastClick,
                                       ULONGLONG ullNow)
{
    if (!bBlockPopups || bUserRequested) {
        return true;
    }
    return ullLastClick != 0 && ullNow >= ullLastClick && ullNow - ullLastClick <= kPopupClickWindowMs;
}

bool CQuelmarSMDIView::AllowNewWindow3(bool bBlockPopups, bool bUserRequested, DWORD dwFlags)
{
    if (!bBlockPopups || bUserRequested || (dwFlags & kNewWindowOverrideKey) != 0) {
        return true;
    }
    return (dwFlags & kNewWindowUserInitiated) != 0 && (dwFlags & kNewWindowFirst) != 0;
}

void CQuelmarSMDIView::OnBeforeNavigate2(IDispatch* pDisp, const CString& strUrl, bool& bCancel)
{
    (void)pDisp;
    (void)strUrl;
    (void)bCancel;
    LOG_MESSAGE(L"CQuelmarSMDIView::OnBeforeNavigate2Explorer1 start");
    m_nProgress = -1;
    LOG_MESSAGE(L"CQuelmarSMDIView::OnBeforeNavigate2Explorer1 end");
}

void CQuelmarSMDIView::OnNavigateComplete2(IDispatch* pDisp, const CString& strUrl)
{
    (void)pDisp;
    if (m_bClosing && strUrl.CompareNoCase(kBlankPage) == 0) {
        SetTimer(GetSafeHwnd(), kBlankReachedTimer, kBlankReachedDelayMs, nullptr);
        return;
    }
    // A pop-up after this must come from a new click.
    m_ullLastClick = 0;
}

void CQuelmarSMDIView::OnDocumentComplete(IDispatch* pDisp, const CString& strUrl)
{
    (void)pDisp;
    (void)strUrl;
    m_nProgress = -1;
    if (CMSDIThread* pThread = CMSDIThread::GetCurrent()) {
        PostThreadMessageW(pThread->GetManager().GetAppThreadId(), WM_MSDI_CLEANUP_CACHE, 0, 0);
    }
}

void CQuelmarSMDIView::OnTitleChange(const CString& strTitle)
{
    m_strTitle = strTitle;
    if (auto* pFrame = dynamic_cast<CMainFrame*>(GetParentFrame())) {
        pFrame->OnViewTitleChanged(this);
    }
}

void CQuelmarSMDIView::OnStatusTextChange(const CString& strText)
{
    m_strStatusText = strText;
}

void CQuelmarSMDIView::OnCommandStateChange(long nCommand, bool bEnable)
{
    if (nCommand == CSC_NAVIGATEFORWARD) {
        m_bForwardEnabled = bEnable;
    } else if (nCommand == CSC_NAVIGATEBACK) {
        m_bBackEnabled = bEnable;
    }
}

void CQuelmarSMDIView::OnNewWindow2(IDispatch** ppDisp, bool& bCancel)
{
    const bool bAllowed = AllowNewWindow2(m_bBlockPopups, m_bUserRequestedWindow, m_ullLastClick, GetTickCount64());
    m_bUserRequestedWindow = false;
    if (!bAllowed || !CreateNewWindow(ppDisp)) {
        bCancel = true;
    }
}

void CQuelmarSMDIView::OnNewWindow3(IDispatch** ppDisp, bool& bCancel, DWORD dwFlags, const CString& strUrlContext,
                                    const CString& strUrl)
{
    (void)strUrlContext;
    (void)strUrl;
    const bool bAllowed = AllowNewWindow3(m_bBlockPopups, m_bUserRequestedWindow, dwFlags);
    m_bUserRequestedWindow = false;
    if (!bAllowed || !CreateNewWindow(ppDisp)) {
        bCancel = true;
    }
}

void CQuelmarSMDIView::OnSize(UINT nType, int cx, int cy)
{
    if (m_pSite && nType != SIZE_MINIMIZED) {
        const RECT rc = {0, 0, cx, cy};
        m_pSite->SetRect(rc);
    }
}

void CQuelmarSMDIView::OnDestroy()
{
    KillTimer(GetSafeHwnd(), kBlankReachedTimer);
    // While the control's window still exists: it is a child of ours.
    CloseBrowser();
    CView::OnDestroy();
}

void CQuelmarSMDIView::CloseBrowser()
{
    if (m_pSite) {
        m_pSite->Close();
        m_pSite.reset();
    }
    m_bInitialised = false;
}

bool CQuelmarSMDIView::OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    switch (uMsg) {
    case WM_TIMER:
        if (wParam != kBlankReachedTimer) {
            return CView::OnMessage(uMsg, wParam, lParam, lResult);
        }
        KillTimer(GetSafeHwnd(), kBlankReachedTimer);
        CloseBrowser();
        m_bBlankReached = true;
        lResult = 0;
        return true;
    case WM_VIEW_USER_REQUESTED_WINDOW:
        m_bUserRequestedWindow = true;
        lResult = 0;
        return true;
    case WM_SETFOCUS:
        if (HWND hControl = m_pSite ? m_pSite->GetControlWindow() : nullptr) {
            SetFocus(hControl);
            lResult = 0;
            return true;
        }
        return false;
    case WM_ERASEBKGND:
        // The control covers the whole view.
        if (m_pSite) {
            lResult = 1;
            return true;
        }
        return false;
    default:
        return CView::OnMessage(uMsg, wParam, lParam, lResult);
    }
}

void CQuelmarSMDIView::OnUnhandledException(const wchar_t* pszWhere) noexcept
{
    try {
        LOG_MESSAGE(L"CQuelmarSMDIView: exception stopped in %s", pszWhere);
    } catch (...) {
    }
}

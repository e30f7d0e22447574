#include "shell/QuelmarSMDIView.h"

#include <exdispid.h>
#include <mshtml.h>
#include <wininet.h>

#include "framework/LanguageManagerResource.h"
#include "framework/Logger.h"
#include "framework/ProductWebSite.h"
#include "widgets/MessageBox.h"
#include "shell/HostMessage.h"
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

// Navigate's flag that keeps a page out of the travel log: the error page
// stands in for the failed address, it is not a page of its own.
constexpr long kNavNoHistory = 0x2;

HWND WindowOf(IUnknown* pObject)
{
    CComPtr<IOleWindow> pWindow;
    HWND hWnd = nullptr;
    if (pObject == nullptr || FAILED(pObject->QueryInterface(IID_IOleWindow, pWindow.put_void())) ||
        FAILED(pWindow->GetWindow(&hWnd))) {
        return nullptr;
    }
    return hWnd;
}

}  // namespace

CQuelmarSMDIView::CQuelmarSMDIView()
    : m_strSearchQuery(m_searchSettings.GetSearchQuery(CSearchSettings::UserLanguageId()))
{
}

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

CMainFrame* CQuelmarSMDIView::GetMainFrame() const
{
    return dynamic_cast<CMainFrame*>(GetParentFrame());
}

void CQuelmarSMDIView::OnActivateView(bool bActivate)
{
    if (bActivate) {
        if (m_bInitialised && !m_bControlClosed) {
            SetSilent(false);
            PushStateToFrame();
        }
    } else if (!m_bDestroyed) {
        // A tab in the background shows no dialogs.
        SetSilent(true);
    }
}

void CQuelmarSMDIView::PushStateToFrame()
{
    CMainFrame* pFrame = GetMainFrame();
    if (pFrame == nullptr) {
        return;
    }
    pFrame->OnForwardEnabled(this, m_bForwardEnabled);
    pFrame->OnBackEnabled(this, m_bBackEnabled);
    pFrame->OnViewTitleChanged(this);
    pFrame->SetAddressText(this, GetLocationUrl());
    pFrame->SetStatusText(this, m_strStatusText);
    pFrame->SetSecureLock(this, m_nSecureLock);
    pFrame->SetProgress(this, m_nProgress);
    pFrame->SetPageIcon(this, m_pageIcon.Get(), m_pageIcon.GetKind());
    pFrame->SetToolbar(m_bToolbar);
}

void CQuelmarSMDIView::ShowPageIcon()
{
    if (CMainFrame* pFrame = GetMainFrame()) {
        pFrame->SetPageIcon(this, m_pageIcon.Get(), m_pageIcon.GetKind());
    }
}

bool CQuelmarSMDIView::IsOwnBrowser(IDispatch* pDisp) const
{
    IWebBrowser2* pBrowser = GetBrowser();
    if (pDisp == nullptr || pBrowser == nullptr) {
        return false;
    }
    const HWND hOwn = WindowOf(pBrowser);
    return hOwn != nullptr && WindowOf(pDisp) == hOwn;
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
    // (sic) "naviagting": the line others search the log for.
    LOG_MESSAGE(L"CQuelmarSMDIView::Search naviagting to %s", (m_strSearchQuery + strText).GetString());
    Navigate(CSearchSettings::SearchAddress(m_strSearchQuery, strText));
}

CString CQuelmarSMDIView::ErrorPageAddress(const CString& strFailedUrl)
{
    return CString(kProductWebSite) + kDnsErrorPath + CSearchSettings::EncodeQueryValue(strFailedUrl);
}

bool CQuelmarSMDIView::IsErrorPageAddress(const CString& strUrl)
{
    const CString strPrefix = CString(kProductWebSite) + kDnsErrorPath;
    return strUrl.Left(strPrefix.GetLength()).CompareNoCase(strPrefix) == 0;
}

CString CQuelmarSMDIView::OwnErrorPageAddress()
{
    wchar_t szModule[MAX_PATH] = {};
    const DWORD dwLength = GetModuleFileNameW(nullptr, szModule, MAX_PATH);
    if (dwLength == 0 || dwLength >= MAX_PATH) {
        return kBlankPage;
    }
    return CString(L"res://") + szModule + L"/DNSERROR.HTM";
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
    (void)bCancel;
    LOG_MESSAGE(L"CQuelmarSMDIView::OnBeforeNavigate2Explorer1 start");
    if (m_bClosing) {
        return;
    }
    m_nProgress = -1;
    CMainFrame* pFrame = GetMainFrame();
    if (pFrame != nullptr) {
        pFrame->SetProgress(this, m_nProgress);
    }
    m_bDownloadWarned = false;
    if (!IsErrorPageAddress(strUrl) && strUrl.Left(6).CompareNoCase(L"res://") != 0) {
        // A new address of the user's or the page's: its failure is new.
        m_strFailureAnswered.Empty();
    }
    if (IsOwnBrowser(pDisp)) {
        // Until the new page's own icon is known.
        m_pageIcon.SetProgramIcon();
        ShowPageIcon();
    }
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
    (void)strUrl;
    m_nProgress = -1;
    if (CMainFrame* pFrame = GetMainFrame()) {
        pFrame->SetProgress(this, m_nProgress);
    }
    if (IsOwnBrowser(pDisp)) {
        CComPtr<IDispatch> pDocument;
        CComPtr<IHTMLDocument2> pHtml;
        IWebBrowser2* pBrowser = GetBrowser();
        if (SUCCEEDED(pBrowser->get_Document(pDocument.put())) && pDocument) {
            (void)pDocument.QueryInterface(pHtml);
        }
        const CString strAddress = CPageIcon::ResolveAddress(CPageIcon::FindIconHref(pHtml.get()), GetLocationUrl());
        if (m_pageIcon.Load(strAddress) || m_pageIcon.Get() == nullptr) {
            ShowPageIcon();
        }
    }
    if (CMSDIThread* pThread = CMSDIThread::GetCurrent()) {
        PostThreadMessageW(pThread->GetManager().GetAppThreadId(), WM_MSDI_CLEANUP_CACHE, 0, 0);
    }
}

void CQuelmarSMDIView::OnTitleChange(const CString& strTitle)
{
    CMainFrame* pFrame = GetMainFrame();
    if (pFrame != nullptr && pFrame->GetActiveBrowserView() == this) {
        pFrame->SetAddressText(this, GetLocationUrl());
    }
    m_strTitle = strTitle;
    if (pFrame != nullptr) {
        pFrame->OnViewTitleChanged(this);
    }
}

void CQuelmarSMDIView::OnStatusTextChange(const CString& strText)
{
    m_strStatusText = strText;
    if (CMainFrame* pFrame = GetMainFrame()) {
        pFrame->SetStatusText(this, strText);
    }
}

void CQuelmarSMDIView::OnCommandStateChange(long nCommand, bool bEnable)
{
    CMainFrame* pFrame = GetMainFrame();
    if (nCommand == CSC_NAVIGATEFORWARD) {
        m_bForwardEnabled = bEnable;
        if (pFrame != nullptr) {
            pFrame->OnForwardEnabled(this, bEnable);
        }
    } else if (nCommand == CSC_NAVIGATEBACK) {
        m_bBackEnabled = bEnable;
        if (pFrame != nullptr) {
            pFrame->OnBackEnabled(this, bEnable);
        }
    }
}

void CQuelmarSMDIView::OnProgressChange(long nProgress, long nProgressMax)
{
    m_nProgress = nProgress > 0 && nProgressMax > 0 ? static_cast<int>(MulDiv(nProgress, 100, nProgressMax)) : -1;
    if (CMainFrame* pFrame = GetMainFrame()) {
        pFrame->SetProgress(this, m_nProgress);
    }
}

void CQuelmarSMDIView::OnSetSecureLockIcon(long nSecureLock)
{
    m_nSecureLock = nSecureLock;
    if (CMainFrame* pFrame = GetMainFrame()) {
        pFrame->SetSecureLock(this, nSecureLock);
    }
}

void CQuelmarSMDIView::OnWindowSetResizable(bool bResizable)
{
    m_bResizable = bResizable;
    if (CMainFrame* pFrame = GetMainFrame()) {
        pFrame->SetResizable(bResizable);
    }
}

void CQuelmarSMDIView::OnToolBar(bool bToolBar)
{
    m_bToolbar = bToolBar;
    if (CMainFrame* pFrame = GetMainFrame()) {
        pFrame->SetToolbar(bToolBar);
    }
}

void CQuelmarSMDIView::OnWindowSetPosition(DISPID nDispid, long nValue)
{
    CMainFrame* pFrame = GetMainFrame();
    if (pFrame == nullptr) {
        return;
    }
    switch (nDispid) {
    case DISPID_WINDOWSETLEFT:
        pFrame->SetWindowLeft(nValue);
        break;
    case DISPID_WINDOWSETTOP:
        pFrame->SetWindowTop(nValue);
        break;
    case DISPID_WINDOWSETWIDTH:
        pFrame->SetViewWidth(nValue);
        break;
    case DISPID_WINDOWSETHEIGHT:
        pFrame->SetViewHeight(nValue);
        break;
    default:
        break;
    }
}

void CQuelmarSMDIView::OnNavigateError(IDispatch* pDisp, const CString& strUrl, const CString& strTargetFrame,
                                       long nStatus, bool& bCancel)
{
    LOG_MESSAGE(L"CQuelmarSMDIView::OnNavigateErrorExplorer1 start with URL = %s", strUrl.GetString());
    if (nStatus == kStatusUnknownProtocol) {
        ShowUnknownProtocol(strUrl);
        bCancel = true;
        return;
    }
    // The page the program carries never fails over to anything: it is
    // the end of the line.
    if (strUrl.Left(6).CompareNoCase(L"res://") == 0) {
        return;
    }
    // The error page that cannot be reached itself (offline, as every
    // failed host name suggests) would only fail again, as its own error
    // page would, without end: the program's own page takes its place.
    const bool bErrorPageFailed = IsErrorPageAddress(strUrl);
    if ((nStatus != kStatusHostNotFound && !bErrorPageFailed) || strUrl == m_strFailureAnswered) {
        // The control can report one failure more than once (Wine does,
        // for the error page): it is answered once.
        return;
    }
    CComPtr<IWebBrowser2> pBrowser;
    if (pDisp == nullptr || FAILED(pDisp->QueryInterface(IID_IWebBrowser2, pBrowser.put_void()))) {
        return;
    }
    m_strFailureAnswered = strUrl;
    CString strPage;
    if (bErrorPageFailed) {
        LOG_MESSAGE(L"CQuelmarSMDIView::OnNavigateErrorExplorer1 the error page cannot be reached, showing the "
                    L"program's own");
        strPage = OwnErrorPageAddress();
    } else {
        LOG_MESSAGE(L"CQuelmarSMDIView::OnNavigateErrorExplorer1 going to show DNS Error page");
        strPage = ErrorPageAddress(strUrl);
    }
    CBstr bstrPage(strPage);
    CVariant flags;
    V_VT(flags.get()) = VT_I4;
    V_I4(flags.get()) = kNavNoHistory;
    CVariant target;
    if (!strTargetFrame.IsEmpty()) {
        V_VT(target.get()) = VT_BSTR;
        V_BSTR(target.get()) = SysAllocString(strTargetFrame);
    }
    CVariant empty;
    const HRESULT hr = pBrowser->Navigate(bstrPage.get(), flags.get(), target.get(), empty.get(), empty.get());
    if (FAILED(hr)) {
        LOG_ERROR(static_cast<DWORD>(hr), L"CQuelmarSMDIView::OnNavigateErrorExplorer1 cannot navigate to %s",
                  strPage.GetString());
    }
}

void CQuelmarSMDIView::ShowUnknownProtocol(const CString& strUrl)
{
    MessageBoxW(GetSafeHwnd(), FormatString(L"Unknown Protocol %s", strUrl.GetString()), CHostMessage::ProgramCaption(),
                MB_OK);
}

void CQuelmarSMDIView::OnFileDownload(bool bActiveDocument, bool& bCancel)
{
    if (bActiveDocument || m_bDownloadWarned) {
        return;
    }
    LOG_MESSAGE(L"CQuelmarSMDIView::OnFileDownloadExplorer1 start");
    if (AskDownload() == IDCANCEL) {
        bCancel = true;
    }
    m_bDownloadWarned = true;
    LOG_MESSAGE(L"CQuelmarSMDIView::OnFileDownloadExplorer1 end");
}

int CQuelmarSMDIView::AskDownload()
{
    CLanguageManagerResource* pLanguage = CLanguageManagerResource::Instance();
    CString strText = pLanguage->GetString(L"IDS_DOWNLOADWARNING_TEXT");
    strText.Replace(L'\\', L'\n');
    CMessageBox box(GetSafeHwnd(), strText, pLanguage->GetString(L"IDS_DOWNLOADWARNING_CAPTION"),
                    MB_OKCANCEL | MB_ICONEXCLAMATION | MB_SETFOREGROUND | MB_TOPMOST);
    box.SetButtonText(IDOK, pLanguage->GetString(L"CONTINUE"));
    return box.DoModal();
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
    m_bDestroyed = true;
    KillTimer(GetSafeHwnd(), kBlankReachedTimer);
    // While the control's window still exists: it is a child of ours.
    CloseBrowser();
    CView::OnDestroy();
}

void CQuelmarSMDIView::CloseBrowser()
{
    if (m_pSite) {
        m_bClosingBrowser = true;
        m_pSite->Close();
        m_pSite.reset();
        m_bClosingBrowser = false;
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
    case WM_PARENTNOTIFY:
        // A page that closes its own window (a script's window.close())
        // closes the whole window. The control's window going down because
        // this view takes it down is not that.
        if (LOWORD(wParam) == WM_DESTROY && !m_bClosingBrowser && !m_bClosing && !m_bDestroyed && m_pSite &&
            reinterpret_cast<HWND>(lParam) == m_pSite->GetControlWindow()) {
            m_bControlClosed = true;
            if (CFrameWindow* pFrame = GetParentFrame()) {
                PostMessageW(pFrame->GetSafeHwnd(), WM_CLOSE, 0, 0);
            }
        }
        return CView::OnMessage(uMsg, wParam, lParam, lResult);
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

#include "shell/MainFrame.h"

#include <commctrl.h>

#include <algorithm>

#include "framework/Document.h"
#include "framework/LanguageManagerResource.h"
#include "framework/Logger.h"
#include "framework/ProductWebSite.h"
#include "resources/Resource.h"
#include "shell/FrameRules.h"
#include "shell/FrameUrlMessage.h"
#include "shell/QuelmarSMDIView.h"
#include "shell/SearchSettings.h"
#include "shell/ShellMessages.h"

namespace {

const wchar_t kFrameClassName[] = L"NulvaneMainFrame";
// Replaced by the title from the document string once the window is up.
const wchar_t kCreationTitle[] = L"Nulvane %s";
const wchar_t kFirstTabLabel[] = L"Nulvane";
const wchar_t kNewTabLabel[] = L"No Title";
const wchar_t kFirstUseSwitch[] = L"--firsttimeuse";

constexpr COLORREF kChromeColour = RGB(0xEE, 0xF1, 0xF4);
constexpr COLORREF kBorderColour = RGB(0xA9, 0xB4, 0xBE);
// The page sits this far in from the window's sides, where the sizing
// edges are.
constexpr int kSideMargin = 4;
constexpr UINT kCellSize = 28;

INT_PTR CALLBACK OwnerDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// The first part of the document string: the application's title.
CString AppTitle()
{
    const wchar_t* pszString = nullptr;
    const int nLength = LoadStringW(GetModuleHandleW(nullptr), IDR_QUELMARMENU, reinterpret_cast<LPWSTR>(&pszString), 0);
    CString strTitle = nLength > 0 ? CString(pszString, nLength) : CString(kFirstTabLabel);
    const int nBreak = strTitle.Find(L'\n');
    return nBreak >= 0 ? strTitle.Left(nBreak) : strTitle;
}

}  // namespace

CMainFrame::CMainFrame() : m_statusBar(m_images, CTopBar::kLock, IDC_STATUS_PROGRESS) {}

CMainFrame::~CMainFrame()
{
    // Our own handlers must see the window go, not only the base class's;
    // the owner goes after the window it owns.
    DestroyWindow();
    m_hOwner.reset();
}

const wchar_t* CMainFrame::GetClassName() const
{
    return kFrameClassName;
}

const wchar_t* CMainFrame::GetInitialTitle() const
{
    return kCreationTitle;
}

bool CMainFrame::LoadFrame(UINT nIDResource, DWORD dwStyle, HWND hWndParent, CCreateContext* pContext)
{
    (void)hWndParent;
    if (!m_hOwner) {
        m_hOwner.reset(CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_OWNER), nullptr,
                                          OwnerDialogProc, 0));
        if (!m_hOwner) {
            LOG_ERROR(GetLastError(), L"CMainFrame::LoadFrame cannot create the owner window");
        }
    }
    if (!m_images.Load(IDB_CHROME_100, IDB_CHROME_150, kCellSize, CImageStrip::ScreenDpi())) {
        return false;
    }
    return CFrameWindow::LoadFrame(nIDResource, dwStyle | WS_MAXIMIZE, m_hOwner.get(), pContext);
}

int CMainFrame::OnCreate(const CREATESTRUCTW& cs)
{
    HWND hWnd = GetSafeHwnd();
    SetMenu(hWnd, nullptr);
    m_menu.reset(LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_QUELMARMENU)));
    if (!m_menu) {
        LOG_ERROR(GetLastError(), L"CMainFrame::OnCreate cannot load the menu");
    }
    SetWindowLongPtrW(hWnd, GWL_STYLE, GetWindowLongPtrW(hWnd, GWL_STYLE) & ~static_cast<LONG_PTR>(WS_CAPTION));
    SetWindowPos(hWnd, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
    if (!m_topBar.Create(hWnd, IDD_TOP_BAR, IDD_TOP_BAR) || !m_statusBar.Create(hWnd, IDD_STATUS_BAR, IDD_STATUS_BAR)) {
        return -1;
    }
    m_topBar.SetBackColor(kChromeColour);
    m_statusBar.SetBackColor(kChromeColour);
    // The window is not shown yet: the taskbar takes it with its first show.
    SetWindowLongPtrW(hWnd, GWL_EXSTYLE, GetWindowLongPtrW(hWnd, GWL_EXSTYLE) | WS_EX_APPWINDOW);

    const int nResult = CFrameWindow::OnCreate(cs);
    if (nResult != 0) {
        return nResult;
    }
    ShowWindow(m_topBar.GetSafeHwnd(), SW_SHOWNA);
    ShowWindow(m_statusBar.GetSafeHwnd(), SW_SHOWNA);
    m_topBar.SetCaption(GetCaptionText());

    CString strCommandLine = GetCommandLineW();
    if (strCommandLine.MakeLower().Find(kFirstUseSwitch) >= 0) {
        SetTimer(hWnd, kFirstUseTimer, 1000, nullptr);
    }
    return 0;
}

bool CMainFrame::OnCreateClient(CCreateContext* pContext)
{
    TTabWnd::CSettings settings;
    settings.pImages = &m_images;
    settings.nNewTabGlyph = CTopBar::kNewTab;
    settings.nCloseGlyph = CTopBar::kTabClose;
    settings.nListGlyph = CTopBar::kTabList;
    settings.nLeftGlyph = CTopBar::kLeft;
    settings.nRightGlyph = CTopBar::kRight;
    settings.nMakeDefaultGlyph = CTopBar::kStar;
    CLanguageManagerResource* pLanguage = CLanguageManagerResource::Instance();
    auto text = [pLanguage](const wchar_t* pszKey) {
        return pLanguage != nullptr ? pLanguage->GetString(pszKey) : CString(pszKey);
    };
    settings.strNewTabTip = text(L"NEW_TAB");
    settings.strListTip = text(L"TAB_LIST");
    settings.strLeftTip = text(L"LEFT");
    settings.strRightTip = text(L"RIGHT");
    settings.strMakeDefault = text(L"NULVANE_DEFAULT");
    settings.strMakeDefaultTip = text(L"NULVANE_DEFAULT_TOOLTIP");
    settings.nNewTabCommand = ID_NEW_TAB;
    settings.nMakeDefaultCommand = ID_MAKE_DEFAULT_BUTTON;
    settings.nContextMenu = IDR_TAB_MENU;
    settings.nMenuClose = ID_TAB_CLOSE;
    settings.nMenuCloseOthers = ID_TAB_CLOSE_OTHERS;
    settings.nMenuRefresh = ID_TAB_REFRESH;
    settings.nMenuRefreshAll = ID_TAB_REFRESH_ALL;
    settings.nMenuNewTab = ID_TAB_NEW;
    if (!m_tabs.Create(GetSafeHwnd(), IDC_TAB_STRIP, settings)) {
        LOG_MESSAGE(L"CMainFrame::OnCreateClient cannot create the tab strip");
        return false;
    }
    m_tabs.SetDefaultIcon(static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_NULVANE),
                                                        IMAGE_ICON, CImageStrip::Scaled(16), CImageStrip::Scaled(16), LR_SHARED)));
    if (pContext != nullptr) {
        m_pDocument = pContext->pDocument;
        m_viewFactory = pContext->viewFactory;
    }
    if (!CFrameWindow::OnCreateClient(pContext)) {
        return false;
    }
    if (GetActiveView() != nullptr) {
        m_tabViews.push_back({GetActiveView(), 0});
        m_tabs.SelectTab(m_tabs.AddTab(kFirstTabLabel, 0));
    }
    m_nNextTabIndex = 2;
    UpdateTabCommands();
    return true;
}

void CMainFrame::InitialUpdateFrame(bool bMakeVisible)
{
    UpdateWindowTitle();
    if (m_pDocument != nullptr) {
        m_topBar.SetAddressText(m_pDocument->GetPathName());
    }
    CFrameWindow::InitialUpdateFrame(bMakeVisible);
}

CString CMainFrame::GetCaptionText() const
{
    return CSearchSettings().GetCaption(CSearchSettings::UserLanguageId());
}

void CMainFrame::UpdateWindowTitle()
{
    const CString strDocumentTitle = m_pDocument != nullptr ? m_pDocument->GetTitle() : CString();
    SetWindowTextW(GetSafeHwnd(), CFrameRules::WindowTitle(strDocumentTitle, AppTitle()));
}

// ---- Shape and layout ----

SIZE CMainFrame::FrameBorder() const
{
    // The sizing frame outside the client area, which the region cuts away
    // and the largest rectangles push off the screen.
    RECT rc = {0, 0, 0, 0};
    const DWORD dwStyle = static_cast<DWORD>(GetWindowLongPtrW(GetSafeHwnd(), GWL_STYLE));
    const DWORD dwExStyle = static_cast<DWORD>(GetWindowLongPtrW(GetSafeHwnd(), GWL_EXSTYLE));
    AdjustWindowRectEx(&rc, dwStyle & ~static_cast<DWORD>(WS_CAPTION), FALSE, dwExStyle);
    return SIZE{-rc.left, -rc.top};
}

void CMainFrame::UpdateLargest()
{
    RECT rcWork = {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0);
    const RECT rcScreen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    const CFrameRules::CLargest largest = CFrameRules::Largest(rcScreen, rcWork, FrameBorder());
    m_rcFullScreen = largest.rcFullScreen;
    m_rcMaximized = largest.rcMaximized;
}

void CMainFrame::UpdateRegion()
{
    HWND hWnd = GetSafeHwnd();
    RECT rc = {};
    GetWindowRect(hWnd, &rc);
    const int cx = rc.right - rc.left;
    const int cy = rc.bottom - rc.top;
    HRGN hRegion = nullptr;
    if (m_bFullScreen || IsZoomed(hWnd)) {
        hRegion = CreateRectRgn(0, 0, cx, cy);
    } else {
        const SIZE border = FrameBorder();
        hRegion = CreateRoundRectRgn(border.cx, border.cy, cx - border.cx + 1, cy - border.cy + 1, 7, 7);
    }
    // The window owns the region from here on.
    if (hRegion != nullptr && !SetWindowRgn(hWnd, hRegion, TRUE)) {
        DeleteObject(hRegion);
    }
}

void CMainFrame::UpdateMaximizeState()
{
    if (m_topBar.GetSafeHwnd() != nullptr) {
        m_topBar.SetMaximizeState(m_bFullScreen, IsZoomed(GetSafeHwnd()) != FALSE);
    }
}

void CMainFrame::OnSize(UINT nType, int cx, int cy)
{
    if (nType != SIZE_MINIMIZED) {
        UpdateRegion();
        UpdateMaximizeState();
        // The border comes and goes with the maximised state.
        InvalidateRect(GetSafeHwnd(), nullptr, TRUE);
    }
    CFrameWindow::OnSize(nType, cx, cy);
}

void CMainFrame::RecalcLayout()
{
    HWND hWnd = GetSafeHwnd();
    if (hWnd == nullptr || m_topBar.GetSafeHwnd() == nullptr || m_statusBar.GetSafeHwnd() == nullptr ||
        m_tabs.GetSafeHwnd() == nullptr) {
        return;
    }
    RECT rc = {};
    GetClientRect(hWnd, &rc);
    // A window that is neither maximised nor full screen keeps a hairline
    // border (painted by the frame) around its bars.
    const int nEdge = HasBorder() ? 1 : 0;
    InflateRect(&rc, -nEdge, -nEdge);
    const int nTop = rc.top + m_topBar.GetHeight();
    const int nTabs = TTabWnd::HeightFor(CImageStrip::ScreenDpi());
    const int nStatus = CStatusBar::HeightFor(CImageStrip::ScreenDpi());
    const int cx = rc.right - rc.left;
    const UINT nFlags = SWP_NOZORDER | SWP_NOACTIVATE;
    HDWP hDefer = BeginDeferWindowPos(3);
    hDefer = DeferWindowPos(hDefer, m_topBar.GetSafeHwnd(), nullptr, rc.left, rc.top, cx, nTop - rc.top, nFlags);
    hDefer = DeferWindowPos(hDefer, m_tabs.GetSafeHwnd(), nullptr, rc.left, nTop, cx, nTabs, nFlags);
    hDefer = DeferWindowPos(hDefer, m_statusBar.GetSafeHwnd(), nullptr, rc.left, rc.bottom - nStatus, cx, nStatus, nFlags);
    if (hDefer != nullptr) {
        EndDeferWindowPos(hDefer);
    }
    const int nSide = CImageStrip::Scaled(kSideMargin);
    const RECT rcView = {rc.left + nSide, nTop + nTabs, std::max<LONG>(rc.left + nSide, rc.right - nSide),
                         std::max<LONG>(nTop + nTabs, rc.bottom - nStatus)};
    for (const auto& pView : GetViews()) {
        HWND hView = pView->GetSafeHwnd();
        if (pView.get() == GetActiveView()) {
            MoveWindow(hView, rcView.left, rcView.top, rcView.right - rcView.left, rcView.bottom - rcView.top, TRUE);
            ShowWindow(hView, SW_SHOWNA);
        } else {
            ShowWindow(hView, SW_HIDE);
        }
    }
}

bool CMainFrame::HasBorder() const
{
    return !m_bFullScreen && !IsZoomed(GetSafeHwnd());
}

void CMainFrame::SetToolbar(bool bToolbar)
{
    m_bToolbar = bToolbar;
    m_topBar.SetToolbarShown(bToolbar);
    RecalcLayout();
}

// ---- Tabs ----

int CMainFrame::AddTab(const CString& strLabel)
{
    if (!m_viewFactory) {
        return -1;
    }
    // A tab's view starts blank: the document's address is the first tab's.
    const UINT nId = kFirstViewId + static_cast<UINT>(m_nNextTabIndex) - 1;
    CView* pView = CreateView(m_viewFactory, nullptr, nId);
    if (pView == nullptr) {
        LOG_MESSAGE(L"CMainFrame::AddTab cannot create the view of tab %d", m_nNextTabIndex);
        return -1;
    }
    ++m_nNextTabIndex;
    ShowWindow(pView->GetSafeHwnd(), SW_HIDE);
    pView->OnInitialUpdate();
    m_tabViews.push_back({pView, 0});
    const int nIndex = m_tabs.AddTab(strLabel, 0);
    UpdateTabCommands();
    return nIndex;
}

int CMainFrame::TabOf(const CView* pView) const
{
    for (size_t i = 0; i < m_tabViews.size(); ++i) {
        if (pView != nullptr && m_tabViews[i].pView == pView) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::vector<bool> CMainFrame::OpenTabs() const
{
    std::vector<bool> open;
    for (int i = 0; i < m_tabs.GetTabCount(); ++i) {
        open.push_back(m_tabs.IsTabOpen(i));
    }
    return open;
}

void CMainFrame::ActivateTab(int nIndex)
{
    if (!m_tabs.IsTabOpen(nIndex) || static_cast<size_t>(nIndex) >= m_tabViews.size()) {
        return;
    }
    m_tabs.SelectTab(nIndex);
    CView* pView = m_tabViews[nIndex].pView;
    if (pView == GetActiveView()) {
        return;
    }
    m_topBar.SetPageIcon(nullptr, IMAGE_ICON);
    m_statusBar.SetSecureLock(0);
    SetActiveView(pView);
    ShowViewState(dynamic_cast<CQuelmarSMDIView*>(pView));
}

void CMainFrame::ShowViewState(CQuelmarSMDIView* pView)
{
    if (pView == nullptr) {
        return;
    }
    OnBackEnabled(pView, pView->IsBackEnabled());
    OnForwardEnabled(pView, pView->IsForwardEnabled());
    SetStatusText(pView, pView->GetStatusText());
    SetProgress(pView, pView->GetProgress());
    SetAddressText(pView, pView->GetLocationUrl());
    OnViewTitleChanged(pView);
}

void CMainFrame::CloseCurrentTab()
{
    const int nCurrent = m_tabs.GetCurSel();
    if (m_tabs.GetOpenCount() <= 1) {
        PostMessageW(GetSafeHwnd(), WM_CLOSE, 0, 0);
        return;
    }
    const std::vector<bool> open = OpenTabs();
    int nNext = CFrameRules::NearestOpenTab(open, nCurrent, false);
    if (nNext < 0) {
        nNext = CFrameRules::NearestOpenTab(open, nCurrent, true);
    }
    if (nNext >= 0) {
        ActivateTab(nNext);
        CloseTabAt(nCurrent);
    }
}

void CMainFrame::CloseTabAt(int nIndex)
{
    if (!m_tabs.IsTabOpen(nIndex) || nIndex == m_tabs.GetCurSel()) {
        return;
    }
    m_tabs.HideTab(nIndex);
    if (auto* pView = dynamic_cast<CQuelmarSMDIView*>(m_tabViews[nIndex].pView)) {
        ShowWindow(pView->GetSafeHwnd(), SW_HIDE);
        pView->CloseTab();
    }
    // The view itself goes once its page has unloaded.
    SetTimer(GetSafeHwnd(), kClosedTabsTimer, kCloseTickMs, nullptr);
    UpdateTabCommands();
}

void CMainFrame::CloseOtherTabs(int nIndex)
{
    if (!m_tabs.IsTabOpen(nIndex)) {
        return;
    }
    ActivateTab(nIndex);
    for (int i = 0; i < m_tabs.GetTabCount(); ++i) {
        if (i != nIndex) {
            CloseTabAt(i);
        }
    }
}

void CMainFrame::RefreshTab(int nIndex)
{
    if (m_tabs.IsTabOpen(nIndex)) {
        if (auto* pView = dynamic_cast<CQuelmarSMDIView*>(m_tabViews[nIndex].pView)) {
            pView->Refresh();
        }
    }
}

void CMainFrame::RefreshAllTabs()
{
    for (int i = 0; i < m_tabs.GetTabCount(); ++i) {
        RefreshTab(i);
    }
}

void CMainFrame::OnClosedTabsTick()
{
    bool bWaiting = false;
    for (size_t i = 0; i < m_tabViews.size(); ++i) {
        CTab& tab = m_tabViews[i];
        if (tab.pView == nullptr || m_tabs.IsTabOpen(static_cast<int>(i))) {
            continue;
        }
        // Under Wine a page never reports the blank page: the tab then goes
        // after the same wait as a closing window's.
        auto* pView = dynamic_cast<CQuelmarSMDIView*>(tab.pView);
        const bool bUnloaded = pView == nullptr || pView->GetBrowser() == nullptr || pView->IsBlankReached();
        if (bUnloaded || ++tab.nClosingTicks >= kCloseTicks) {
            DestroyView(tab.pView);
            tab.pView = nullptr;
        } else {
            bWaiting = true;
        }
    }
    if (!bWaiting) {
        KillTimer(GetSafeHwnd(), kClosedTabsTimer);
    }
}

void CMainFrame::UpdateTabCommands()
{
    if (m_menu) {
        EnableMenuItem(m_menu.get(), ID_CLOSE_TAB, MF_BYCOMMAND | (m_tabs.GetOpenCount() > 1 ? MF_ENABLED : MF_GRAYED));
    }
}

void CMainFrame::OpenInNewTab(const CString& strUrl)
{
    const int nIndex = AddTab(kNewTabLabel);
    if (nIndex < 0) {
        return;
    }
    ActivateTab(nIndex);
    auto* pView = dynamic_cast<CQuelmarSMDIView*>(m_tabViews[nIndex].pView);
    if (pView != nullptr && !strUrl.IsEmpty()) {
        SetAddressText(pView, strUrl);
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

CQuelmarSMDIView* CMainFrame::GetActiveBrowserView() const
{
    return dynamic_cast<CQuelmarSMDIView*>(GetActiveView());
}

// ---- What the views report ----

void CMainFrame::OnViewTitleChanged(CQuelmarSMDIView* pView)
{
    const int nTab = TabOf(pView);
    if (nTab < 0 || GetSafeHwnd() == nullptr) {
        return;
    }
    if (!pView->GetTitle().IsEmpty()) {
        m_tabs.SetTabLabel(nTab, CFrameRules::TabLabel(pView->GetTitle()));
    }
    if (pView == GetActiveBrowserView()) {
        const CString strCaption = GetCaptionText();
        m_topBar.SetCaption(strCaption);
        if (m_pDocument != nullptr) {
            m_pDocument->SetTitle(strCaption);
        }
        UpdateWindowTitle();
    }
}

void CMainFrame::OnBackEnabled(CQuelmarSMDIView* pView, bool bEnabled)
{
    if (pView != nullptr && pView == GetActiveBrowserView()) {
        m_bBackEnabled = bEnabled;
        m_topBar.SetBackEnabled(bEnabled);
    }
}

void CMainFrame::OnForwardEnabled(CQuelmarSMDIView* pView, bool bEnabled)
{
    if (pView != nullptr && pView == GetActiveBrowserView()) {
        m_bForwardEnabled = bEnabled;
        m_topBar.SetForwardEnabled(bEnabled);
    }
}

void CMainFrame::SetAddressText(CQuelmarSMDIView* pView, const CString& strUrl)
{
    if (pView != nullptr && pView == GetActiveBrowserView()) {
        m_topBar.SetAddressText(strUrl);
    }
}

void CMainFrame::SetStatusText(CQuelmarSMDIView* pView, const CString& strText)
{
    if (pView != nullptr && pView == GetActiveBrowserView()) {
        m_statusBar.SetText(strText);
    }
}

void CMainFrame::SetSecureLock(CQuelmarSMDIView* pView, LONG nSecureLock)
{
    if (pView != nullptr && pView == GetActiveBrowserView()) {
        m_statusBar.SetSecureLock(nSecureLock);
    }
}

void CMainFrame::SetProgress(CQuelmarSMDIView* pView, int nPercent)
{
    if (pView != nullptr && pView == GetActiveBrowserView()) {
        m_statusBar.SetProgress(nPercent);
    }
}

void CMainFrame::SetPageIcon(CQuelmarSMDIView* pView, HANDLE hIcon, UINT nKind)
{
    const int nTab = TabOf(pView);
    if (nTab < 0) {
        return;
    }
    m_tabs.SetTabIcon(nTab, hIcon, nKind);
    if (pView == GetActiveBrowserView()) {
        m_topBar.SetPageIcon(hIcon, nKind);
    }
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
    CView* pView = GetActiveView();
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
    CView* pView = GetActiveView();
    RECT rcWindow = {};
    RECT rcView = {};
    if (pView == nullptr || !GetWindowRect(GetSafeHwnd(), &rcWindow) || !GetClientRect(pView->GetSafeHwnd(), &rcView)) {
        return;
    }
    const int nWindowHeight = (rcWindow.bottom - rcWindow.top) + (nHeight - rcView.bottom);
    SetWindowPos(GetSafeHwnd(), nullptr, 0, 0, rcWindow.right - rcWindow.left, nWindowHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// ---- Closing ----

void CMainFrame::BeginClose()
{
    if (m_bClosing) {
        return;
    }
    m_bClosing = true;
    LOG_MESSAGE(L"CMainFrame::BeginClose blanking %d tabs", m_tabs.GetOpenCount());
    ShowWindow(GetSafeHwnd(), SW_HIDE);
    for (const auto& pView : GetViews()) {
        if (auto* pBrowserView = dynamic_cast<CQuelmarSMDIView*>(pView.get())) {
            pBrowserView->CloseTab();
        }
    }
    KillTimer(GetSafeHwnd(), kFirstUseTimer);
    KillTimer(GetSafeHwnd(), kClosedTabsTimer);
    m_nCloseTicks = 0;
    SetTimer(GetSafeHwnd(), kCloseTimer, kCloseTickMs, nullptr);
}

void CMainFrame::OnCloseTick()
{
    ++m_nCloseTicks;
    int nWaiting = 0;
    for (const auto& pView : GetViews()) {
        auto* pBrowserView = dynamic_cast<CQuelmarSMDIView*>(pView.get());
        // A view without a control has no page to unload.
        if (pBrowserView != nullptr && pBrowserView->GetBrowser() != nullptr && !pBrowserView->IsBlankReached()) {
            ++nWaiting;
        }
    }
    if (nWaiting > 0 && m_nCloseTicks < kCloseTicks) {
        return;
    }
    KillTimer(GetSafeHwnd(), kCloseTimer);
    LOG_MESSAGE(L"CMainFrame::OnCloseTick closing after %d ticks, %d tabs still loading", m_nCloseTicks, nWaiting);
    DestroyWindow();
}

void CMainFrame::OnBoss()
{
    if (m_bBossPressed) {
        return;
    }
    LOG_MESSAGE(L"CMainFrame::OnBoss leaving the taskbar");
    HWND hWnd = GetSafeHwnd();
    SetWindowLongPtrW(hWnd, GWL_EXSTYLE, GetWindowLongPtrW(hWnd, GWL_EXSTYLE) & ~static_cast<LONG_PTR>(WS_EX_APPWINDOW));
    ShowWindow(hWnd, SW_HIDE);
    m_bBossPressed = true;
    BeginClose();
}

void CMainFrame::OnFirstUseTick()
{
    CHandle hMutex(OpenMutexW(SYNCHRONIZE, FALSE, kTabOpenMutexName));
    if (!hMutex && GetLastError() != ERROR_ACCESS_DENIED) {
        return;
    }
    KillTimer(GetSafeHwnd(), kFirstUseTimer);
    OpenInNewTab(CString(L"http://") + kProductWebSiteHost + L"/");
}

// ---- Messages ----

bool CMainFrame::OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    lResult = 0;
    switch (uMsg) {
    case WM_CLOSE:
        BeginClose();
        return true;
    case WM_TIMER:
        if (wParam == kCloseTimer) {
            OnCloseTick();
        } else if (wParam == kClosedTabsTimer) {
            OnClosedTabsTick();
        } else if (wParam == kFirstUseTimer) {
            OnFirstUseTick();
        } else {
            return false;
        }
        return true;
    case WM_ERASEBKGND: {
        RECT rc = {};
        GetClientRect(GetSafeHwnd(), &rc);
        CBrush brush(CreateSolidBrush(kChromeColour));
        FillRect(reinterpret_cast<HDC>(wParam), &rc, brush.get());
        if (HasBorder()) {
            CBrush border(CreateSolidBrush(kBorderColour));
            FrameRect(reinterpret_cast<HDC>(wParam), &rc, border.get());
        }
        lResult = 1;
        return true;
    }
    case WM_NCHITTEST: {
        lResult = DefWindowProcW(GetSafeHwnd(), uMsg, wParam, lParam);
        if (lResult == HTCLIENT && !m_bFullScreen) {
            POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
            ScreenToClient(GetSafeHwnd(), &pt);
            RECT rc = {};
            GetClientRect(GetSafeHwnd(), &rc);
            lResult = CFrameRules::HitTest(pt, SIZE{rc.right, rc.bottom}, m_bResizable, IsZoomed(GetSafeHwnd()) != FALSE);
        }
        return true;
    }
    case WM_GETMINMAXINFO: {
        auto* pInfo = reinterpret_cast<MINMAXINFO*>(lParam);
        UpdateLargest();
        WINDOWPLACEMENT placement = {sizeof(placement)};
        m_bMaximized = GetWindowPlacement(GetSafeHwnd(), &placement) && placement.showCmd == SW_SHOWMAXIMIZED;
        const RECT& rc = m_bFullScreen ? m_rcFullScreen : m_rcMaximized;
        pInfo->ptMaxPosition = {rc.left, rc.top};
        pInfo->ptMaxSize = {rc.right - rc.left, rc.bottom - rc.top};
        pInfo->ptMaxTrackSize = pInfo->ptMaxSize;
        pInfo->ptMinTrackSize = {CFrameRules::kSmallest.cx, CFrameRules::kSmallest.cy};
        return true;
    }
    case WM_NOTIFY: {
        const auto* pHeader = reinterpret_cast<const NMHDR*>(lParam);
        if (pHeader != nullptr && pHeader->hwndFrom == m_tabs.GetSafeHwnd() &&
            pHeader->code == static_cast<UINT>(TCN_SELCHANGE)) {
            ActivateTab(m_tabs.GetCurSel());
            return true;
        }
        return false;
    }
    case TTabWnd::WM_TAB_CLOSE:
        if (static_cast<int>(wParam) == m_tabs.GetCurSel()) {
            CloseCurrentTab();
        } else {
            CloseTabAt(static_cast<int>(wParam));
        }
        return true;
    case TTabWnd::WM_TAB_CLOSE_OTHERS:
        CloseOtherTabs(static_cast<int>(wParam));
        return true;
    case TTabWnd::WM_TAB_REFRESH:
        RefreshTab(static_cast<int>(wParam));
        return true;
    case TTabWnd::WM_TAB_REFRESH_ALL:
        RefreshAllTabs();
        return true;
    case WM_FRAME_OPEN_IN_NEW_TAB: {
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
        OnBoss();
        return true;
    case WM_FRAME_DEFAULT_SET:
        // The tab strip's make-default button has nothing left to offer.
        m_tabs.ShowMakeDefault(false);
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

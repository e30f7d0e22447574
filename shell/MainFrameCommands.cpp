// The browser window's commands: menus, accelerators, the top bar's
// buttons and the keys the window reads before the accelerators.
#include <exdisp.h>
#include <docobj.h>

#include "framework/ComPtr.h"
#include "framework/Logger.h"
#include "framework/ProductWebSite.h"
#include "framework/VersionInfo.h"
#include "framework/WinThread.h"
#include "resources/Resource.h"
#include "shell/AddressInput.h"
#include "shell/FrameRules.h"
#include "shell/MSDIThread.h"
#include "shell/MSDIThreadManager.h"
#include "shell/MainFrame.h"
#include "shell/QuelmarSMDIView.h"
#include "shell/ShellMessages.h"

namespace {

// The tab strip's spare command goes to the application thread as this
// message, which nothing there handles.
constexpr UINT WM_MSDI_TAB_STRIP_EXTRA = WM_APP + 0x09;

// The browser's command group; its command 1 opens the page's find dialog.
const GUID kBrowserCommandGroup = {0xED016940, 0xBD5B, 0x11CF, {0xBA, 0x4E, 0x00, 0xC0, 0x4F, 0xD7, 0x08, 0x16}};
constexpr DWORD kFindCommand = 1;

constexpr int kToolsMenuInset = 4;

bool IsKeyDown(int nKey)
{
    return (GetKeyState(nKey) & 0x8000) != 0;
}

bool IsEditWindow(HWND hWnd)
{
    wchar_t szClass[16] = {};
    return hWnd != nullptr && GetClassNameW(hWnd, szClass, 16) > 0 && _wcsicmp(szClass, L"Edit") == 0;
}

HMENU FindSubMenu(HMENU hMenu, const wchar_t* pszText)
{
    for (int i = 0; hMenu != nullptr && i < GetMenuItemCount(hMenu); ++i) {
        wchar_t szText[64] = {};
        if (GetMenuStringW(hMenu, static_cast<UINT>(i), szText, 64, MF_BYPOSITION) > 0 && wcscmp(szText, pszText) == 0) {
            return GetSubMenu(hMenu, i);
        }
    }
    return nullptr;
}

}  // namespace

void CMainFrame::GoToAddress(const CString& strAddress)
{
    m_topBar.SetAddressText(strAddress);
    RunGoToAddress(strAddress);
}

void CMainFrame::GoToAddressFromBox(bool bComplete)
{
    CString strText = m_topBar.GetAddressText();
    strText.Trim();
    if (bComplete) {
        strText = CAddressInput::Complete(strText);
        m_topBar.SetAddressText(strText);
    }
    RunGoToAddress(strText);
}

void CMainFrame::RunGoToAddress(CString strAddress)
{
    strAddress.Trim();
    CQuelmarSMDIView* pView = GetActiveBrowserView();
    // Nothing typed is nothing to search for either.
    if (pView == nullptr || strAddress.IsEmpty()) {
        return;
    }
    if (CAddressInput::IsSearch(strAddress)) {
        pView->Search(strAddress);
        return;
    }
    if (CAddressInput::IsValidUrl(strAddress)) {
        try {
            pView->Navigate(strAddress);
        } catch (...) {
            LOG_MESSAGE(L"CMainFrame::RunGoToAddress navigation failed for %s", strAddress.GetString());
        }
        return;
    }
    CVersionInfo version;
    version.Load();
    const CString strCaption = version.Get(L"FileDescription");
    const CString strText =
        FormatString(L"Cannot find '%s'. Make sure the path or Internet address is correct.", strAddress.GetString());
    MessageBoxW(GetSafeHwnd(), strText, strCaption.IsEmpty() ? L"Nulvane" : strCaption.GetString(),
                MB_OK | MB_ICONERROR);
    m_topBar.FocusAddress();
}

void CMainFrame::RunSearch()
{
    CString strText;
    CQuelmarSMDIView* pView = GetActiveBrowserView();
    if (pView == nullptr || !m_topBar.GetSearchBox().TakeSearchText(strText)) {
        return;
    }
    if (!CString(strText).Trim().IsEmpty()) {
        pView->Search(strText);
    }
}

void CMainFrame::ToggleFullScreen()
{
    HWND hWnd = GetSafeHwnd();
    m_bFullScreen = !m_bFullScreen;
    UpdateLargest();
    const UINT nFlags = SWP_NOZORDER | SWP_NOACTIVATE;
    if (m_bFullScreen) {
        GetWindowRect(hWnd, &m_rcSaved);
        const RECT& rc = m_rcFullScreen;
        SetWindowPos(hWnd, nullptr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, nFlags);
    } else {
        const RECT& rc = IsZoomed(hWnd) ? m_rcMaximized : m_rcSaved;
        SetWindowPos(hWnd, nullptr, rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top, nFlags);
    }
    UpdateRegion();
    UpdateMaximizeState();
    RecalcLayout();
}

void CMainFrame::ShowToolsMenu()
{
    HMENU hTools = FindSubMenu(m_menu.get(), L"&Tools");
    if (hTools == nullptr) {
        return;
    }
    CQuelmarSMDIView* pView = GetActiveBrowserView();
    const int nLevel = pView != nullptr ? pView->GetZoomLevel() : 2;
    for (UINT nId = ID_TEXT_LARGEST; nId <= ID_TEXT_SMALLEST; ++nId) {
        const bool bChecked = static_cast<int>(ID_TEXT_SMALLEST - nId) == nLevel;
        CheckMenuItem(m_menu.get(), nId, MF_BYCOMMAND | (bChecked ? MF_CHECKED : MF_UNCHECKED));
    }
    if (pView != nullptr) {
        CheckMenuItem(m_menu.get(), ID_BLOCK_POPUPS, MF_BYCOMMAND | (pView->GetBlockPopups() ? MF_CHECKED : MF_UNCHECKED));
    }
    RECT rc = {};
    GetWindowRect(m_topBar.GetToolsButton(), &rc);
    CWinThread* pThread = CWinThread::GetCurrent();
    HWND hOwner = pThread != nullptr && pThread->GetMainHwnd() != nullptr ? pThread->GetMainHwnd() : GetSafeHwnd();
    TrackPopupMenu(hTools, TPM_RIGHTALIGN | TPM_TOPALIGN | TPM_LEFTBUTTON, rc.right - kToolsMenuInset,
                   rc.bottom - kToolsMenuInset, 0, hOwner, nullptr);
}

void CMainFrame::EditCommand(UINT nID)
{
    HWND hFocus = GetFocus();
    if (IsEditWindow(hFocus)) {
        switch (nID) {
        case ID_EDIT_CUT:
            SendMessageW(hFocus, WM_CUT, 0, 0);
            break;
        case ID_EDIT_COPY:
            SendMessageW(hFocus, WM_COPY, 0, 0);
            break;
        case ID_EDIT_PASTE:
            SendMessageW(hFocus, WM_PASTE, 0, 0);
            break;
        case ID_EDIT_UNDO:
            SendMessageW(hFocus, WM_UNDO, 0, 0);
            break;
        default:
            SendMessageW(hFocus, EM_SETSEL, 0, -1);
            SendMessageW(hFocus, EM_SCROLLCARET, 0, 0);
            break;
        }
        return;
    }
    CQuelmarSMDIView* pView = GetActiveBrowserView();
    if (pView == nullptr) {
        return;
    }
    const OLECMDID nCommand = nID == ID_EDIT_CUT     ? OLECMDID_CUT
                              : nID == ID_EDIT_COPY  ? OLECMDID_COPY
                              : nID == ID_EDIT_PASTE ? OLECMDID_PASTE
                              : nID == ID_EDIT_UNDO  ? OLECMDID_UNDO
                                                     : OLECMDID_SELECTALL;
    pView->ExecWB(nCommand, OLECMDEXECOPT_DODEFAULT);
}

void CMainFrame::Find()
{
    CQuelmarSMDIView* pView = GetActiveBrowserView();
    IWebBrowser2* pBrowser = pView != nullptr ? pView->GetBrowser() : nullptr;
    CComPtr<IDispatch> pDocument;
    CComPtr<IOleCommandTarget> pTarget;
    if (pBrowser == nullptr || FAILED(pBrowser->get_Document(pDocument.put())) || !pDocument ||
        FAILED(pDocument->QueryInterface(IID_IOleCommandTarget, pTarget.put_void()))) {
        LOG_MESSAGE(L"CMainFrame::Find the page has no document to search");
        return;
    }
    pTarget->Exec(&kBrowserCommandGroup, kFindCommand, OLECMDEXECOPT_DODEFAULT, nullptr, nullptr);
}

void CMainFrame::ChangeTextSize(int nDelta)
{
    if (CQuelmarSMDIView* pView = GetActiveBrowserView()) {
        const int nLevel = pView->GetZoomLevel() + nDelta;
        if (nLevel >= CQuelmarSMDIView::kSmallestZoom && nLevel <= CQuelmarSMDIView::kLargestZoom) {
            pView->SetZoomLevel(nLevel);
        }
    }
}

void CMainFrame::CycleFocus(bool bForward)
{
    // Address box, search box, page, and round again.
    HWND hAddress = m_topBar.GetAddressBox();
    HWND hSearch = m_topBar.GetSearchBox().GetSafeHwnd();
    HWND hFocus = GetFocus();
    const int nNow = hFocus == hAddress ? 0 : hFocus == hSearch ? 1 : 2;
    const int nNext = (nNow + (bForward ? 1 : 2)) % 3;
    if (nNext == 0 || !m_bToolbar) {
        m_topBar.FocusAddress();
    } else if (nNext == 1) {
        m_topBar.FocusSearch();
    } else if (CView* pView = GetActiveView()) {
        SetFocus(pView->GetSafeHwnd());
    }
}

void CMainFrame::PostToApplication(UINT uMsg, WPARAM wParam)
{
    CMSDIThread* pThread = CMSDIThread::GetCurrent();
    if (pThread == nullptr || !PostThreadMessageW(pThread->GetManager().GetAppThreadId(), uMsg, wParam, 0)) {
        LOG_MESSAGE(L"CMainFrame::PostToApplication message 0x%x not delivered", uMsg);
    }
}

bool CMainFrame::OnCommand(UINT nID)
{
    CQuelmarSMDIView* pView = GetActiveBrowserView();
    HWND hWnd = GetSafeHwnd();
    switch (nID) {
    case IDC_PREVIOUS:
        if (pView != nullptr && m_bBackEnabled) {
            pView->GoBack();
        }
        return true;
    case IDC_NEXT:
        if (pView != nullptr && m_bForwardEnabled) {
            pView->GoForward();
        }
        return true;
    case IDC_HOME:
        PostMessageW(hWnd, WM_COMMAND, ID_HOME, 0);
        return true;
    case IDC_REFRESH:
    case ID_VIEW_REFRESH:
        if (pView != nullptr) {
            pView->Refresh();
        }
        return true;
    case IDC_STOP:
    case ID_VIEW_STOP:
        if (m_bFullScreen) {
            ToggleFullScreen();
        } else if (pView != nullptr) {
            pView->Stop();
        }
        return true;
    case IDC_GOTO_ADDRESS:
        GoToAddressFromBox(false);
        return true;
    case IDC_SEARCH:
        RunSearch();
        return true;
    case ID_FOCUS_ADDRESS:
        m_topBar.FocusAddress();
        return true;
    case ID_FOCUS_SEARCH:
        m_topBar.FocusSearch();
        return true;
    case IDC_PRINT:
    case ID_FILE_PRINT:
    case ID_FILE_PAGE_SETUP:
    case ID_FILE_PRINT_PREVIEW:
    case ID_FILE_SAVE_AS:
        if (pView != nullptr) {
            pView->ExecWB(nID == ID_FILE_PAGE_SETUP      ? OLECMDID_PAGESETUP
                          : nID == ID_FILE_PRINT_PREVIEW ? OLECMDID_PRINTPREVIEW
                          : nID == ID_FILE_SAVE_AS       ? OLECMDID_SAVEAS
                                                         : OLECMDID_PRINT,
                          OLECMDEXECOPT_DODEFAULT);
        }
        return true;
    case ID_EDIT_CUT:
    case ID_EDIT_COPY:
    case ID_EDIT_PASTE:
    case ID_EDIT_UNDO:
    case ID_EDIT_SELECT_ALL:
        EditCommand(nID);
        return true;
    case ID_EDIT_FIND:
        Find();
        return true;
    case ID_TEXT_LARGEST:
    case ID_TEXT_LARGER:
    case ID_TEXT_MEDIUM:
    case ID_TEXT_SMALLER:
    case ID_TEXT_SMALLEST:
        if (pView != nullptr) {
            pView->SetZoomLevel(static_cast<int>(ID_TEXT_SMALLEST - nID));
        }
        return true;
    case ID_TEXT_ZOOM_IN:
        ChangeTextSize(1);
        return true;
    case ID_TEXT_ZOOM_OUT:
        ChangeTextSize(-1);
        return true;
    case ID_VIEW_FULL_SCREEN:
        ToggleFullScreen();
        return true;
    case ID_BLOCK_POPUPS:
        if (pView != nullptr) {
            pView->SetBlockPopups(!pView->GetBlockPopups());
            CheckMenuItem(m_menu.get(), ID_BLOCK_POPUPS,
                          MF_BYCOMMAND | (pView->GetBlockPopups() ? MF_CHECKED : MF_UNCHECKED));
        }
        return true;
    case ID_CLEAN_UP_NOW:
        PostToApplication(WM_MSDI_CLEANUP, 0);
        return true;
    case ID_HELP_TOPICS:
    case ID_HELP_FAQ:
        OpenInNewTab(CString(L"http://") + kProductWebSiteHost + L"/help-faq/");
        return true;
    case ID_HELP_UPDATES:
    case ID_HELP_REPORT:
        OpenInNewTab(L"about:blank");
        return true;
    case IDC_TOOLS:
        ShowToolsMenu();
        return true;
    case IDC_MINIMIZE:
        if (m_bFullScreen) {
            ToggleFullScreen();
        }
        ShowWindow(hWnd, SW_MINIMIZE);
        return true;
    case IDC_MAXIMIZE:
        if (m_bFullScreen) {
            ToggleFullScreen();
        } else {
            ShowWindow(hWnd, IsZoomed(hWnd) ? SW_RESTORE : SW_MAXIMIZE);
        }
        return true;
    case IDC_CLOSE:
    case ID_FILE_CLOSE:
        PostMessageW(hWnd, WM_CLOSE, 0, 0);
        return true;
    // The tab menu's items, when they reach the window itself rather than
    // through the strip, act on the current tab.
    case ID_TAB_CLOSE_OTHERS:
        CloseOtherTabs(m_tabs.GetCurSel());
        return true;
    case ID_TAB_REFRESH:
        RefreshTab(m_tabs.GetCurSel());
        return true;
    case ID_TAB_REFRESH_ALL:
        RefreshAllTabs();
        return true;
    case ID_TAB_NEW:
    case ID_NEW_TAB:
        OpenInNewTab(CString());
        PostMessageW(hWnd, WM_COMMAND, ID_HOME, 0);
        return true;
    case ID_TAB_CLOSE:
    case ID_CLOSE_TAB:
        CloseCurrentTab();
        return true;
    case ID_NEXT_TAB:
    case ID_PREVIOUS_TAB: {
        const int nNext = CFrameRules::NearestOpenTab(OpenTabs(), m_tabs.GetCurSel(), nID == ID_NEXT_TAB);
        if (nNext >= 0) {
            ActivateTab(nNext);
        }
        return true;
    }
    case ID_NEXT_PANE:
    case ID_PREV_PANE:
        CycleFocus(nID == ID_NEXT_PANE);
        return true;
    case ID_TAB_STRIP_EXTRA:
        // Nothing the user can see is meant by it: the application thread
        // is told, and ignores it.
        LOG_MESSAGE(L"CMainFrame::OnCommand tab strip command %u passed on", nID);
        PostToApplication(WM_MSDI_TAB_STRIP_EXTRA, 0);
        return true;
    default:
        return false;
    }
}

bool CMainFrame::PreTranslateKeys(const MSG& msg)
{
    HWND hAddress = m_topBar.GetAddressBox();
    HWND hSearch = m_topBar.GetSearchBox().GetSafeHwnd();
    if (msg.message == WM_XBUTTONUP) {
        OnCommand(GET_XBUTTON_WPARAM(msg.wParam) == XBUTTON1 ? IDC_PREVIOUS : IDC_NEXT);
        return true;
    }
    if (msg.message != WM_KEYDOWN) {
        return false;
    }
    const bool bControl = IsKeyDown(VK_CONTROL);
    if (msg.wParam == VK_RETURN && msg.hwnd == hAddress) {
        GoToAddressFromBox(bControl);
        return true;
    }
    if (msg.wParam == VK_RETURN && msg.hwnd == hSearch) {
        RunSearch();
        return true;
    }
    // Tab moves between the two boxes and the page; in the page, Tab is the
    // page's own.
    if (msg.wParam == VK_TAB && !bControl && !IsKeyDown(VK_MENU) && (msg.hwnd == hAddress || msg.hwnd == hSearch)) {
        CycleFocus(!IsKeyDown(VK_SHIFT));
        return true;
    }
    // "+" and "-" wherever the keyboard layout puts them.
    if (bControl && msg.wParam == static_cast<WPARAM>(LOBYTE(VkKeyScanW(L'+')))) {
        ChangeTextSize(1);
        return true;
    }
    if (bControl && msg.wParam == static_cast<WPARAM>(LOBYTE(VkKeyScanW(L'-')))) {
        ChangeTextSize(-1);
        return true;
    }
    return false;
}

BOOL CMainFrame::PreTranslateMessage(MSG* pMsg)
{
    HWND hWnd = GetSafeHwnd();
    if (hWnd == nullptr || (pMsg->hwnd != hWnd && !IsChild(hWnd, pMsg->hwnd))) {
        return FALSE;
    }
    if (PreTranslateKeys(*pMsg)) {
        return TRUE;
    }
    return CFrameWindow::PreTranslateMessage(pMsg);
}

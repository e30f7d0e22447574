#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "framework/FrameWindow.h"
#include "framework/Handles.h"
#include "framework/String.h"
#include "shell/TopBar.h"
#include "widgets/ImageStrip.h"
#include "widgets/StatusBar.h"
#include "widgets/TabWnd.h"

class CDocument;
class CQuelmarSMDIView;

// The top-level browser window of a window thread. It draws its own caption
// (in the top bar) and has no system one, holds a tab per browser view, and
// owns the window's commands. It closes in order: hidden first, every tab
// blanked, then gone once the pages have unloaded or after 40 ticks of
// 50 ms. The tab strip holds TAB_OPEN_MUTEX while the window is up.
class CMainFrame : public CFrameWindow {
public:
    static constexpr wchar_t kTabOpenMutexName[] = L"TAB_OPEN_MUTEX";
    static constexpr UINT_PTR kCloseTimer = 1;
    static constexpr UINT kCloseTickMs = 50;
    static constexpr int kCloseTicks = 40;
    static constexpr UINT_PTR kFirstUseTimer = 176;
    static constexpr UINT_PTR kClosedTabsTimer = 3;

    CMainFrame();
    ~CMainFrame() override;

    // Creates the hidden owner first: the window stays out of the taskbar
    // until it asks to be shown there.
    [[nodiscard]] bool LoadFrame(UINT nIDResource, DWORD dwStyle, HWND hWndParent, CCreateContext* pContext) override;
    void InitialUpdateFrame(bool bMakeVisible) override;
    void RecalcLayout() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;

    // The address box gets the address and go-to-address runs on it.
    void GoToAddress(const CString& strAddress);
    // A new tab, made the current one, navigated to the URL (none: blank).
    void OpenInNewTab(const CString& strUrl);
    // Brings the window forward, restoring it when minimised.
    void BringToForeground();

    CQuelmarSMDIView* GetActiveBrowserView() const;
    // A view's page title became known or changed: its tab's label, and for
    // the active view the caption.
    void OnViewTitleChanged(CQuelmarSMDIView* pView);
    // The text the top bar draws as the window's caption.
    CString GetCaptionText() const;

    // What a view reports of its page. Only the active view's reports show
    // (its page icon also shows on its tab whether active or not); a
    // background tab's show when it is activated.
    void OnBackEnabled(CQuelmarSMDIView* pView, bool bEnabled);
    void OnForwardEnabled(CQuelmarSMDIView* pView, bool bEnabled);
    void SetAddressText(CQuelmarSMDIView* pView, const CString& strUrl);
    void SetStatusText(CQuelmarSMDIView* pView, const CString& strText);
    void SetSecureLock(CQuelmarSMDIView* pView, LONG nSecureLock);
    void SetProgress(CQuelmarSMDIView* pView, int nPercent);
    // The view keeps the icon (kind IMAGE_ICON or IMAGE_BITMAP) and frees
    // it; the frame only shows it.
    void SetPageIcon(CQuelmarSMDIView* pView, HANDLE hIcon, UINT nKind);
    // A page asked for a window without resizing or without a toolbar.
    void SetResizable(bool bResizable) { m_bResizable = bResizable; }
    void SetToolbar(bool bToolbar);
    // A page's window requests: move an edge to the value keeping the size,
    // or size the window so that the view's client area gets the value.
    void SetWindowLeft(int nLeft);
    void SetWindowTop(int nTop);
    void SetViewWidth(int nWidth);
    void SetViewHeight(int nHeight);

    bool IsBackEnabled() const { return m_bBackEnabled; }
    bool IsForwardEnabled() const { return m_bForwardEnabled; }
    bool IsResizable() const { return m_bResizable; }
    bool IsToolbarShown() const { return m_bToolbar; }
    bool IsFullScreen() const { return m_bFullScreen; }
    bool IsBossPressed() const { return m_bBossPressed; }
    bool IsClosing() const { return m_bClosing; }
    bool IsMakeDefaultHidden() const { return !m_tabs.IsMakeDefaultShown(); }

    TTabWnd& GetTabStrip() { return m_tabs; }
    CTopBar& GetTopBar() { return m_topBar; }
    CStatusBar& GetStatusBar() { return m_statusBar; }
    HMENU GetMenu() const { return m_menu.get(); }

protected:
    const wchar_t* GetClassName() const override;
    const wchar_t* GetInitialTitle() const override;
    int GetShowCommand() const override { return SW_SHOWMAXIMIZED; }
    int OnCreate(const CREATESTRUCTW& cs) override;
    bool OnCreateClient(CCreateContext* pContext) override;
    void OnSize(UINT nType, int cx, int cy) override;
    bool OnCommand(UINT nID) override;
    bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override;
    void OnUnhandledException(const wchar_t* pszWhere) noexcept override;

private:
    struct CTab {
        CView* pView = nullptr;
        // Ticks a closed tab has waited for its page to unload.
        int nClosingTicks = 0;
    };
    using CMenuHandle = CUniqueHandle<CNullHandleTraits<HMENU, &DestroyMenu>>;

    SIZE FrameBorder() const;
    void UpdateLargest();
    void UpdateRegion();
    bool HasBorder() const;
    void UpdateMaximizeState();
    void UpdateWindowTitle();

    // Tabs.
    int AddTab(const CString& strLabel);
    int TabOf(const CView* pView) const;
    std::vector<bool> OpenTabs() const;
    void ActivateTab(int nIndex);
    void ShowViewState(CQuelmarSMDIView* pView);
    void CloseCurrentTab();
    void CloseTabAt(int nIndex);
    void CloseOtherTabs(int nIndex);
    void RefreshTab(int nIndex);
    void RefreshAllTabs();
    void OnClosedTabsTick();
    void UpdateTabCommands();

    // Commands.
    void RunGoToAddress(CString strAddress);
    void GoToAddressFromBox(bool bComplete);
    void RunSearch();
    void ToggleFullScreen();
    void ShowToolsMenu();
    void EditCommand(UINT nID);
    void Find();
    void ChangeTextSize(int nDelta);
    void CycleFocus(bool bForward);
    void PostToApplication(UINT uMsg, WPARAM wParam);
    bool PreTranslateKeys(const MSG& msg);

    // Closing.
    void BeginClose();
    void OnCloseTick();
    void OnBoss();
    void OnFirstUseTick();

    CImageStrip m_images;
    CTopBar m_topBar{m_images};
    CStatusBar m_statusBar;
    TTabWnd m_tabs;
    CWindowHandle m_hOwner;
    CMenuHandle m_menu;
    CDocument* m_pDocument = nullptr;
    std::function<std::unique_ptr<CView>()> m_viewFactory;
    std::vector<CTab> m_tabViews;
    int m_nNextTabIndex = 2;
    bool m_bFullScreen = false;
    bool m_bMaximized = false;
    bool m_bBossPressed = false;
    bool m_bClosing = false;
    bool m_bResizable = true;
    bool m_bToolbar = true;
    bool m_bBackEnabled = false;
    bool m_bForwardEnabled = false;
    int m_nCloseTicks = 0;
    RECT m_rcFullScreen = {};
    RECT m_rcMaximized = {};
    // Each window comes back to its own rectangle from full screen.
    RECT m_rcSaved = {};
};

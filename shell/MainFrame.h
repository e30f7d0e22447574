#pragma once

#include "framework/FrameWindow.h"
#include "framework/Handles.h"
#include "framework/String.h"

class CQuelmarSMDIView;

// The top-level browser window of a window thread, holding its browser
// view. While it has a tab open it holds TAB_OPEN_MUTEX, by which another
// copy of the program knows that this one has a window to hand URLs to.
class CMainFrame : public CFrameWindow {
public:
    static constexpr wchar_t kTabOpenMutexName[] = L"TAB_OPEN_MUTEX";

    CMainFrame() = default;
    ~CMainFrame() override;

    // The address as typed: trimmed and opened in the active view.
    void GoToAddress(const CString& strAddress);
    // Opens the URL in a new tab of this window (its one view for now).
    void OpenInNewTab(const CString& strUrl);
    // Brings the window forward, restoring it when minimised.
    void BringToForeground();

    CQuelmarSMDIView* GetActiveBrowserView() const;
    // The active view's page title became known (or changed).
    void OnViewTitleChanged(CQuelmarSMDIView* pView);

    // What a view reports of its page. Only the active view's reports show;
    // a background tab's wait until it is activated and pushes them again.
    void OnBackEnabled(CQuelmarSMDIView* pView, bool bEnabled);
    void OnForwardEnabled(CQuelmarSMDIView* pView, bool bEnabled);
    void SetAddressText(CQuelmarSMDIView* pView, const CString& strUrl);
    void SetStatusText(CQuelmarSMDIView* pView, const CString& strText);
    void SetSecureLock(CQuelmarSMDIView* pView, LONG nSecureLock);
    void SetProgress(CQuelmarSMDIView* pView, int nPercent);
    // The view keeps the icon (kind IMAGE_ICON or IMAGE_BITMAP) and frees
    // it; the frame only shows it, on the view's tab always.
    void SetPageIcon(CQuelmarSMDIView* pView, HANDLE hIcon, UINT nKind);
    // A page asked for a window without resizing or without a toolbar.
    void SetResizable(bool bResizable) { m_bResizable = bResizable; }
    void SetToolbar(bool bToolbar) { m_bToolbar = bToolbar; }
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

    bool IsBossPressed() const { return m_bBossPressed; }
    bool IsMakeDefaultHidden() const { return m_bMakeDefaultHidden; }

protected:
    const wchar_t* GetClassName() const override;
    const wchar_t* GetInitialTitle() const override;
    int GetShowCommand() const override { return SW_SHOWMAXIMIZED; }
    int OnCreate(const CREATESTRUCTW& cs) override;
    void OnDestroy() override;
    bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override;
    void OnUnhandledException(const wchar_t* pszWhere) noexcept override;

private:
    CHandle m_hTabOpenMutex;
    bool m_bBossPressed = false;
    bool m_bMakeDefaultHidden = false;
    bool m_bBackEnabled = false;
    bool m_bForwardEnabled = false;
    bool m_bResizable = true;
    bool m_bToolbar = true;
};

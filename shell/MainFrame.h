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
};

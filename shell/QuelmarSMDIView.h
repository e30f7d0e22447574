#pragma once

#include <windows.h>
#include <exdisp.h>

#include "framework/ComPtr.h"
#include "framework/View.h"
#include "shell/BrowserEvents.h"
#include "shell/BrowserSite.h"
#include "shell/PageIcon.h"
#include "shell/SearchSettings.h"

class CMainFrame;
class CQuelmarSMDIDoc;

// One browser tab: a view that hosts the rendering control, navigates it,
// keeps what the control last reported and shows it through its frame,
// blocks pop-ups, hands new-window requests to a new window thread, warns
// before downloads and shows a private page for hosts that cannot be found.
class CQuelmarSMDIView : public CView, public CBrowserEvents {
public:
    // A script's new window is let through this long after a click in the
    // page.
    static constexpr ULONGLONG kPopupClickWindowMs = 1000;

    // The statuses of NavigateError that the view answers.
    static constexpr long kStatusHostNotFound = static_cast<long>(0x800C0005);
    static constexpr long kStatusUnknownProtocol = static_cast<long>(0x800C000D);

    CQuelmarSMDIView();
    ~CQuelmarSMDIView() override;

    // Creates the control, publishes it when the window answers a
    // new-window request, and navigates to the document's URL if it has one.
    void OnInitialUpdate() override;
    // A view in the background is silent: its pages show no dialogs.
    void OnActivateView(bool bActivate) override;
    BOOL PreTranslateMessage(MSG* pMsg) override;

    // Closing the tab: the page is unloaded (the control goes to a blank
    // page, silently) before the control is destroyed, so nothing of it is
    // still running when the clean-up comes.
    void CloseTab();
    bool IsClosing() const { return m_bClosing; }
    bool IsBlankReached() const { return m_bBlankReached; }

    // Navigates the control in place (target "_self").
    void Navigate(const CString& strUrl);
    // Searches the provider for the text as the user typed it (as one
    // query value, see CSearchSettings::EncodeQueryValue).
    void Search(const CString& strText);
    void GoBack();
    void GoForward();
    void Refresh();
    void Stop();
    // Runs one of the control's own commands (print, save-as, clipboard...).
    HRESULT ExecWB(OLECMDID nCommand, OLECMDEXECOPT nOption);
    // The page's text size, 0 (smallest) to 4 (largest); 2 when unknown.
    static constexpr int kSmallestZoom = 0;
    static constexpr int kLargestZoom = 4;
    int GetZoomLevel() const;
    void SetZoomLevel(int nLevel);
    // The product's error page for an address whose host was not found,
    // the address as one query value.
    static CString ErrorPageAddress(const CString& strFailedUrl);
    static bool IsErrorPageAddress(const CString& strUrl);
    // The page the program carries, for when the error page cannot be
    // reached either.
    static CString OwnErrorPageAddress();
    // The new-window hand-off: starts a window thread and fills *ppDisp
    // with its browser. False when the request is to be cancelled.
    bool CreateNewWindow(IDispatch** ppDisp);

    // Null until the initial update created the control, and after the
    // view's window is gone.
    IWebBrowser2* GetBrowser() const { return m_pSite ? m_pSite->GetBrowser() : nullptr; }
    CBrowserSite* GetBrowserSite() const { return m_pSite.get(); }
    CString GetLocationUrl() const;
    CQuelmarSMDIDoc* GetDocument() const;
    bool IsInitialised() const { return m_bInitialised; }
    const CString& GetTitle() const { return m_strTitle; }
    const CString& GetStatusText() const { return m_strStatusText; }
    bool IsBackEnabled() const { return m_bBackEnabled; }
    bool IsForwardEnabled() const { return m_bForwardEnabled; }
    int GetProgress() const { return m_nProgress; }
    LONG GetSecureLock() const { return m_nSecureLock; }
    const CPageIcon& GetPageIcon() const { return m_pageIcon; }
    bool IsDownloadWarned() const { return m_bDownloadWarned; }
    bool IsControlClosed() const { return m_bControlClosed; }
    bool GetBlockPopups() const { return m_bBlockPopups; }
    void SetBlockPopups(bool bBlock) { m_bBlockPopups = bBlock; }
    bool IsUserRequestedWindow() const { return m_bUserRequestedWindow; }
    // When the last left click inside the control came (tick count); 0 for
    // none since the last page.
    ULONGLONG GetLastClickTime() const { return m_ullLastClick; }

    // The pop-up rules. A NewWindow2 request, which says nothing of how it
    // came, goes through only shortly after a click in the page (0: none).
    static bool AllowNewWindow2(bool bBlockPopups, bool bUserRequested, ULONGLONG ullLastClick, ULONGLONG ullNow);
    // A NewWindow3 request goes through when it is the first one a user's
    // action started, or when the override key was held.
    static bool AllowNewWindow3(bool bBlockPopups, bool bUserRequested, DWORD dwFlags);

    // CBrowserEvents
    void OnBeforeNavigate2(IDispatch* pDisp, const CString& strUrl, bool& bCancel) override;
    void OnNavigateComplete2(IDispatch* pDisp, const CString& strUrl) override;
    void OnDocumentComplete(IDispatch* pDisp, const CString& strUrl) override;
    void OnTitleChange(const CString& strTitle) override;
    void OnStatusTextChange(const CString& strText) override;
    void OnCommandStateChange(long nCommand, bool bEnable) override;
    void OnNewWindow2(IDispatch** ppDisp, bool& bCancel) override;
    void OnNewWindow3(IDispatch** ppDisp, bool& bCancel, DWORD dwFlags, const CString& strUrlContext,
                      const CString& strUrl) override;
    void OnNavigateError(IDispatch* pDisp, const CString& strUrl, const CString& strTargetFrame, long nStatus,
                         bool& bCancel) override;
    void OnFileDownload(bool bActiveDocument, bool& bCancel) override;
    void OnProgressChange(long nProgress, long nProgressMax) override;
    void OnSetSecureLockIcon(long nSecureLock) override;
    void OnWindowSetResizable(bool bResizable) override;
    void OnToolBar(bool bToolBar) override;
    void OnWindowSetPosition(DISPID nDispid, long nValue) override;

protected:
    const wchar_t* GetClassName() const override;
    void OnSize(UINT nType, int cx, int cy) override;
    void OnDestroy() override;
    bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override;
    void OnUnhandledException(const wchar_t* pszWhere) noexcept override;

private:
    // The download warning; IDOK goes on.
    int AskDownload();
    void ShowUnknownProtocol(const CString& strUrl);
    bool IsInControl(HWND hWnd) const;
    // Whether the object is this view's own top-level browser (not a frame
    // of its page), by the windows they report.
    bool IsOwnBrowser(IDispatch* pDisp) const;
    CMainFrame* GetMainFrame() const;
    void PushStateToFrame();
    void ShowPageIcon();
    void SetSilent(bool bSilent);
    void CloseBrowser();

    CComPtr<CBrowserSite> m_pSite;
    bool m_bInitialised = false;
    bool m_bClosing = false;
    bool m_bBlankReached = false;
    bool m_bDestroyed = false;
    bool m_bControlClosed = false;
    // Set while this view takes its own control down.
    bool m_bClosingBrowser = false;
    bool m_bDownloadWarned = false;
    bool m_bBlockPopups = true;
    bool m_bUserRequestedWindow = false;
    ULONGLONG m_ullLastClick = 0;
    bool m_bBackEnabled = false;
    bool m_bForwardEnabled = false;
    int m_nProgress = -1;
    LONG m_nSecureLock = 0;
    bool m_bResizable = true;
    bool m_bToolbar = true;
    CString m_strTitle;
    CString m_strStatusText;
    CPageIcon m_pageIcon;
    CSearchSettings m_searchSettings;
    CString m_strSearchQuery;
    // The failed address last sent to an error page.
    CString m_strFailureAnswered;
};

#pragma once

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <memory>

#include "framework/ComPtr.h"
#include "framework/DocManager.h"
#include "framework/Handles.h"
#include "framework/String.h"
#include "framework/WinThread.h"

class CMSDIThreadManager;
class CNewWindowHandOff;

// The thread of one top-level browser window, with its own COM apartment
// and document manager. It tells the application thread when it has
// started and when it ends; at its end it waits at its exit gate until the
// thread manager has taken it off its list, so that the manager never holds
// a thread object that is gone.
class CMSDIThread : public CWinThread {
public:
    explicit CMSDIThread(CMSDIThreadManager& manager);
    ~CMSDIThread() override;

    // Set before the thread starts.
    void SetUrl(const CString& strUrl) { m_strUrl = strUrl; }
    const CString& GetUrl() const { return m_strUrl; }
    void SetNewWindowRequest(std::shared_ptr<CNewWindowHandOff> pHandOff);
    // Until the first view has published its browser.
    bool IsNewWindowRequest() const { return m_bNewWindowRequest; }
    // The first view's side of the hand-off; clears the request. False when
    // the requester has given up: the window is to go.
    [[nodiscard]] bool PublishNewWindow(IDispatch* pBrowser);

    CMSDIThreadManager& GetManager() const { return m_manager; }
    bool HasExitGate() const { return m_hExitGate.valid(); }
    // By the manager, once it has taken the thread off its list.
    void OpenExitGate();
    // Set before WM_MSDI_THREAD_ENDING is posted.
    bool IsEnding() const { return m_bEnding.load(); }

    // The window thread that calls this; null on any other thread.
    static CMSDIThread* GetCurrent();

protected:
    BOOL InitInstance() override;
    int ExitInstance() override;
    // The template of this thread's window: document, frame and view.
    virtual std::unique_ptr<CSingleDocTemplate> CreateDocTemplate();
    void OnUnhandledException(const wchar_t* pszWhere) noexcept override;

private:
    void BringMainWindowForward();

    CMSDIThreadManager& m_manager;
    CString m_strUrl;
    std::shared_ptr<CNewWindowHandOff> m_pHandOff;
    bool m_bNewWindowRequest = false;
    CHandle m_hExitGate;
    std::atomic<bool> m_bEnding{false};
    std::unique_ptr<COleInitializer> m_pOle;
    std::unique_ptr<CDocManager> m_pDocManager;
    CClassObjectRegistration m_classObject;
};

#pragma once

#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <vector>

#include "framework/CriticalSection.h"
#include "framework/DocManager.h"
#include "framework/String.h"

class CMSDIThread;
class CNewWindowHandOff;

// The application's document manager: instead of opening documents it
// starts window threads, one per top-level window, and keeps the live ones
// in a list under one lock. It knows the application thread only by its id:
// window threads post it WM_MSDI_THREAD_STARTED and WM_MSDI_THREAD_ENDING,
// which whoever pumps that thread's messages hands to OnThreadStarted and
// OnThreadEnding (or HandleThreadMessage); the manager posts it
// WM_MSDI_CLEANUP when the last window has gone.
class CMSDIThreadManager : public CDocManager {
public:
    // The system's multiple-object wait takes at most this many handles.
    static constexpr size_t kEndBatchSize = MAXIMUM_WAIT_OBJECTS;
    // How long a new-window request waits for its window, and how often it
    // looks.
    static constexpr DWORD kHandOffTimeoutMs = 10000;
    static constexpr DWORD kHandOffSliceMs = 100;

    CMSDIThreadManager(DWORD dwAppThreadId, const CString& strDefaultUrl);
    // Ends every window thread that is left: they all refer to the manager.
    ~CMSDIThreadManager() override;

    // On a window thread of this manager: opens the URL in that window's
    // current tab. Anywhere else: starts a new window on it. No document
    // is returned either way.
    CDocument* OpenDocumentFile(const wchar_t* pszUrl) override;
    // Accepts only [open("url")], which opens the URL.
    bool OnDDECommand(const wchar_t* pszCommand) override;
    // A new window on the default URL.
    void OnFileNew() override;
    // On a window thread: asks for an address and opens it.
    void OnFileOpen() override;

    void OnThreadStarted(CMSDIThread* pThread);
    void OnThreadEnding(CMSDIThread* pThread);
    // Routes WM_MSDI_THREAD_STARTED and WM_MSDI_THREAD_ENDING; true when
    // the message was one of them.
    bool HandleThreadMessage(const MSG& msg);

    // A new tab in the most recently started window that is still there;
    // nothing (the URL dropped) when there is none.
    void OpenInMostRecentWindow(const CString& strUrl);
    void CloseAllWindows();
    void BroadcastDefaultSet();
    void BroadcastBoss();
    // Ends every window thread, in batches that the system can wait for at
    // once, and returns only when all have ended.
    void EndAllThreads();

    // Starts a window thread on the URL (empty: a blank window); false when
    // it could not be started.
    bool StartWindowThread(const CString& strUrl, std::shared_ptr<CNewWindowHandOff> pHandOff = nullptr);
    // The new-window hand-off: starts a blank window thread and waits, up to
    // the hand-off timeout, for its browser, which it puts in *ppDisp. On
    // failure the request is cancelled and the new window told to go.
    bool RequestNewWindow(IDispatch** ppDisp);
    void SetHandOffTimeout(DWORD dwTimeoutMs) { m_dwHandOffTimeoutMs = dwTimeoutMs; }

    // The URL of "[open("url")]"; false for any other command.
    static bool ParseDdeOpenCommand(const wchar_t* pszCommand, CString& strUrl);

    DWORD GetAppThreadId() const { return m_dwAppThreadId; }
    CString GetDefaultUrl() const;
    void SetDefaultUrl(const CString& strUrl);
    bool GetSecureDelete() const;
    void SetSecureDelete(bool bSecureDelete);
    size_t GetThreadCount() const;
    // The live threads' main windows, oldest first (null for a thread whose
    // window does not exist yet).
    std::vector<HWND> GetMainWindows() const;

protected:
    // The thread object for a new window; null fails the start.
    virtual CMSDIThread* CreateThreadObject();
    // Waits until every handle (at most kEndBatchSize) is signalled.
    virtual void WaitForThreads(const std::vector<HANDLE>& handles);

private:
    // The window thread calling, if it is one of ours.
    CMSDIThread* CurrentWindowThread() const;
    void PostToAllFrames(UINT uMsg) const;

    const DWORD m_dwAppThreadId;
    mutable CCriticalSection m_lock;
    std::vector<CMSDIThread*> m_threads;
    CString m_strDefaultUrl;
    bool m_bSecureDelete = false;
    DWORD m_dwHandOffTimeoutMs = kHandOffTimeoutMs;
};

#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

#include "framework/DocTemplate.h"
#include "framework/String.h"
#include "shell/MSDIThread.h"
#include "shell/MSDIThreadManager.h"
#include "tests/support/TestFiles.h"

class CQuelmarSMDIView;

// The test thread as the application thread: it pumps its own messages,
// hands the window threads' messages to the manager and records the
// clean-up requests.
class CAppThreadPump {
public:
    explicit CAppThreadPump(CMSDIThreadManager& manager) : m_manager(manager) {}

    // Pumps until the condition holds or the timeout passes; whether it held.
    bool PumpUntil(const std::function<bool()>& condition, DWORD dwTimeoutMs = 20000);
    void PumpFor(DWORD dwMs);

    int Started() const { return m_nStarted; }
    int Ending() const { return m_nEnding; }
    int CleanupCacheRequests() const { return m_nCleanupCache; }
    // wParam of every WM_MSDI_CLEANUP received.
    const std::vector<WPARAM>& Cleanups() const { return m_cleanups; }

private:
    void Handle(const MSG& msg);

    CMSDIThreadManager& m_manager;
    int m_nStarted = 0;
    int m_nEnding = 0;
    int m_nCleanupCache = 0;
    std::vector<WPARAM> m_cleanups;
};

// A manager whose thread objects a test may choose, and which records the
// size of each batch EndAllThreads waits for.
class CTestThreadManager : public CMSDIThreadManager {
public:
    using ThreadFactory = std::function<CMSDIThread*(CMSDIThreadManager&)>;

    explicit CTestThreadManager(const CString& strDefaultUrl = CString())
        : CMSDIThreadManager(GetCurrentThreadId(), strDefaultUrl)
    {
    }

    ThreadFactory threadFactory;
    std::vector<size_t> batches;

protected:
    CMSDIThread* CreateThreadObject() override
    {
        return threadFactory ? threadFactory(*this) : CMSDIThreadManager::CreateThreadObject();
    }
    void WaitForThreads(const std::vector<HANDLE>& handles) override
    {
        batches.push_back(handles.size());
        CMSDIThreadManager::WaitForThreads(handles);
    }
};

// A window thread whose frame holds a view that hosts nothing, so it never
// publishes a browser for a new-window request; or, when bWindowless,
// whose window cannot be created at all.
class CFaultyWindowThread : public CMSDIThread {
public:
    CFaultyWindowThread(CMSDIThreadManager& manager, bool bWindowless)
        : CMSDIThread(manager), m_bWindowless(bWindowless)
    {
    }

protected:
    std::unique_ptr<CSingleDocTemplate> CreateDocTemplate() override;

private:
    bool m_bWindowless;
};

// A local HTML page and its file: URL.
struct CTestPage {
    CString strPath;
    CString strUrl;
};
CTestPage WriteTestPage(const CTempFolder& folder, const wchar_t* pszName);

// The browser view of a window, read on the window's own thread.
CQuelmarSMDIView* BrowserViewOf(HWND hFrame);
// What the window's browser says it shows, asked on its own thread.
CString LocationOf(HWND hFrame);
// The main window's thread, opened for waiting; null when it is gone.
HANDLE OpenWindowThread(HWND hWnd);

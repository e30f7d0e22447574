#include "tests/shell/ShellTestSupport.h"

#include "framework/View.h"
#include "resources/Resource.h"
#include "shell/MainFrame.h"
#include "shell/QuelmarSMDIDoc.h"
#include "shell/QuelmarSMDIView.h"
#include "shell/ShellMessages.h"
#include "tests/support/WindowThreadCall.h"

bool CAppThreadPump::PumpUntil(const std::function<bool()>& condition, DWORD dwTimeoutMs)
{
    const ULONGLONG ullDeadline = GetTickCount64() + dwTimeoutMs;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            Handle(msg);
        }
        if (condition()) {
            return true;
        }
        if (GetTickCount64() >= ullDeadline) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void CAppThreadPump::PumpFor(DWORD dwMs)
{
    PumpUntil([] { return false; }, dwMs);
}

void CAppThreadPump::Handle(const MSG& msg)
{
    if (msg.hwnd != nullptr) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
        return;
    }
    switch (msg.message) {
    case WM_MSDI_THREAD_STARTED:
        ++m_nStarted;
        break;
    case WM_MSDI_THREAD_ENDING:
        ++m_nEnding;
        break;
    case WM_MSDI_CLEANUP:
        m_cleanups.push_back(msg.wParam);
        break;
    case WM_MSDI_CLEANUP_CACHE:
        ++m_nCleanupCache;
        break;
    default:
        break;
    }
    m_manager.HandleThreadMessage(msg);
}

std::unique_ptr<CSingleDocTemplate> CFaultyWindowThread::CreateDocTemplate()
{
    const bool bWindowless = m_bWindowless;
    return std::make_unique<CSingleDocTemplate>(
        IDR_MAINFRAME, [] { return std::make_unique<CQuelmarSMDIDoc>(); },
        [bWindowless]() -> std::unique_ptr<CFrameWindow> {
            return bWindowless ? nullptr : std::make_unique<CMainFrame>();
        },
        [] { return std::make_unique<CView>(); });
}

CTestPage WriteTestPage(const CTempFolder& folder, const wchar_t* pszName)
{
    CTestPage page;
    page.strPath = folder / pszName;
    WriteTestFile(page.strPath, "<html><head><title>Nulvane test page</title></head>"
                                "<body><h1>A local page</h1></body></html>");
    page.strUrl = CString(L"file:///") + page.strPath;
    return page;
}

CQuelmarSMDIView* BrowserViewOf(HWND hFrame)
{
    CQuelmarSMDIView* pView = nullptr;
    RunOnWindowThread(hFrame, [&] {
        if (auto* pFrame = dynamic_cast<CMainFrame*>(CWindow::FromHandle(hFrame))) {
            pView = pFrame->GetActiveBrowserView();
        }
    });
    return pView;
}

CString LocationOf(HWND hFrame)
{
    CString strLocation;
    RunOnWindowThread(hFrame, [&] {
        if (auto* pFrame = dynamic_cast<CMainFrame*>(CWindow::FromHandle(hFrame))) {
            if (CQuelmarSMDIView* pView = pFrame->GetActiveBrowserView()) {
                strLocation = pView->GetLocationUrl();
            }
        }
    });
    return strLocation;
}

HANDLE OpenWindowThread(HWND hWnd)
{
    const DWORD dwThreadId = hWnd != nullptr ? GetWindowThreadProcessId(hWnd, nullptr) : 0;
    return dwThreadId != 0 ? OpenThread(SYNCHRONIZE, FALSE, dwThreadId) : nullptr;
}

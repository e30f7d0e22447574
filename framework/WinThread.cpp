#include "framework/WinThread.h"

#include <process.h>

#include "framework/Window.h"

namespace {

thread_local CWinThread* t_pCurrentThread = nullptr;

}  // namespace

bool CWinThread::CreateThread()
{
    // Created suspended so that the handle and id are stored before the
    // thread can run to its end and delete the object.
    unsigned threadId = 0;
    const uintptr_t h = _beginthreadex(nullptr, 0, &CWinThread::ThreadProc, this, CREATE_SUSPENDED, &threadId);
    if (h == 0) {
        return false;
    }
    m_hThread.reset(reinterpret_cast<HANDLE>(h));
    m_dwThreadId = threadId;
    if (ResumeThread(m_hThread.get()) == static_cast<DWORD>(-1)) {
        TerminateThread(m_hThread.get(), 1);
        WaitForSingleObject(m_hThread.get(), INFINITE);
        m_hThread.reset();
        m_dwThreadId = 0;
        return false;
    }
    return true;
}

void CWinThread::SetMainWnd(CWindow* pWnd)
{
    m_pMainWnd = pWnd;
    m_hWndMain.store(pWnd != nullptr ? pWnd->GetSafeHwnd() : nullptr);
}

CWinThread* CWinThread::GetCurrent()
{
    return t_pCurrentThread;
}

unsigned __stdcall CWinThread::ThreadProc(void* pParam)
{
    auto* pThread = static_cast<CWinThread*>(pParam);
    t_pCurrentThread = pThread;
    const int nExitCode = pThread->RunThread();
    t_pCurrentThread = nullptr;
    delete pThread;
    return static_cast<unsigned>(nExitCode);
}

int CWinThread::RunThread() noexcept
{
    try {
        if (InitInstance()) {
            m_nQuitCode = Run();
        }
    } catch (...) {
        OnUnhandledException(L"CWinThread::InitInstance/Run");
    }
    try {
        return ExitInstance();
    } catch (...) {
        OnUnhandledException(L"CWinThread::ExitInstance");
        return -1;
    }
}

int CWinThread::Run()
{
    MSG msg;
    for (;;) {
        const BOOL bGot = GetMessageW(&msg, nullptr, 0, 0);
        if (bGot == 0) {
            return static_cast<int>(msg.wParam);
        }
        if (bGot == -1) {
            return -1;
        }
        if (msg.hwnd == nullptr) {
            try {
                OnThreadMessage(msg);
            } catch (...) {
                OnUnhandledException(L"CWinThread::OnThreadMessage");
            }
            // Thread timers with a callback still need dispatching.
            DispatchMessageW(&msg);
            continue;
        }
        BOOL bConsumed = FALSE;
        try {
            bConsumed = PreTranslateMessage(&msg);
        } catch (...) {
            OnUnhandledException(L"CWinThread::PreTranslateMessage");
        }
        if (!bConsumed) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

BOOL CWinThread::PreTranslateMessage(MSG* pMsg)
{
    return m_pMainWnd != nullptr && m_pMainWnd->PreTranslateMessage(pMsg);
}

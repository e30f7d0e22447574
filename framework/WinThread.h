#pragma once

#include <windows.h>

#include <atomic>

#include "framework/CmdTarget.h"
#include "framework/Handles.h"

class CWindow;

// A thread with a message loop of its own: InitInstance on the new thread,
// then the loop until WM_QUIT, then ExitInstance (also when InitInstance
// failed). Once started, the object belongs to its thread, which deletes it
// after ExitInstance has returned.
class CWinThread : public CCmdTarget {
public:
    CWinThread() = default;
    ~CWinThread() override = default;

    // Starts the thread. On failure the object still belongs to the caller.
    [[nodiscard]] bool CreateThread();

    DWORD GetThreadId() const { return m_dwThreadId; }
    HANDLE GetThreadHandle() const { return m_hThread.get(); }
    // Hands the thread's handle over; the object no longer closes it.
    [[nodiscard]] CHandle DetachThreadHandle() { return std::move(m_hThread); }

    // The thread's main window, set and cleared on the thread itself; its
    // handle may be read from any thread.
    CWindow* GetMainWnd() const { return m_pMainWnd; }
    HWND GetMainHwnd() const { return m_hWndMain.load(); }
    void SetMainWnd(CWindow* pWnd);

    // The object of the calling thread; null on a thread not started here.
    static CWinThread* GetCurrent();

protected:
    // Return false to end the thread at once (ExitInstance still runs).
    virtual BOOL InitInstance() { return TRUE; }
    // The message loop; returns the exit code carried by WM_QUIT.
    virtual int Run();
    // Returns the thread's exit code: by default the one WM_QUIT carried,
    // 0 when InitInstance failed.
    virtual int ExitInstance() { return m_nQuitCode; }
    // Offers a message to the main window before it is dispatched; true when
    // it was consumed (an accelerator, a key for an embedded control).
    virtual BOOL PreTranslateMessage(MSG* pMsg);
    // A message posted to the thread rather than to a window.
    virtual void OnThreadMessage(const MSG& msg) { (void)msg; }
    // A handler let an exception escape; it stops here.
    virtual void OnUnhandledException(const wchar_t* pszWhere) noexcept { (void)pszWhere; }

private:
    static unsigned __stdcall ThreadProc(void* pParam);
    int RunThread() noexcept;

    CHandle m_hThread;
    DWORD m_dwThreadId = 0;
    CWindow* m_pMainWnd = nullptr;
    int m_nQuitCode = 0;
    std::atomic<HWND> m_hWndMain{nullptr};
};

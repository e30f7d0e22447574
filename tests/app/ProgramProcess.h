#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "framework/Handles.h"
#include "framework/String.h"

// One run of the program (nulvane_test_program.exe, the program with its log
// lines written to a file) as a process of its own, with its command line
// arguments. Destroying a run that is still going kills it.
class CProgramProcess {
public:
    CProgramProcess() = default;
    ~CProgramProcess();
    CProgramProcess(const CProgramProcess&) = delete;
    CProgramProcess& operator=(const CProgramProcess&) = delete;

    // The log goes to strLogPath. With a freeze text, the program stops for
    // good in the thread that logs the first line containing it, and
    // WaitUntilFrozen tells when it got there.
    bool Start(const CString& strArguments, const CString& strLogPath, const CString& strFreezeAt = CString());

    // The exit code, or -1 when the process did not end in time.
    int WaitForExit(DWORD dwTimeoutMs);
    bool WaitUntilFrozen(DWORD dwTimeoutMs);
    // Ends the process at once, as a crash would.
    void Kill();
    bool IsRunning() const;

    // The log so far.
    std::string Log() const;
    // Waits until the log holds the text; false when it did not in time or
    // the process ended without it.
    bool WaitForLog(const std::string& text, DWORD dwTimeoutMs) const;
    // A visible top-level window of the process with the class; null when
    // none appeared in time.
    HWND WaitForWindow(const wchar_t* pszClass, DWORD dwTimeoutMs) const;
    // Every visible top-level window of the process with the class.
    std::vector<HWND> Windows(const wchar_t* pszClass) const;
    // The dialog box (a message box) of the process with the caption.
    HWND WaitForDialog(const CString& strCaption, DWORD dwTimeoutMs) const;

    DWORD ProcessId() const { return m_dwProcessId; }
    HANDLE Process() const { return m_hProcess.get(); }
    static CString ImagePath();

private:
    CHandle m_hProcess;
    CHandle m_hFrozen;
    DWORD m_dwProcessId = 0;
    CString m_strLogPath;
};

// The browser windows' class.
constexpr const wchar_t* kFrameClass = L"NulvaneMainFrame";

// The recovery file of the user's sessions in this Wine prefix.
CString UserRecoveryFile();
// What every test that starts a browsing copy needs first: no copy of the
// program running, no recovery file left, and the default-browser offer
// already made this month, so that no question waits for an answer.
void PrepareForBrowsingStart();
// Declared before the test's processes, so that it goes after them: a test
// that stopped half-way leaves no unwiped session for the next one.
class CLeftoverSessionWiper {
public:
    CLeftoverSessionWiper() = default;
    ~CLeftoverSessionWiper();
    CLeftoverSessionWiper(const CLeftoverSessionWiper&) = delete;
    CLeftoverSessionWiper& operator=(const CLeftoverSessionWiper&) = delete;
};
// Whether a named mutex exists in the session.
bool NamedMutexExists(const wchar_t* pszName);

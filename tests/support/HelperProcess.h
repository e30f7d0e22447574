#pragma once

#include <windows.h>

#include "framework/Handles.h"
#include "framework/String.h"

// A running nulvane_test_helper.exe. Start() returns once the helper has
// done its command and signalled that it is ready; the helper then holds
// what it took (an open file, a mutex) until Stop() or destruction.
class CHelperProcess {
public:
    CHelperProcess() = default;
    ~CHelperProcess();
    CHelperProcess(const CHelperProcess&) = delete;
    CHelperProcess& operator=(const CHelperProcess&) = delete;

    // Arguments after the command, as the helper's usage lists them.
    // False when the helper could not start or did not get ready in time.
    bool Start(const CString& strArguments);
    // The same, from a copy of the helper at another path (another image
    // name).
    bool StartImage(const CString& strImagePath, const CString& strArguments);
    // Asks the helper to end and returns its exit code (or -1).
    int Stop();

    DWORD ProcessId() const { return m_dwProcessId; }
    HANDLE Process() const { return m_hProcess.get(); }
    static CString Path();

private:
    CHandle m_hProcess;
    CHandle m_hQuitEvent;
    DWORD m_dwProcessId = 0;
};

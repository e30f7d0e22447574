#pragma once

#include <windows.h>

#include <functional>
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
    bool LogHas(const char* pszText) const { return Log().find(pszText) != std::string::npos; }
    // Every visible top-level window of the process with the class (and
    // the title, when given), or the first to appear; null when none did in
    // time.
    std::vector<HWND> Windows(const wchar_t* pszClass, const wchar_t* pszTitle = nullptr) const;
    HWND WaitForWindow(const wchar_t* pszClass, DWORD dwTimeoutMs, const wchar_t* pszTitle = nullptr) const;

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

// The user's application data folder, and the recovery file of the user's
// sessions, in this Wine prefix.
CString AppDataFolder();
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
// Polls every 50 ms until the condition holds; whether it did in time.
bool WaitUntil(const std::function<bool()>& condition, DWORD dwTimeoutMs);

// The user's own browsing before a session, in every store of this Wine
// prefix, under a tag no earlier run used: two cookies of a shop, a cached
// and visited page, another visited page, a Flash file and a Java file.
// Made in an earlier second than any session that follows; removed from
// the prefix when the object goes.
class CUserTraces {
public:
    explicit CUserTraces(const wchar_t* pszFlashFolder);
    ~CUserTraces();
    CUserTraces(const CUserTraces&) = delete;
    CUserTraces& operator=(const CUserTraces&) = delete;

    // As another browser process of the user's sets it.
    static void SetCookie(const CString& strUrl, const CString& strData);
    // The trace audit's listing, taken once the traces are in place.
    const std::vector<std::string>& Before() const { return m_before; }
    // Fails the test for every trace of the user's lost since Before()
    // and every session trace left.
    void ExpectSessionWiped() const;

    static constexpr const wchar_t* kExpiry = L"; expires=Tue, 01-Jan-2030 00:00:00 GMT";
    const CString tag;
    const CString flashSite;   // ends with a backslash
    const CString javaFolder;  // ends with a backslash
    const CString shop;
    const CString page;

private:
    std::vector<std::string> m_before;
};

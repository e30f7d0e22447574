#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>

#include "app/CommandLine.h"
#include "app/Config.h"
#include "cleanup/Deleter.h"
#include "framework/CmdTarget.h"
#include "framework/Handles.h"
#include "framework/HeldMutex.h"
#include "framework/String.h"
#include "framework/VersionInfo.h"
#include "stores/Cookies.h"
#include "stores/FlashSharedObjects.h"
#include "stores/History.h"
#include "stores/JavaFiles.h"
#include "stores/TempInternetFiles.h"

class CCleanupManager;
class CInstanceWnd;
class CMSDIThreadManager;

// The application object: owner, for the life of the process, of the five
// category cleaners, the file deleter and the window-thread manager, and the
// one that wipes the session. It runs on the application thread, which owns
// no browser window and learns of the session's end from WM_MSDI_CLEANUP.
//
// Start-up settles what the process is for: a registration run, a surplus
// copy that hands its URL to the running copy, a clean-up run, or the
// browsing copy. Copies coordinate only through named mutexes, a posted
// thread message with a global atom and one shared mapping.
//
// The recovery file in the data folder carries the cleaners' snapshots
// while a session is open; finding it at a start means the session before
// was not wiped, and RunRecoveryCleanup wipes it first.
class CMSDIApp : public CCmdTarget {
public:
    // To the application thread. wParam: non-zero when the session ends
    // (the last window has gone, or Exit), 0 for a clean-up now while the
    // windows stay open.
    static constexpr UINT WM_MSDI_CLEANUP = WM_APP + 0x08;
    // Exists exactly while this program wipes a session; starting copies
    // wait for it to go.
    static constexpr const wchar_t* kCleanupMutexName = L"NULVANE_CLEANUP";
    // A browsing copy runs.
    static constexpr const wchar_t* kInstanceMutexName = L"NULVANE_MUTEX";
    // A starting copy shows the please-wait box.
    static constexpr const wchar_t* kDisplayingDialogMutexName = L"NULVANE_DISPLAYING_DIALOG_MUTEX";
    // Held by an outside program; "--cleanup" waits for it.
    static constexpr const wchar_t* kCleanupGateName = L"6176ED1D-8863-40ca-AB73-2AA541FB9DC8";
    // Results of RunCleanupDlg, and the exit codes of a browsing process.
    static constexpr int kCleanupSucceeded = 0;
    static constexpr int kCleanupFailed = 10;

    // The cleaners of the user's own stores.
    CMSDIApp();
    // The Flash and Java stores below another application-data folder.
    explicit CMSDIApp(const CString& strStoresAppDataFolder);
    ~CMSDIApp() override;
    CMSDIApp(const CMSDIApp&) = delete;
    CMSDIApp& operator=(const CMSDIApp&) = delete;

    // The whole life of the process: InitInstance, the message loop while
    // it browses, ExitInstance. Returns the process's exit code.
    int RunApplication(const CCommandLine& commandLine);

    // Start-up; TRUE when this process browses.
    BOOL InitInstance();
    // The plain thread message loop; returns the quit message's code.
    int Run();
    // Undoes what start-up changed; returns the exit code.
    int ExitInstance();

    // The instance control, each a step of start-up.
    BOOL ParseCommandLine();
    BOOL CheckOtherInstance();
    // Whether NULVANE_CLEANUP exists (also when it cannot be opened for
    // want of rights).
    static BOOL IsCleanupRunning();
    void WaitForOtherCleanup(const CString& strText, const CString& strCaption);
    void RegisterLauncherPath();
    void AddUserAgentToken();
    void WaitForCleanupGate();
    void ReleaseCleanupGate();
    // WM_MSDI_OPEN_URL from a starting copy.
    void OnOpenUrl(ATOM atom);

    // Commands of the windows that neither their view nor their frame
    // handle, on the window's own thread.
    bool OnCmdMsg(UINT nID) override;

    // The user's roaming application-data folder; empty when the system
    // cannot give it.
    static CString GetUserAppDataFolder();
    // Sets the application-data folder and, below it, the data folder
    // "\Nulvane" and the recovery file "\recovery.lck" (relative paths when
    // the folder is empty).
    void SetAppDataFolder(const CString& strAppDataFolder);

    // How the session's end reaches the window threads: called once, at the
    // session's end, to end every window thread; it returns when none is
    // left. Unset (the default) means there is no thread manager.
    void SetEndAllThreads(std::function<void()> endAllThreads) { m_endAllThreads = std::move(endAllThreads); }

    // A message posted to the application thread itself; TRUE when it was
    // one of ours. The modal loops of the clean-up dialog and of the boxes
    // shown here hand their thread messages to it, so none is lost while
    // they are up.
    BOOL HandleThreadMessage(const MSG& msg);

    // WM_MSDI_CLEANUP. At the session's end: takes NULVANE_CLEANUP, lets go
    // of NULVANE_MUTEX, ends the window threads, wipes the session and posts
    // the quit message with 0 or 10. Otherwise asks the user and, on Yes,
    // wipes the session now. While a clean-up runs a request is only
    // recorded; an exit request is carried out once that clean-up is over.
    void OnCleanup(WPARAM wParam);
    // One clean-up run under NULVANE_CLEANUP, with the progress dialog or
    // silently (bSilent, or after the boss command): 0 on success, 10 on
    // failure.
    int RunCleanupDlg(BOOL bFromRecovery, BOOL bSilent, BOOL bKillRecoveryFile);
    // Loads the recovery file's snapshots and its time into the cleaners and
    // wipes the session it belongs to: silently unless bRecoverySwitch, and
    // then the file goes whatever the result. FALSE when there was no file
    // to load (missing, unreadable, or held by another copy).
    [[nodiscard]] BOOL RunRecoveryCleanup(BOOL bSilent, BOOL bRecoverySwitch);
    // Writes the cleaners' start-of-session snapshots to the recovery file.
    // FALSE when they could not be recorded: a crash would then leave
    // nothing to restore from.
    [[nodiscard]] BOOL WriteRecoveryFile();
    // Deletes the recovery file (an error box when it cannot), then the data
    // folder when nothing is left in it. TRUE when the file is gone.
    BOOL KillRecoveryFile();
    // The exit's part in the session's end: removes the recovery file unless
    // it must stay, then lets go of NULVANE_CLEANUP, held since the exit
    // clean-up began.
    void FinishSessionEnd();

    const CString& GetAppDataFolder() const { return m_strAppDataFolder; }
    const CString& GetDataFolder() const { return m_strDataFolder; }
    const CString& GetRecoveryFile() const { return m_strRecoveryFile; }
    BOOL IsExiting() const { return m_bExiting; }
    BOOL KeepsRecoveryFile() const { return m_bKeepRecoveryFile; }
    const CString& GetHomePage() const { return m_strHomePage; }
    const CString& GetLauncherPath() const { return m_strLauncherPath; }
    BOOL IsDefaultBrowser() const { return m_bIsDefaultBrowser; }

    CDeleter& GetDeleter() { return *m_pDeleter; }
    CCookies& GetCookies() { return m_cookies; }
    CTempInternetFiles& GetTempInternetFiles() { return m_tempInternetFiles; }
    CFlashSharedObjects& GetFlashSharedObjects() { return m_flashSharedObjects; }
    CJavaFiles& GetJavaFiles() { return m_javaFiles; }
    CHistory& GetHistory() { return m_history; }

protected:
    // Hands the cleaners to a clean-up run's manager.
    virtual void AssignCleaners(CCleanupManager& manager);

    CVersionInfo m_versionInfo;
    // Written by the commands on window threads, read on the application
    // thread.
    std::atomic<BOOL> m_bIsDefaultBrowser{FALSE};
    CString m_strUrl;
    BOOL m_bSecureDelete = FALSE;
    BOOL m_bKeepRecoveryFile = TRUE;
    BOOL m_bInCleanup = FALSE;
    std::atomic<BOOL> m_bExiting{FALSE};
    std::atomic<BOOL> m_bBossPressed{FALSE};
    CString m_strHomePage;
    BOOL m_bFtpSettingKept = TRUE;
    CString m_strAppDataFolder;
    CString m_strDataFolder;
    CString m_strRecoveryFile;
    // Declared before the cleaners, which are handed it, so that it outlives
    // them.
    std::unique_ptr<CDeleter> m_pDeleter;
    CCookies m_cookies;
    CTempInternetFiles m_tempInternetFiles;
    CFlashSharedObjects m_flashSharedObjects;
    CJavaFiles m_javaFiles;
    CHistory m_history;
    CConfig m_config;
    std::unique_ptr<CInstanceWnd> m_pInstanceWnd;
    // NULVANE_MUTEX, owned by this thread while this copy browses.
    CHandle m_hInstanceMutex;
    CHandle m_hSharedUrlMemory;
    CString m_strLauncherPath;
    DWORD m_dwLauncherProcessId = 0;
    // Takes the place of the framework's document manager.
    std::unique_ptr<CMSDIThreadManager> m_pThreadManager;

private:
    void LogBanner();
    CString ProgramPathForRegistration() const;
    void OpenStartupMutexes();
    BOOL BothStartupMutexesOpen() const;
    void WriteVersionValue();
    void BuildHomePage();
    void ReadCleanupSwitches(BOOL& bSilent, BOOL& bRecovery, BOOL& bEndAfterCleanup);
    [[nodiscard]] BOOL RecoverEarlierSession(BOOL bSilent, BOOL bRecovery);
    void RunDefaultBrowserCheck();
    [[nodiscard]] BOOL TakeSessionSnapshot(CFileTime timeStart);
    void RemoveCookiesAtStart();
    void SwitchOnWebBasedFtp();
    void WriteFeatureControls();
    void CreateInstanceWindow();
    void HandOverUrl(HWND hRunning);
    void OnSecureDelete(WPARAM wParam);
    void ShowAboutBox();
    void MakeDefaultBrowser();

    void RunManualCleanup();
    void EndSession();
    // With the manager, the dialog shows its outcome once it has ended.
    void ShowCleanupDialog(CCleanupManager* pManager);
    int ShowMessageBox(const CString& strText, const CString& strCaption, UINT uType);

    std::function<void()> m_endAllThreads;
    // NULVANE_CLEANUP from the start of the exit clean-up until the
    // recovery file has been dealt with.
    CHeldMutex m_sessionEndGate;
    // RunCleanupDlg is under way, whoever called it.
    BOOL m_bCleanupRunning = FALSE;
    // The quit message has been posted: nothing more is cleaned.
    BOOL m_bSessionEnded = FALSE;

    CCommandLine m_commandLine;
    // NULVANE_MUTEX and NULVANE_DISPLAYING_DIALOG_MUTEX as found at the
    // start, open until the process ends.
    CHandle m_hStartupInstanceMutex;
    CHandle m_hStartupDialogMutex;
    DWORD m_dwStartupDialogMutexError = ERROR_SUCCESS;
    CHandle m_hCleanupGate;
    // The code of the quit message; 0 when start-up ended the process.
    int m_nQuitCode = 0;
};

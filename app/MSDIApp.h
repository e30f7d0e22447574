#pragma once

#include <windows.h>

#include <functional>
#include <memory>

#include "cleanup/Deleter.h"
#include "framework/HeldMutex.h"
#include "framework/Handles.h"
#include "framework/String.h"
#include "framework/VersionInfo.h"
#include "stores/Cookies.h"
#include "stores/FlashSharedObjects.h"
#include "stores/History.h"
#include "stores/JavaFiles.h"
#include "stores/TempInternetFiles.h"

class CCleanupManager;

// The application object: owner, for the life of the process, of the five
// category cleaners and the file deleter, and the one that wipes the
// session. It runs on the application thread, which owns no browser window
// and learns of the session's end from WM_MSDI_CLEANUP.
//
// The recovery file in the data folder carries the cleaners' snapshots
// while a session is open; finding it at a start means the session before
// was not wiped, and RunRecoveryCleanup wipes it first.
class CMSDIApp {
public:
    // To the application thread. wParam: non-zero when the session ends
    // (the last window has gone, or Exit), 0 for a clean-up now while the
    // windows stay open.
    static constexpr UINT WM_MSDI_CLEANUP = WM_APP + 0x08;
    // Exists exactly while this program wipes a session; starting copies
    // wait for it to go.
    static constexpr const wchar_t* kCleanupMutexName = L"NULVANE_CLEANUP";
    // Results of RunCleanupDlg, and the exit codes of a browsing process.
    static constexpr int kCleanupSucceeded = 0;
    static constexpr int kCleanupFailed = 10;

    // The cleaners of the user's own stores.
    CMSDIApp();
    // The Flash and Java stores below another application-data folder.
    explicit CMSDIApp(const CString& strStoresAppDataFolder);
    virtual ~CMSDIApp();
    CMSDIApp(const CMSDIApp&) = delete;
    CMSDIApp& operator=(const CMSDIApp&) = delete;

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
    BOOL m_bKeepRecoveryFile = TRUE;
    BOOL m_bInCleanup = FALSE;
    BOOL m_bExiting = FALSE;
    BOOL m_bBossPressed = FALSE;
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
    // NULVANE_MUTEX, owned by this thread while this copy browses.
    CHandle m_hInstanceMutex;

private:
    void RunManualCleanup();
    void EndSession();
    void ShowCleanupDialog();
    int ShowMessageBox(const CString& strText, const CString& strCaption, UINT uType);

    std::function<void()> m_endAllThreads;
    // NULVANE_CLEANUP from the start of the exit clean-up until the
    // recovery file has been dealt with.
    CHeldMutex m_sessionEndGate;
    // RunCleanupDlg is under way, whoever called it.
    BOOL m_bCleanupRunning = FALSE;
    // The quit message has been posted: nothing more is cleaned.
    BOOL m_bSessionEnded = FALSE;
};

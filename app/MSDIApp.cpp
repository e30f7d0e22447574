#include "app/MSDIApp.h"

#include <shlobj.h>

#include <exception>
#include <new>
#include <utility>

#include "app/CleanupDlg.h"
#include "app/InstanceWnd.h"
#include "app/RecoveryFile.h"
#include "cleanup/CleanupManager.h"
#include "cleanup/FileFinder.h"
#include "cleanup/FileFinderOptions.h"
#include "framework/LanguageManagerResource.h"
#include "framework/Logger.h"
#include "shell/MSDIThreadManager.h"
#include "shell/ShellMessages.h"
#include "widgets/MessageBox.h"

namespace {

const wchar_t kDataFolderName[] = L"\\Nulvane";
const wchar_t kRecoveryFileName[] = L"\\recovery.lck";

// A language text for a message box: a backslash stands for a line break.
CString BoxText(const wchar_t* pszKey)
{
    CString strText = CLanguageManagerResource::Instance()->GetString(pszKey);
    strText.Replace(L"\\", L"\n");
    return strText;
}

// Sets a flag for the time of a scope and puts its value back, however the
// scope is left.
class CRunningFlag {
public:
    explicit CRunningFlag(BOOL& bFlag) : m_bFlag(bFlag), m_bBefore(std::exchange(bFlag, TRUE)) {}
    ~CRunningFlag() { m_bFlag = m_bBefore; }
    CRunningFlag(const CRunningFlag&) = delete;
    CRunningFlag& operator=(const CRunningFlag&) = delete;

private:
    BOOL& m_bFlag;
    BOOL m_bBefore;
};

}  // namespace

CMSDIApp::CMSDIApp() : m_pDeleter(std::make_unique<CDeleter>(FALSE, FALSE, FALSE))
{
}

CMSDIApp::CMSDIApp(const CString& strStoresAppDataFolder)
    : m_pDeleter(std::make_unique<CDeleter>(FALSE, FALSE, FALSE)),
      m_flashSharedObjects(strStoresAppDataFolder),
      m_javaFiles(strStoresAppDataFolder)
{
}

CMSDIApp::~CMSDIApp()
{
    // The window threads refer to the application and to the manager.
    if (m_pThreadManager) {
        m_pThreadManager->EndAllThreads();
    }
}

CString CMSDIApp::GetUserAppDataFolder()
{
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path))) {
        return CString();
    }
    return CString(path);
}

void CMSDIApp::SetAppDataFolder(const CString& strAppDataFolder)
{
    m_strAppDataFolder = strAppDataFolder;
    m_strDataFolder = m_strAppDataFolder + kDataFolderName;
    m_strRecoveryFile = m_strDataFolder + kRecoveryFileName;
}

BOOL CMSDIApp::HandleThreadMessage(const MSG& msg)
{
    if (msg.hwnd != nullptr) {
        return FALSE;
    }
    switch (msg.message) {
    case WM_MSDI_THREAD_STARTED:
    case WM_MSDI_THREAD_ENDING:
        if (m_pThreadManager) {
            m_pThreadManager->HandleThreadMessage(msg);
        }
        return TRUE;
    case WM_MSDI_OPEN_URL:
        // An atom is 16 bits: anything wider is no hand-off of ours.
        if (msg.wParam <= 0xFFFF) {
            OnOpenUrl(static_cast<ATOM>(msg.wParam));
        }
        return TRUE;
    case WM_MSDI_SECURE_DELETE:
        OnSecureDelete(msg.wParam);
        return TRUE;
    case WM_MSDI_CLEANUP:
        OnCleanup(msg.wParam);
        return TRUE;
    case WM_MSDI_CLEANUP_CACHE:
        LOG_MESSAGE(L"CMSDIApp::OnCleanupCache start");
        LOG_MESSAGE(L"CMSDIApp::OnCleanupCache end");
        return TRUE;
    default:
        return FALSE;
    }
}

void CMSDIApp::OnCleanup(WPARAM wParam)
{
    LOG_MESSAGE(L"CMSDIApp::OnCleanup start");
    if (wParam != 0) {
        m_bExiting = TRUE;
    }
    // A request that a running clean-up's dialog or question dispatched is
    // only recorded (a recovery clean-up at start-up runs without
    // OnCleanup: two managers must never wipe at once); so is any request
    // once the quit message is posted (the Exit command and the last
    // window's going can both ask).
    if (m_bInCleanup || m_bCleanupRunning || m_bSessionEnded) {
        LOG_MESSAGE(L"CMSDIApp::OnCleanup end");
        return;
    }
    m_bInCleanup = TRUE;
    try {
        if (!m_bExiting) {
            RunManualCleanup();
            if (m_bExiting) {
                // The windows went while the user was asked or the clean-up
                // ran: without this the process would stay, window-less,
                // holding NULVANE_MUTEX, and every later start would take it
                // for a running copy and end at once.
                LOG_MESSAGE(L"CMSDIApp::OnCleanup the session ended during the clean-up, ending it now");
            }
        }
        if (m_bExiting) {
            EndSession();
        }
    } catch (const CException& e) {
        LOG_EXCEPTION(e, L"CMSDIApp::OnCleanup failed");
    } catch (const std::exception& e) {
        LOG_MESSAGE(L"CMSDIApp::OnCleanup failed: %S", e.what());
    }
    m_bInCleanup = FALSE;
    LOG_MESSAGE(L"CMSDIApp::OnCleanup end");
}

void CMSDIApp::RunManualCleanup()
{
    const int nAnswer = ShowMessageBox(BoxText(L"IDS_FORCEDCLEANUP_TEXT"), BoxText(L"IDS_FORCEDCLEANUP_CAPTION"),
                                       MB_YESNO | MB_ICONQUESTION | MB_SETFOREGROUND);
    if (nAnswer != IDYES) {
        return;
    }
    if (m_bExiting) {
        // The session's end wipes everything anyway: one clean-up, not two.
        return;
    }
    // The recovery file and the snapshots stay: the session goes on.
    (void)RunCleanupDlg(FALSE, FALSE, FALSE);
}

void CMSDIApp::EndSession()
{
    // NULVANE_CLEANUP comes before NULVANE_MUTEX goes, and stays until the
    // recovery file has been dealt with: a copy started in between waits
    // instead of taking the unwiped stores for its own start, or writing a
    // recovery file that this exit would then delete.
    if (!m_sessionEndGate.Create(kCleanupMutexName)) {
        LOG_ERROR(GetLastError(), L"CMSDIApp::OnCleanup cannot create %s", kCleanupMutexName);
    }
    if (m_hInstanceMutex) {
        ReleaseMutex(m_hInstanceMutex.get());
        m_hInstanceMutex.reset();
    }
    int nCode = kCleanupFailed;
    try {
        if (m_endAllThreads) {
            m_endAllThreads();
        }
        nCode = RunCleanupDlg(FALSE, FALSE, FALSE);
    } catch (const CException& e) {
        LOG_EXCEPTION(e, L"CMSDIApp::OnCleanup cleanup stopped");
    } catch (const std::exception& e) {
        LOG_MESSAGE(L"CMSDIApp::OnCleanup cleanup stopped: %S", e.what());
    }
    if (nCode != kCleanupSucceeded) {
        LOG_MESSAGE(L"CMSDIApp::OnCleanup cleanup failed");
        m_bKeepRecoveryFile = TRUE;  // the next start finishes the job
    } else {
        LOG_MESSAGE(L"CMSDIApp::OnCleanup cleaup successfull");
    }
    CLanguageManagerResource::Release();
    LOG_MESSAGE(L"CMSDIApp::OnCleanup deleted language manager");
    LOG_MESSAGE(L"CMSDIApp::OnCleanup about to quit with exit code %s", FormatString(L"%d", nCode).GetString());
    m_bSessionEnded = TRUE;
    m_nQuitCode = nCode;
    PostQuitMessage(nCode);
}

int CMSDIApp::RunCleanupDlg(BOOL bFromRecovery, BOOL bSilent, BOOL bKillRecoveryFile)
{
    CRunningFlag running(m_bCleanupRunning);
    CHeldMutex cleanupMutex(kCleanupMutexName);
    if (!cleanupMutex.IsHeld()) {
        LOG_ERROR(GetLastError(), L"CMSDIApp::RunCleanupDlg cannot create %s", kCleanupMutexName);
    }
    int nCode = kCleanupFailed;
    std::unique_ptr<CCleanupManager> pManager(new (std::nothrow) CCleanupManager(m_pDeleter.get()));
    if (pManager) {
        AssignCleaners(*pManager);
        if (!pManager->StartBackgroundTask()) {
            LOG_MESSAGE(L"CMSDIApp::RunCleanupDlg could not start the clean-up");
        }
    }

    if (!m_bBossPressed && !bSilent) {
        if (bFromRecovery) {
            LOG_MESSAGE(L"Running cleanup from recovery file");
        } else if (m_bExiting) {
            LOG_MESSAGE(L"Starting automatic cleanup at exit");
        } else {
            LOG_MESSAGE(L"Starting manual cleanup");
        }
        LOG_MESSAGE(L"CMSDIApp::RunCleanupDlg about to run clean-up dialog");
        ShowCleanupDialog(pManager.get());
        LOG_MESSAGE(L"CMSDIApp::RunCleanupDlg finished to run clean-up dialog");
        // The dialog keeps its own pace: the clean-up may still be running.
        if (pManager) {
            pManager->WaitForBackgroundTask();
            if (pManager->GetResult() == TRUE) {
                LOG_MESSAGE(L"CMSDIApp::RunCleanupDlg cleanup was successful");
                nCode = kCleanupSucceeded;
            } else {
                LOG_MESSAGE(L"CMSDIApp::RunCleanupDlg cleanup failed");
            }
        }
        if (bKillRecoveryFile) {
            KillRecoveryFile();
        }
    } else {
        if (m_bBossPressed) {
            LOG_MESSAGE(L"Running cleanup in boss mode");
        }
        if (bSilent) {
            LOG_MESSAGE(L"Running cleanup in silent mode");
        }
        if (pManager) {
            pManager->WaitForBackgroundTask();
        }
        if (pManager && pManager->GetResult() == TRUE) {
            LOG_MESSAGE(L"Running cleanup in boss/silent mode successful");
            nCode = kCleanupSucceeded;
            KillRecoveryFile();
        } else {
            LOG_MESSAGE(L"Running cleanup in boss/silent mode unsuccessful");
        }
    }
    pManager.reset();
    return nCode;
}

void CMSDIApp::AssignCleaners(CCleanupManager& manager)
{
    manager.m_pHistory = &m_history;
    manager.m_pCookies = &m_cookies;
    manager.m_pFlashSharedObjects = &m_flashSharedObjects;
    // It must not run on a worker of its own while the manager runs it.
    m_tempInternetFiles.StopBackgroundTask(0);
    manager.m_pTempInternetFiles = &m_tempInternetFiles;
    manager.m_pJavaFiles = &m_javaFiles;
}

void CMSDIApp::ShowCleanupDialog(CCleanupManager* pManager)
{
    CCleanupDlg dialog(m_pDeleter.get(), nullptr);
    if (pManager != nullptr) {
        dialog.SetOutcomeSource([pManager](CCleanupOutcome& outcome) {
            if (pManager->IsBackgroundTaskRunning()) {
                return false;
            }
            outcome = pManager->GetOutcome();
            return true;
        });
    }
    dialog.SetThreadMessageHandler([this](const MSG& msg) { HandleThreadMessage(msg); });
    if (dialog.DoModal() == -1) {
        LOG_MESSAGE(L"CMSDIApp::RunCleanupDlg the clean-up dialog could not be shown");
    }
}

int CMSDIApp::ShowMessageBox(const CString& strText, const CString& strCaption, UINT uType)
{
    CMessageBox box(nullptr, strText, strCaption, uType);
    box.SetThreadMessageHandler([this](const MSG& msg) { HandleThreadMessage(msg); });
    return box.DoModal();
}

BOOL CMSDIApp::RunRecoveryCleanup(BOOL bSilent, BOOL bRecoverySwitch)
{
    CRecoverySnapshot snapshot;
    CFileTime written;
    if (!CRecoveryFile::Read(m_strRecoveryFile, snapshot, written)) {
        return FALSE;
    }
    const CFileTime timeStart = CRecoveryFile::SessionStartOf(snapshot, written);
    LOG_MESSAGE(L"CMSDIApp::RunRecoveryCleanup session of %s: %d Flash, %d Java, %d history, %d cookies",
                timeStart.ToTime().FormatGmt(L"%Y-%m-%d %H:%M:%S").GetString(), snapshot.flash.GetCount(),
                snapshot.java.GetCount(), snapshot.history.GetCount(), snapshot.cookies.GetCount());
    m_tempInternetFiles.SetStartTime(timeStart);
    // The backups the interrupted session left are what gets written back;
    // which files were there before comes from the file.
    (void)m_flashSharedObjects.SnapshotSharedObjects(TRUE);
    m_flashSharedObjects.GetStartSet() = std::move(snapshot.flash);
    m_javaFiles.GetStartSet() = std::move(snapshot.java);
    m_history.GetSnapshot() = std::move(snapshot.history);
    m_history.GetUnscannedFiles() = std::move(snapshot.historyUnscanned);
    m_cookies.GetSnapshot() = std::move(snapshot.cookies);
    (void)RunCleanupDlg(TRUE, bSilent, bRecoverySwitch);
    return TRUE;
}

BOOL CMSDIApp::WriteRecoveryFile()
{
    LOG_MESSAGE(L"CMSDIApp::WriteRecoveryFile start");
    if (!CreateDirectoryW(m_strDataFolder, nullptr)) {
        const DWORD dwError = GetLastError();
        if (dwError != ERROR_ALREADY_EXISTS) {
            LOG_ERROR(dwError, L"Failed to create data folder %s", m_strDataFolder.GetString());
            return FALSE;
        }
    }
    CRecoverySnapshot snapshot;
    snapshot.flash = m_flashSharedObjects.GetStartSet();
    snapshot.java = m_javaFiles.GetStartSet();
    snapshot.history = m_history.GetSnapshot();
    snapshot.historyUnscanned = m_history.GetUnscannedFiles();
    snapshot.cookies = m_cookies.GetSnapshot();
    snapshot.sessionStart = m_tempInternetFiles.GetStartTime();
    const BOOL bWritten = CRecoveryFile::Write(m_strRecoveryFile, snapshot);
    LOG_MESSAGE(bWritten ? L"CMSDIApp::WriteRecoveryFile end" : L"CMSDIApp::WriteRecoveryFile end, not written");
    return bWritten;
}

BOOL CMSDIApp::KillRecoveryFile()
{
    const BOOL bDeleted = m_pDeleter->DeleteFile(m_strRecoveryFile);
    if (!bDeleted) {
        // The file stays for the next start, which wipes the session again.
        ShowMessageBox(BoxText(L"IDS_KILLRECOVERYFILE_ERROR"), m_versionInfo.Get(L"FileDescription"),
                       MB_OK | MB_ICONERROR);
    }
    // A write cut short by a crash leaves its temporary file behind.
    (void)m_pDeleter->DeleteFile(CRecoveryFile::TempPathOf(m_strRecoveryFile));

    CFileFinderOptions options;
    options.m_strBaseFolder = m_strDataFolder;
    CFileFinder finder;
    if (finder.FindFiles(options) == 0) {
        CDeleter::DeleteDirectory(m_strDataFolder);
    }
    return bDeleted;
}

void CMSDIApp::FinishSessionEnd()
{
    if (!m_bKeepRecoveryFile) {
        KillRecoveryFile();
    }
    m_sessionEndGate.Release();
}

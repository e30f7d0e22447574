// The application object's start-up, message loop, exit and commands.
// Start-up settles the process's role (registration run, surplus copy,
// clean-up run or browsing copy) and, for the browsing copy, records the
// stores, writes the recovery file and empties the cookie jar before the
// first window opens.
#include "app/MSDIApp.h"

#include <commctrl.h>

#include <exception>

#include "app/AboutDlg.h"
#include "app/InstanceWnd.h"
#include "app/UrlHandOff.h"
#include "framework/LanguageManagerResource.h"
#include "framework/Logger.h"
#include "framework/Registry.h"
#include "resources/Resource.h"
#include "shell/DefaultBrowser.h"
#include "shell/MSDIThread.h"
#include "shell/MSDIThreadManager.h"
#include "shell/SearchSettings.h"
#include "shell/ShellMessages.h"
#include "widgets/MessageBox.h"

namespace {

const wchar_t kVersionKey[] = L"software\\nulvane";
const wchar_t kFtpKey[] = L"Software\\Microsoft\\FTP";
const wchar_t kFtpValue[] = L"Use Web Based FTP";
const wchar_t kFeatureControlKey[] = L"Software\\Microsoft\\Internet Explorer\\Main\\FeatureControl";
const wchar_t kSecureDeleteKey[] = L"secureDelete";

// A recovery file that another copy holds is read again this often before
// start-up gives up: a copy only holds it while it reads it.
constexpr int kRecoveryReadAttempts = 10;
constexpr DWORD kRecoveryReadRetryMs = 500;

CString ModuleFileName()
{
    wchar_t szPath[MAX_PATH] = {};
    const DWORD nChars = GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    if (nChars == 0 || nChars >= MAX_PATH) {
        return CString();
    }
    return CString(szPath, static_cast<int>(nChars));
}

bool FileExists(const CString& strPath)
{
    if (GetFileAttributesW(strPath) != INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    const DWORD dwError = GetLastError();
    return dwError != ERROR_FILE_NOT_FOUND && dwError != ERROR_PATH_NOT_FOUND;
}

}  // namespace

int CMSDIApp::RunApplication(const CCommandLine& commandLine)
{
    m_commandLine = commandLine;
    CCmdTarget::SetApplication(this);
    BOOL bBrowsing = FALSE;
    try {
        bBrowsing = InitInstance();
    } catch (const CException& e) {
        LOG_EXCEPTION(e, L"CMSDIApp::InitInstance() stopped");
    } catch (const std::exception& e) {
        LOG_MESSAGE(L"CMSDIApp::InitInstance() stopped: %S", e.what());
    }
    if (bBrowsing) {
        m_nQuitCode = Run();
    } else {
        m_nQuitCode = 0;
        // Whatever start-up recorded stays recorded: nothing wiped it.
        m_bKeepRecoveryFile = TRUE;
    }
    int nCode = m_nQuitCode;
    try {
        nCode = ExitInstance();
    } catch (const CException& e) {
        LOG_EXCEPTION(e, L"CMSDIApp::ExitInstance() stopped");
    } catch (const std::exception& e) {
        LOG_MESSAGE(L"CMSDIApp::ExitInstance() stopped: %S", e.what());
    }
    CCmdTarget::SetApplication(nullptr);
    return nCode;
}

BOOL CMSDIApp::InitInstance()
{
    LogBanner();

    const INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    OpenStartupMutexes();
    m_hSharedUrlMemory = CUrlHandOff::CreateSharedMemory();
    RegisterLauncherPath();

    if (!ParseCommandLine()) {
        LOG_MESSAGE(L"CMSDIApp::InitInstance() ParseCommandLine() returned false,  Going to Exit");
        return FALSE;
    }
    if (BothStartupMutexesOpen()) {
        return FALSE;
    }
    if (CheckOtherInstance()) {
        LOG_MESSAGE(L"CMSDIApp::InitInstance() Other version is running.  Going to Exit");
        return FALSE;
    }

    LOG_MESSAGE(L"CMSDIApp::InitInstance() getting CLanguageManagerResource::Instance()");
    CLanguageManagerResource* pLanguages = CLanguageManagerResource::Instance();
    WaitForOtherCleanup(pLanguages->GetString(L"NULVANE_DOING_CLEANUP"), pLanguages->GetString(L"INFO"));

    // The views host the rendering control through a site of their own:
    // nothing is to be enabled for the application as a whole.
    if (!m_versionInfo.Load()) {
        LOG_MESSAGE(L"CMSDIApp::InitInstance() the program has no readable version resource");
    }
    SetLogProgramVersion(m_versionInfo.Get(L"FileVersion"), m_versionInfo.Get(L"BuildDate"));
    WriteVersionValue();
    m_bSecureDelete = TRUE;
    if (m_commandLine.Contains(CCommandLine::kCleanupGateSwitch)) {
        WaitForCleanupGate();
    }
    LogSystemInfo();
    BuildHomePage();

    BOOL bSilent = TRUE;
    BOOL bRecovery = FALSE;
    BOOL bEndAfterCleanup = FALSE;
    ReadCleanupSwitches(bSilent, bRecovery, bEndAfterCleanup);

    SetAppDataFolder(GetUserAppDataFolder());

    m_pThreadManager = std::make_unique<CMSDIThreadManager>(GetCurrentThreadId(), m_strHomePage);
    m_pThreadManager->SetSecureDelete(m_bSecureDelete != FALSE);
    CMSDIThreadManager* pManager = m_pThreadManager.get();
    SetEndAllThreads([pManager] { pManager->EndAllThreads(); });

    const BOOL bRecovered = RecoverEarlierSession(bSilent, bRecovery);
    if (bEndAfterCleanup) {
        LOG_MESSAGE(L"CMSDIApp::InitInstance() exiting as was either silent or recovery cleanup");
        return FALSE;
    }
    if (!bRecovered) {
        // The cleaners hold no snapshot: the session's end would take
        // everything in the stores for the session's own.
        CString strText = pLanguages->GetString(L"IDS_RECOVERYFILE_UNREADABLE");
        strText.Replace(L"\\", L"\n");
        CMessageBox box(nullptr, strText, m_versionInfo.Get(L"FileDescription"), MB_OK | MB_ICONERROR);
        box.DoModal();
        return FALSE;
    }

    RunDefaultBrowserCheck();

    BOOL bSnapshotRecorded = TRUE;
    if (!FileExists(m_strRecoveryFile)) {
        // Taken after any recovery of an earlier session: what the user's
        // own browser caches while that runs is not this session's.
        bSnapshotRecorded = TakeSessionSnapshot(CFileTime::GetCurrentTime());
    } else {
        LOG_MESSAGE(L"CMSDIApp::InitInstance() the earlier session is not wiped yet: its record stays in use");
    }
    if (bSnapshotRecorded) {
        RemoveCookiesAtStart();
    } else {
        // Removed now, the user's cookies would live only in this process's
        // memory and be lost with it.
        LOG_MESSAGE(L"CMSDIApp::InitInstance() the cookies were not recorded: they are left in place");
    }

    const CString strFirstUrl = m_strUrl.IsEmpty() ? m_strHomePage : m_strUrl;
    LOG_MESSAGE(L"CMSDIApp::InitInstance() opening the first window on %s", strFirstUrl.GetString());
    m_pThreadManager->OpenDocumentFile(strFirstUrl);
    if (m_pThreadManager->GetThreadCount() == 0) {
        // The cookies were removed for a session that never began: they
        // come back now rather than at the next start.
        LOG_MESSAGE(L"CMSDIApp::InitInstance() no window could be opened, wiping at once");
        (void)RunCleanupDlg(FALSE, TRUE, FALSE);
        return FALSE;
    }
    m_bKeepRecoveryFile = FALSE;

    SwitchOnWebBasedFtp();
    WriteFeatureControls();
    AddUserAgentToken();
    return TRUE;
}

void CMSDIApp::LogBanner()
{
    LOG_MESSAGE(L"");
    LOG_MESSAGE(L"*******************Start of new Instance*******************");
    LOG_MESSAGE(L"CMSDIApp::InitInstance() start with command line args = %s", m_commandLine.GetRaw().GetString());
}

CString CMSDIApp::ProgramPathForRegistration() const
{
    // A launcher stands for the program only when it ships beside it. Any
    // other parent (the shell, a command prompt, the setup program that runs
    // "--register") is no browser: registered, it would be what links and
    // shortcuts start, and a setup program is gone once it has run. Without
    // a launcher that can be named, the program stands for itself too.
    const CString strOwnPath = ModuleFileName();
    const auto folderOf = [](const CString& strPath) { return strPath.Left(strPath.ReverseFind(L'\\') + 1); };
    if (m_strLauncherPath.IsEmpty() ||
        (!strOwnPath.IsEmpty() && folderOf(m_strLauncherPath).CompareNoCase(folderOf(strOwnPath)) != 0)) {
        return strOwnPath;
    }
    return m_strLauncherPath;
}

BOOL CMSDIApp::ParseCommandLine()
{
    if (m_commandLine.IsRegisterRun()) {
        CDefaultBrowser browser(ProgramPathForRegistration());
        if (!browser.RegisterMachineWide()) {
            LOG_MESSAGE(L"CMSDIApp::ParseCommandLine() the registration for %s failed",
                        browser.GetProgramPath().GetString());
        }
        return FALSE;
    }
    m_strUrl = m_commandLine.GetUrl();
    return TRUE;
}

void CMSDIApp::WriteVersionValue()
{
    const DWORD dwBuild = wcstoul(m_versionInfo.Get(L"PrivateBuild"), nullptr, 10);
    (void)CRegistry(HKEY_CURRENT_USER).WriteDword(kVersionKey, L"Version", dwBuild);
}

void CMSDIApp::BuildHomePage()
{
    const CString strLanguage = CSearchSettings::UserLanguageId();
    m_strHomePage = CSearchSettings().GetHomePage(strLanguage) + L"/?v=" + m_versionInfo.Get(L"PrivateBuild");
    LOG_MESSAGE(L"CMSDIApp::InitInstance() homePage = %s, Locale = %s", m_strHomePage.GetString(),
                strLanguage.GetString());
}

void CMSDIApp::ReadCleanupSwitches(BOOL& bSilent, BOOL& bRecovery, BOOL& bEndAfterCleanup)
{
    bSilent = TRUE;
    bRecovery = FALSE;
    bEndAfterCleanup = FALSE;
    if (m_commandLine.Contains(CCommandLine::kSilentCleanupSwitch)) {
        LOG_MESSAGE(L"CMSDIApp::InitInstance() #####Silent Cleanup#####");
        bSilent = TRUE;
        bEndAfterCleanup = TRUE;
    }
    if (m_commandLine.Contains(CCommandLine::kRecoveryCleanupSwitch)) {
        LOG_MESSAGE(L"CMSDIApp::InitInstance() #####Recovery Cleanup#####");
        bSilent = FALSE;
        bRecovery = TRUE;
        bEndAfterCleanup = TRUE;
    }
}

BOOL CMSDIApp::RecoverEarlierSession(BOOL bSilent, BOOL bRecovery)
{
    for (int nAttempt = 1;; ++nAttempt) {
        if (RunRecoveryCleanup(bSilent, bRecovery) || !FileExists(m_strRecoveryFile)) {
            return TRUE;
        }
        if (nAttempt == kRecoveryReadAttempts) {
            break;
        }
        LOG_MESSAGE(L"CMSDIApp::InitInstance() cannot read %s yet", m_strRecoveryFile.GetString());
        Sleep(kRecoveryReadRetryMs);
    }
    LOG_MESSAGE(L"CMSDIApp::InitInstance() cannot read %s: no session is started", m_strRecoveryFile.GetString());
    return FALSE;
}

void CMSDIApp::RunDefaultBrowserCheck()
{
    CDefaultBrowser browser(ProgramPathForRegistration());
    m_bIsDefaultBrowser = browser.RunStartupCheck();
}

BOOL CMSDIApp::TakeSessionSnapshot(CFileTime timeStart)
{
    m_tempInternetFiles.SetStartTime(timeStart);
    const BOOL bCookiesRead = m_cookies.ReadCookies();
    if (!bCookiesRead) {
        LOG_MESSAGE(L"CMSDIApp::InitInstance() the cookies could not all be read");
    }
    if (!m_flashSharedObjects.SnapshotSharedObjects(FALSE)) {
        LOG_MESSAGE(L"CMSDIApp::InitInstance() no Flash shared objects were recorded");
    }
    if (!m_javaFiles.SnapshotCache()) {
        LOG_MESSAGE(L"CMSDIApp::InitInstance() no Java cache was recorded");
    }
    m_history.ReadHistory();
    const BOOL bWritten = WriteRecoveryFile();
    return bCookiesRead && bWritten;
}

void CMSDIApp::RemoveCookiesAtStart()
{
    CDeleter startupDeleter(m_bSecureDelete, FALSE, FALSE);
    if (!m_cookies.StartRemoval(&startupDeleter)) {
        LOG_MESSAGE(L"CMSDIApp::InitInstance() the cookie removal could not be started");
    } else {
        m_cookies.WaitForBackgroundTask();
    }
    // The temporary deleter goes with this scope.
    m_cookies.SetDeleter(m_pDeleter.get());
}

void CMSDIApp::SwitchOnWebBasedFtp()
{
    const CRegistry registry(HKEY_CURRENT_USER);
    CString strValue;
    if (registry.ReadString(kFtpKey, kFtpValue, strValue) == ERROR_SUCCESS && strValue.CompareNoCase(L"yes") == 0) {
        return;
    }
    (void)registry.WriteString(kFtpKey, kFtpValue, L"yes");
    m_bFtpSettingKept = FALSE;
}

void CMSDIApp::WriteFeatureControls()
{
    const CString strPath = ModuleFileName();
    const CString strName = strPath.Mid(strPath.ReverseFind(L'\\') + 1);
    if (strName.IsEmpty()) {
        return;
    }
    const CRegistry registry(HKEY_CURRENT_USER);
    const std::pair<const wchar_t*, DWORD> features[] = {
        {L"FEATURE_DOMSTORAGE", 0},
        {L"FEATURE_BROWSER_EMULATION", 9999},
        {L"FEATURE_LOCALMACHINE_LOCKDOWN", 1},
    };
    for (const auto& [pszFeature, dwValue] : features) {
        (void)registry.WriteDword(CString(kFeatureControlKey) + L"\\" + pszFeature, strName, dwValue);
    }
}

int CMSDIApp::Run()
{
    MSG msg;
    for (;;) {
        const BOOL bGot = GetMessageW(&msg, nullptr, 0, 0);
        if (bGot == -1) {
            LOG_ERROR(GetLastError(), L"CMSDIApp::Run the message loop failed");
            m_bKeepRecoveryFile = TRUE;
            return kCleanupFailed;
        }
        if (bGot == 0) {
            if (m_bSessionEnded) {
                return m_nQuitCode;
            }
            // Any process may post a thread a quit message. Ending here
            // would leave the session unwiped: it is wiped first, and that
            // posts the quit that ends the loop.
            LOG_MESSAGE(L"CMSDIApp::Run a quit message came before the session was wiped");
            OnCleanup(1);
            continue;
        }
        if (msg.hwnd == nullptr) {
            try {
                HandleThreadMessage(msg);
            } catch (...) {
                LOG_MESSAGE(L"CMSDIApp::Run a thread message %u failed", msg.message);
            }
            // Thread timers with a callback still need dispatching.
            DispatchMessageW(&msg);
            continue;
        }
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

int CMSDIApp::ExitInstance()
{
    if (!m_bFtpSettingKept) {
        (void)CRegistry(HKEY_CURRENT_USER).WriteString(kFtpKey, kFtpValue, L"no");
    }
    if (m_pInstanceWnd) {
        m_pInstanceWnd->DestroyWindow();
        m_pInstanceWnd.reset();
    }
    if (m_pThreadManager) {
        m_pThreadManager->EndAllThreads();
    }
    FinishSessionEnd();
    const int nRes = m_nQuitCode;
    ReleaseCleanupGate();
    LOG_MESSAGE(L"CMSDIApp::ExitInstance() about to exit with nRes = %d", nRes);
    return nRes;
}

void CMSDIApp::OnSecureDelete(WPARAM wParam)
{
    m_config.SetValue(kSecureDeleteKey, wParam != 0 ? L"true" : L"false");
}

bool CMSDIApp::OnCmdMsg(UINT nID)
{
    if (CMSDIThread* pThread = CMSDIThread::GetCurrent(); pThread != nullptr && pThread->OnCmdMsg(nID)) {
        return true;
    }
    CMSDIThreadManager* pManager = m_pThreadManager.get();
    switch (nID) {
    case ID_FILE_NEW:
        if (pManager != nullptr) {
            pManager->OnFileNew();
        }
        return true;
    case ID_FILE_OPEN:
        if (pManager != nullptr) {
            pManager->OnFileOpen();
        }
        return true;
    case ID_APP_EXIT:
        m_bExiting = TRUE;
        if (pManager != nullptr) {
            pManager->CloseAllWindows();
        }
        return true;
    case ID_BOSS:
    case ID_BOSS_BUTTON:
        if (pManager != nullptr) {
            // Set before any frame can close: the clean-up that the last
            // one asks for must already run in boss mode.
            m_bBossPressed = TRUE;
            pManager->BroadcastBoss();
        }
        return true;
    case ID_HOME:
        if (pManager != nullptr) {
            pManager->OpenDocumentFile(m_strHomePage);
        }
        return true;
    case ID_MAKE_DEFAULT:
    case ID_MAKE_DEFAULT_BUTTON:
        MakeDefaultBrowser();
        return true;
    case ID_APP_ABOUT:
        ShowAboutBox();
        return true;
    default:
        return false;
    }
}

void CMSDIApp::MakeDefaultBrowser()
{
    CDefaultBrowser browser(ProgramPathForRegistration());
    if (!browser.SetAsDefault(TRUE)) {
        return;
    }
    m_bIsDefaultBrowser = TRUE;
    if (m_pThreadManager) {
        m_pThreadManager->BroadcastDefaultSet();
    }
}

void CMSDIApp::ShowAboutBox()
{
    CMSDIThread* pThread = CMSDIThread::GetCurrent();
    CAboutDlg dialog(m_versionInfo, pThread != nullptr ? pThread->GetMainHwnd() : nullptr);
    if (dialog.DoModal() == -1) {
        LOG_MESSAGE(L"CMSDIApp::ShowAboutBox the About box could not be shown");
    }
}

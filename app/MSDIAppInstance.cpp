// The application object's part in the protocol between running copies:
// which copy browses, how a starting copy hands its URL over, and how a
// start waits for another copy's clean-up. Copies look only at whether the
// named objects exist; only the clean-up gate is ever waited for.
#include "app/MSDIApp.h"

#include <psapi.h>
#include <tlhelp32.h>

#include "app/InstanceWnd.h"
#include "app/UrlHandOff.h"
#include "app/UserAgent.h"
#include "framework/Logger.h"
#include "framework/Registry.h"
#include "shell/MSDIThreadManager.h"
#include "shell/MainFrame.h"
#include "shell/ShellMessages.h"
#include "widgets/MessageBox.h"

namespace {

const wchar_t kLauncherKey[] = L"software\\nulvane";
constexpr int kMaxLauncherPathChars = 512;
constexpr int kMaxRegistryTextChars = 255;
constexpr DWORD kWaitForCleanupSliceMs = 100;

// A named object exists when opening it succeeds, or fails for want of
// rights: then it exists in a form this process may not touch. Nothing is
// asked of the handle, so no access right is requested.
bool NamedMutexExists(const wchar_t* pszName)
{
    CHandle hMutex(OpenMutexW(0, FALSE, pszName));
    return hMutex.valid() || GetLastError() == ERROR_ACCESS_DENIED;
}

// The process that started this one, from a snapshot of the process list;
// 0 when this process is not in it.
DWORD FindParentProcessId()
{
    CHandle hSnapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!hSnapshot) {
        return 0;
    }
    const DWORD dwSelf = GetCurrentProcessId();
    PROCESSENTRY32W entry = {sizeof(entry)};
    for (BOOL bMore = Process32FirstW(hSnapshot.get(), &entry); bMore; bMore = Process32NextW(hSnapshot.get(), &entry)) {
        if (entry.th32ProcessID == dwSelf) {
            return entry.th32ParentProcessID;
        }
    }
    return 0;
}

// A parent that has ended leaves its id free for any later process: one
// started after this one cannot be the one that started it.
bool StartedBeforeThisProcess(HANDLE hProcess)
{
    FILETIME created, exited, kernel, user;
    FILETIME ownCreated, ownExited, ownKernel, ownUser;
    if (!GetProcessTimes(hProcess, &created, &exited, &kernel, &user) ||
        !GetProcessTimes(GetCurrentProcess(), &ownCreated, &ownExited, &ownKernel, &ownUser)) {
        return true;
    }
    return CompareFileTime(&created, &ownCreated) <= 0;
}

}  // namespace

void CMSDIApp::RegisterLauncherPath()
{
    m_dwLauncherProcessId = FindParentProcessId();
    if (m_dwLauncherProcessId != 0) {
        CHandle hLauncher(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, m_dwLauncherProcessId));
        if (hLauncher && StartedBeforeThisProcess(hLauncher.get())) {
            wchar_t szPath[kMaxLauncherPathChars] = {};
            const DWORD nChars = GetModuleFileNameExW(hLauncher.get(), nullptr, szPath, kMaxLauncherPathChars);
            if (nChars > 0 && nChars < static_cast<DWORD>(kMaxLauncherPathChars)) {
                m_strLauncherPath = CString(szPath, static_cast<int>(nChars));
            }
        }
    }
    if (m_strLauncherPath.IsEmpty()) {
        LOG_ERROR(GetLastError(), L"CMSDIApp::RegisterLauncherPath no path for launcher %lu", m_dwLauncherProcessId);
    }
    const int nSlash = m_strLauncherPath.ReverseFind(L'\\');
    const CString strFolder = nSlash >= 0 ? m_strLauncherPath.Left(nSlash) : CString();
    const CString strName = m_strLauncherPath.Mid(nSlash + 1);
    const CRegistry registry(HKEY_CURRENT_USER);
    // Failed writes are of no consequence to this run.
    (void)registry.WriteString(kLauncherKey, L"path", strFolder.Left(kMaxRegistryTextChars));
    (void)registry.WriteString(kLauncherKey, L"EXEName", strName.Left(kMaxRegistryTextChars));
}

BOOL CMSDIApp::IsCleanupRunning()
{
    return NamedMutexExists(kCleanupMutexName) ? TRUE : FALSE;
}

void CMSDIApp::OpenStartupMutexes()
{
    m_hStartupInstanceMutex.reset(OpenMutexW(0, FALSE, kInstanceMutexName));
    m_hStartupDialogMutex.reset(OpenMutexW(0, FALSE, kDisplayingDialogMutexName));
}

BOOL CMSDIApp::BothStartupMutexesOpen() const
{
    // A copy shows the please-wait box while a browsing copy runs: this one
    // adds nothing, not even a second box.
    return m_hStartupInstanceMutex.valid() && m_hStartupDialogMutex.valid();
}

BOOL CMSDIApp::CheckOtherInstance()
{
    if (!CInstanceWnd::Register()) {
        LOG_ERROR(GetLastError(), L"CMSDIApp::CheckOtherInstance cannot register the instance window's class");
    }
    // Creating tells in one step whether the mutex existed, so two copies
    // starting at once cannot both take themselves for the first.
    SetLastError(ERROR_SUCCESS);
    m_hInstanceMutex.reset(CreateMutexW(nullptr, TRUE, kInstanceMutexName));
    const DWORD dwError = GetLastError();
    const bool bExisted = dwError == ERROR_ALREADY_EXISTS || dwError == ERROR_ACCESS_DENIED;
    if (!bExisted) {
        if (!m_hInstanceMutex) {
            LOG_ERROR(dwError, L"CMSDIApp::CheckOtherInstance cannot create %s", kInstanceMutexName);
        }
        CreateInstanceWindow();
        return FALSE;
    }
    if (IsCleanupRunning()) {
        return TRUE;
    }
    // The running copy has no window to take a URL yet (or any more).
    if (!NamedMutexExists(CMainFrame::kTabOpenMutexName)) {
        return TRUE;
    }
    HWND hRunning = CInstanceWnd::Find();
    if (hRunning == nullptr) {
        CreateInstanceWindow();
        return FALSE;
    }
    HandOverUrl(hRunning);
    return TRUE;
}

void CMSDIApp::CreateInstanceWindow()
{
    auto pWnd = std::make_unique<CInstanceWnd>();
    if (!pWnd->Create()) {
        LOG_ERROR(GetLastError(), L"CMSDIApp::CheckOtherInstance cannot create the instance window");
        return;
    }
    m_pInstanceWnd = std::move(pWnd);
}

void CMSDIApp::HandOverUrl(HWND hRunning)
{
    const ATOM atom = CUrlHandOff::PrepareUrl(m_strUrl, m_hSharedUrlMemory.get());
    DWORD dwProcessId = 0;
    const DWORD dwThreadId = GetWindowThreadProcessId(hRunning, &dwProcessId);
    // The running copy brings its window forward: let it.
    AllowSetForegroundWindow(dwProcessId);
    if (dwThreadId == 0 || !PostThreadMessageW(dwThreadId, WM_MSDI_OPEN_URL, atom, 0)) {
        LOG_ERROR(GetLastError(), L"CMSDIApp::CheckOtherInstance cannot hand %s to process %lu",
                  m_strUrl.GetString(), dwProcessId);
        if (atom != 0) {
            GlobalDeleteAtom(atom);
        }
    }
}

void CMSDIApp::OnOpenUrl(ATOM atom)
{
    CString strUrl = m_strHomePage;
    // The atom is taken even when nothing is opened, so that none is left
    // in the system's table.
    if (atom != 0 && !CUrlHandOff::TakeUrl(atom, m_hSharedUrlMemory.get(), strUrl)) {
        return;
    }
    if (m_bExiting || !m_pThreadManager) {
        LOG_MESSAGE(L"CMSDIApp::OnOpenUrl the session is ending, %s is not opened", strUrl.GetString());
        return;
    }
    LOG_MESSAGE(L"CMSDIApp::OnOpenUrl %s", strUrl.GetString());
    m_pThreadManager->OpenInMostRecentWindow(strUrl);
}

void CMSDIApp::WaitForOtherCleanup(const CString& strText, const CString& strCaption)
{
    if (!IsCleanupRunning()) {
        return;
    }
    // A copy started meanwhile sees this and ends without a second box.
    CHeldMutex dialogMutex(kDisplayingDialogMutexName);
    // No owner, and no thread message is handled while it is up: this
    // copy has no window for a URL yet, and no session to end.
    CMessageBox box(nullptr, strText, strCaption, MB_OK);
    box.DoModal();
    while (IsCleanupRunning()) {
        LOG_MESSAGE(L"CMSDIApp::InitInstance() waiting for cleanup from other nulvane instance to complete");
        Sleep(kWaitForCleanupSliceMs);
    }
}

void CMSDIApp::WaitForCleanupGate()
{
    SetLastError(ERROR_SUCCESS);
    m_hCleanupGate.reset(CreateMutexW(nullptr, FALSE, kCleanupGateName));
    const DWORD dwError = GetLastError();
    if (dwError == ERROR_ALREADY_EXISTS || dwError == ERROR_ACCESS_DENIED) {
        if (!m_hCleanupGate) {
            m_hCleanupGate.reset(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, kCleanupGateName));
        }
        LOG_MESSAGE(L"CMSDIApp::WaitForCleanupGate waiting for %s", kCleanupGateName);
        const DWORD dwWait = m_hCleanupGate ? WaitForSingleObject(m_hCleanupGate.get(), INFINITE) : WAIT_FAILED;
        if (dwWait == WAIT_OBJECT_0 || dwWait == WAIT_ABANDONED) {
            ReleaseMutex(m_hCleanupGate.get());
        }
    }
    // Only passed through: this program never holds the gate while it runs.
    m_hCleanupGate.reset();
}

void CMSDIApp::ReleaseCleanupGate()
{
    if (m_hCleanupGate) {
        ReleaseMutex(m_hCleanupGate.get());
        m_hCleanupGate.reset();
    }
}

void CMSDIApp::AddUserAgentToken()
{
    std::string strAgent;
    std::string strWithToken;
    if (!CUserAgent::Read(strAgent) || !CUserAgent::AddProductToken(strAgent, strWithToken)) {
        return;
    }
    (void)CUserAgent::Write(strWithToken);
}

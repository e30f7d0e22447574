#include "tests/app/ProgramProcess.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "framework/Registry.h"
#include "framework/Time.h"
#include "tests/support/TestFiles.h"

namespace {

std::atomic<unsigned> g_runCounter{0};
constexpr DWORD kPollMs = 50;
constexpr DWORD kKillTimeoutMs = 10000;

// The test process's environment with the program's test variables added
// (or replaced), as a block for CreateProcessW.
std::vector<wchar_t> EnvironmentWith(const std::vector<std::pair<CString, CString>>& variables)
{
    std::vector<wchar_t> block;
    wchar_t* pszStrings = GetEnvironmentStringsW();
    for (const wchar_t* psz = pszStrings; psz != nullptr && *psz != L'\0'; psz += wcslen(psz) + 1) {
        bool bReplaced = false;
        for (const auto& [strName, strValue] : variables) {
            const CString strPrefix = strName + L"=";
            bReplaced = bReplaced || _wcsnicmp(psz, strPrefix, strPrefix.GetLength()) == 0;
        }
        if (!bReplaced) {
            block.insert(block.end(), psz, psz + wcslen(psz) + 1);
        }
    }
    FreeEnvironmentStringsW(pszStrings);
    for (const auto& [strName, strValue] : variables) {
        if (!strValue.IsEmpty()) {
            const CString strEntry = strName + L"=" + strValue;
            block.insert(block.end(), strEntry.GetString(), strEntry.GetString() + strEntry.GetLength() + 1);
        }
    }
    block.push_back(L'\0');
    return block;
}

struct CWindowSearch {
    DWORD dwProcessId;
    const wchar_t* pszClass;
    const wchar_t* pszTitle;
    HWND hFound;
    std::vector<HWND>* pAll = nullptr;
};

BOOL CALLBACK MatchWindow(HWND hWnd, LPARAM lParam)
{
    auto* pSearch = reinterpret_cast<CWindowSearch*>(lParam);
    DWORD dwProcessId = 0;
    GetWindowThreadProcessId(hWnd, &dwProcessId);
    if (dwProcessId != pSearch->dwProcessId || !IsWindowVisible(hWnd)) {
        return TRUE;
    }
    wchar_t szText[256] = {};
    GetClassNameW(hWnd, szText, 256);
    if (wcscmp(szText, pSearch->pszClass) != 0) {
        return TRUE;
    }
    if (pSearch->pszTitle != nullptr) {
        GetWindowTextW(hWnd, szText, 256);
        if (wcscmp(szText, pSearch->pszTitle) != 0) {
            return TRUE;
        }
    }
    pSearch->hFound = hWnd;
    if (pSearch->pAll != nullptr) {
        pSearch->pAll->push_back(hWnd);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

CString CProgramProcess::ImagePath()
{
    return TestProgramFolder() + L"nulvane_test_program.exe";
}

CProgramProcess::~CProgramProcess()
{
    if (IsRunning()) {
        Kill();
    }
}

bool CProgramProcess::Start(const CString& strArguments, const CString& strLogPath, const CString& strFreezeAt)
{
    m_strLogPath = strLogPath;
    CString strFrozenName;
    if (!strFreezeAt.IsEmpty()) {
        strFrozenName.Format(L"nulvane-test-frozen-%lu-%u", GetCurrentProcessId(), g_runCounter++);
        m_hFrozen.reset(CreateEventW(nullptr, TRUE, FALSE, strFrozenName));
    }
    std::vector<wchar_t> environment = EnvironmentWith({
        {L"NULVANE_TEST_LOG", strLogPath},
        {L"NULVANE_TEST_FREEZE_AT", strFreezeAt},
        {L"NULVANE_TEST_FROZEN", strFrozenName},
    });
    CString commandLine = L"\"" + ImagePath() + L"\"";
    if (!strArguments.IsEmpty()) {
        commandLine += L" " + strArguments;
    }
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, commandLine.GetBuffer(0), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                        environment.data(), nullptr, &si, &pi)) {
        return false;
    }
    CloseHandle(pi.hThread);
    m_hProcess.reset(pi.hProcess);
    m_dwProcessId = pi.dwProcessId;
    return true;
}

int CProgramProcess::WaitForExit(DWORD dwTimeoutMs)
{
    if (!m_hProcess || WaitForSingleObject(m_hProcess.get(), dwTimeoutMs) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD dwCode = static_cast<DWORD>(-1);
    GetExitCodeProcess(m_hProcess.get(), &dwCode);
    return static_cast<int>(dwCode);
}

bool CProgramProcess::WaitUntilFrozen(DWORD dwTimeoutMs)
{
    if (!m_hFrozen || !m_hProcess) {
        return false;
    }
    const HANDLE handles[] = {m_hFrozen.get(), m_hProcess.get()};
    return WaitForMultipleObjects(2, handles, FALSE, dwTimeoutMs) == WAIT_OBJECT_0;
}

void CProgramProcess::Kill()
{
    if (m_hProcess) {
        TerminateProcess(m_hProcess.get(), 99);
        WaitForSingleObject(m_hProcess.get(), kKillTimeoutMs);
    }
}

bool CProgramProcess::IsRunning() const
{
    return m_hProcess && WaitForSingleObject(m_hProcess.get(), 0) == WAIT_TIMEOUT;
}

std::string CProgramProcess::Log() const
{
    return TestFileExists(m_strLogPath) ? ReadTestFile(m_strLogPath) : std::string();
}

bool CProgramProcess::WaitForLog(const std::string& text, DWORD dwTimeoutMs) const
{
    const DWORD dwStart = GetTickCount();
    for (;;) {
        // Read before looking at the process: a line written just before
        // it ended still counts.
        const bool bEnded = !IsRunning();
        if (Log().find(text) != std::string::npos) {
            return true;
        }
        if (bEnded || GetTickCount() - dwStart > dwTimeoutMs) {
            return false;
        }
        Sleep(kPollMs);
    }
}

HWND CProgramProcess::WaitForWindow(const wchar_t* pszClass, DWORD dwTimeoutMs) const
{
    const DWORD dwStart = GetTickCount();
    for (;;) {
        CWindowSearch search = {m_dwProcessId, pszClass, nullptr, nullptr};
        EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.hFound != nullptr) {
            return search.hFound;
        }
        if (!IsRunning() || GetTickCount() - dwStart > dwTimeoutMs) {
            return nullptr;
        }
        Sleep(kPollMs);
    }
}

std::vector<HWND> CProgramProcess::Windows(const wchar_t* pszClass) const
{
    std::vector<HWND> windows;
    CWindowSearch search = {m_dwProcessId, pszClass, nullptr, nullptr, &windows};
    EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&search));
    return windows;
}

HWND CProgramProcess::WaitForDialog(const CString& strCaption, DWORD dwTimeoutMs) const
{
    const DWORD dwStart = GetTickCount();
    for (;;) {
        CWindowSearch search = {m_dwProcessId, L"#32770", strCaption.GetString(), nullptr};
        EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.hFound != nullptr) {
            return search.hFound;
        }
        if (!IsRunning() || GetTickCount() - dwStart > dwTimeoutMs) {
            return nullptr;
        }
        Sleep(kPollMs);
    }
}

CString UserRecoveryFile()
{
    wchar_t szPath[MAX_PATH] = {};
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, szPath), S_OK);
    return CString(szPath) + L"\\Nulvane\\recovery.lck";
}

bool NamedMutexExists(const wchar_t* pszName)
{
    CHandle hMutex(OpenMutexW(SYNCHRONIZE, FALSE, pszName));
    return hMutex.valid();
}

void PrepareForBrowsingStart()
{
    ASSERT_FALSE(NamedMutexExists(L"NULVANE_MUTEX")) << "a copy of the program still runs";
    ASSERT_FALSE(NamedMutexExists(L"NULVANE_CLEANUP")) << "a clean-up still runs";
    ASSERT_FALSE(TestFileExists(UserRecoveryFile())) << "an earlier test left its session unwiped";
    const CRegistry registry(HKEY_CURRENT_USER);
    const auto dwNow = static_cast<DWORD>(CTime::GetCurrentTime().GetTime());
    const wchar_t* const pszKey = L"SOFTWARE\\Nulvane";
    ASSERT_EQ(registry.WriteDword(pszKey, L"FirstRun", dwNow), ERROR_SUCCESS);
    ASSERT_EQ(registry.WriteDword(pszKey, L"RI", 100), ERROR_SUCCESS);
    ASSERT_EQ(registry.WriteDword(pszKey, L"LastDefaultCheck", dwNow), ERROR_SUCCESS);
    ASSERT_EQ(registry.WriteDword(pszKey, L"CreatedShortcut", 1), ERROR_SUCCESS);
}

CLeftoverSessionWiper::~CLeftoverSessionWiper()
{
    if (TestFileExists(UserRecoveryFile())) {
        CProgramProcess cleanup;
        if (cleanup.Start(L"--silentcleanup", CString())) {
            cleanup.WaitForExit(kKillTimeoutMs * 6);
        }
    }
}

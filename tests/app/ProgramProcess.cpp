#include "tests/app/ProgramProcess.h"

#include <shlobj.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "framework/Registry.h"
#include "framework/Time.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/ExternalReaders.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/TestFiles.h"
#include "tools/trace-audit/TraceComparison.h"

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

HWND CProgramProcess::WaitForWindow(const wchar_t* pszClass, DWORD dwTimeoutMs, const wchar_t* pszTitle) const
{
    std::vector<HWND> windows;
    WaitUntil([&] { return !(windows = Windows(pszClass, pszTitle)).empty() || !IsRunning(); }, dwTimeoutMs);
    return windows.empty() ? nullptr : windows.front();
}

std::vector<HWND> CProgramProcess::Windows(const wchar_t* pszClass, const wchar_t* pszTitle) const
{
    struct CSearch {
        const CProgramProcess* pProcess;
        const wchar_t* pszClass;
        const wchar_t* pszTitle;
        std::vector<HWND> found;
    } search = {this, pszClass, pszTitle, {}};
    EnumWindows(
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            auto* p = reinterpret_cast<CSearch*>(lParam);
            DWORD dwProcessId = 0;
            GetWindowThreadProcessId(hWnd, &dwProcessId);
            wchar_t szClass[256] = {};
            wchar_t szTitle[256] = {};
            GetClassNameW(hWnd, szClass, 256);
            GetWindowTextW(hWnd, szTitle, 256);
            if (dwProcessId == p->pProcess->m_dwProcessId && IsWindowVisible(hWnd) &&
                wcscmp(szClass, p->pszClass) == 0 && (p->pszTitle == nullptr || wcscmp(szTitle, p->pszTitle) == 0)) {
                p->found.push_back(hWnd);
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD dwTimeoutMs)
{
    for (const DWORD dwStart = GetTickCount(); !condition();) {
        if (GetTickCount() - dwStart > dwTimeoutMs) {
            return false;
        }
        Sleep(kPollMs);
    }
    return true;
}

CString AppDataFolder()
{
    wchar_t szPath[MAX_PATH] = {};
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, szPath), S_OK);
    return szPath;
}

CString UserRecoveryFile()
{
    return AppDataFolder() + L"\\Nulvane\\recovery.lck";
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

CUserTraces::CUserTraces(const wchar_t* pszFlashFolder)
    : tag(UniqueTag()),
      flashSite(AppDataFolder() + L"\\Macromedia\\Flash Player\\#SharedObjects\\" + pszFlashFolder + L"\\" + tag +
                L".example\\"),
      javaFolder(AppDataFolder() + L"\\Sun\\Java\\Deployment\\cache\\6.0\\" + tag + L"\\"),
      shop(L"http://" + tag + L".shop.example/"),
      page(L"http://" + tag + L".before.example/page.html")
{
    SetCookie(shop, L"basket=3" + CString(kExpiry));
    SetCookie(shop + L"account/", L"user=ann" + CString(kExpiry));
    EXPECT_FALSE(AddCacheEntry(page, "before").IsEmpty());
    EXPECT_TRUE(AddHistoryEntry(page));
    EXPECT_TRUE(AddHistoryEntry(L"http://" + tag + L".before.example/other.html"));
    WriteTestFile(flashSite + L"game.swf\\state.sol", "score=10");
    WriteTestFile(javaFolder + L"applet.jar", "applet");
    m_before = RunTraceAudit(L"");
    // A session's start is kept in seconds.
    const CTime seeded = CTime::GetCurrentTime();
    WaitUntil([&] { return CTime::GetCurrentTime() > seeded; }, 5000);
}

CUserTraces::~CUserTraces()
{
    DeleteUrlCacheEntryW(page);
    DeleteUrlCacheEntryW(L"Visited: user@" + page);
    DeleteUrlCacheEntryW(L"Visited: user@http://" + tag + L".before.example/other.html");
    InternetSetCookieW(shop, nullptr, L"basket=gone; expires=Sat, 01-Jan-2000 00:00:00 GMT");
    InternetSetCookieW(shop + L"account/", nullptr, L"user=gone; expires=Sat, 01-Jan-2000 00:00:00 GMT");
    RemoveTestTree(flashSite.Left(flashSite.GetLength() - 1));
    RemoveTestTree(javaFolder.Left(javaFolder.GetLength() - 1));
}

void CUserTraces::SetCookie(const CString& strUrl, const CString& strData)
{
    CHelperProcess helper;
    ASSERT_TRUE(helper.Start(L"set-cookie \"" + strUrl + L"\" \"" + strData + L"\" 0"));
    ASSERT_EQ(helper.Stop(), 0);
}

void CUserTraces::ExpectSessionWiped() const
{
    const CTraceSummary diff = CTraceComparison::Compare(m_before, {}, RunTraceAudit(L""));
    for (const std::string& line : diff.lost) {
        ADD_FAILURE() << "lost: " << line;
    }
    for (const std::string& line : diff.left) {
        ADD_FAILURE() << "left: " << line;
    }
}

// The program as processes of its own (nulvane_test_program.exe, logging to a file):
// two copies, the registration and clean-up runs, and sessions killed or failing
// their exit clean-up, which the next run wipes; the trace audit judges the stores.
#include <windows.h>
#include <shlobj.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "framework/Registry.h"
#include "framework/Time.h"
#include "shell/DefaultBrowser.h"
#include "shell/SearchSettings.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/ExternalReaders.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"
#include "tools/trace-audit/TraceComparison.h"

namespace {

constexpr DWORD kLongMs = 90000;
constexpr const wchar_t* kFrameClass = L"NulvaneMainFrame";
constexpr const wchar_t* kExpiry = L"; expires=Tue, 01-Jan-2030 00:00:00 GMT";
// The search page of the user's language, then the build number.
const std::string kHomePage = (CSearchSettings().GetHomePage(CSearchSettings::UserLanguageId()) + L"/?v=1024").ToUtf8();

// Polls every 50 ms until the condition holds; whether it did in time.
bool WaitUntil(const std::function<bool()>& condition, DWORD dwTimeoutMs = 10000)
{
    for (const DWORD dwStart = GetTickCount(); !condition(); Sleep(50)) {
        if (GetTickCount() - dwStart > dwTimeoutMs) {
            return false;
        }
    }
    return true;
}

// One run of the program, its log in a file, frozen for good where it logs the
// freeze text (if any); killed if still running when destroyed.
class CProgram {
public:
    ~CProgram() { Kill(); }

    bool Start(const CString& strArguments, const CString& strLogPath, const CString& strFreezeAt = CString())
    {
        static std::atomic<unsigned> runs{0};
        m_strLogPath = strLogPath;
        const CString strFrozen = FormatString(L"nulvane-test-frozen-%lu-%u", GetCurrentProcessId(), runs++);
        m_hFrozen.reset(CreateEventW(nullptr, TRUE, FALSE, strFrozen));
        // The program reads its test variables from the environment it inherits.
        SetEnvironmentVariableW(L"NULVANE_TEST_LOG", strLogPath);
        SetEnvironmentVariableW(L"NULVANE_TEST_FREEZE_AT", strFreezeAt.IsEmpty() ? nullptr : strFreezeAt.GetString());
        SetEnvironmentVariableW(L"NULVANE_TEST_FROZEN", strFrozen);
        CString commandLine = L"\"" + TestProgramFolder() + L"nulvane_test_program.exe\" " + strArguments;
        STARTUPINFOW si = {sizeof(si)};
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(nullptr, commandLine.GetBuffer(0), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                            &pi)) {
            return false;
        }
        CloseHandle(pi.hThread);
        m_hProcess.reset(pi.hProcess);
        m_dwProcessId = pi.dwProcessId;
        return true;
    }
    // The exit code, or -1 when the process did not end in time.
    int WaitForExit(DWORD dwTimeoutMs = kLongMs)
    {
        DWORD dwCode = static_cast<DWORD>(-1);
        if (WaitForSingleObject(m_hProcess.get(), dwTimeoutMs) == WAIT_OBJECT_0) {
            GetExitCodeProcess(m_hProcess.get(), &dwCode);
        }
        return static_cast<int>(dwCode);
    }
    bool WaitUntilFrozen()
    {
        const HANDLE handles[] = {m_hFrozen.get(), m_hProcess.get()};
        return WaitForMultipleObjects(2, handles, FALSE, kLongMs) == WAIT_OBJECT_0;
    }
    // Ends the process at once, as a crash would.
    void Kill()
    {
        if (IsRunning()) {
            TerminateProcess(m_hProcess.get(), 99);
            WaitForSingleObject(m_hProcess.get(), 10000);
        }
    }
    bool IsRunning() const { return m_hProcess && WaitForSingleObject(m_hProcess.get(), 0) == WAIT_TIMEOUT; }
    std::string Log() const { return TestFileExists(m_strLogPath) ? ReadTestFile(m_strLogPath) : std::string(); }
    bool LogHas(const std::string& text) const { return Log().find(text) != std::string::npos; }
    size_t LogCount(const std::string& text) const
    {
        const std::string log = Log();
        size_t n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1)) {
            ++n;
        }
        return n;
    }
    // Whether the log held the text in time (or just before the process ended).
    bool WaitForLog(const std::string& text, DWORD dwTimeoutMs) const
    {
        WaitUntil([&] { return LogHas(text) || !IsRunning(); }, dwTimeoutMs);
        return LogHas(text);
    }
    // The process's first visible window of the class (and title); null if none in time.
    HWND WaitForWindow(const wchar_t* pszClass, const wchar_t* pszTitle = nullptr) const
    {
        HWND hFound = nullptr;
        const auto found = [&] {
            while ((hFound = FindWindowExW(nullptr, hFound, pszClass, pszTitle)) != nullptr) {
                DWORD dwProcessId = 0;
                GetWindowThreadProcessId(hFound, &dwProcessId);
                if (dwProcessId == m_dwProcessId && IsWindowVisible(hFound)) {
                    return true;
                }
            }
            return !IsRunning();
        };
        WaitUntil(found, kLongMs);
        return hFound;
    }

private:
    CHandle m_hProcess;
    CHandle m_hFrozen;
    DWORD m_dwProcessId = 0;
    CString m_strLogPath;
};

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
    return CHandle(OpenMutexW(SYNCHRONIZE, FALSE, pszName)).valid();
}

bool UrlCacheHas(const CString& strUrl)
{
    DWORD cb = 0;
    GetUrlCacheEntryInfoW(strUrl, nullptr, &cb);
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

// As another browser process of the user's sets it.
void SetCookie(const CString& strUrl, const CString& strData)
{
    CHelperProcess helper;
    ASSERT_TRUE(helper.Start(L"set-cookie \"" + strUrl + L"\" \"" + strData + L"\" 0"));
    ASSERT_EQ(helper.Stop(), 0);
}

// No copy running, no recovery file, no question asked; no unwiped session left.
class Startup : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(NamedMutexExists(L"NULVANE_MUTEX")) << "a copy of the program still runs";
        ASSERT_FALSE(NamedMutexExists(L"NULVANE_CLEANUP")) << "a clean-up still runs";
        ASSERT_FALSE(TestFileExists(UserRecoveryFile())) << "an earlier test left its session unwiped";
        const CRegistry registry(HKEY_CURRENT_USER);
        const auto dwNow = static_cast<DWORD>(CTime::GetCurrentTime().GetTime());
        for (const auto& [pszName, dwValue] : {std::pair{L"FirstRun", dwNow}, std::pair{L"RI", DWORD(100)},
                                                std::pair{L"LastDefaultCheck", dwNow},
                                                std::pair{L"CreatedShortcut", DWORD(1)}}) {
            ASSERT_EQ(registry.WriteDword(L"SOFTWARE\\Nulvane", pszName, dwValue), ERROR_SUCCESS);
        }
    }
    void TearDown() override
    {
        if (TestFileExists(UserRecoveryFile())) {
            RunSilentCleanup();
        }
    }
    CString NextLog() { return m_work / FormatString(L"run%d.log", ++m_nRuns); }
    // A clean-up run after an unfinished session: 0, and the file is gone.
    void RunSilentCleanup()
    {
        CProgram cleanup;
        ASSERT_TRUE(cleanup.Start(L"--silentcleanup", NextLog()));
        EXPECT_EQ(cleanup.WaitForExit(), 0) << cleanup.Log();
        EXPECT_FALSE(TestFileExists(UserRecoveryFile()));
    }
    // A later copy ends with 0; the running one opens the whole URL it got.
    void HandOver(CProgram& running, const CString& strArguments, const std::string& expectedUrl)
    {
        SCOPED_TRACE("hand-over of a URL of " + std::to_string(expectedUrl.size()) + " characters");
        const size_t nNavigations = running.LogCount("OnBeforeNavigate2Explorer1 start");
        CProgram starting;
        ASSERT_TRUE(starting.Start(strArguments, NextLog()));
        EXPECT_EQ(starting.WaitForExit(), 0);
        // Messages of 1024 characters are dropped: the longest URLs show by their navigation.
        if (expectedUrl.size() < 1000) {
            ASSERT_TRUE(running.WaitForLog("CMSDIApp::OnOpenUrl " + expectedUrl + "\n", 20000));
        }
        EXPECT_TRUE(WaitUntil([&] { return running.LogCount("OnBeforeNavigate2Explorer1 start") > nNavigations; }));
    }

    CTempFolder m_work;
    int m_nRuns = 0;
};

}  // namespace

TEST_F(Startup, LaterCopiesHandTheirUrlOverAndStartsDuringTheCleanupWaitTheirTurn)
{
    const CString tag = UniqueTag();
    const CString preSession = L"http://" + tag + L".before.example/kept.html";
    ASSERT_FALSE(AddCacheEntry(preSession, "kept").IsEmpty());
    // The session browses a site on 127.0.0.1 whose cookie overwrites one of the user's.
    const CLoopbackSite site;
    const std::vector<CString> pages = {site.Url(L"/index.html"), site.Url(L"/news.html"), site.Url(L"/logo.png")};
    ASSERT_FALSE(pages[0].IsEmpty());
    SetCookie(site.Url(L"/"), L"visit=own-user" + CString(kExpiry));

    // The first copy's session is on record before anything is touched.
    CProgram first;
    ASSERT_TRUE(first.Start(pages[0], NextLog()));
    const HWND hFrame = first.WaitForWindow(kFrameClass);
    ASSERT_NE(hFrame, nullptr) << first.Log();
    ASSERT_TRUE(first.WaitForLog("CMSDIApp::InitInstance() opening the first window on " + pages[0].ToUtf8() + "\n",
                                 1000));
    EXPECT_TRUE(TestFileExists(UserRecoveryFile()));
    const std::string startLog = first.Log();
    EXPECT_LT(startLog.find("CMSDIApp::WriteRecoveryFile end\n"), startLog.find("CCookies::removeCookies()"));
    EXPECT_LT(startLog.find("CCookies::removeCookies() end"), startLog.find("opening the first window"));

    // URLs through an atom, the mapping, cut to fit; none or a switch: the home page.
    const std::string host = "http://" + tag.ToUtf8();
    const std::string longUrl = host + ".long.example/" + std::string(300, 'l');
    const std::string overlongUrl = host + ".overlong.example/" + std::string(1500, 'o');
    HandOver(first, CString::FromUtf8(host + ".short.example/page?q=1"), host + ".short.example/page?q=1");
    HandOver(first, L"-x \"" + CString::FromUtf8(longUrl) + L"\"", longUrl);
    HandOver(first, CString::FromUtf8(overlongUrl), overlongUrl.substr(0, 1023));
    HandOver(first, L"", kHomePage);
    HandOver(first, L"--silentcleanup", kHomePage);
    // The rest of the site; the rendering control itself caches each page
    // and stores the site's cookies.
    HandOver(first, pages[1], pages[1].ToUtf8());
    HandOver(first, pages[2], pages[2].ToUtf8());
    for (const CString& page : pages) {
        EXPECT_TRUE(WaitUntil([&] { return UrlCacheHas(page); }, 30000)) << page.ToUtf8();
    }
    EXPECT_EQ(LinesContaining(RunTraceAudit(L"cookieapi"), "\tvisit=session-home").size(), 1u);

    // The last window closes.
    ASSERT_TRUE(PostMessageW(hFrame, WM_CLOSE, 0, 0));
    ASSERT_TRUE(first.WaitForLog("Starting automatic cleanup at exit", 20000)) << first.Log();
    // A start during that clean-up asks the user to wait.
    CProgram waiting;
    const CString afterUrl = L"http://" + tag + L".after.example/";
    ASSERT_TRUE(waiting.Start(afterUrl, NextLog()));
    const HWND hBox = waiting.WaitForWindow(L"#32770", L"Information");
    ASSERT_NE(hBox, nullptr) << waiting.Log();
    EXPECT_TRUE(first.IsRunning()) << "the clean-up ended before the waiting box could be seen";
    ASSERT_TRUE(PostMessageW(hBox, WM_COMMAND, IDOK, 0));
    EXPECT_EQ(first.WaitForExit(), 0) << first.Log();

    // The waiting copy browses after the first session was wiped, its own on record.
    const HWND hSecondFrame = waiting.WaitForWindow(kFrameClass);
    ASSERT_NE(hSecondFrame, nullptr) << waiting.Log();
    EXPECT_TRUE(waiting.LogHas("opening the first window on " + afterUrl.ToUtf8() + "\n"));
    EXPECT_FALSE(waiting.LogHas("RunRecoveryCleanup"));
    for (const CString& page : pages) {
        EXPECT_FALSE(UrlCacheHas(page)) << page.ToUtf8();
    }
    EXPECT_TRUE(UrlCacheHas(preSession));
    EXPECT_TRUE(TestFileExists(UserRecoveryFile()));

    // The boss command ends it; the data folder goes with its last file.
    ASSERT_TRUE(PostMessageW(hSecondFrame, WM_COMMAND, 32819, 0));
    EXPECT_EQ(waiting.WaitForExit(), 0) << waiting.Log();
    // The user's cookie is back; the site's own is gone.
    const std::vector<std::string> cookies = RunTraceAudit(L"cookieapi");
    EXPECT_EQ(LinesContaining(cookies, "\tvisit=own-user").size(), 1u);
    EXPECT_TRUE(LinesContaining(cookies, "seen=news").empty());
    EXPECT_FALSE(TestFileExists(AppDataFolder() + L"\\Nulvane"));
}

TEST_F(Startup, RegisterAndCleanupRunsRecordTheirLauncherAndEndWithZero)
{
    // The registration is for the launcher: this test program.
    wchar_t szOwnPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szOwnPath, MAX_PATH);
    const CString ownPath = szOwnPath;
    const CString clientKey = L"SOFTWARE\\Clients\\StartMenuInternet\\" + CDefaultBrowser(ownPath).GetClientName();
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, clientKey);
    CProgram registration;
    ASSERT_TRUE(registration.Start(L"--register http://ignored.example/", NextLog()));
    EXPECT_EQ(registration.WaitForExit(), 0);
    CString strCommand, strFolder, strName;
    EXPECT_EQ(CRegistry(HKEY_LOCAL_MACHINE).ReadString(clientKey + L"\\shell\\open\\command", nullptr, strCommand),
              ERROR_SUCCESS);
    EXPECT_EQ(strCommand, L"\"" + ownPath + L"\"");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, clientKey);

    // A clean-up run waits while another program holds the gate, then passes through.
    RegDeleteKeyW(HKEY_CURRENT_USER, L"software\\nulvane");
    const wchar_t* const pszGate = L"6176ED1D-8863-40ca-AB73-2AA541FB9DC8";
    CHelperProcess holder;
    ASSERT_TRUE(holder.Start(CString(L"own-mutex ") + pszGate));
    CProgram cleanup;
    ASSERT_TRUE(cleanup.Start(L"--cleanup --silentcleanup", NextLog()));
    ASSERT_TRUE(cleanup.WaitForLog("CMSDIApp::WaitForCleanupGate waiting for", 30000)) << cleanup.Log();
    EXPECT_EQ(cleanup.WaitForExit(1000), -1) << "the run went on while the gate was held";
    EXPECT_EQ(holder.Stop(), 0);
    EXPECT_EQ(cleanup.WaitForExit(), 0) << cleanup.Log();
    EXPECT_FALSE(NamedMutexExists(pszGate));
    // Every run records its launcher and its build.
    const CRegistry user(HKEY_CURRENT_USER);
    DWORD dwBuild = 0;
    EXPECT_TRUE(user.ReadDword(L"software\\nulvane", L"Version", dwBuild) == ERROR_SUCCESS && dwBuild == 1024);
    EXPECT_EQ(user.ReadString(L"software\\nulvane", L"path", strFolder), ERROR_SUCCESS);
    EXPECT_EQ(user.ReadString(L"software\\nulvane", L"EXEName", strName), ERROR_SUCCESS);
    EXPECT_EQ(strFolder + L"\\" + strName, ownPath);
}

TEST_F(Startup, AKillOrFailedExitBetweenRecordAndWipeLeavesAFileTheNextRunWipesFrom)
{
    // The user's own browsing in every store, a second before any session.
    const CString tag = UniqueTag();
    const CString flashSite = AppDataFolder() + L"\\Macromedia\\Flash Player\\#SharedObjects\\KILL\\" + tag +
                              L".example\\";
    const CString javaFolder = AppDataFolder() + L"\\Sun\\Java\\Deployment\\cache\\6.0\\" + tag + L"\\";
    const CString shop = L"http://" + tag + L".shop.example/";
    const CString page = L"http://" + tag + L".before.example/page.html";
    SetCookie(shop, L"basket=3" + CString(kExpiry));
    EXPECT_FALSE(AddCacheEntry(page, "before").IsEmpty());
    EXPECT_TRUE(AddHistoryEntry(page));
    WriteTestFile(flashSite + L"game.swf\\state.sol", "score=10");
    WriteTestFile(javaFolder + L"applet.jar", "applet");
    const std::vector<std::string> before = RunTraceAudit(L"");

    const struct {
        const char* pszName;
        // The log text the program freezes at; empty: killed while it browses.
        const wchar_t* pszFreezeAt;
        bool bCloseFirst;
        // A session file held without sharing: the exit clean-up fails.
        bool bHeld;
    } points[] = {
        {"while browsing", L"", false, false},
        {"during the start-up cookie removal", L"removing cookies", false, false},
        {"in the middle of the exit clean-up", L"Notify of m_pHistory start", true, false},
        {"after an exit clean-up that failed", L"", true, true},
    };
    for (const auto& point : points) {
        SCOPED_TRACE(point.pszName);
        CProgram browsing;
        ASSERT_TRUE(browsing.Start(L"", NextLog(), point.pszFreezeAt));
        HWND hFrame = nullptr;
        if (point.pszFreezeAt[0] == L'\0' || point.bCloseFirst) {
            hFrame = browsing.WaitForWindow(kFrameClass);
            ASSERT_NE(hFrame, nullptr) << browsing.Log();
        } else {
            ASSERT_TRUE(browsing.WaitUntilFrozen()) << browsing.Log();
        }
        // The session's traces in every store, the user's cookie changed.
        SetCookie(shop, L"basket=99" + CString(kExpiry));
        SetCookie(L"http://" + tag + L".tracker.example/", L"id=" + tag + kExpiry);
        const CString session = FormatString(L"http://%s.session.example/%d.html", tag.GetString(), m_nRuns);
        ASSERT_FALSE(AddCacheEntry(session, "session").IsEmpty());
        ASSERT_TRUE(AddHistoryEntry(session));
        ASSERT_TRUE(AddHistoryEntry(page));  // visited again
        WriteTestFile(flashSite + L"game.swf\\state.sol", "score=999");
        WriteTestFile(flashSite + L"new.swf\\session.sol", "session");
        WriteTestFile(javaFolder + L"session.jar", "session");
        if (point.bCloseFirst) {
            CHelperProcess holder;
            ASSERT_TRUE(!point.bHeld || holder.Start(L"hold-file \"" + javaFolder + L"session.jar\" none"));
            ASSERT_TRUE(PostMessageW(hFrame, WM_CLOSE, 0, 0));
            if (point.bHeld) {
                // Held through the check's second pass too: the dialog says so once the clean-up ends.
                const HWND hDialog = browsing.WaitForWindow(L"#32770", L"Cleaning...");
                wchar_t szLine[256] = L"";
                WaitUntil([&] { return GetDlgItemTextW(hDialog, 1110, szLine, 256) > 0 || !IsWindow(hDialog); }, kLongMs);
                EXPECT_STREQ(szLine, L"1 item could not be removed yet; it will be removed the next time Nulvane starts");
                EXPECT_EQ(browsing.WaitForExit(), 10) << browsing.Log();
            } else {
                ASSERT_TRUE(browsing.WaitUntilFrozen()) << browsing.Log();
                // Frozen where the cookies are back and the history is not wiped.
                EXPECT_TRUE(browsing.LogHas("m_pCookies->RunBackgroundTask() result = true"));
            }
        }
        browsing.Kill();
        ASSERT_TRUE(TestFileExists(UserRecoveryFile()));
        RunSilentCleanup();
        // The user's traces kept, the session's gone (the audit alone reads the Flash file).
        const CTraceSummary diff = CTraceComparison::Compare(before, {}, RunTraceAudit(L""));
        EXPECT_EQ(diff.lost, std::vector<std::string>{});
        EXPECT_EQ(diff.left, std::vector<std::string>{});
    }
}

// The program run as processes of its own under Wine (nulvane_test_program.exe,
// the program with its log lines written to a file): two copies against each
// other, the registration and clean-up runs, a failed exit clean-up, and
// browsing copies killed at fixed points between the recovery file's writing
// and the end of their clean-up, whose session the next run wipes down to the
// user's stores as they were. The trace audit, a process of its own, judges
// the user's stores before and after.
#include <windows.h>
#include <shlobj.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "app/InstanceWnd.h"
#include "framework/Registry.h"
#include "framework/Time.h"
#include "shell/DefaultBrowser.h"
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
const std::string kHomePage = "http://www.nulvane.com/?v=1024";

// Polls every 50 ms until the condition holds; whether it did in time.
bool WaitUntil(const std::function<bool()>& condition, DWORD dwTimeoutMs)
{
    for (const DWORD dwStart = GetTickCount(); !condition(); Sleep(50)) {
        if (GetTickCount() - dwStart > dwTimeoutMs) {
            return false;
        }
    }
    return true;
}

size_t Count(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

// One run of the program with its arguments; its log goes to a file. With
// a freeze text, the program stops for good in the thread that logs the
// first line containing it. Destroying a run that is still going kills it.
class CProgram {
public:
    ~CProgram() { Kill(); }

    bool Start(const CString& strArguments, const CString& strLogPath, const CString& strFreezeAt = CString())
    {
        static std::atomic<unsigned> runs{0};
        m_strLogPath = strLogPath;
        const CString strFrozen = FormatString(L"nulvane-test-frozen-%lu-%u", GetCurrentProcessId(), runs++);
        m_hFrozen.reset(CreateEventW(nullptr, TRUE, FALSE, strFrozen));
        // This process's environment with the program's test variables.
        std::vector<wchar_t> env;
        wchar_t* pszStrings = GetEnvironmentStringsW();
        for (const wchar_t* psz = pszStrings; *psz != L'\0'; psz += wcslen(psz) + 1) {
            if (_wcsnicmp(psz, L"NULVANE_TEST_", 13) != 0) {
                env.insert(env.end(), psz, psz + wcslen(psz) + 1);
            }
        }
        FreeEnvironmentStringsW(pszStrings);
        for (const CString& strEntry : {L"NULVANE_TEST_LOG=" + strLogPath, L"NULVANE_TEST_FREEZE_AT=" + strFreezeAt,
                                        L"NULVANE_TEST_FROZEN=" + strFrozen}) {
            if (strEntry.Right(1) != L"=") {
                env.insert(env.end(), strEntry.GetString(), strEntry.GetString() + strEntry.GetLength() + 1);
            }
        }
        env.push_back(L'\0');
        CString commandLine = L"\"" + TestProgramFolder() + L"nulvane_test_program.exe\" " + strArguments;
        STARTUPINFOW si = {sizeof(si)};
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(nullptr, commandLine.GetBuffer(0), nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                            env.data(), nullptr, &si, &pi)) {
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
    bool WaitUntilFrozen(DWORD dwTimeoutMs = kLongMs)
    {
        const HANDLE handles[] = {m_hFrozen.get(), m_hProcess.get()};
        return WaitForMultipleObjects(2, handles, FALSE, dwTimeoutMs) == WAIT_OBJECT_0;
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
    // False when the log did not hold the text in time, or the process ended
    // without it (a line written just before it ended still counts).
    bool WaitForLog(const std::string& text, DWORD dwTimeoutMs) const
    {
        WaitUntil([&] { return LogHas(text) || !IsRunning(); }, dwTimeoutMs);
        return LogHas(text);
    }
    // Every visible top-level window of the process with the class (and
    // the title, when given).
    std::vector<HWND> Windows(const wchar_t* pszClass, const wchar_t* pszTitle = nullptr) const
    {
        std::vector<HWND> found;
        for (HWND hWnd = nullptr; (hWnd = FindWindowExW(nullptr, hWnd, pszClass, pszTitle)) != nullptr;) {
            DWORD dwProcessId = 0;
            GetWindowThreadProcessId(hWnd, &dwProcessId);
            if (dwProcessId == m_dwProcessId && IsWindowVisible(hWnd)) {
                found.push_back(hWnd);
            }
        }
        return found;
    }
    // The first such window to appear; null when none did in time.
    HWND WaitForWindow(const wchar_t* pszClass, const wchar_t* pszTitle = nullptr) const
    {
        std::vector<HWND> windows;
        WaitUntil([&] { return !(windows = Windows(pszClass, pszTitle)).empty() || !IsRunning(); }, kLongMs);
        return windows.empty() ? nullptr : windows.front();
    }
    DWORD ProcessId() const { return m_dwProcessId; }

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

// What every test that starts a copy needs first: no copy of the program
// running, no recovery file left, the default-browser offer already made
// this month, so that no question waits for an answer; and a work folder
// for the logs. The fixture goes after the test's processes: a test that
// stopped half-way leaves no unwiped session for the next one.
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
            RunSilentCleanup(L"leftover.log");
        }
    }
    // A clean-up run after an unfinished session: 0, and the file is gone.
    void RunSilentCleanup(const wchar_t* pszLogName)
    {
        CProgram cleanup;
        ASSERT_TRUE(cleanup.Start(L"--silentcleanup", m_work / pszLogName));
        EXPECT_EQ(cleanup.WaitForExit(), 0) << cleanup.Log();
        EXPECT_FALSE(TestFileExists(UserRecoveryFile()));
    }
    // A copy started while the running one browses: it ends at once with 0,
    // having handed over, and the running copy opens the URL it got in its
    // window. The log line carries the URL whole, so its end is checked too.
    void HandOver(CProgram& running, const CString& strArguments, const std::string& expectedUrl)
    {
        SCOPED_TRACE("hand-over of a URL of " + std::to_string(expectedUrl.size()) + " characters");
        const size_t nNavigations = Count(running.Log(), "OnBeforeNavigate2Explorer1 start");
        CProgram starting;
        ASSERT_TRUE(starting.Start(strArguments, m_work / FormatString(L"start%d.log", ++m_nRuns)));
        EXPECT_EQ(starting.WaitForExit(), 0);
        // A log message of 1024 characters or more is dropped whole: the
        // longest URLs are seen arriving only by the navigation they start.
        if (expectedUrl.size() < 1000) {
            ASSERT_TRUE(running.WaitForLog("CMSDIApp::OnOpenUrl " + expectedUrl + "\n", 20000));
        }
        EXPECT_TRUE(WaitUntil(
            [&] { return Count(running.Log(), "OnBeforeNavigate2Explorer1 start") > nNavigations; }, 10000));
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
    // The session starts in a later second: its start is kept in seconds.
    const CTime seeded = CTime::GetCurrentTime();
    WaitUntil([&] { return CTime::GetCurrentTime() > seeded; }, 5000);

    // The first copy browses its home page; its session was on record
    // before anything was touched and its first window opened.
    CProgram first;
    ASSERT_TRUE(first.Start(L"", m_work / L"first.log"));
    const HWND hFrame = first.WaitForWindow(kFrameClass);
    ASSERT_NE(hFrame, nullptr) << first.Log();
    ASSERT_TRUE(first.WaitForLog("CMSDIApp::InitInstance() opening the first window on " + kHomePage + "\n", 1000));
    EXPECT_TRUE(TestFileExists(UserRecoveryFile()));
    const std::string startLog = first.Log();
    EXPECT_LT(startLog.find("CMSDIApp::WriteRecoveryFile end\n"), startLog.find("CCookies::removeCookies()"));
    EXPECT_LT(startLog.find("CCookies::removeCookies() end"), startLog.find("opening the first window"));
    // Found by class and by the title with its two literal characters.
    const HWND hInstance = FindWindowW(CInstanceWnd::kClassName, L"Nulvane %s");
    DWORD dwOwner = 0;
    GetWindowThreadProcessId(hInstance, &dwOwner);
    EXPECT_EQ(dwOwner, first.ProcessId());
    EXPECT_FALSE(IsWindowVisible(hInstance));

    // Later starts hand over: a short URL through an atom, a long one
    // through the mapping, one too long for the mapping cut to fit it, and
    // none at all, or a clean-up switch, for which the running copy opens
    // its home page.
    const std::string host = "http://" + tag.ToUtf8();
    const std::string longUrl = host + ".long.example/" + std::string(300, 'l');
    const std::string overlongUrl = host + ".overlong.example/" + std::string(1500, 'o');
    HandOver(first, CString::FromUtf8(host + ".short.example/page?q=1"), host + ".short.example/page?q=1");
    HandOver(first, L"-x \"" + CString::FromUtf8(longUrl) + L"\"", longUrl);
    HandOver(first, CString::FromUtf8(overlongUrl), overlongUrl.substr(0, 1023));
    HandOver(first, L"", kHomePage);
    HandOver(first, L"--silentcleanup", kHomePage);

    // With a second window open, the newest one takes the URL: it comes
    // back from the task bar, while the older one stays there.
    ASSERT_TRUE(PostMessageW(hFrame, WM_COMMAND, 57600, 0));  // New Window
    HWND hNewest = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const HWND hWnd : first.Windows(kFrameClass)) {
                hNewest = hWnd != hFrame ? hWnd : hNewest;
            }
            return hNewest != nullptr;
        },
        kLongMs));
    ShowWindow(hFrame, SW_MINIMIZE);
    ShowWindow(hNewest, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(hFrame) && IsIconic(hNewest));
    HandOver(first, CString::FromUtf8(host + ".newest.example/"), host + ".newest.example/");
    EXPECT_TRUE(WaitUntil([&] { return !IsIconic(hNewest); }, 10000));
    EXPECT_TRUE(IsIconic(hFrame));
    ASSERT_TRUE(PostMessageW(hNewest, WM_CLOSE, 0, 0));
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(hNewest); }, 10000));
    EXPECT_TRUE(first.IsRunning()) << "the session ended with a window left";

    // The session's own trace, then the last window closes.
    const CString session = L"http://" + tag + L".session.example/gone.html";
    ASSERT_FALSE(AddCacheEntry(session, "session").IsEmpty());
    ASSERT_TRUE(PostMessageW(hFrame, WM_CLOSE, 0, 0));
    ASSERT_TRUE(first.WaitForLog("Starting automatic cleanup at exit", 20000)) << first.Log();
    // A start during that clean-up asks the user to wait...
    CProgram waiting;
    const CString afterUrl = L"http://" + tag + L".after.example/";
    ASSERT_TRUE(waiting.Start(afterUrl, m_work / L"waiting.log"));
    const HWND hBox = waiting.WaitForWindow(L"#32770", L"Information");
    ASSERT_NE(hBox, nullptr) << waiting.Log();
    EXPECT_TRUE(first.IsRunning()) << "the clean-up ended before the waiting box could be seen";
    // ...and a third start meanwhile ends at once, showing nothing.
    CProgram third;
    ASSERT_TRUE(third.Start(L"http://third.example/", m_work / L"third.log"));
    EXPECT_EQ(third.WaitForExit(), 0);
    EXPECT_FALSE(third.LogHas("CLanguageManagerResource")) << third.Log();
    ASSERT_TRUE(PostMessageW(hBox, WM_COMMAND, IDOK, 0));
    EXPECT_EQ(first.WaitForExit(), 0) << first.Log();

    // The waiting copy then browses on its own. The first copy's exit took
    // its recovery file away: this start found none, and its session began
    // after the first one's was wiped, and is on record.
    const HWND hSecondFrame = waiting.WaitForWindow(kFrameClass);
    ASSERT_NE(hSecondFrame, nullptr) << waiting.Log();
    EXPECT_TRUE(waiting.LogHas("opening the first window on " + afterUrl.ToUtf8() + "\n"));
    EXPECT_FALSE(waiting.LogHas("RunRecoveryCleanup"));
    EXPECT_FALSE(UrlCacheHas(session));
    EXPECT_TRUE(UrlCacheHas(preSession));
    EXPECT_TRUE(TestFileExists(UserRecoveryFile()));

    // The boss command ends it without a dialog; the data folder goes with
    // its last file.
    ASSERT_TRUE(PostMessageW(hSecondFrame, WM_COMMAND, 32819, 0));
    EXPECT_EQ(waiting.WaitForExit(), 0) << waiting.Log();
    EXPECT_FALSE(TestFileExists(AppDataFolder() + L"\\Nulvane"));
    EXPECT_TRUE(UrlCacheHas(preSession));
    DeleteUrlCacheEntryW(preSession);
}

TEST_F(Startup, RegisterAndCleanupRunsEndWithZeroAndTouchOnlyTheirValues)
{
    const CRegistry user(HKEY_CURRENT_USER);
    const CRegistry machine(HKEY_LOCAL_MACHINE);
    // The registration is for the launcher: this test program.
    wchar_t szOwnPath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, szOwnPath, MAX_PATH);
    const CString ownPath = szOwnPath;
    const CString clientKey =
        L"SOFTWARE\\Clients\\StartMenuInternet\\" + CDefaultBrowser(ownPath).GetClientName();
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, clientKey);
    RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Microsoft\\FTP", L"Use Web Based FTP");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"software\\nulvane");

    // "--register" first: the registration, nothing else.
    CProgram registration;
    ASSERT_TRUE(registration.Start(L"--register http://ignored.example/", m_work / L"register.log"));
    EXPECT_EQ(registration.WaitForExit(), 0);
    CString strCommand, strFolder, strName;
    EXPECT_EQ(machine.ReadString(clientKey + L"\\shell\\open\\command", nullptr, strCommand), ERROR_SUCCESS);
    EXPECT_EQ(strCommand, L"\"" + ownPath + L"\"");
    EXPECT_EQ(user.ReadString(L"software\\nulvane", L"path", strFolder), ERROR_SUCCESS);
    EXPECT_EQ(user.ReadString(L"software\\nulvane", L"EXEName", strName), ERROR_SUCCESS);
    EXPECT_EQ(strFolder + L"\\" + strName, ownPath);

    // Later on the line "--register" is skipped like any switch; this is a
    // clean-up run with no recovery file: nothing to wipe, and it ends.
    // Only the version and the launcher are written, not the browsing
    // settings.
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, clientKey);
    CProgram cleanup;
    ASSERT_TRUE(cleanup.Start(L"--silentcleanup --register", m_work / L"cleanup.log"));
    EXPECT_EQ(cleanup.WaitForExit(), 0);
    EXPECT_FALSE(cleanup.LogHas("Running cleanup")) << cleanup.Log();
    EXPECT_FALSE(machine.KeyExists(clientKey));
    EXPECT_FALSE(TestFileExists(UserRecoveryFile()));
    CString strFtp;
    EXPECT_NE(user.ReadString(L"Software\\Microsoft\\FTP", L"Use Web Based FTP", strFtp), ERROR_SUCCESS);
}

TEST_F(Startup, TheCleanupGateIsWaitedForWhileAnotherProgramHoldsItAndOnlyPassedThrough)
{
    const wchar_t* const pszGate = L"6176ED1D-8863-40ca-AB73-2AA541FB9DC8";
    CHelperProcess holder;
    ASSERT_TRUE(holder.Start(CString(L"own-mutex ") + pszGate));
    CProgram cleanup;
    ASSERT_TRUE(cleanup.Start(L"--cleanup --silentcleanup", m_work / L"gate.log"));
    ASSERT_TRUE(cleanup.WaitForLog("CMSDIApp::WaitForCleanupGate waiting for", 30000)) << cleanup.Log();
    EXPECT_EQ(cleanup.WaitForExit(1000), -1) << "the run went on while the gate was held";
    EXPECT_EQ(holder.Stop(), 0);
    EXPECT_EQ(cleanup.WaitForExit(), 0) << cleanup.Log();
    // Passed through: the gate is left to whoever comes next.
    EXPECT_FALSE(NamedMutexExists(pszGate));
    // A free gate is not waited for at all.
    CProgram free;
    ASSERT_TRUE(free.Start(L"--silentcleanup --cleanup", m_work / L"free.log"));
    EXPECT_EQ(free.WaitForExit(), 0);
    EXPECT_FALSE(free.LogHas("WaitForCleanupGate waiting")) << free.Log();
}

TEST_F(Startup, AFailedExitCleanupEndsWithTenAndTheNextRunFinishesIt)
{
    const CString tag = UniqueTag();
    const CString javaFolder = AppDataFolder() + L"\\Sun\\Java\\Deployment\\cache\\6.0\\" + tag;
    const CString heldFile = javaFolder + L"\\held.jar";
    CProgram browsing;
    ASSERT_TRUE(browsing.Start(L"http://" + tag + L".example/", m_work / L"browsing.log"));
    const HWND hFrame = browsing.WaitForWindow(kFrameClass);
    ASSERT_NE(hFrame, nullptr) << browsing.Log();
    // A file of the session that another process holds without sharing:
    // the Java cache cleaner cannot delete it.
    WriteTestFile(heldFile, "session");
    {
        CHelperProcess holder;
        ASSERT_TRUE(holder.Start(L"hold-file \"" + heldFile + L"\" none"));
        ASSERT_TRUE(PostMessageW(hFrame, WM_CLOSE, 0, 0));
        EXPECT_EQ(browsing.WaitForExit(), 10) << browsing.Log();
        EXPECT_TRUE(TestFileExists(UserRecoveryFile()));
        EXPECT_TRUE(TestFileExists(heldFile));
    }
    // Let go, the next run wipes what is left.
    RunSilentCleanup(L"cleanup.log");
    EXPECT_FALSE(TestFileExists(heldFile));
    RemoveTestTree(javaFolder);
}

TEST_F(Startup, AKillAnywhereBetweenRecordAndWipeLeavesAFileTheNextRunWipesFrom)
{
    // The user's own browsing before the sessions, in every store, under a
    // tag no earlier run used, made in an earlier second than any session.
    const CString tag = UniqueTag();
    const CString flashSite = AppDataFolder() + L"\\Macromedia\\Flash Player\\#SharedObjects\\KILL\\" + tag +
                              L".example\\";
    const CString javaFolder = AppDataFolder() + L"\\Sun\\Java\\Deployment\\cache\\6.0\\" + tag + L"\\";
    const CString shop = L"http://" + tag + L".shop.example/";
    const CString page = L"http://" + tag + L".before.example/page.html";
    const CString other = L"http://" + tag + L".before.example/other.html";
    SetCookie(shop, L"basket=3" + CString(kExpiry));
    SetCookie(shop + L"account/", L"user=ann" + CString(kExpiry));
    EXPECT_FALSE(AddCacheEntry(page, "before").IsEmpty());
    EXPECT_TRUE(AddHistoryEntry(page));
    EXPECT_TRUE(AddHistoryEntry(other));
    WriteTestFile(flashSite + L"game.swf\\state.sol", "score=10");
    WriteTestFile(javaFolder + L"applet.jar", "applet");
    const std::vector<std::string> before = RunTraceAudit(L"");
    const CTime seeded = CTime::GetCurrentTime();
    WaitUntil([&] { return CTime::GetCurrentTime() > seeded; }, 5000);

    const struct {
        const char* pszName;
        // The log text the program freezes at; empty: killed while it browses.
        const wchar_t* pszFreezeAt;
        bool bCloseFirst;
    } points[] = {
        {"while browsing", L"", false},
        {"during the start-up cookie removal", L"removing cookies", false},
        {"in the middle of the exit clean-up", L"Notify of m_pHistory start", true},
    };
    for (const auto& point : points) {
        SCOPED_TRACE(point.pszName);
        CProgram browsing;
        ASSERT_TRUE(browsing.Start(L"", m_work / FormatString(L"browsing%d.log", ++m_nRuns), point.pszFreezeAt));
        HWND hFrame = nullptr;
        if (point.pszFreezeAt[0] == L'\0' || point.bCloseFirst) {
            hFrame = browsing.WaitForWindow(kFrameClass);
            ASSERT_NE(hFrame, nullptr) << browsing.Log();
        } else {
            ASSERT_TRUE(browsing.WaitUntilFrozen()) << browsing.Log();
        }
        // What the session leaves in every store, the pre-session cookie
        // changed among them.
        SetCookie(shop, L"basket=99" + CString(kExpiry));
        SetCookie(L"http://" + tag + L".tracker.example/", L"id=" + tag + kExpiry);
        const CString session = FormatString(L"http://%s.session.example/%d.html", tag.GetString(), m_nRuns);
        ASSERT_FALSE(AddCacheEntry(session, "session").IsEmpty());
        ASSERT_TRUE(AddHistoryEntry(session));
        ASSERT_TRUE(AddHistoryEntry(page));  // visited again
        WriteTestFile(flashSite + L"game.swf\\state.sol", "score=999");
        WriteTestFile(flashSite + L"new.swf\\session.sol", "session");
        WriteTestFile(flashSite + L"new.swf\\session.sxx", "session");
        WriteTestFile(javaFolder + L"session.jar", "session");
        if (point.bCloseFirst) {
            ASSERT_TRUE(PostMessageW(hFrame, WM_CLOSE, 0, 0));
            ASSERT_TRUE(browsing.WaitUntilFrozen()) << browsing.Log();
            // Frozen where the cookies are back and the history is not wiped.
            EXPECT_TRUE(browsing.LogHas("m_pCookies->RunBackgroundTask() result = true"));
        }
        browsing.Kill();
        ASSERT_TRUE(TestFileExists(UserRecoveryFile()));
        RunSilentCleanup(FormatString(L"cleanup%d.log", m_nRuns));
        // Every trace of the user's kept, every trace of the session gone.
        // (The audit compares the Flash file's bytes and times: reading it
        // here would change its last access before the next session.)
        const CTraceSummary diff = CTraceComparison::Compare(before, {}, RunTraceAudit(L""));
        EXPECT_EQ(diff.lost, std::vector<std::string>{});
        EXPECT_EQ(diff.left, std::vector<std::string>{});
    }
    DeleteUrlCacheEntryW(page);
    DeleteUrlCacheEntryW(L"Visited: user@" + page);
    DeleteUrlCacheEntryW(L"Visited: user@" + other);
    InternetSetCookieW(shop, nullptr, L"basket=gone; expires=Sat, 01-Jan-2000 00:00:00 GMT");
    InternetSetCookieW(shop + L"account/", nullptr, L"user=gone; expires=Sat, 01-Jan-2000 00:00:00 GMT");
    RemoveTestTree(flashSite.Left(flashSite.GetLength() - 1));
    RemoveTestTree(javaFolder.Left(javaFolder.GetLength() - 1));
}

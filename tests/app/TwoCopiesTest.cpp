// Running copies of the program against each other, each a process of its
// own under Wine: a browsing copy, the copies started while it browses, and
// the copies started while it wipes its session. What the running copy did
// is read from its log lines; its windows are found on the desktop.
#include <windows.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <string>

#include "app/InstanceWnd.h"
#include "framework/Time.h"
#include "tests/app/ProgramProcess.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr DWORD kWindowTimeoutMs = 60000;
constexpr DWORD kExitTimeoutMs = 60000;
constexpr DWORD kBossCommand = 32819;
constexpr DWORD kNewWindowCommand = 57600;
const std::string kHomePage = "http://www.nulvane.com/?v=1024";

size_t Count(const std::string& text, const std::string& part)
{
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++n;
    }
    return n;
}

size_t Position(const std::string& text, const std::string& part)
{
    const size_t at = text.find(part);
    EXPECT_NE(at, std::string::npos) << "no \"" << part << "\" in the log";
    return at;
}

bool UrlCacheHas(const CString& strUrl)
{
    DWORD cb = 0;
    GetUrlCacheEntryInfoW(strUrl, nullptr, &cb);
    return GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

// A copy started while the running one browses: it ends at once with 0,
// having handed over, and the running copy opens the URL it got in its
// window. The log line carries the URL whole, so its end is checked too.
void HandOver(const CTempFolder& work, CProgramProcess& running, const CString& strArguments,
              const std::string& expectedUrl, int nRun)
{
    SCOPED_TRACE("hand-over of a URL of " + std::to_string(expectedUrl.size()) + " characters");
    const size_t nNavigationsBefore = Count(running.Log(), "OnBeforeNavigate2Explorer1 start");
    CProgramProcess starting;
    ASSERT_TRUE(starting.Start(strArguments, work / FormatString(L"start%d.log", nRun)));
    EXPECT_EQ(starting.WaitForExit(kExitTimeoutMs), 0);
    EXPECT_TRUE(starting.LogHas("CMSDIApp::InitInstance() Other version is running.  Going to Exit"))
        << starting.Log();
    // A log message of 1024 characters or more is dropped whole: the
    // longest URLs are seen arriving only by the navigation they start.
    if (expectedUrl.size() < 1000) {
        ASSERT_TRUE(running.WaitForLog("CMSDIApp::OnOpenUrl " + expectedUrl + "\n", 20000))
            << running.Log().substr(running.Log().size() > 3000 ? running.Log().size() - 3000 : 0);
    }
    // The window took the URL: its control began a navigation.
    EXPECT_TRUE(WaitUntil([&] { return Count(running.Log(), "OnBeforeNavigate2Explorer1 start") > nNavigationsBefore; },
                          10000));
}

}  // namespace

TEST(TwoCopies, LaterStartsHandTheirUrlOverAndStartsDuringTheCleanupWaitTheirTurn)
{
    PrepareForBrowsingStart();
    const CLeftoverSessionWiper wiper;
    CTempFolder work;
    const CString tag = UniqueTag();
    const CString preSession = L"http://" + tag + L".before.example/kept.html";
    ASSERT_FALSE(AddCacheEntry(preSession, "kept").IsEmpty());
    // The session starts in a later second: its start is kept in seconds.
    const CTime seeded = CTime::GetCurrentTime();
    while (CTime::GetCurrentTime() <= seeded) {
        Sleep(50);
    }

    // The first copy browses its home page.
    CProgramProcess first;
    ASSERT_TRUE(first.Start(L"", work / L"first.log"));
    const HWND hFrame = first.WaitForWindow(kFrameClass, kWindowTimeoutMs);
    ASSERT_NE(hFrame, nullptr) << first.Log();
    ASSERT_TRUE(first.WaitForLog("CMSDIApp::InitInstance() opening the first window on " + kHomePage + "\n", 1000));
    // The session was on record before its first window opened.
    EXPECT_TRUE(TestFileExists(UserRecoveryFile()));
    const std::string startLog = first.Log();
    EXPECT_LT(Position(startLog, "CMSDIApp::WriteRecoveryFile end\n"), Position(startLog, "CCookies::removeCookies()"));
    EXPECT_LT(Position(startLog, "CCookies::removeCookies() end"), Position(startLog, "opening the first window"));
    // Found by class and by the title with its two literal characters.
    const HWND hInstance = FindWindowW(CInstanceWnd::kClassName, L"Nulvane %s");
    ASSERT_NE(hInstance, nullptr);
    DWORD dwOwner = 0;
    GetWindowThreadProcessId(hInstance, &dwOwner);
    EXPECT_EQ(dwOwner, first.ProcessId());
    EXPECT_FALSE(IsWindowVisible(hInstance));

    // Later starts hand over: a short URL through an atom, a long one
    // through the mapping, one too long for the mapping cut to fit it, and
    // none at all, for which the running copy opens its home page.
    const std::string shortUrl = "http://" + tag.ToUtf8() + ".short.example/page?q=1";
    std::string longUrl = "http://" + tag.ToUtf8() + ".long.example/";
    longUrl += std::string(300 - longUrl.size(), 'l');
    std::string overlongUrl = "http://" + tag.ToUtf8() + ".overlong.example/";
    overlongUrl += std::string(1500 - overlongUrl.size(), 'o');
    HandOver(work, first, CString::FromUtf8(shortUrl), shortUrl, 1);
    HandOver(work, first, L"-x \"" + CString::FromUtf8(longUrl) + L"\"", longUrl, 2);
    HandOver(work, first, CString::FromUtf8(overlongUrl), overlongUrl.substr(0, 1023), 3);
    EXPECT_NE(ReadTestFile(work / L"start3.log").find("CUrlHandOff a URL of 1500 characters was cut to 1023"),
              std::string::npos);
    HandOver(work, first, L"", kHomePage, 4);
    // A clean-up switch while a copy browses is a hand-over too.
    HandOver(work, first, L"--silentcleanup", kHomePage, 5);
    EXPECT_TRUE(first.IsRunning());

    // With a second window open, the newest one takes the URL: it comes
    // back from the task bar, while the older one stays there.
    ASSERT_TRUE(PostMessageW(hFrame, WM_COMMAND, kNewWindowCommand, 0));
    HWND hNewest = nullptr;
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const HWND hWnd : first.Windows(kFrameClass)) {
                hNewest = hWnd != hFrame ? hWnd : hNewest;
            }
            return hNewest != nullptr;
        },
        kWindowTimeoutMs))
        << first.Log();
    ShowWindow(hFrame, SW_MINIMIZE);
    ShowWindow(hNewest, SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(hFrame) && IsIconic(hNewest));
    const std::string newestUrl = "http://" + tag.ToUtf8() + ".newest.example/";
    HandOver(work, first, CString::FromUtf8(newestUrl), newestUrl, 6);
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
    CProgramProcess waiting;
    const CString afterUrl = L"http://" + tag + L".after.example/";
    ASSERT_TRUE(waiting.Start(afterUrl, work / L"waiting.log"));
    const HWND hBox = waiting.WaitForWindow(L"#32770", 20000, L"Information");
    ASSERT_NE(hBox, nullptr) << waiting.Log();
    EXPECT_TRUE(first.IsRunning()) << "the clean-up ended before the waiting box could be seen";
    // ...and a third start meanwhile ends at once, showing nothing.
    CProgramProcess third;
    ASSERT_TRUE(third.Start(L"http://third.example/", work / L"third.log"));
    EXPECT_EQ(third.WaitForExit(kExitTimeoutMs), 0);
    EXPECT_TRUE(third.LogHas("start with command line args"));
    EXPECT_FALSE(third.LogHas("CLanguageManagerResource")) << third.Log();
    ASSERT_TRUE(PostMessageW(hBox, WM_COMMAND, IDOK, 0));

    // The first copy wipes its session and ends with 0.
    EXPECT_EQ(first.WaitForExit(kExitTimeoutMs), 0) << first.Log();
    EXPECT_TRUE(first.LogHas("CMSDIApp::OnCleanup cleaup successfull"));
    EXPECT_TRUE(first.LogHas("CMSDIApp::ExitInstance() about to exit with nRes = 0"));

    // The waiting copy waited for it in steps, then browses on its own.
    const HWND hSecondFrame = waiting.WaitForWindow(kFrameClass, kWindowTimeoutMs);
    ASSERT_NE(hSecondFrame, nullptr) << waiting.Log();
    EXPECT_TRUE(waiting.LogHas("waiting for cleanup from other nulvane instance to complete"));
    EXPECT_TRUE(waiting.LogHas(("opening the first window on " + afterUrl.ToUtf8() + "\n").c_str()));
    // The first copy's exit took its recovery file away: this start found
    // none, and recorded its own session.
    EXPECT_FALSE(waiting.LogHas("RunRecoveryCleanup"));
    EXPECT_FALSE(waiting.LogHas("the earlier session is not wiped yet"));
    EXPECT_TRUE(waiting.LogHas("CMSDIApp::WriteRecoveryFile end\n"));
    // Its session began after the first one's was wiped and recorded anew.
    EXPECT_FALSE(UrlCacheHas(session));
    EXPECT_TRUE(UrlCacheHas(preSession));
    EXPECT_TRUE(TestFileExists(UserRecoveryFile()));

    // The boss command ends it without a dialog.
    ASSERT_TRUE(PostMessageW(hSecondFrame, WM_COMMAND, kBossCommand, 0));
    EXPECT_EQ(waiting.WaitForExit(kExitTimeoutMs), 0) << waiting.Log();
    EXPECT_TRUE(waiting.LogHas("Running cleanup in boss mode"));
    EXPECT_FALSE(TestFileExists(UserRecoveryFile()));
    // The data folder goes with its last file.
    const CString recoveryFile = UserRecoveryFile();
    EXPECT_FALSE(TestFileExists(recoveryFile.Left(recoveryFile.ReverseFind(L'\\'))));
    EXPECT_TRUE(UrlCacheHas(preSession));
    DeleteUrlCacheEntryW(preSession);
}

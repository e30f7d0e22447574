// A session that ended without its clean-up, for real: the user's stores of
// this Wine prefix are seeded, a browsing start in another process takes its
// snapshots, writes the recovery file and browses, and is killed; the next
// start, a fresh process, finds the file and wipes the session. The trace
// audit, a process of its own, judges the stores before and after.
#include <windows.h>
#include <shlobj.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "tools/trace-audit/TraceComparison.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/ExternalReaders.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

using Lines = std::vector<std::string>;

CString AppDataFolder()
{
    wchar_t path[MAX_PATH] = {};
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
    return path;
}

size_t CountContaining(const Lines& lines, const CString& text)
{
    return LinesContaining(lines, text.ToUtf8()).size();
}

void SetCookieInAnotherProcess(const CString& strUrl, const CString& strData)
{
    CHelperProcess helper;
    ASSERT_TRUE(helper.Start(L"set-cookie \"" + strUrl + L"\" \"" + strData + L"\" 0"));
    ASSERT_EQ(helper.Stop(), 0);
}

}  // namespace

TEST(SessionRecovery, AKilledSessionIsWipedByTheNextStartDownToThePreSessionStores)
{
    CTempFolder work;
    const CString tag = UniqueTag();
    const CString appData = AppDataFolder();
    const CString flashSite = appData + L"\\Macromedia\\Flash Player\\#SharedObjects\\RCVR\\" + tag + L".example\\";
    const CString javaFolder = appData + L"\\Sun\\Java\\Deployment\\cache\\6.0\\" + tag + L"\\";
    const CString expiry = L"; expires=Tue, 01-Jan-2030 00:00:00 GMT";
    const CString shop = L"http://" + tag + L".shop.example/";

    // The user's own browsing before the session.
    SetCookieInAnotherProcess(shop, L"basket=3" + expiry);
    SetCookieInAnotherProcess(shop + L"account/", L"user=ann" + expiry);
    ASSERT_FALSE(AddCacheEntry(L"http://" + tag + L".before.example/page.html", "before").IsEmpty());
    ASSERT_TRUE(AddHistoryEntry(L"http://" + tag + L".before.example/page.html"));
    ASSERT_TRUE(AddHistoryEntry(L"http://" + tag + L".before.example/other.html"));
    WriteTestFile(flashSite + L"game.swf\\state.sol", "score=10");
    WriteTestFile(javaFolder + L"applet.jar", "applet");
    const Lines before = RunTraceAudit(L"");
    // The session starts in a later second than anything above was written.
    const CTime seeded = CTime::GetCurrentTime();
    while (CTime::GetCurrentTime() <= seeded) {
        Sleep(50);
    }

    // What the session leaves, from the browsing process itself.
    const std::vector<CString> session = {
        L"cache\thttp://" + tag + L".session.example/a.html",
        L"cache\thttp://" + tag + L".session.example/b.js",
        L"cookie\t" + shop + L"\tbasket\t99",
        L"cookie\thttp://" + tag + L".tracker.example/\tid\tsession",
        L"history\thttp://" + tag + L".session.example/a.html",
        L"history\thttp://" + tag + L".before.example/page.html",
        L"file\t" + flashSite + L"game.swf\\state.sol\tscore=999999",
        L"file\t" + flashSite + L"new.swf\\session.sol\tsession",
        L"file\t" + flashSite + L"new.swf\\session.sxx\tsession",
        L"file\t" + javaFolder + L"session.jar\tsession",
    };
    CString script;
    for (const CString& line : session) {
        script += line + L"\n";
    }
    WriteTestFile(work / L"script.txt", script.ToUtf8());
    const CString recoveryFile = work / L"Nulvane\\recovery.lck";
    {
        CHelperProcess browsing;
        ASSERT_TRUE(browsing.Start(L"session \"" + work.Path() + L"\" \"" + (work / L"script.txt") + L"\""));
        ASSERT_TRUE(TerminateProcess(browsing.Process(), 99));
        WaitForSingleObject(browsing.Process(), 10000);
    }
    ASSERT_TRUE(TestFileExists(recoveryFile));
    const Lines crashed = RunTraceAudit(L"");
    const size_t nLeftByCrash = CountContaining(crashed, L".session.example") +
                                CountContaining(crashed, L".tracker.example") +
                                CountContaining(crashed, L"session.sol") + CountContaining(crashed, L"session.jar");
    EXPECT_GE(nLeftByCrash, 8u) << "the session left fewer traces than it was told to";

    // The next plain start: a silent recovery clean-up.
    CHelperProcess nextStart;
    ASSERT_TRUE(nextStart.Start(L"recover \"" + work.Path() + L"\" silent \"" + (work / L"log.txt") + L"\""));
    DWORD dwCode = 99;
    WaitForSingleObject(nextStart.Process(), 60000);
    GetExitCodeProcess(nextStart.Process(), &dwCode);
    const std::string log = ReadTestFile(work / L"log.txt");
    EXPECT_EQ(dwCode, 0u) << log;
    EXPECT_NE(log.find("Running cleanup in silent mode"), std::string::npos);
    EXPECT_NE(log.find("Running cleanup in boss/silent mode successful"), std::string::npos);
    EXPECT_FALSE(TestFileExists(recoveryFile));
    EXPECT_FALSE(TestFileExists(work / L"Nulvane"));

    const Lines after = RunTraceAudit(L"");
    const CTraceSummary diff = CTraceComparison::Compare(before, {}, after);
    const std::vector<std::string>& lost = diff.lost;
    const std::vector<std::string>& left = diff.left;
    printf("recovery audit: %zu session traces seen after the kill, %zu lines before, %zu after the recovery; "
           "%zu lost, %zu left\n",
           nLeftByCrash, before.size(), after.size(), lost.size(), left.size());
    for (const std::string& line : lost) {
        ADD_FAILURE() << "lost: " << line;
    }
    for (const std::string& line : left) {
        ADD_FAILURE() << "left: " << line;
    }
    EXPECT_EQ(ReadTestFile(flashSite + L"game.swf\\state.sol"), "score=10");

    // Tidy the prefix for later tests: the user's seeded traces go.
    DeleteUrlCacheEntryW(L"http://" + tag + L".before.example/page.html");
    DeleteUrlCacheEntryW(L"Visited: user@http://" + tag + L".before.example/page.html");
    DeleteUrlCacheEntryW(L"Visited: user@http://" + tag + L".before.example/other.html");
    InternetSetCookieW(shop, nullptr, L"basket=gone; expires=Sat, 01-Jan-2000 00:00:00 GMT");
    InternetSetCookieW(shop + L"account/", nullptr, L"user=gone; expires=Sat, 01-Jan-2000 00:00:00 GMT");
    RemoveTestTree(flashSite.Left(flashSite.GetLength() - 1));
    RemoveTestTree(javaFolder.Left(javaFolder.GetLength() - 1));
}

// The whole clean-up of a session: the five real cleaners on the test
// prefix's real stores, snapshots taken the way start-up takes them, the
// clean-up run the way the session clean-up runs the manager, and the
// stores judged by the trace-audit tool (a fresh process) and by libmsiecf's
// recovery of deleted index records.
#include "cleanup/CleanupManager.h"

#include <shlobj.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "cleanup/Deleter.h"
#include "framework/Handles.h"
#include "stores/Cookies.h"
#include "stores/FlashSharedObjects.h"
#include "stores/History.h"
#include "stores/JavaFiles.h"
#include "stores/TempInternetFiles.h"
#include "tests/stores/JavaDeployment.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/ExternalReaders.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

using Lines = std::vector<std::string>;

CString SpecialFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    EXPECT_EQ(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
    return CString(path);
}

// A persistent cookie set by another process, as the user's own browser
// sets it: this process's cookie jar knows nothing of it.
void SetCookieElsewhere(const CString& strUrl, const CString& strData)
{
    CHelperProcess helper;
    ASSERT_TRUE(helper.Start(FormatString(L"set-cookie \"%s\" \"%s\" 0", strUrl.GetString(), strData.GetString())));
    ASSERT_EQ(helper.Stop(), 0) << strUrl.ToUtf8();
}

// A file with the given bytes and a last-write time an hour back, as
// stores hold files from earlier browsing.
void WriteOldFile(const CString& strPath, const std::string& content)
{
    WriteTestFile(strPath, content);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t;
    t.LowPart = now.dwLowDateTime;
    t.HighPart = now.dwHighDateTime;
    t.QuadPart -= 36000000000ULL;
    const FILETIME earlier = {t.LowPart, t.HighPart};
    CHandle file(CreateFileW(strPath, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file.valid()) << strPath.ToUtf8();
    ASSERT_TRUE(SetFileTime(file.get(), nullptr, &now, &earlier));
}

// Every index.dat below the three stores of the URL cache.
std::vector<CString> IndexFiles()
{
    return FindTestFiles({SpecialFolder(CSIDL_INTERNET_CACHE), SpecialFolder(CSIDL_COOKIES), SpecialFolder(CSIDL_HISTORY)},
                         L"index.dat");
}

// Sleeps past the current second: the session start has whole seconds,
// and what was written before it must lie before it.
CTime StartAfterSeeding()
{
    const CTime seeded = CTime::GetCurrentTime();
    while (CTime::GetCurrentTime() <= seeded) {
        Sleep(50);
    }
    return CTime::GetCurrentTime();
}

// Replaces field n (from 0) of a tab-separated audit line.
std::string WithField(const std::string& line, size_t n, const std::string& value)
{
    std::vector<std::string> fields(1);
    for (char ch : line) {
        if (ch == '\t') {
            fields.emplace_back();
        } else {
            fields.back() += ch;
        }
    }
    if (n < fields.size()) {
        fields[n] = value;
    }
    std::string joined = fields[0];
    for (size_t i = 1; i < fields.size(); ++i) {
        joined += '\t' + fields[i];
    }
    return joined;
}

// The audit as a clean-up must leave it, sorted. Two things a faithful
// clean-up may change are left out: index records that the URL cache has
// already deleted itself ("URL free": what is left of entries that no
// longer exist, which the cleaners erase), and the names of cookie files,
// which the platform picks afresh whenever it writes a host's cookies
// (the recreated cookies land in new files of the same content).
Lines Comparable(const Lines& lines)
{
    Lines kept;
    for (std::string line : lines) {
        if (line.rfind("indexdat\t", 0) == 0 && line.find(" free\t") != std::string::npos) {
            continue;
        }
        if (line.rfind("urlcache\tcookie\t", 0) == 0) {
            line = WithField(line, 3, "cookies:*");
        } else if (line.rfind("cookiefile\t", 0) == 0) {
            line = WithField(line, 1, "cookies:*");
        } else if (line.rfind("indexdat\tcookies:index.dat\t", 0) == 0) {
            line = WithField(line, 4, "*");
        }
        kept.push_back(line);
    }
    std::sort(kept.begin(), kept.end());
    return kept;
}

}  // namespace

TEST(WholeCleanup, EveryStoreEndsAsItWasBeforeTheSession)
{
    CTempFolder scratch;
    const CString tag = UniqueTag();
    const CString before = tag + L".before.example";
    const CString during = tag + L".session.example";
    auto page = [](const CString& host, const wchar_t* path) { return L"http://" + host + L"/" + path; };
    const CString flashMine = SpecialFolder(CSIDL_APPDATA) + L"\\Macromedia\\Flash Player\\#SharedObjects\\" + tag;
    const CString javaCache = scratch / L"java cache";
    CDeploymentProperties properties("#deployment.properties\ndeployment.user.cachedir=" + AsPropertyValue(javaCache) +
                                     "\ndeployment.version=6.0\n");
    const CString auditArguments = L"--java-cache \"" + javaCache + L"\"";

    // What the user's own browsing left before the session.
    std::vector<CString> cacheBefore, historyBefore;
    for (const wchar_t* path : {L"index.html", L"style.css", L"img/logo.png", L"search?q=1"}) {
        cacheBefore.push_back(page(before, path));
        ASSERT_FALSE(AddCacheEntry(cacheBefore.back(), "user's page").IsEmpty());
    }
    SetCookieElsewhere(page(before, L""), L"id=user; expires=Tue, 01-Jan-2030 00:00:00 GMT");
    SetCookieElsewhere(page(before, L""), L"theme=dark; expires=Tue, 01-Jan-2030 00:00:00 GMT");
    SetCookieElsewhere(page(L"www." + before, L"account/"), L"sid=42; expires=Tue, 01-Jan-2030 00:00:00 GMT");
    for (const wchar_t* path : {L"a", L"b", L"c", L"revisited"}) {
        historyBefore.push_back(page(before, path));
        ASSERT_TRUE(AddHistoryEntry(historyBefore.back()));
    }
    const CString changedSol = flashMine + L"\\" + before + L"\\game.swf\\score.sol";
    WriteOldFile(changedSol, "score=10");
    WriteOldFile(flashMine + L"\\" + before + L"\\settings.sol", "volume=3");
    WriteOldFile(flashMine + L"\\localhost\\deep\\er\\state.sol", "state");
    WriteOldFile(javaCache + L"\\6.0\\12\\applet.jar", "user's applet");
    WriteOldFile(javaCache + L"\\6.0\\12\\applet.jar.idx", "index");
    WriteOldFile(javaCache + L"\\6.0\\lastAccessed", "1");
    const Lines audited = RunTraceAudit(auditArguments);

    // Start-up, in its order.
    CTempInternetFiles tif;
    CCookies cookies;
    CFlashSharedObjects flash;
    CJavaFiles java;
    CHistory history;
    ASSERT_EQ(java.GetCacheFolder(), javaCache);
    CDeleter deleter(FALSE, FALSE, FALSE);
    tif.SetStartTime(StartAfterSeeding());
    ASSERT_TRUE(cookies.ReadCookies());
    ASSERT_TRUE(cookies.StartRemoval(&deleter));
    cookies.WaitForBackgroundTask();
    ASSERT_TRUE(cookies.GetResult());
    ASSERT_TRUE(flash.SnapshotSharedObjects(FALSE));
    ASSERT_TRUE(java.SnapshotCache());
    ASSERT_TRUE(history.ReadHistory());

    // The session, in every store. Every trace it leaves names the
    // session's host or lies in a folder or file named "session".
    std::vector<CString> cacheDuring;
    for (const wchar_t* path : {L"index.html", L"app.js", L"img/photo.jpg", L"api?x=1", L"video.mp4"}) {
        cacheDuring.push_back(page(during, path));
        ASSERT_FALSE(AddCacheEntry(cacheDuring.back(), "session page").IsEmpty());
    }
    WriteTestFile(CacheStore().strFolder + L"\\NULVTEST\\" + tag + L"-session.bin", "not in the cache's index");
    ASSERT_TRUE(InternetSetCookieW(page(during, L""), nullptr, L"tracker=1; expires=Tue, 01-Jan-2030 00:00:00 GMT"));
    ASSERT_TRUE(InternetSetCookieW(page(before, L""), nullptr, L"id=session; expires=Tue, 01-Jan-2030 00:00:00 GMT"));
    ASSERT_TRUE(
        InternetSetCookieW(page(before, L""), nullptr, L"sessionmark=1; expires=Tue, 01-Jan-2030 00:00:00 GMT"));
    for (const wchar_t* path : {L"a", L"b", L"c", L"d"}) {
        ASSERT_TRUE(AddHistoryEntry(page(during, path)));
    }
    ASSERT_TRUE(AddHistoryEntry(historyBefore.back()));
    WriteTestFile(changedSol, "score=99 session");
    WriteTestFile(flashMine + L"\\" + during + L"\\game.swf\\session.sol", "session");
    WriteTestFile(flashMine + L"\\" + during + L"\\game.swf\\session.sxx", "session");
    WriteTestFile(flashMine + L"\\localhost\\deep\\session.sol", "session");
    WriteTestFile(javaCache + L"\\6.0\\40\\session-applet.jar", "session");
    WriteTestFile(javaCache + L"\\6.0\\12\\session.class", "session");
    WriteTestFile(javaCache + L"\\session\\deep\\x.jar", "session");
    const Lines duringSession = RunTraceAudit(auditArguments);
    const size_t nSessionTraces = LinesContaining(duringSession, "session").size();
    ASSERT_GE(nSessionTraces, 25u);

    // The session's end: the manager on its own worker, over the five.
    CCleanupManager manager(&deleter);
    manager.m_pCookies = &cookies;
    manager.m_pJavaFiles = &java;
    manager.m_pFlashSharedObjects = &flash;
    manager.m_pHistory = &history;
    manager.m_pTempInternetFiles = &tif;
    ASSERT_TRUE(manager.StartBackgroundTask());
    manager.WaitForBackgroundTask();
    EXPECT_TRUE(manager.GetResult());

    const Lines after = RunTraceAudit(auditArguments);
    size_t nLeft = LinesContaining(after, "session").size();
    for (const CString& index : IndexFiles()) {
        for (const CString& location : ExportIndexLocations(scratch, index, L"recovered")) {
            if (location.Find(L"session") >= 0) {
                ++nLeft;
                ADD_FAILURE() << index.ToUtf8() << " still holds " << location.ToUtf8();
            }
        }
    }
    const Lines comparableBefore = Comparable(audited);
    const Lines comparableAfter = Comparable(after);
    Lines lost, gained;
    std::set_difference(comparableBefore.begin(), comparableBefore.end(), comparableAfter.begin(),
                        comparableAfter.end(), std::back_inserter(lost));
    std::set_difference(comparableAfter.begin(), comparableAfter.end(), comparableBefore.begin(),
                        comparableBefore.end(), std::back_inserter(gained));
    printf("whole clean-up audit: %zu traces before the session, %zu traces seeded by it, %zu left, %zu lost\n",
           comparableBefore.size(), nSessionTraces, nLeft, lost.size());
    for (const std::string& line : lost) {
        ADD_FAILURE() << "lost: " << line;
    }
    for (const std::string& line : gained) {
        ADD_FAILURE() << "gained: " << line;
    }
    EXPECT_EQ(nLeft, 0u);

    // What this test seeded before the session goes too.
    for (const CString& url : cacheBefore) {
        DeleteUrlCacheEntryW(url);
    }
    for (const CString& url : historyBefore) {
        DeleteUrlCacheEntryW(L"Visited: user@" + url);
    }
    for (const wchar_t* name : {L"id", L"theme"}) {
        InternetSetCookieW(page(before, L""), name, L"; expires=Sat, 01-Jan-2000 00:00:00 GMT");
    }
    InternetSetCookieW(page(L"www." + before, L"account/"), L"sid", L"; expires=Sat, 01-Jan-2000 00:00:00 GMT");
    RemoveTestTree(flashMine);
}

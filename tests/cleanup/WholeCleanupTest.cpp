// The whole clean-up of a session: the five real cleaners on the prefix's
// real stores, run as start-up and the session's end run them, judged by the
// trace-audit tool (a fresh process) and libmsiecf's recovery of deleted records;
// other processes and a faulty cleaner at work meanwhile, for the check to
// make up for.
#include "cleanup/CleanupManager.h"

#include <shlobj.h>
#include <wininet.h>

#include <gtest/gtest.h>

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
#include "tools/trace-audit/TraceComparison.h"

namespace {

CString SpecialFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    EXPECT_EQ(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
    return CString(path);
}

// A file last written an hour back, as stores hold from earlier browsing.
void WriteOldFile(const CString& strPath, const std::string& content)
{
    WriteTestFile(strPath, content);
    const CTime now = CTime::GetCurrentTime();
    const FILETIME access = now.ToFileTime(), write = (now - 3600).ToFileTime();
    CHandle file(CreateFileW(strPath, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file.valid() && SetFileTime(file.get(), nullptr, &access, &write)) << strPath.ToUtf8();
}

// Runs in the manager's turn after the cookies are back, where the check
// must make up for others and for a faulty cleaner: on its first run
// another process deletes one of the user's cookies and sets one of the
// session's again, and the run passes over one session file as if it were
// the user's, reporting success.
class CJavaFilesAmidIntruders : public CJavaFiles {
public:
    CString strPassedOver, strUserCookieUrl, strSessionCookieUrl;

    BOOL RunBackgroundTask() override
    {
        if (m_bIntruded) {
            return CJavaFiles::RunBackgroundTask();
        }
        m_bIntruded = true;
        CHelperProcess deleter, setter;
        EXPECT_TRUE(deleter.Start(L"set-cookie \"" + strUserCookieUrl + L"\" \"id=; " + kPast + L"\" 0"));
        EXPECT_TRUE(setter.Start(L"set-cookie \"" + strSessionCookieUrl + L"\" \"tracker=2; " + kFuture + L"\" 0"));
        EXPECT_EQ(deleter.Stop() + setter.Stop(), 0);
        const CStringSet startSet = GetStartSet();
        GetStartSet().Add(strPassedOver);
        const BOOL bResult = CJavaFiles::RunBackgroundTask();
        GetStartSet() = startSet;
        return bResult;
    }

private:
    static constexpr const wchar_t* kPast = L"expires=Sat, 01-Jan-2000 00:00:00 GMT";
    static constexpr const wchar_t* kFuture = L"expires=Tue, 01-Jan-2030 00:00:00 GMT";
    bool m_bIntruded = false;
};

}  // namespace

TEST(WholeCleanup, EveryStoreEndsAsItWasBeforeTheSession)
{
    CTempFolder scratch;
    const CString tag = UniqueTag();
    const CString before = L"http://" + tag + L".before.example/";
    const CString during = L"http://" + tag + L".session.example/";
    const CString flashMine = SpecialFolder(CSIDL_APPDATA) + L"\\Macromedia\\Flash Player\\#SharedObjects\\" + tag;
    const CString javaCache = scratch / L"java cache";
    CDeploymentProperties properties("#deployment.properties\ndeployment.user.cachedir=" + AsPropertyValue(javaCache) +
                                     "\ndeployment.version=6.0\n");
    const CString auditArguments = L"--java-cache \"" + javaCache + L"\"";

    // What the user's own browsing left before the session.
    ASSERT_FALSE(AddCacheEntry(before + L"index.html", "user's page").IsEmpty());
    // Set by another process, as the user's browser sets it, unknown to this one's jar.
    CHelperProcess cookieSetter;
    ASSERT_TRUE(
        cookieSetter.Start(L"set-cookie \"" + before + L"\" \"id=user; expires=Tue, 01-Jan-2030 00:00:00 GMT\" 0"));
    ASSERT_EQ(cookieSetter.Stop(), 0);
    ASSERT_TRUE(AddHistoryEntry(before + L"revisited"));
    const CString changedSol = flashMine + L"\\before.example\\game.swf\\score.sol";
    WriteOldFile(changedSol, "score=10");
    WriteOldFile(flashMine + L"\\localhost\\deep\\er\\state.sol", "state");
    WriteOldFile(javaCache + L"\\6.0\\12\\applet.jar", "user's applet");
    const std::vector<std::string> audited = RunTraceAudit(auditArguments);

    // Start-up, once the seeded second is over: the session start has whole seconds.
    CTempInternetFiles tif;
    CCookies cookies;
    CFlashSharedObjects flash;
    CJavaFilesAmidIntruders java;
    CHistory history;
    ASSERT_EQ(java.GetCacheFolder(), javaCache);
    CDeleter deleter(FALSE, FALSE, FALSE);
    tif.SetStartTime(CFileTime::GetCurrentTime());
    ASSERT_TRUE(cookies.ReadCookies());
    ASSERT_TRUE(cookies.StartRemoval(&deleter));
    cookies.WaitForBackgroundTask();
    ASSERT_TRUE(cookies.GetResult());
    ASSERT_TRUE(flash.SnapshotSharedObjects(FALSE));
    ASSERT_TRUE(java.SnapshotCache());
    ASSERT_TRUE(history.ReadHistory());

    // The session: every trace names its host or lies in something named "session".
    ASSERT_FALSE(AddCacheEntry(during + L"video.mp4", "session page").IsEmpty());
    WriteTestFile(CacheStore().strFolder + L"\\NULVTEST\\" + tag + L"-session.bin", "not in the cache's index");
    ASSERT_TRUE(AddCookie(during, L"tracker", L"1") && AddCookie(before, L"id", L"session") &&
                AddCookie(before, L"sessionmark", L"1"));
    ASSERT_TRUE(AddHistoryEntry(during + L"a") && AddHistoryEntry(before + L"revisited"));
    WriteTestFile(changedSol, "score=99 session");
    WriteTestFile(flashMine + L"\\session.example\\game.swf\\session.sol", "session");
    WriteTestFile(flashMine + L"\\localhost\\deep\\session.sol", "session");
    WriteTestFile(javaCache + L"\\6.0\\40\\session-applet.jar", "session");
    WriteTestFile(javaCache + L"\\6.0\\12\\session.class", "session");
    java.strPassedOver = javaCache + L"\\6.0\\12\\session.class";
    java.strUserCookieUrl = before;
    java.strSessionCookieUrl = during;
    const std::vector<std::string> duringSession = RunTraceAudit(auditArguments);
    ASSERT_GE(LinesContaining(duringSession, "session").size(), 18u);

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

    const std::vector<std::string> after = RunTraceAudit(auditArguments);
    for (const CString& index : FindTestFiles({SpecialFolder(CSIDL_INTERNET_CACHE), SpecialFolder(CSIDL_COOKIES),
                                               SpecialFolder(CSIDL_HISTORY)},
                                              L"index.dat")) {
        for (const CString& location : ExportIndexLocations(scratch, index, L"recovered")) {
            EXPECT_LT(location.Find(L"session"), 0) << index.ToUtf8() << " still holds " << location.ToUtf8();
        }
    }
    const CTraceSummary summary = CTraceComparison::Compare(audited, duringSession, after);
    EXPECT_EQ(summary.lost, std::vector<std::string>());
    EXPECT_EQ(summary.left, std::vector<std::string>());
    EXPECT_GE(summary.nHidden, 1u);  // the user's cookie, set aside while the session ran

    // What this test seeded before the session goes too.
    DeleteUrlCacheEntryW(before + L"index.html");
    DeleteUrlCacheEntryW(L"Visited: user@" + before + L"revisited");
    InternetSetCookieW(before, L"id", L"; expires=Sat, 01-Jan-2000 00:00:00 GMT");
    RemoveTestTree(flashMine);
}

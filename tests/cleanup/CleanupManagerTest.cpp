#include "cleanup/CleanupManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "stores/Cookies.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"

namespace {

// A category cleaner that fails a given number of times and records each run
// in a journal shared by all (one thread at a time writes it: the manager's,
// or a cleaner's own worker while the manager waits for it). It is a cookie
// cleaner, so that one class stands in for every category, the cookie
// category with its recreation too.
class CFakeCleaner : public CCookies {
public:
    static constexpr int kAlwaysFail = 99;

    CFakeCleaner(std::string name, std::string& journal) : m_name(std::move(name)), m_journal(journal) {}
    ~CFakeCleaner() override { StopBackgroundTask(0); }

    BOOL RunBackgroundTask() override
    {
        if (m_bBlockUntilAbort) {
            // Running on its own worker until somebody asks it to stop.
            while (!IsAbortRequested()) {
                Sleep(5);
            }
            m_bBlockUntilAbort = false;
            return Note(":aborted", FALSE);
        }
        // The manager must hand its deleter over before every attempt.
        const char* pszRun = m_pDeleter != nullptr ? ":run" : ":run-without-deleter";
        m_pDeleter = nullptr;
        return Note(pszRun, m_nCalls++ >= m_nFailures);
    }
    BOOL RecreateCookies() override { return Note(":recreate", FALSE); }  // the manager ignores the result

    BOOL Note(const char* pszWhat, BOOL bResult)
    {
        m_journal += m_name + pszWhat + " ";
        return bResult;
    }

    std::string m_name;
    std::string& m_journal;
    int m_nFailures = 0;
    int m_nCalls = 0;
    std::atomic<bool> m_bBlockUntilAbort{false};
};

struct CManagerFixture : public ::testing::Test {
    // Runs the manager on its worker, as the session clean-up does.
    BOOL RunManager(bool bWithCookies = true)
    {
        CCleanupManager manager(deleter);
        manager.m_pCookies = bWithCookies ? &cookies : nullptr;
        manager.m_pJavaFiles = &java;
        manager.m_pFlashSharedObjects = &flash;
        manager.m_pHistory = &history;
        manager.m_pTempInternetFiles = &tif;
        EXPECT_TRUE(manager.StartBackgroundTask());
        manager.WaitForBackgroundTask();
        return manager.GetResult();
    }

    int deleterStandIn = 0;
    CDeleter* deleter = reinterpret_cast<CDeleter*>(&deleterStandIn);
    std::string journal;
    CFakeCleaner cookies{"cookies", journal}, java{"java", journal}, flash{"flash", journal},
        history{"history", journal}, tif{"tif", journal};
};

}  // namespace

// Each category in its order, up to four attempts each; the cookies put back
// after their attempts whatever the outcome; a failed category fails the run,
// which is repeated in full.
TEST_F(CManagerFixture, RunsTheCategoriesInOrderRetryingEachAndRecreatingTheCookies)
{
    const std::string cookieRuns = "cookies:run cookies:run cookies:run cookies:run cookies:recreate java:run ";
    const std::string javaRuns = "cookies:run cookies:recreate java:run java:run java:run java:run ";
    const std::string rest = "flash:run history:run tif:run ";
    const struct {
        CFakeCleaner* pFailing;
        int nFailures;
        bool bWithCookies;
        BOOL bResult;
        std::string journal;
    } cases[] = {
        {nullptr, 0, true, TRUE, "cookies:run cookies:recreate java:run " + rest},
        {&java, 2, true, TRUE, "cookies:run cookies:recreate java:run java:run java:run " + rest},
        {&java, CFakeCleaner::kAlwaysFail, true, FALSE, javaRuns + rest + javaRuns + rest},
        {&cookies, CFakeCleaner::kAlwaysFail, true, FALSE, cookieRuns + rest + cookieRuns + rest},
        {nullptr, 0, false, TRUE, "java:run " + rest},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.journal);
        journal.clear();
        for (CFakeCleaner* cleaner : {&cookies, &java, &flash, &history, &tif}) {
            cleaner->m_nFailures = cleaner == c.pFailing ? c.nFailures : 0;
            cleaner->m_nCalls = 0;
        }
        CLogCapture capture;
        EXPECT_EQ(RunManager(c.bWithCookies), c.bResult);
        EXPECT_EQ(journal, c.journal);
        // The log names the category that failed, once per run of the manager.
        EXPECT_EQ(capture.CountMessage(L"m_pJavaFiles->RunBackgroundTask() result = false"),
                  c.pFailing == &java && !c.bResult ? 2 : 0);
    }
}

// A cleaner busy on its own worker is stopped before its attempts, and a
// running temporary files worker before the history. Each aborted run
// returned FALSE, so its worker ran once more (without the manager's
// deleter) before the manager went on.
TEST_F(CManagerFixture, CleanersBusyOnTheirOwnWorkersAreStoppedFirst)
{
    for (CFakeCleaner* busy : {&java, &tif}) {
        busy->m_bBlockUntilAbort = true;
        ASSERT_TRUE(busy->StartBackgroundTask());
    }
    EXPECT_TRUE(RunManager());
    EXPECT_EQ(journal, "cookies:run cookies:recreate java:aborted java:run-without-deleter java:run flash:run "
                       "tif:aborted tif:run-without-deleter history:run tif:run ");
    EXPECT_FALSE(java.IsBackgroundTaskRunning() || tif.IsBackgroundTaskRunning());
}

#include "cleanup/BackgroundTask.h"
#include "cleanup/CleanupManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "framework/Exception.h"
#include "framework/Handles.h"

namespace {

// Sleeps until the condition holds.
template <typename Condition>
void SpinUntil(Condition condition)
{
    while (!condition()) {
        Sleep(5);
    }
}

// Runs the test's function of the run's number; records its thread and waits.
class CTask : public CBackgroundTask {
public:
    explicit CTask(std::function<BOOL(CTask&, int)> run) : m_run(std::move(run)) {}
    ~CTask() override
    {
        m_bRelease = true;
        StopBackgroundTask(0);
    }
    BOOL RunBackgroundTask() override
    {
        m_dwThreadId = GetCurrentThreadId();
        m_bSawAbortAtStart = IsAbortRequested();
        return m_run(*this, m_nCalls++);
    }
    BOOL AbortRequested() const { return IsAbortRequested(); }
    bool Released() const { return m_pThread == nullptr && !m_hAbortEvent.valid() && !m_hFinishedEvent.valid(); }

    std::atomic<int> m_nCalls{0};
    std::atomic<DWORD> m_dwThreadId{0};
    std::atomic<bool> m_bSawAbortAtStart{false}, m_bRelease{false};
    std::vector<DWORD> m_waits;  // only the calling thread waits

protected:
    DWORD WaitForFinishedEvent(DWORD dwMilliseconds) override
    {
        m_waits.push_back(dwMilliseconds);
        return CBackgroundTask::WaitForFinishedEvent(dwMilliseconds);
    }

private:
    std::function<BOOL(CTask&, int)> m_run;
};

// On its own thread, a failed run (one that throws must never leave the worker)
// is repeated once; the second result stands until a new start clears it.
TEST(BackgroundTask, RunsOnItsOwnThreadAndRepeatsAFailedRunOnce)
{
    CTask task([](CTask&, int call) -> BOOL {
        if (call % 2 == 0) {
            throw CFileException(CFileException::hardIO, ERROR_CRC, L"C:\\bad.dat");
        }
        Sleep(200);
        return TRUE;
    });
    EXPECT_FALSE(task.StopBackgroundTask(250) || task.IsBackgroundTaskRunning() || task.GetResult());
    task.WaitForBackgroundTask();
    for (int nStart = 1; nStart <= 2; ++nStart) {
        ASSERT_TRUE(task.StartBackgroundTask());
        EXPECT_FALSE(task.GetResult());
        task.WaitForBackgroundTask();
        EXPECT_TRUE(task.GetResult() && task.m_nCalls == 2 * nStart && task.m_dwThreadId != GetCurrentThreadId());
        EXPECT_FALSE(task.m_bSawAbortAtStart || task.IsBackgroundTaskRunning());
    }
    EXPECT_TRUE(task.StopBackgroundTask(0) && task.Released());
}

TEST(BackgroundTask, StopWithTimeOutTerminatesOnlyARunThatIgnoresTheAbort)
{
    CTask deaf([](CTask& t, int) { return SpinUntil([&] { return t.m_bRelease.load(); }), TRUE; });
    CTask polite([](CTask& t, int) { return SpinUntil([&] { return t.AbortRequested(); }), FALSE; });
    for (CTask* task : {&deaf, &polite}) {
        ASSERT_TRUE(task->StartBackgroundTask());
        SpinUntil([&] { return task->m_nCalls != 0; });
    }
    // A start while running is refused and leaves the run alone.
    EXPECT_TRUE(!deaf.StartBackgroundTask() && deaf.IsBackgroundTaskRunning() && !deaf.AbortRequested());
    const CHandle thread(OpenThread(SYNCHRONIZE, FALSE, deaf.m_dwThreadId));
    EXPECT_TRUE(deaf.StopBackgroundTask(250));
    EXPECT_EQ(deaf.m_waits, (std::vector<DWORD>{100, 100, 50}));
    EXPECT_EQ(WaitForSingleObject(thread.get(), 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(deaf.Released());

    // Asked to abort, the run ended well before the time-out.
    EXPECT_TRUE(polite.StopBackgroundTask(5000));
    EXPECT_EQ(polite.m_nCalls, 2);
    EXPECT_LT(polite.m_waits.size(), 50u);
}

// A cleaner of any category (a cookie restorer too, for the recreation) that fails a
// given number of times and notes each run in a journal shared by all.
class CFakeCleaner : public CBackgroundTask, public CCookieRestorer {
public:
    static constexpr int kAlwaysFail = 99;

    CFakeCleaner(std::string name, std::string& journal) : m_name(std::move(name)), m_journal(journal) {}
    ~CFakeCleaner() override { StopBackgroundTask(0); }

    BOOL RunBackgroundTask() override
    {
        if (m_bBlockUntilAbort) {
            SpinUntil([&] { return IsAbortRequested(); });
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
    int m_nFailures = 0, m_nCalls = 0;
    std::atomic<bool> m_bBlockUntilAbort{false};
};

// Each category in its order, up to four attempts each; the cookies put back
// whatever the outcome; a failed category fails the run, repeated in full. A
// cleaner busy on its own worker is stopped first (its worker then runs once
// more, without the manager's deleter), the temporary files before the history.
TEST(CleanupManager, RunsTheCategoriesInOrderRetryingEachAndRecreatingTheCookies)
{
    int deleterStandIn = 0;
    std::string journal;
    CFakeCleaner cookies{"cookies", journal}, java{"java", journal}, flash{"flash", journal},
        history{"history", journal}, tif{"tif", journal};
    const std::string cookieRuns = "cookies:run cookies:run cookies:run cookies:run cookies:recreate java:run ";
    const std::string javaRuns = "cookies:run cookies:recreate java:run java:run java:run java:run ";
    const std::string rest = "flash:run history:run tif:run ";
    const struct {
        CFakeCleaner* pFailing;
        int nFailures;
        bool bWithCookies;
        BOOL bResult;
        std::string journal;
        bool bBusy = false;  // java and tif
    } cases[] = {
        {nullptr, 0, true, TRUE, "cookies:run cookies:recreate java:run " + rest},
        {&java, 2, true, TRUE, "cookies:run cookies:recreate java:run java:run java:run " + rest},
        {&java, CFakeCleaner::kAlwaysFail, true, FALSE, javaRuns + rest + javaRuns + rest},
        {&cookies, CFakeCleaner::kAlwaysFail, true, FALSE, cookieRuns + rest + cookieRuns + rest},
        {nullptr, 0, false, TRUE, "java:run " + rest},
        {nullptr, 0, true, TRUE,
         "cookies:run cookies:recreate java:aborted java:run-without-deleter java:run flash:run tif:aborted "
         "tif:run-without-deleter history:run tif:run ",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.journal);
        journal.clear();
        for (CFakeCleaner* cleaner : {&cookies, &java, &flash, &history, &tif}) {
            cleaner->m_nFailures = cleaner == c.pFailing ? c.nFailures : 0;
            cleaner->m_nCalls = 0;
        }
        for (CFakeCleaner* busy : {&java, &tif}) {
            busy->m_bBlockUntilAbort = c.bBusy;
            ASSERT_TRUE(!c.bBusy || busy->StartBackgroundTask());
        }
        // On the manager's own worker, as the session clean-up runs it.
        CCleanupManager manager(reinterpret_cast<CDeleter*>(&deleterStandIn));
        manager.m_pCookies = c.bWithCookies ? &cookies : nullptr;
        manager.m_pJavaFiles = &java;
        manager.m_pFlashSharedObjects = &flash;
        manager.m_pHistory = &history;
        manager.m_pTempInternetFiles = &tif;
        ASSERT_TRUE(manager.StartBackgroundTask());
        manager.WaitForBackgroundTask();
        EXPECT_EQ(manager.GetResult(), c.bResult);
        EXPECT_EQ(journal, c.journal);
        EXPECT_FALSE(java.IsBackgroundTaskRunning() || tif.IsBackgroundTaskRunning());
    }
}

}  // namespace

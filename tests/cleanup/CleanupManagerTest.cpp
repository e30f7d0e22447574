#include "cleanup/CleanupManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "stores/Cookies.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"

namespace {

// What the fake cleaners did, in order, shared by all of them.
class CJournal {
public:
    void Add(const std::string& entry)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.push_back(entry);
    }
    std::vector<std::string> Entries()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_entries;
    }
    int Count(const std::string& entry)
    {
        int n = 0;
        for (const std::string& e : Entries()) {
            n += e == entry ? 1 : 0;
        }
        return n;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_entries;
};

// A category cleaner that fails a given number of times (or always) and
// records each run, the thread it ran on and the deleter it was handed. It
// is a cookie cleaner, so that one class stands in for every category,
// the cookie category with its recreation too.
class CFakeCleaner : public CCookies {
public:
    static constexpr int kAlwaysFail = -1;

    CFakeCleaner(std::string name, CJournal& journal, int failures = 0)
        : m_name(std::move(name)), m_journal(journal), m_nFailures(failures)
    {
    }
    ~CFakeCleaner() override
    {
        m_bRelease = true;
        StopBackgroundTask(0);
    }

    BOOL RunBackgroundTask() override
    {
        if (m_bBlockUntilAbort) {
            // Running on its own worker until somebody asks it to stop.
            while (!IsAbortRequested()) {
                Sleep(5);
            }
            m_journal.Add(m_name + ":aborted");
            m_bBlockUntilAbort = false;
            return FALSE;
        }
        const int call = m_nCalls++;
        m_threads.push_back(GetCurrentThreadId());
        m_deleters.push_back(m_pDeleter);
        // The manager must hand the deleter over before every attempt.
        m_pDeleter = nullptr;
        m_journal.Add(m_name + ":run");
        return m_nFailures == kAlwaysFail || call < m_nFailures ? FALSE : TRUE;
    }

    BOOL RecreateCookies() override
    {
        m_journal.Add(m_name + ":recreate");
        m_recreateThreads.push_back(GetCurrentThreadId());
        return FALSE;  // the manager ignores it
    }

    std::string m_name;
    CJournal& m_journal;
    int m_nFailures;
    std::atomic<int> m_nCalls{0};
    std::vector<DWORD> m_threads;
    std::vector<DWORD> m_recreateThreads;
    std::vector<CDeleter*> m_deleters;
    std::atomic<bool> m_bBlockUntilAbort{false};
    std::atomic<bool> m_bRelease{false};
};

struct CManagerFixture : public ::testing::Test {
    CManagerFixture()
        : deleter(reinterpret_cast<CDeleter*>(&deleterStandIn)),
          cookies("cookies", journal),
          java("java", journal),
          flash("flash", journal),
          history("history", journal),
          tif("tif", journal)
    {
    }

    void Wire(CCleanupManager& manager)
    {
        manager.m_pCookies = &cookies;
        manager.m_pJavaFiles = &java;
        manager.m_pFlashSharedObjects = &flash;
        manager.m_pHistory = &history;
        manager.m_pTempInternetFiles = &tif;
    }

    // Starts the manager on its worker, as the session clean-up does.
    BOOL RunManager(CCleanupManager& manager)
    {
        EXPECT_TRUE(manager.StartBackgroundTask());
        manager.WaitForBackgroundTask();
        return manager.GetResult();
    }

    int deleterStandIn = 0;
    CDeleter* deleter;
    CJournal journal;
    CFakeCleaner cookies;
    CFakeCleaner java;
    CFakeCleaner flash;
    CFakeCleaner history;
    CFakeCleaner tif;
};

std::vector<std::string> Runs(std::initializer_list<std::string> names)
{
    return std::vector<std::string>(names);
}

}  // namespace

TEST_F(CManagerFixture, AllSucceedingRunsEachCategoryOnceInOrder)
{
    CLogCapture capture;
    CCleanupManager manager(deleter);
    Wire(manager);
    EXPECT_TRUE(RunManager(manager));

    EXPECT_EQ(journal.Entries(),
              Runs({"cookies:run", "cookies:recreate", "java:run", "flash:run", "history:run", "tif:run"}));
    EXPECT_EQ(capture.CountMessage(L"Start CCleanupManager::RunBackgroundTask()"), 1);

    std::vector<CString> managerLines;
    for (const CString& m : capture.Messages()) {
        if (m.Find(L"CBackgroundTask::") != 0) {
            managerLines.push_back(m);
        }
    }
    const std::vector<CString> expected = {
        L"Start CCleanupManager::RunBackgroundTask()",
        L"Notify of m_pCookies start",
        L"m_pCookies->RunBackgroundTask() start",
        L"m_pCookies->RunBackgroundTask() end",
        L"m_pCookies->RunBackgroundTask() result = true",
        L"Notify of m_pJavaFiles start",
        L"m_pJavaFiles->RunBackgroundTask() start",
        L"m_pJavaFiles->RunBackgroundTask() end",
        L"m_pJavaFiles->RunBackgroundTask() result = true",
        L"CCleanupManager::RunBackgroundTask() - Notify of m_pFlashSharedObjects start",
        L"m_pFlashSharedObjects->RunBackgroundTask() start",
        L"m_pFlashSharedObjects->RunBackgroundTask() end",
        L"m_pFlashSharedObjects->RunBackgroundTask() result = true",
        L"Notify of m_pHistory start",
        L"m_pHistory->RunBackgroundTask() start",
        L"m_pHistory->RunBackgroundTask() end",
        L"m_pHistory->RunBackgroundTask() result = true",
        L"Notify of m_pTempInternetFiles start",
        L"m_pTempInternetFiles->RunBackgroundTask() start",
        L"m_pTempInternetFiles->RunBackgroundTask() end",
        L"m_pTempInternetFiles->RunBackgroundTask() result = true",
        L"End CCleanupManager::RunBackgroundTask()",
    };
    EXPECT_EQ(managerLines, expected);
}

TEST_F(CManagerFixture, ACleanerThatFailsTwiceRunsThreeTimesOnTheManagersWorkerWithItsDeleter)
{
    CLogCapture capture;
    java.m_nFailures = 2;
    CCleanupManager manager(deleter);
    Wire(manager);
    EXPECT_TRUE(RunManager(manager));
    EXPECT_EQ(java.m_nCalls, 3);
    EXPECT_EQ(capture.CountMessage(L"m_pJavaFiles->RunBackgroundTask() start"), 3);
    EXPECT_EQ(capture.CountMessage(L"m_pJavaFiles->RunBackgroundTask() result = true"), 1);
    EXPECT_EQ(capture.CountMessage(L"Start CCleanupManager::RunBackgroundTask()"), 1);

    std::vector<DWORD> threads;
    for (CFakeCleaner* cleaner : {&cookies, &java, &flash, &history, &tif}) {
        threads.insert(threads.end(), cleaner->m_threads.begin(), cleaner->m_threads.end());
        for (CDeleter* seen : cleaner->m_deleters) {
            EXPECT_EQ(seen, deleter) << cleaner->m_name;
        }
    }
    threads.insert(threads.end(), cookies.m_recreateThreads.begin(), cookies.m_recreateThreads.end());
    ASSERT_EQ(threads.size(), 8u);
    for (DWORD id : threads) {
        EXPECT_EQ(id, threads.front());
    }
    EXPECT_NE(threads.front(), GetCurrentThreadId());
}

TEST_F(CManagerFixture, AnAlwaysFailingCleanerFailsTheRunWhichIsRepeatedInFull)
{
    CLogCapture capture;
    java.m_nFailures = CFakeCleaner::kAlwaysFail;
    CCleanupManager manager(deleter);
    Wire(manager);
    EXPECT_FALSE(RunManager(manager));

    EXPECT_EQ(java.m_nCalls, 8);
    for (CFakeCleaner* other : {&cookies, &flash, &history, &tif}) {
        EXPECT_EQ(other->m_nCalls, 2) << other->m_name;
    }
    const std::vector<std::string> oneRun = {"cookies:run", "cookies:recreate", "java:run",   "java:run",
                                             "java:run",    "java:run",         "flash:run",  "history:run",
                                             "tif:run"};
    std::vector<std::string> twoRuns = oneRun;
    twoRuns.insert(twoRuns.end(), oneRun.begin(), oneRun.end());
    EXPECT_EQ(journal.Entries(), twoRuns);
    EXPECT_EQ(capture.CountMessage(L"Start CCleanupManager::RunBackgroundTask()"), 2);
    EXPECT_EQ(capture.CountMessage(L"End CCleanupManager::RunBackgroundTask()"), 2);
    EXPECT_EQ(capture.CountMessage(L"m_pJavaFiles->RunBackgroundTask() result = false"), 2);
    EXPECT_EQ(capture.CountMessage(L"m_pFlashSharedObjects->RunBackgroundTask() result = true"), 2);
}

TEST_F(CManagerFixture, CookiesAreRecreatedAfterTheirAttemptsWhateverTheOutcome)
{
    cookies.m_nFailures = CFakeCleaner::kAlwaysFail;
    CCleanupManager manager(deleter);
    Wire(manager);
    EXPECT_FALSE(RunManager(manager));
    const std::vector<std::string> entries = journal.Entries();
    ASSERT_GE(entries.size(), 6u);
    const std::vector<std::string> firstRun(entries.begin(), entries.begin() + 6);
    EXPECT_EQ(firstRun, Runs({"cookies:run", "cookies:run", "cookies:run", "cookies:run", "cookies:recreate",
                              "java:run"}));
    EXPECT_EQ(journal.Count("cookies:recreate"), 2);
}

TEST_F(CManagerFixture, MissingCleanersAreSkippedWithoutAffectingTheResult)
{
    CLogCapture capture;
    CCleanupManager manager(deleter);
    Wire(manager);
    manager.m_pCookies = nullptr;
    EXPECT_TRUE(RunManager(manager));
    EXPECT_EQ(journal.Entries(), Runs({"java:run", "flash:run", "history:run", "tif:run"}));
    EXPECT_TRUE(capture.MessagesContaining(L"Cookies").empty());

    CCleanupManager empty(deleter);
    EXPECT_TRUE(RunManager(empty));
    EXPECT_EQ(journal.Entries().size(), 4u);
}

TEST_F(CManagerFixture, ACleanerBusyOnItsOwnWorkerIsStoppedBeforeItsAttempts)
{
    java.m_bBlockUntilAbort = true;
    ASSERT_TRUE(java.StartBackgroundTask());
    while (!java.IsBackgroundTaskRunning()) {
        Sleep(1);
    }
    CCleanupManager manager(deleter);
    Wire(manager);
    EXPECT_TRUE(RunManager(manager));
    // The worker's aborted run returned FALSE, so its worker ran once more
    // (a normal run) before the manager's own attempt.
    EXPECT_EQ(journal.Entries(), Runs({"cookies:run", "cookies:recreate", "java:aborted", "java:run", "java:run",
                                       "flash:run", "history:run", "tif:run"}));
    EXPECT_FALSE(java.IsBackgroundTaskRunning());
}

TEST_F(CManagerFixture, ARunningTemporaryFilesWorkerIsStoppedBeforeTheHistory)
{
    tif.m_bBlockUntilAbort = true;
    ASSERT_TRUE(tif.StartBackgroundTask());
    CCleanupManager manager(deleter);
    Wire(manager);
    EXPECT_TRUE(RunManager(manager));
    const std::vector<std::string> entries = journal.Entries();
    const auto aborted = std::find(entries.begin(), entries.end(), "tif:aborted");
    const auto flashRun = std::find(entries.begin(), entries.end(), "flash:run");
    const auto historyRun = std::find(entries.begin(), entries.end(), "history:run");
    ASSERT_NE(aborted, entries.end());
    EXPECT_LT(flashRun, aborted);
    EXPECT_LT(aborted, historyRun);
}

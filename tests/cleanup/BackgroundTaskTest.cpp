#include "cleanup/BackgroundTask.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <vector>

#include "framework/Exception.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"

namespace {

// A task whose runs are the test's own function of the run's number; it
// records where its runs went and how long each wait for them was.
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
    // Stopped: the thread object and both events are gone.
    bool Released() const { return m_pThread == nullptr && !m_hAbortEvent.valid() && !m_hFinishedEvent.valid(); }
    HANDLE ThreadHandle() const { return m_pThread->GetHandle(); }
    void WaitForFirstRun() const
    {
        while (m_nCalls == 0) {
            Sleep(1);
        }
    }

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

BOOL UntilReleased(CTask& task, int)
{
    while (!task.m_bRelease) {
        Sleep(5);
    }
    return TRUE;
}

}  // namespace

TEST(BackgroundTask, ANeverStartedTaskHasNothingToStopOrWaitForAndADirectRunIsNeverAborted)
{
    CTask task([](CTask& t, int) { return !t.AbortRequested(); });
    EXPECT_FALSE(task.StopBackgroundTask(0));
    EXPECT_FALSE(task.StopBackgroundTask(250));
    EXPECT_FALSE(task.IsBackgroundTaskRunning());
    task.WaitForBackgroundTask();
    EXPECT_TRUE(task.m_waits.empty());
    EXPECT_FALSE(task.GetResult());
    EXPECT_TRUE(task.RunBackgroundTask());
}

// On its own thread, unasked to abort; a failed run is repeated once and the
// second result stands; an exception is a failure, logged, and never leaves
// the worker. Waiting goes in slices of a second.
TEST(BackgroundTask, RunsOnItsOwnThreadAndRepeatsAFailedRunOnce)
{
    const std::function<BOOL(CTask&, int)> runs[] = {
        [](CTask&, int call) -> BOOL {
            Sleep(1200);
            return call % 2 == 1;
        },
        [](CTask&, int) -> BOOL { throw CFileException(CFileException::hardIO, ERROR_CRC, L"C:\\bad.dat"); },
    };
    for (const BOOL bThrows : {FALSE, TRUE}) {
        CLogCapture capture;
        CTask task(runs[bThrows]);
        ASSERT_TRUE(task.StartBackgroundTask());
        task.WaitForBackgroundTask();
        EXPECT_EQ(task.GetResult(), !bThrows);
        EXPECT_EQ(task.m_nCalls, 2);
        EXPECT_EQ(task.m_waits, std::vector<DWORD>(bThrows ? 1 : 3, 1000));
        EXPECT_NE(task.m_dwThreadId, GetCurrentThreadId());
        EXPECT_FALSE(task.m_bSawAbortAtStart || task.IsBackgroundTaskRunning());
        EXPECT_EQ(capture.MessagesContaining(L"CBackgroundTask::RunBackgroundTask() threw").size(), bThrows ? 2u : 0u);
        // A new start, on the finished worker, clears the last result.
        ASSERT_TRUE(task.StartBackgroundTask());
        EXPECT_FALSE(task.GetResult());
        task.WaitForBackgroundTask();
        EXPECT_EQ(task.GetResult(), !bThrows);
        EXPECT_TRUE(task.StopBackgroundTask(0));
        EXPECT_TRUE(task.Released());
    }
}

TEST(BackgroundTask, StopWithTimeOutTerminatesOnlyARunThatIgnoresTheAbort)
{
    CTask deaf(&UntilReleased);
    CTask polite([](CTask& t, int) {
        while (!t.AbortRequested()) {
            Sleep(5);
        }
        return FALSE;
    });
    for (CTask* task : {&deaf, &polite}) {
        ASSERT_TRUE(task->StartBackgroundTask());
        task->WaitForFirstRun();
    }
    // A start while running is refused and leaves the run alone.
    EXPECT_FALSE(deaf.StartBackgroundTask());
    EXPECT_TRUE(deaf.IsBackgroundTaskRunning());
    EXPECT_FALSE(deaf.AbortRequested());
    HANDLE thread = nullptr;
    DuplicateHandle(GetCurrentProcess(), deaf.ThreadHandle(), GetCurrentProcess(), &thread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    EXPECT_TRUE(deaf.StopBackgroundTask(250));
    EXPECT_EQ(deaf.m_waits, (std::vector<DWORD>{100, 100, 50}));
    // Terminated: its thread has ended, with the code it was given.
    DWORD code = 12345;
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(GetExitCodeThread(thread, &code) && code == 0);
    CloseHandle(thread);
    EXPECT_TRUE(deaf.Released());

    // Asked to abort, the run ended well before the time-out.
    EXPECT_TRUE(polite.StopBackgroundTask(5000));
    EXPECT_EQ(polite.m_nCalls, 2);
    EXPECT_LT(polite.m_waits.size(), 50u);
}

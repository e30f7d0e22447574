#include "cleanup/BackgroundTask.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <vector>

#include "framework/Exception.h"

namespace {

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
    HANDLE ThreadHandle() const { return m_pThread->GetHandle(); }

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

}  // namespace

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
    CTask deaf([](CTask& t, int) {
        while (!t.m_bRelease) {
            Sleep(5);
        }
        return TRUE;
    });
    CTask polite([](CTask& t, int) {
        while (!t.AbortRequested()) {
            Sleep(5);
        }
        return FALSE;
    });
    for (CTask* task : {&deaf, &polite}) {
        ASSERT_TRUE(task->StartBackgroundTask());
        while (task->m_nCalls == 0) {
            Sleep(1);
        }
    }
    // A start while running is refused and leaves the run alone.
    EXPECT_TRUE(!deaf.StartBackgroundTask() && deaf.IsBackgroundTaskRunning() && !deaf.AbortRequested());
    HANDLE thread = nullptr;
    DuplicateHandle(GetCurrentProcess(), deaf.ThreadHandle(), GetCurrentProcess(), &thread, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    EXPECT_TRUE(deaf.StopBackgroundTask(250));
    EXPECT_EQ(deaf.m_waits, (std::vector<DWORD>{100, 100, 50}));
    // Terminated: its thread has ended.
    EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_TRUE(deaf.Released());

    // Asked to abort, the run ended well before the time-out.
    EXPECT_TRUE(polite.StopBackgroundTask(5000));
    EXPECT_EQ(polite.m_nCalls, 2);
    EXPECT_LT(polite.m_waits.size(), 50u);
}

#include "cleanup/BackgroundTask.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "framework/Exception.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"

namespace {

enum class Behaviour {
    Return,        // returns the next scripted result at once
    PollAbort,     // polls the abort event every 5 ms, returns FALSE when asked
    IgnoreAbort,   // sleeps until released, never looks at the abort event
};

// A task whose runs follow a script and record what they saw.
class CScriptedTask : public CBackgroundTask {
public:
    explicit CScriptedTask(std::vector<BOOL> results, Behaviour behaviour = Behaviour::Return)
        : m_results(std::move(results)), m_behaviour(behaviour)
    {
    }
    ~CScriptedTask() override
    {
        m_bRelease = true;
        StopBackgroundTask(0);
    }

    BOOL RunBackgroundTask() override
    {
        const int call = m_nCalls++;
        m_dwThreadId = GetCurrentThreadId();
        m_bSawAbortAtStart = IsAbortRequested();
        if (m_behaviour == Behaviour::PollAbort) {
            while (!IsAbortRequested()) {
                Sleep(5);
            }
            m_bSawAbort = true;
            return FALSE;
        }
        if (m_behaviour == Behaviour::IgnoreAbort) {
            while (!m_bRelease) {
                Sleep(5);
            }
        }
        if (m_dwRunMs > 0) {
            Sleep(m_dwRunMs);
        }
        m_bRunEnded = true;
        if (m_pEndedFlag != nullptr) {
            *m_pEndedFlag = true;
        }
        return call < static_cast<int>(m_results.size()) ? m_results[static_cast<size_t>(call)] : TRUE;
    }

    std::vector<DWORD> Waits()
    {
        std::lock_guard<std::mutex> lock(m_waitMutex);
        return m_waits;
    }
    HANDLE DuplicateThreadHandle() const
    {
        HANDLE h = nullptr;
        DuplicateHandle(GetCurrentProcess(), m_pThread->GetHandle(), GetCurrentProcess(), &h, 0, FALSE,
                        DUPLICATE_SAME_ACCESS);
        return h;
    }
    bool HasThreadObject() const { return m_pThread != nullptr; }
    bool HasEvents() const { return m_hAbortEvent.valid() || m_hFinishedEvent.valid(); }
    BOOL AbortRequested() const { return IsAbortRequested(); }

    std::atomic<int> m_nCalls{0};
    std::atomic<DWORD> m_dwThreadId{0};
    std::atomic<bool> m_bSawAbortAtStart{false};
    std::atomic<bool> m_bSawAbort{false};
    std::atomic<bool> m_bRelease{false};
    std::atomic<bool> m_bRunEnded{false};
    DWORD m_dwRunMs = 0;
    std::atomic<bool>* m_pEndedFlag = nullptr;

protected:
    DWORD WaitForFinishedEvent(DWORD dwMilliseconds) override
    {
        {
            std::lock_guard<std::mutex> lock(m_waitMutex);
            m_waits.push_back(dwMilliseconds);
        }
        return CBackgroundTask::WaitForFinishedEvent(dwMilliseconds);
    }

private:
    std::vector<BOOL> m_results;
    Behaviour m_behaviour;
    std::mutex m_waitMutex;
    std::vector<DWORD> m_waits;
};

DWORD ExitCodeOf(HANDLE hThread)
{
    WaitForSingleObject(hThread, 5000);
    DWORD code = 12345;
    GetExitCodeThread(hThread, &code);
    return code;
}

}  // namespace

TEST(BackgroundTask, ANeverStartedTaskHasNothingToStopOrWaitForAndADirectRunIsNeverAborted)
{
    CScriptedTask task({TRUE});
    EXPECT_FALSE(task.StopBackgroundTask(0));
    EXPECT_FALSE(task.StopBackgroundTask(250));
    EXPECT_FALSE(task.IsBackgroundTaskRunning());
    task.WaitForBackgroundTask();
    EXPECT_TRUE(task.Waits().empty());
    EXPECT_FALSE(task.GetResult());
    EXPECT_EQ(task.m_nCalls, 0);

    EXPECT_TRUE(task.RunBackgroundTask());
    EXPECT_EQ(task.m_dwThreadId, GetCurrentThreadId());
    EXPECT_FALSE(task.m_bSawAbortAtStart);
}

TEST(BackgroundTask, RunsOnItsOwnThreadAndLogsTheStart)
{
    CLogCapture capture;
    CScriptedTask task({TRUE});
    ASSERT_TRUE(task.StartBackgroundTask());
    task.WaitForBackgroundTask();
    EXPECT_TRUE(task.GetResult());
    EXPECT_EQ(task.m_nCalls, 1);
    EXPECT_NE(task.m_dwThreadId, GetCurrentThreadId());
    EXPECT_FALSE(task.m_bSawAbortAtStart);
    EXPECT_FALSE(task.IsBackgroundTaskRunning());

    const std::vector<CString> expected = {L"CBackgroundTask::StartBackgroundTask() start",
                                           L"CBackgroundTask::StartBackgroundTask() end, returning true"};
    EXPECT_EQ(capture.Messages(), expected);

    const HANDLE thread = task.DuplicateThreadHandle();
    EXPECT_EQ(ExitCodeOf(thread), 1u);
    CloseHandle(thread);
    EXPECT_TRUE(task.StopBackgroundTask(0));
    EXPECT_FALSE(task.HasThreadObject());
    EXPECT_FALSE(task.HasEvents());
}

TEST(BackgroundTask, AFailedRunIsRepeatedOnceAndTheSecondResultStands)
{
    CScriptedTask recovers({FALSE, TRUE});
    ASSERT_TRUE(recovers.StartBackgroundTask());
    recovers.WaitForBackgroundTask();
    EXPECT_EQ(recovers.m_nCalls, 2);
    EXPECT_TRUE(recovers.GetResult());

    CScriptedTask fails({FALSE, FALSE, TRUE});
    ASSERT_TRUE(fails.StartBackgroundTask());
    fails.WaitForBackgroundTask();
    EXPECT_EQ(fails.m_nCalls, 2);
    EXPECT_FALSE(fails.GetResult());
}

TEST(BackgroundTask, StopWithoutTimeOutAsksTheRunToAbortAndWaits)
{
    CScriptedTask task({}, Behaviour::PollAbort);
    ASSERT_TRUE(task.StartBackgroundTask());
    while (task.m_nCalls == 0) {
        Sleep(1);
    }
    EXPECT_TRUE(task.IsBackgroundTaskRunning());
    const HANDLE thread = task.DuplicateThreadHandle();
    EXPECT_TRUE(task.StopBackgroundTask(0));
    EXPECT_TRUE(task.m_bSawAbort);
    // The aborted run returned FALSE, so the worker ran it once more; the
    // abort event was still set for the second run.
    EXPECT_EQ(task.m_nCalls, 2);
    EXPECT_TRUE(task.m_bSawAbortAtStart);
    EXPECT_EQ(ExitCodeOf(thread), 1u);
    CloseHandle(thread);
    EXPECT_FALSE(task.HasThreadObject());
    EXPECT_FALSE(task.HasEvents());
}

TEST(BackgroundTask, StopWithTimeOutTerminatesOnlyARunThatIgnoresTheAbort)
{
    CScriptedTask deaf({}, Behaviour::IgnoreAbort);
    CScriptedTask polite({}, Behaviour::PollAbort);
    for (CScriptedTask* task : {&deaf, &polite}) {
        ASSERT_TRUE(task->StartBackgroundTask());
        while (task->m_nCalls == 0) {
            Sleep(1);
        }
    }
    HANDLE thread = deaf.DuplicateThreadHandle();
    EXPECT_TRUE(deaf.StopBackgroundTask(250));
    EXPECT_EQ(deaf.Waits(), (std::vector<DWORD>{100, 100, 50}));
    EXPECT_EQ(ExitCodeOf(thread), 0u) << "terminated threads end with code 0";
    CloseHandle(thread);
    EXPECT_FALSE(deaf.m_bRunEnded);
    EXPECT_FALSE(deaf.HasThreadObject());
    EXPECT_FALSE(deaf.HasEvents());

    thread = polite.DuplicateThreadHandle();
    EXPECT_TRUE(polite.StopBackgroundTask(5000));
    EXPECT_TRUE(polite.m_bSawAbort);
    EXPECT_EQ(ExitCodeOf(thread), 1u);
    CloseHandle(thread);
    EXPECT_LT(polite.Waits().size(), 50u);
}

TEST(BackgroundTask, StartingARunningTaskFailsAndLeavesItAlone)
{
    CLogCapture capture;
    CScriptedTask task({TRUE}, Behaviour::IgnoreAbort);
    ASSERT_TRUE(task.StartBackgroundTask());
    while (task.m_nCalls == 0) {
        Sleep(1);
    }
    capture.Clear();
    EXPECT_FALSE(task.StartBackgroundTask());
    // Only the start line: nothing else is logged for a refused start.
    const std::vector<CString> expected = {L"CBackgroundTask::StartBackgroundTask() start"};
    EXPECT_EQ(capture.Messages(), expected);
    EXPECT_TRUE(task.IsBackgroundTaskRunning());
    EXPECT_FALSE(task.AbortRequested());

    task.m_bRelease = true;
    task.WaitForBackgroundTask();
    EXPECT_EQ(task.m_nCalls, 1);
    EXPECT_TRUE(task.GetResult());
}

TEST(BackgroundTask, RestartingAFinishedTaskRunsOnANewWorkerWithAFreshResult)
{
    CScriptedTask task({TRUE, TRUE}, Behaviour::IgnoreAbort);
    task.m_bRelease = true;
    ASSERT_TRUE(task.StartBackgroundTask());
    task.WaitForBackgroundTask();
    EXPECT_TRUE(task.GetResult());
    const HANDLE oldThread = task.DuplicateThreadHandle();

    task.m_bRelease = false;
    ASSERT_TRUE(task.StartBackgroundTask());
    EXPECT_FALSE(task.GetResult());
    task.m_bRelease = true;
    task.WaitForBackgroundTask();
    EXPECT_EQ(task.m_nCalls, 2);
    EXPECT_TRUE(task.GetResult());
    const HANDLE newThread = task.DuplicateThreadHandle();
    EXPECT_NE(GetThreadId(newThread), GetThreadId(oldThread));
    CloseHandle(oldThread);
    CloseHandle(newThread);
}

TEST(BackgroundTask, WaitingUsesOneSecondSlices)
{
    CScriptedTask task({TRUE});
    task.m_dwRunMs = 1300;
    ASSERT_TRUE(task.StartBackgroundTask());
    task.WaitForBackgroundTask();
    const std::vector<DWORD> waits = task.Waits();
    ASSERT_EQ(waits.size(), 2u);
    EXPECT_EQ(waits[0], 1000u);
    EXPECT_EQ(waits[1], 1000u);
    EXPECT_TRUE(task.m_bRunEnded);
}

TEST(BackgroundTask, DestructionWaitsForTheRunningWorker)
{
    std::atomic<bool> ended{false};
    auto task = std::make_unique<CScriptedTask>(std::vector<BOOL>{TRUE});
    task->m_dwRunMs = 200;
    task->m_pEndedFlag = &ended;
    ASSERT_TRUE(task->StartBackgroundTask());
    while (task->m_nCalls == 0) {
        Sleep(1);
    }
    EXPECT_FALSE(ended);
    task.reset();
    EXPECT_TRUE(ended);
}

namespace {

class CThrowingTask : public CBackgroundTask {
public:
    ~CThrowingTask() override { StopBackgroundTask(0); }
    BOOL RunBackgroundTask() override
    {
        ++m_nCalls;
        throw CFileException(CFileException::hardIO, ERROR_CRC, L"C:\\bad.dat");
    }
    std::atomic<int> m_nCalls{0};
};

}  // namespace

TEST(BackgroundTask, AnExceptionFromARunCountsAsFailureAndIsLogged)
{
    CLogCapture capture;
    CThrowingTask task;
    ASSERT_TRUE(task.StartBackgroundTask());
    task.WaitForBackgroundTask();
    EXPECT_FALSE(task.GetResult());
    EXPECT_EQ(task.m_nCalls, 2);
    EXPECT_EQ(capture.MessagesContaining(L"CBackgroundTask::RunBackgroundTask() threw").size(), 2u);
}

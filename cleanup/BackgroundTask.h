#pragma once

#include <windows.h>

#include <memory>

#include "framework/Handles.h"
#include "framework/Thread.h"

class CDeleter;

// One unit of clean-up work. RunBackgroundTask runs either on a worker thread
// of the task's own (StartBackgroundTask) or directly on the caller's thread
// (the clean-up manager runs every cleaner that way, on its worker).
class CBackgroundTask {
public:
    CBackgroundTask() = default;
    // Stops the task as StopBackgroundTask(0) does: waits for a running
    // worker, so a task is never destroyed under its own thread. A subclass
    // whose run uses its own members calls StopBackgroundTask(0) in its own
    // destructor too: by the time this one runs, those members are gone.
    virtual ~CBackgroundTask();
    CBackgroundTask(const CBackgroundTask&) = delete;
    CBackgroundTask& operator=(const CBackgroundTask&) = delete;

    // The result of the last threaded run.
    virtual BOOL GetResult();
    virtual BOOL RunBackgroundTask() = 0;

    // TRUE when a worker thread was started; FALSE while one still runs.
    BOOL StartBackgroundTask();
    // FALSE when there is no worker. Otherwise asks a running worker to
    // abort and waits for it: with a positive time-out at most that long,
    // then the thread is terminated; with 0 or less as long as it takes.
    // Releases the thread and both events, and returns TRUE.
    BOOL StopBackgroundTask(int timeoutMs);
    BOOL IsBackgroundTaskRunning();
    // Returns once the worker has ended (at once when there is none).
    void WaitForBackgroundTask();
    void SetDeleter(CDeleter* pDeleter) { m_pDeleter = pDeleter; }

protected:
    // TRUE once the owner has asked the run to stop. A run without an abort
    // event (a direct run) is never asked.
    BOOL IsAbortRequested() const;

    // Waits on the finished event; a seam for tests that check the slices.
    virtual DWORD WaitForFinishedEvent(DWORD dwMilliseconds);

    CDeleter* m_pDeleter = nullptr;
    CHandle m_hAbortEvent;
    BOOL m_bResult = FALSE;
    std::unique_ptr<CThread> m_pThread;
    CHandle m_hFinishedEvent;

private:
    static unsigned __stdcall WorkerProcedure(void* pParameter);
    BOOL IsFinishedEventSignalled() const;
    // The thread has ended when its exit code reads as something other
    // than STILL_ACTIVE; an unreadable code counts as still running.
    BOOL HasThreadEnded() const;
};

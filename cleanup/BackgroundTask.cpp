#include "cleanup/BackgroundTask.h"

#include "framework/Logger.h"

namespace {

constexpr DWORD kStopSliceMs = 100;
constexpr DWORD kWaitSliceMs = 1000;
// A terminated thread is gone almost at once; the wait only makes sure it
// no longer runs when its task object goes away.
constexpr DWORD kTerminationWaitMs = 5000;

}  // namespace

CBackgroundTask::~CBackgroundTask()
{
    StopBackgroundTask(0);
}

BOOL CBackgroundTask::GetResult()
{
    return m_bResult;
}

BOOL CBackgroundTask::StartBackgroundTask()
{
    LOG_MESSAGE(L"CBackgroundTask::StartBackgroundTask() start");
    m_bResult = FALSE;

    if (m_pThread) {
        if (IsBackgroundTaskRunning()) {
            return FALSE;
        }
        StopBackgroundTask(0);
    }

    m_hAbortEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!m_hAbortEvent) {
        LOG_MESSAGE(L"CBackgroundTask::StartBackgroundTask() end, returning FALSE");
        return FALSE;
    }
    m_hFinishedEvent.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!m_hFinishedEvent) {
        m_hAbortEvent.reset();
        LOG_MESSAGE(L"CBackgroundTask::StartBackgroundTask() end, returning FALSE");
        return FALSE;
    }
    auto pThread = std::make_unique<CThread>();
    if (!pThread->Create(&CBackgroundTask::WorkerProcedure, this, true)) {
        m_hFinishedEvent.reset();
        m_hAbortEvent.reset();
        LOG_MESSAGE(L"CBackgroundTask::StartBackgroundTask() end, returning FALSE");
        return FALSE;
    }
    m_pThread = std::move(pThread);
    m_pThread->Resume();
    LOG_MESSAGE(L"CBackgroundTask::StartBackgroundTask() end, returning true");
    return TRUE;
}

unsigned __stdcall CBackgroundTask::WorkerProcedure(void* pParameter)
{
    auto* pTask = static_cast<CBackgroundTask*>(pParameter);
    if (pTask == nullptr) {
        return 1;
    }
    // No exception may leave the thread: it would end the whole process.
    auto runOnce = [pTask]() -> BOOL {
        try {
            return pTask->RunBackgroundTask();
        } catch (const CException& e) {
            LOG_EXCEPTION(e, L"CBackgroundTask::RunBackgroundTask() threw");
        } catch (...) {
            LOG_MESSAGE(L"CBackgroundTask::RunBackgroundTask() threw an unknown exception");
        }
        return FALSE;
    };
    pTask->m_bResult = runOnce();
    if (!pTask->m_bResult) {
        pTask->m_bResult = runOnce();
    }
    SetEvent(pTask->m_hFinishedEvent.get());
    return 1;
}

BOOL CBackgroundTask::IsFinishedEventSignalled() const
{
    return m_hFinishedEvent && WaitForSingleObject(m_hFinishedEvent.get(), 0) == WAIT_OBJECT_0;
}

BOOL CBackgroundTask::HasThreadEnded() const
{
    return m_pThread && m_pThread->HasEnded();
}

BOOL CBackgroundTask::IsBackgroundTaskRunning()
{
    if (!m_pThread) {
        return FALSE;
    }
    if (IsFinishedEventSignalled()) {
        return FALSE;
    }
    return HasThreadEnded() ? FALSE : TRUE;
}

DWORD CBackgroundTask::WaitForFinishedEvent(DWORD dwMilliseconds)
{
    return WaitForSingleObject(m_hFinishedEvent.get(), dwMilliseconds);
}

void CBackgroundTask::WaitForBackgroundTask()
{
    if (!m_pThread) {
        return;
    }
    for (;;) {
        if (WaitForFinishedEvent(kWaitSliceMs) == WAIT_OBJECT_0) {
            return;
        }
        if (HasThreadEnded()) {
            return;
        }
    }
}

BOOL CBackgroundTask::StopBackgroundTask(int timeoutMs)
{
    if (!m_pThread) {
        return FALSE;
    }
    if (!IsFinishedEventSignalled() && !HasThreadEnded()) {
        SetEvent(m_hAbortEvent.get());
        if (timeoutMs > 0) {
            // The slices add up to exactly the time-out (250 ms waits 100,
            // 100 and 50), however long each wait really took.
            DWORD left = static_cast<DWORD>(timeoutMs);
            bool bEnded = false;
            while (left > 0 && !bEnded) {
                const DWORD slice = left < kStopSliceMs ? left : kStopSliceMs;
                bEnded = WaitForFinishedEvent(slice) == WAIT_OBJECT_0 || HasThreadEnded();
                left -= slice;
            }
            if (!bEnded) {
                m_pThread->Terminate(0);
                m_pThread->Wait(kTerminationWaitMs);
            }
        } else {
            const HANDLE handles[] = {m_hFinishedEvent.get(), m_pThread->GetHandle()};
            WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        }
    }
    m_pThread.reset();
    m_hFinishedEvent.reset();
    m_hAbortEvent.reset();
    return TRUE;
}

BOOL CBackgroundTask::IsAbortRequested() const
{
    // A failed wait (no event, as in a direct run) is no abort request.
    return m_hAbortEvent && WaitForSingleObject(m_hAbortEvent.get(), 0) == WAIT_OBJECT_0;
}

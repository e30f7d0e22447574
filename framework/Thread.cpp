#include "framework/Thread.h"

#include <process.h>

bool CThread::Create(Procedure procedure, void* parameter, bool bSuspended)
{
    unsigned threadId = 0;
    const uintptr_t h = _beginthreadex(nullptr, 0, procedure, parameter, bSuspended ? CREATE_SUSPENDED : 0, &threadId);
    if (h == 0) {
        return false;
    }
    m_hThread.reset(reinterpret_cast<HANDLE>(h));
    m_dwThreadId = threadId;
    return true;
}

bool CThread::Resume()
{
    return m_hThread.valid() && ResumeThread(m_hThread.get()) != static_cast<DWORD>(-1);
}

bool CThread::GetExitCode(DWORD* pdwExitCode) const
{
    return m_hThread.valid() && GetExitCodeThread(m_hThread.get(), pdwExitCode) != FALSE;
}

bool CThread::HasEnded() const
{
    DWORD code = 0;
    return GetExitCode(&code) && code != STILL_ACTIVE;
}

bool CThread::Terminate(DWORD dwExitCode)
{
    return m_hThread.valid() && TerminateThread(m_hThread.get(), dwExitCode) != FALSE;
}

DWORD CThread::Wait(DWORD dwMilliseconds) const
{
    return m_hThread.valid() ? WaitForSingleObject(m_hThread.get(), dwMilliseconds) : WAIT_FAILED;
}

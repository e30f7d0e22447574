#pragma once

#include <windows.h>

#include "framework/Handles.h"

// A worker thread started through the C runtime (so that the runtime's
// per-thread data is set up and freed), owned through its handle.
class CThread {
public:
    using Procedure = unsigned(__stdcall*)(void*);

    CThread() = default;
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;
    CThread(CThread&&) = default;
    CThread& operator=(CThread&&) = default;

    // Creates the thread with the default stack size and normal priority.
    [[nodiscard]] bool Create(Procedure procedure, void* parameter, bool bSuspended);
    bool Resume();
    // FALSE when the exit code cannot be read; STILL_ACTIVE while it runs.
    bool GetExitCode(DWORD* pdwExitCode) const;
    bool HasEnded() const;
    bool Terminate(DWORD dwExitCode);
    // WAIT_OBJECT_0 once the thread has ended.
    DWORD Wait(DWORD dwMilliseconds) const;

    HANDLE GetHandle() const { return m_hThread.get(); }
    DWORD GetId() const { return m_dwThreadId; }
    bool IsCreated() const { return m_hThread.valid(); }

private:
    CHandle m_hThread;
    DWORD m_dwThreadId = 0;
};

#include "framework/WinThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

#include "framework/Handles.h"

namespace {

struct CRecord {
    std::vector<const char*> steps;
    std::atomic<bool> bDeleted{false};
    CWinThread* pCurrentInside = nullptr;
    std::vector<UINT> threadMessages;
};

class CRecordingThread : public CWinThread {
public:
    enum class Mode { run, fail, throwInInit };

    CRecordingThread(CRecord& record, Mode mode) : m_record(record), m_mode(mode) {}
    ~CRecordingThread() override { m_record.bDeleted = true; }

protected:
    BOOL InitInstance() override
    {
        m_record.steps.push_back("init");
        m_record.pCurrentInside = GetCurrent();
        if (m_mode == Mode::throwInInit) {
            throw std::runtime_error("init");
        }
        return m_mode == Mode::run;
    }
    int ExitInstance() override
    {
        m_record.steps.push_back("exit");
        return CWinThread::ExitInstance() + 100;
    }
    void OnThreadMessage(const MSG& msg) override
    {
        m_record.threadMessages.push_back(msg.message);
        if (msg.message == WM_APP + 2) {
            throw std::runtime_error("handler");
        }
    }
    void OnUnhandledException(const wchar_t*) noexcept override { m_record.steps.push_back("caught"); }

private:
    CRecord& m_record;
    Mode m_mode;
};

// Starts the thread and waits for its end; its exit code.
DWORD RunToEnd(CWinThread* pThread, const std::vector<UINT>& messages = {}, WPARAM nQuitCode = 0)
{
    if (!pThread->CreateThread()) {
        ADD_FAILURE() << "thread not started";
        delete pThread;
        return 0;
    }
    const DWORD dwThreadId = pThread->GetThreadId();
    // Taken over: the thread must not close it when it ends.
    CHandle hThread = pThread->DetachThreadHandle();
    for (UINT uMsg : messages) {
        while (!PostThreadMessageW(dwThreadId, uMsg, 0, 0) && WaitForSingleObject(hThread.get(), 5) == WAIT_TIMEOUT) {
        }
    }
    PostThreadMessageW(dwThreadId, WM_QUIT, nQuitCode, 0);
    EXPECT_EQ(WaitForSingleObject(hThread.get(), 10000), WAIT_OBJECT_0);
    DWORD dwExitCode = 0;
    EXPECT_TRUE(GetExitCodeThread(hThread.get(), &dwExitCode));
    return dwExitCode;
}

}  // namespace

TEST(WinThread, RunsItsLoopUntilQuitThenExitsAndDeletesItself)
{
    CRecord record;
    auto* pThread = new CRecordingThread(record, CRecordingThread::Mode::run);
    EXPECT_EQ(RunToEnd(pThread, {WM_APP + 1, WM_APP + 2, WM_APP + 3}, 7), 107u);
    EXPECT_TRUE(record.bDeleted);
    EXPECT_EQ(record.pCurrentInside, pThread);
    EXPECT_EQ(CWinThread::GetCurrent(), nullptr);
    // A throwing handler stops at the thread, which carries on.
    EXPECT_EQ(record.threadMessages, (std::vector<UINT>{WM_APP + 1, WM_APP + 2, WM_APP + 3}));
    EXPECT_EQ(record.steps, (std::vector<const char*>{"init", "caught", "exit"}));
}

TEST(WinThread, ExitInstanceRunsWhenInitialisationFailsOrThrows)
{
    CRecord failed;
    EXPECT_EQ(RunToEnd(new CRecordingThread(failed, CRecordingThread::Mode::fail)), 100u);
    EXPECT_EQ(failed.steps, (std::vector<const char*>{"init", "exit"}));
    EXPECT_TRUE(failed.bDeleted);

    CRecord threw;
    EXPECT_EQ(RunToEnd(new CRecordingThread(threw, CRecordingThread::Mode::throwInInit)), 100u);
    EXPECT_EQ(threw.steps, (std::vector<const char*>{"init", "caught", "exit"}));
    EXPECT_TRUE(threw.bDeleted);
}

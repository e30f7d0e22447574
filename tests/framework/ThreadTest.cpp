#include "framework/ComPtr.h"
#include "framework/Handles.h"
#include "framework/WinThread.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

bool IsOpenHandle(HANDLE h)
{
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != FALSE;
}

// An object's reference count, as AddRef and Release report it.
ULONG Refs(IUnknown* p)
{
    p->AddRef();
    return p->Release();
}

// Records its steps; its thread posts itself two messages (the first
// handler throws) and a quit with 7, or fails or throws in InitInstance.
class CRecordingThread : public CWinThread {
public:
    enum Mode { run, fail, throwInInit };
    CRecordingThread(std::vector<std::string>& steps, Mode mode) : m_steps(steps), m_mode(mode) {}
    ~CRecordingThread() override { m_steps.push_back("deleted"); }

protected:
    BOOL InitInstance() override
    {
        m_steps.push_back(GetCurrent() == this ? "init" : "init, not current");
        if (m_mode == throwInInit) {
            throw std::runtime_error("init");
        }
        PostThreadMessageW(GetCurrentThreadId(), WM_APP + 1, 0, 0);
        PostThreadMessageW(GetCurrentThreadId(), WM_APP + 2, 0, 0);
        PostQuitMessage(7);
        return m_mode == run;
    }
    int ExitInstance() override { return CWinThread::ExitInstance() + 100 * static_cast<int>(m_steps.size()); }
    void OnThreadMessage(const MSG& msg) override
    {
        m_steps.push_back(std::to_string(msg.message - WM_APP));
        if (msg.message == WM_APP + 1) {
            throw std::runtime_error("handler");
        }
    }
    void OnUnhandledException(const wchar_t*) noexcept override { m_steps.push_back("caught"); }

private:
    std::vector<std::string>& m_steps;
    Mode m_mode;
};

}  // namespace

TEST(Owners, CloseOrReleaseWhatTheyHoldOnResetAndDestructionButNotAfterAMove)
{
    HANDLE first = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE second = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        CHandle a(first);
        a.reset(second);
        EXPECT_FALSE(IsOpenHandle(first));
        CHandle b(std::move(a));
        EXPECT_FALSE(a.valid());
        CHandle c;
        c = std::move(b);
        EXPECT_EQ(c.get(), second);
    }
    EXPECT_FALSE(IsOpenHandle(second));
    // INVALID_HANDLE_VALUE is no handle for the owners that hold it.
    EXPECT_FALSE(CHandle(CreateFileW(L"C:\\no\\such", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)).valid());

    // A COM pointer counts every copy, none for a move.
    IStream* pObject = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &pObject), S_OK);
    {
        CComPtr<IStream> a(pObject);
        CComPtr<IStream> b(a);
        CComPtr<IStream> c(std::move(b));
        EXPECT_FALSE(b);
        c = a;
        EXPECT_EQ(Refs(pObject), 3u);
        c.reset();
        EXPECT_EQ(Refs(pObject), 2u);
    }
    EXPECT_EQ(pObject->Release(), 0u);
    CComPtr<IUnknown> none;
    EXPECT_EQ(CComPtr<IUnknown>().QueryInterface(none), E_POINTER);
}

TEST(WinThread, RunsItsLoopUntilQuitStopsEveryExceptionThenExitsAndDeletesItself)
{
    // A throwing handler stops at the thread, which carries on; ExitInstance
    // runs when initialisation fails or throws too. The exit code shows how
    // many steps came before ExitInstance.
    const struct {
        CRecordingThread::Mode mode;
        DWORD dwExitCode;
        std::vector<std::string> steps;
    } runs[] = {{CRecordingThread::run, 407, {"init", "1", "caught", "2", "deleted"}},
                {CRecordingThread::fail, 100, {"init", "deleted"}},
                {CRecordingThread::throwInInit, 200, {"init", "caught", "deleted"}}};
    for (const auto& run : runs) {
        std::vector<std::string> steps;
        CWinThread* pThread = new CRecordingThread(steps, run.mode);
        ASSERT_TRUE(pThread->CreateThread());
        // Taken over: the thread must not close it when it ends.
        const CHandle hThread = pThread->DetachThreadHandle();
        DWORD dwExitCode = 0;
        EXPECT_EQ(WaitForSingleObject(hThread.get(), 10000), WAIT_OBJECT_0);
        EXPECT_TRUE(GetExitCodeThread(hThread.get(), &dwExitCode));
        EXPECT_EQ(dwExitCode, run.dwExitCode);
        EXPECT_EQ(steps, run.steps);
    }
}

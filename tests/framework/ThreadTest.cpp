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
    enum class Mode { run, fail, throwInInit };

    CRecordingThread(std::vector<std::string>& steps, Mode mode) : m_steps(steps), m_mode(mode) {}
    ~CRecordingThread() override { m_steps.push_back("deleted"); }

    // Runs the thread to its end; its exit code.
    static DWORD Run(std::vector<std::string>& steps, Mode mode)
    {
        CWinThread* pThread = new CRecordingThread(steps, mode);
        EXPECT_TRUE(pThread->CreateThread());
        // Taken over: the thread must not close it when it ends.
        CHandle hThread = pThread->DetachThreadHandle();
        DWORD dwExitCode = 0;
        EXPECT_EQ(WaitForSingleObject(hThread.get(), 10000), WAIT_OBJECT_0);
        EXPECT_TRUE(GetExitCodeThread(hThread.get(), &dwExitCode));
        return dwExitCode;
    }

protected:
    BOOL InitInstance() override
    {
        m_steps.push_back(GetCurrent() == this ? "init" : "init, not current");
        if (m_mode == Mode::throwInInit) {
            throw std::runtime_error("init");
        }
        PostThreadMessageW(GetCurrentThreadId(), WM_APP + 1, 0, 0);
        PostThreadMessageW(GetCurrentThreadId(), WM_APP + 2, 0, 0);
        PostQuitMessage(7);
        return m_mode == Mode::run;
    }
    int ExitInstance() override
    {
        m_steps.push_back("exit");
        return CWinThread::ExitInstance() + 100;
    }
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
        HANDLE released = c.release();
        EXPECT_FALSE(c.valid());
        EXPECT_TRUE(IsOpenHandle(released));
        c.reset(released);
    }
    EXPECT_FALSE(IsOpenHandle(second));
    // INVALID_HANDLE_VALUE is no handle for the owners that hold it.
    const HANDLE hNoFile = CreateFileW(L"C:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_FALSE(CHandle(hNoFile).valid());

    // put() closes the old key before it hands out the slot.
    CRegKey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, key.put()), ERROR_SUCCESS);
    const HKEY hOld = key.get();
    HKEY* slot = key.put();
    EXPECT_EQ(*slot, nullptr);
    DWORD nSubKeys = 0;
    EXPECT_NE(RegQueryInfoKeyW(hOld, nullptr, nullptr, nullptr, &nSubKeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr),
              ERROR_SUCCESS);

    // A COM pointer counts every copy, none for a move.
    IStream* pObject = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &pObject), S_OK);
    {
        CComPtr<IStream> a(pObject);
        CComPtr<IStream> b(a);
        CComPtr<IStream> c(std::move(b));
        EXPECT_FALSE(b);
        c = a;
        c = c;
        EXPECT_EQ(Refs(pObject), 3u);
        CComPtr<IUnknown> queried;
        EXPECT_EQ(a.QueryInterface(queried), S_OK);
        c.reset();
        EXPECT_EQ(Refs(pObject), 3u);
        pObject->AddRef();
        c.Attach(pObject);
        EXPECT_EQ(c.Detach(), pObject);
        EXPECT_EQ(Refs(pObject), 4u);
        pObject->Release();
    }
    EXPECT_EQ(pObject->Release(), 0u);
    CComPtr<IUnknown> none;
    EXPECT_EQ(CComPtr<IUnknown>().QueryInterface(none), E_POINTER);
}

TEST(WinThread, RunsItsLoopUntilQuitStopsEveryExceptionThenExitsAndDeletesItself)
{
    // A throwing handler stops at the thread, which carries on; ExitInstance
    // runs when initialisation fails or throws too.
    const struct {
        CRecordingThread::Mode mode;
        DWORD dwExitCode;
        std::vector<std::string> steps;
    } runs[] = {{CRecordingThread::Mode::run, 107, {"init", "1", "caught", "2", "exit", "deleted"}},
                {CRecordingThread::Mode::fail, 100, {"init", "exit", "deleted"}},
                {CRecordingThread::Mode::throwInInit, 100, {"init", "caught", "exit", "deleted"}}};
    for (const auto& run : runs) {
        std::vector<std::string> steps;
        EXPECT_EQ(CRecordingThread::Run(steps, run.mode), run.dwExitCode);
        EXPECT_EQ(steps, run.steps);
    }
    EXPECT_EQ(CWinThread::GetCurrent(), nullptr);
}

#include "framework/ComPtr.h"
#include "framework/Handles.h"
#include "framework/Thread.h"
#include "framework/WinThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

bool IsOpenHandle(HANDLE h)
{
    DWORD flags = 0;
    return GetHandleInformation(h, &flags) != FALSE;
}

// Counts its references so the test sees every AddRef and Release.
class CCountedObject : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid != IID_IUnknown) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_refs; }

    std::atomic<ULONG> m_refs{1};
};

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

// Starts the thread, posts it the messages and a quit, and waits for its
// end; its exit code.
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

unsigned __stdcall ReturnParameter(void* parameter)
{
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(parameter));
}

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
    EXPECT_FALSE(CHandle(CreateFileW(L"C:\\no\\such\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)).valid());

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

    // A mutex is released, its handle kept: another thread takes it at once.
    CHandle mutex(CreateMutexW(nullptr, TRUE, nullptr));
    {
        CMutexOwnership owned(mutex.get());
    }
    DWORD result = WAIT_FAILED;
    std::thread([&] {
        result = WaitForSingleObject(mutex.get(), 0);
        ReleaseMutex(mutex.get());
    }).join();
    EXPECT_EQ(result, WAIT_OBJECT_0);
    EXPECT_TRUE(IsOpenHandle(mutex.get()));

    CCountedObject object;
    {
        CComPtr<IUnknown> a(&object);
        CComPtr<IUnknown> b(a);
        CComPtr<IUnknown> c(std::move(b));
        EXPECT_FALSE(b);
        EXPECT_EQ(object.m_refs, 3u);
        c = a;
        c = c;
        EXPECT_EQ(object.m_refs, 3u);
        CComPtr<IUnknown> queried;
        EXPECT_EQ(a.QueryInterface(queried), S_OK);
        EXPECT_EQ(object.m_refs, 4u);
        c.reset();
        EXPECT_EQ(object.m_refs, 3u);
    }
    EXPECT_EQ(object.m_refs, 1u);
    CComPtr<IUnknown> attached;
    object.AddRef();
    attached.Attach(&object);
    attached.Detach()->Release();
    EXPECT_EQ(object.m_refs, 1u);
    CComPtr<IUnknown> none;
    EXPECT_EQ(CComPtr<IUnknown>().QueryInterface(none), E_POINTER);
}

TEST(Thread, ASuspendedThreadRunsOnlyAfterResumeAndTerminateEndsIt)
{
    CThread thread;
    DWORD code = 0;
    EXPECT_FALSE(thread.GetExitCode(&code));
    EXPECT_FALSE(thread.Resume());
    EXPECT_EQ(thread.Wait(0), WAIT_FAILED);

    ASSERT_TRUE(thread.Create(&ReturnParameter, reinterpret_cast<void*>(uintptr_t{7}), true));
    EXPECT_EQ(thread.Wait(50), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(thread.GetExitCode(&code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_FALSE(thread.HasEnded());
    ASSERT_TRUE(thread.Resume());
    EXPECT_EQ(thread.Wait(5000), WAIT_OBJECT_0);
    EXPECT_TRUE(thread.GetExitCode(&code));
    EXPECT_EQ(code, 7u);
    EXPECT_TRUE(thread.HasEnded());

    CThread blocked;
    ASSERT_TRUE(blocked.Create(&ReturnParameter, nullptr, true));
    EXPECT_TRUE(blocked.Terminate(42));
    EXPECT_EQ(blocked.Wait(5000), WAIT_OBJECT_0);
    EXPECT_TRUE(blocked.GetExitCode(&code));
    EXPECT_EQ(code, 42u);
}

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

    // ExitInstance runs when initialisation fails or throws.
    for (const auto mode : {CRecordingThread::Mode::fail, CRecordingThread::Mode::throwInInit}) {
        CRecord failed;
        EXPECT_EQ(RunToEnd(new CRecordingThread(failed, mode)), 100u);
        EXPECT_EQ(failed.steps, (mode == CRecordingThread::Mode::fail ? std::vector<const char*>{"init", "exit"}
                                                                      : std::vector<const char*>{"init", "caught", "exit"}));
        EXPECT_TRUE(failed.bDeleted);
    }
}

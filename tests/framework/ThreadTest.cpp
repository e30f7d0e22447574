#include "framework/Thread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

std::atomic<int> g_runs{0};

unsigned __stdcall CountAndReturn(void* parameter)
{
    ++g_runs;
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(parameter));
}

unsigned __stdcall WaitForEvent(void* parameter)
{
    WaitForSingleObject(static_cast<HANDLE>(parameter), INFINITE);
    return 1;
}

}  // namespace

TEST(Thread, SuspendedThreadRunsOnlyAfterResume)
{
    g_runs = 0;
    CThread thread;
    DWORD code = 0;
    EXPECT_FALSE(thread.GetExitCode(&code));
    EXPECT_FALSE(thread.HasEnded());
    EXPECT_FALSE(thread.Resume());
    EXPECT_EQ(thread.Wait(0), WAIT_FAILED);

    ASSERT_TRUE(thread.Create(&CountAndReturn, reinterpret_cast<void*>(uintptr_t{7}), true));
    EXPECT_NE(thread.GetId(), 0u);
    Sleep(50);
    EXPECT_EQ(g_runs, 0);
    EXPECT_TRUE(thread.GetExitCode(&code));
    EXPECT_EQ(code, STILL_ACTIVE);
    EXPECT_FALSE(thread.HasEnded());

    ASSERT_TRUE(thread.Resume());
    EXPECT_EQ(thread.Wait(5000), WAIT_OBJECT_0);
    EXPECT_EQ(g_runs, 1);
    EXPECT_TRUE(thread.GetExitCode(&code));
    EXPECT_EQ(code, 7u);
    EXPECT_TRUE(thread.HasEnded());
}

TEST(Thread, TerminateEndsABlockedThreadWithTheGivenCode)
{
    CHandle never(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    CThread thread;
    ASSERT_TRUE(thread.Create(&WaitForEvent, never.get(), false));
    EXPECT_EQ(thread.Wait(50), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(thread.Terminate(42));
    EXPECT_EQ(thread.Wait(5000), WAIT_OBJECT_0);
    DWORD code = 0;
    EXPECT_TRUE(thread.GetExitCode(&code));
    EXPECT_EQ(code, 42u);
}

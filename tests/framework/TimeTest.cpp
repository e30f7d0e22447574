#include "framework/Time.h"

#include <gtest/gtest.h>

#include "tests/support/Printers.h"

namespace {

FILETIME MakeFileTime(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second, WORD ms = 0)
{
    SYSTEMTIME st = {};
    st.wYear = year;
    st.wMonth = month;
    st.wDay = day;
    st.wHour = hour;
    st.wMinute = minute;
    st.wSecond = second;
    st.wMilliseconds = ms;
    FILETIME ft = {};
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
    return ft;
}

}  // namespace

TEST(Time, FileTimeConversionsAgreeWithThePlatform)
{
    const FILETIME epoch = MakeFileTime(1970, 1, 1, 0, 0, 0);
    EXPECT_EQ(CTime::FromFileTime(epoch).GetTime(), 0);

    // 2021-03-04 05:06:07.890 UTC is 1614834367 seconds; the fraction is cut.
    const FILETIME ft = MakeFileTime(2021, 3, 4, 5, 6, 7, 890);
    const CTime t = CTime::FromFileTime(ft);
    EXPECT_EQ(t.GetTime(), 1614834367);

    const FILETIME back = t.ToFileTime();
    SYSTEMTIME st;
    ASSERT_TRUE(FileTimeToSystemTime(&back, &st));
    EXPECT_EQ(st.wYear, 2021);
    EXPECT_EQ(st.wMonth, 3);
    EXPECT_EQ(st.wDay, 4);
    EXPECT_EQ(st.wHour, 5);
    EXPECT_EQ(st.wMinute, 6);
    EXPECT_EQ(st.wSecond, 7);
    EXPECT_EQ(st.wMilliseconds, 0);
}

TEST(Time, BeforeTheEpochRoundsDown)
{
    const FILETIME ft = MakeFileTime(1969, 12, 31, 23, 59, 59, 500);
    EXPECT_EQ(CTime::FromFileTime(ft).GetTime(), -1);
}

TEST(Time, ViaLocalTimeGivesTheSameInstantAwayFromDaylightChanges)
{
    const FILETIME summer = MakeFileTime(2020, 6, 15, 12, 0, 0);
    const FILETIME winter = MakeFileTime(2020, 1, 15, 12, 0, 0);
    EXPECT_EQ(CTime::FromFileTimeViaLocal(summer), CTime::FromFileTime(summer));
    EXPECT_EQ(CTime::FromFileTimeViaLocal(winter), CTime::FromFileTime(winter));
}

TEST(Time, ViaLocalTimeOfAnUnusableTimeIsZero)
{
    const FILETIME zero = {0, 0};
    EXPECT_EQ(CTime::FromFileTimeViaLocal(zero).GetTime(), 0);
    const FILETIME huge = {0xFFFFFFFF, 0xFFFFFFFF};
    EXPECT_EQ(CTime::FromFileTimeViaLocal(huge).GetTime(), 0);
}

TEST(Time, CurrentTimeMatchesTheSystemClock)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const int64_t diff = CTime::GetCurrentTime() - CTime::FromFileTime(now);
    EXPECT_LE(diff < 0 ? -diff : diff, 2);
}

TEST(Time, FormatsAndCompares)
{
    const CTime t(1614834367);
    EXPECT_EQ(t.FormatGmt(L"%Y-%m-%d %H:%M:%S"), L"2021-03-04 05:06:07");
    EXPECT_LT(t, t + 1);
    EXPECT_EQ((t + 10) - t, 10);
    EXPECT_EQ(t - 7, CTime(1614834360));
}

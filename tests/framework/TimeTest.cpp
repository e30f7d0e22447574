#include "framework/Time.h"

#include <gtest/gtest.h>

#include <cstdlib>

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
    EXPECT_EQ(CTime::FromFileTime(MakeFileTime(1970, 1, 1, 0, 0, 0)).GetTime(), 0);
    // Before the epoch a fraction rounds down, not towards zero.
    EXPECT_EQ(CTime::FromFileTime(MakeFileTime(1969, 12, 31, 23, 59, 59, 500)).GetTime(), -1);

    // 2021-03-04 05:06:07.890 UTC is 1614834367 seconds; the fraction is cut.
    const CTime t = CTime::FromFileTime(MakeFileTime(2021, 3, 4, 5, 6, 7, 890));
    EXPECT_EQ(t.GetTime(), 1614834367);
    const FILETIME back = t.ToFileTime();
    const FILETIME whole = MakeFileTime(2021, 3, 4, 5, 6, 7);
    EXPECT_EQ(CompareFileTime(&back, &whole), 0);
    EXPECT_EQ(t.FormatGmt(L"%Y-%m-%d %H:%M:%S"), L"2021-03-04 05:06:07");
    EXPECT_EQ(t - 7, CTime(1614834360));

    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    EXPECT_LE(std::abs(CTime::GetCurrentTime() - CTime::FromFileTime(now)), 2);
}

TEST(Time, ViaLocalTimeKeepsTheInstantAndGivesZeroForUnusableTimes)
{
    for (const FILETIME ft : {MakeFileTime(2020, 6, 15, 12, 0, 0), MakeFileTime(2020, 1, 15, 12, 0, 0)}) {
        EXPECT_EQ(CTime::FromFileTimeViaLocal(ft), CTime::FromFileTime(ft));
    }
    EXPECT_EQ(CTime::FromFileTimeViaLocal(FILETIME{0, 0}).GetTime(), 0);
    EXPECT_EQ(CTime::FromFileTimeViaLocal(FILETIME{0xFFFFFFFF, 0xFFFFFFFF}).GetTime(), 0);
}

// The comparison is the judge of the demonstration session and of the
// random-kill campaign: if it hid a change, a trace left or lost would pass
// unseen there.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/trace-audit/TraceComparison.h"

namespace {

const std::string kUserCookie = "cookiefile\tuser@example[1].txt\tid\t42\texample.com/\t1024";
const std::string kUserCache = "urlcache\tnormal\thttp://example.com/a.css\tC:\\cache\\a.css\t120";
const std::string kUserIndex = "indexdat\tcontent:index.dat\tURL\thttp://example.com/a.css\tQ1\\a.css";
const std::string kUserCookieIndex = "indexdat\tcookies:index.dat\tURL\tCookie:user@example.com/\tuser@example[1].txt";
const std::string kUserFlash = "flash\t#SharedObjects\\X\\site\\s.sol\t64\tab12";

std::vector<std::string> UserProfile()
{
    return {kUserCookie, kUserCache, kUserIndex, kUserCookieIndex, kUserFlash, kUserFlash};
}

}  // namespace

TEST(TraceComparison, AProfileGivenBackAsItWasCountsAsKept)
{
    // The cookie jar writes a cookie put back into a file of a new name, and
    // the cookie index then points at it: neither is a change to the user.
    std::vector<std::string> after = UserProfile();
    after[0] = "cookiefile\tuser@example[2].txt\tid\t42\texample.com/\t1024";
    after[3] = "indexdat\tcookies:index.dat\tURL\tCookie:user@example.com/\tuser@example[2].txt";
    // Records a store frees and reuses on its own are not traces.
    after.push_back("indexdat\tcontent:index.dat\tREDR\thttp://example.com/old");
    after.push_back("indexdat\tcontent:index.dat\tfree\t");

    const CTraceSummary summary = CTraceComparison::Compare(UserProfile(), {}, after);
    EXPECT_EQ(summary.nBefore, 6u);
    EXPECT_EQ(summary.nKept, 6u);
    EXPECT_TRUE(summary.lost.empty());
    EXPECT_TRUE(summary.left.empty());
    EXPECT_EQ(summary.nAdded, 0u);
    EXPECT_EQ(summary.nHidden, 0u);
}

TEST(TraceComparison, SeesEveryTraceLeftOrLost)
{
    std::vector<std::string> after = UserProfile();
    after[0] = "cookiefile\tuser@example[1].txt\tid\t43\texample.com/\t1024";  // value changed
    after.pop_back();                                                           // one of two equal files gone
    after.push_back("history\thttp://session.example/");
    after.push_back("indexdat\thistory:index.dat\tLEAK\thttp://session.example/");
    after.push_back("");

    const CTraceSummary summary = CTraceComparison::Compare(UserProfile(), {}, after);
    EXPECT_EQ(summary.lost, (std::vector<std::string>{"cookiefile\tid\t42\texample.com/\t1024", kUserFlash}));
    ASSERT_EQ(summary.left.size(), 3u);
    EXPECT_EQ(summary.left[0], "cookiefile\tid\t43\texample.com/\t1024");
    EXPECT_EQ(summary.left[1], "history\thttp://session.example/");
    EXPECT_EQ(summary.left[2], "indexdat\thistory:index.dat\tLEAK\thttp://session.example/");
    EXPECT_EQ(summary.nKept, 4u);
}

TEST(TraceComparison, CountsWhatTheSessionAddedAndSetAside)
{
    std::vector<std::string> during = UserProfile();
    during.erase(during.begin());  // the cookie set aside while the session runs
    during.push_back("urlcache\tnormal\thttp://session.example/page\tC:\\cache\\page.htm\t900");
    during.push_back("urlcache\tcookie\tCookie:user@session.example/\tC:\\cookies\\user@session[1].txt");
    during.push_back("no tab at all");

    const CTraceSummary summary = CTraceComparison::Compare(UserProfile(), during, UserProfile());
    EXPECT_EQ(summary.nAdded, 3u);
    EXPECT_EQ(summary.nHidden, 1u);
    EXPECT_TRUE(summary.lost.empty());
    EXPECT_TRUE(summary.left.empty());
}

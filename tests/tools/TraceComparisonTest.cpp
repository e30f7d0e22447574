// The comparison judges the demonstration session and the random-kill
// campaign: a change it hid would pass unseen there.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/trace-audit/TraceComparison.h"

using Lines = std::vector<std::string>;

TEST(TraceComparison, SeesEveryTraceLeftOrLostButNotTheStoresOwnChoices)
{
    const std::string flash = "flash\t#SharedObjects\\X\\site\\s.sol\t64\tab12";
    const Lines before = {"cookiefile\tuser@example[1].txt\tid\t42\texample.com/\t1024",
                          "urlcache\tnormal\thttp://example.com/a.css\tC:\\cache\\a.css\t120",
                          "indexdat\tcontent:index.dat\tURL\thttp://example.com/a.css\tQ1\\a.css",
                          "indexdat\tcookies:index.dat\tURL\tCookie:user@example.com/\tuser@example[1].txt", flash,
                          flash};
    // The cookie jar writes a cookie put back into a file of a new name, and
    // the cookie index then points at it; records a store frees and reuses on
    // its own are not traces either.
    Lines after = before;
    after[0] = "cookiefile\tuser@example[2].txt\tid\t42\texample.com/\t1024";
    after[3] = "indexdat\tcookies:index.dat\tURL\tCookie:user@example.com/\tuser@example[2].txt";
    after.push_back("indexdat\tcontent:index.dat\tREDR\thttp://example.com/old");
    after.push_back("indexdat\tcontent:index.dat\tfree\t");
    CTraceSummary summary = CTraceComparison::Compare(before, {}, after);
    EXPECT_EQ((std::vector<size_t>{summary.nBefore, summary.nKept, summary.nAdded, summary.nHidden}),
              (std::vector<size_t>{6, 6, 0, 0}));
    EXPECT_TRUE(summary.lost.empty() && summary.left.empty());

    after[0] = "cookiefile\tuser@example[1].txt\tid\t43\texample.com/\t1024";  // value changed
    after[5] = "history\thttp://session.example/";                                // one of two equal files gone
    after.push_back("indexdat\thistory:index.dat\tLEAK\thttp://session.example/");
    after.push_back("");
    summary = CTraceComparison::Compare(before, {}, after);
    EXPECT_EQ(summary.lost, (Lines{"cookiefile\tid\t42\texample.com/\t1024", flash}));
    EXPECT_EQ(summary.left, (Lines{"cookiefile\tid\t43\texample.com/\t1024", "history\thttp://session.example/",
                                   "indexdat\thistory:index.dat\tLEAK\thttp://session.example/"}));
    EXPECT_EQ(summary.nKept, 4u);

    // What the session added, and what it set aside while it ran.
    Lines during(before.begin() + 1, before.end());
    during.push_back("urlcache\tnormal\thttp://session.example/page\tC:\\cache\\page.htm\t900");
    during.push_back("urlcache\tcookie\tCookie:user@session.example/\tC:\\cookies\\user@session[1].txt");
    during.push_back("no tab at all");
    summary = CTraceComparison::Compare(before, during, before);
    EXPECT_EQ(summary.nAdded, 3u);
    EXPECT_EQ(summary.nHidden, 1u);
    EXPECT_TRUE(summary.lost.empty() && summary.left.empty());
}

#include "framework/StringSet.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/Printers.h"

TEST(StringSet, KeysAreExactAndAddingOrRemovingTwiceChangesNothing)
{
    CStringSet set;
    EXPECT_TRUE(set.Add(L"http://a/"));
    EXPECT_FALSE(set.Add(L"http://a/"));
    EXPECT_TRUE(set.Add(L"HTTP://A/"));
    EXPECT_TRUE(set.Add(L"http://a/ "));
    EXPECT_EQ(set.GetCount(), 3);
    EXPECT_FALSE(set.Contains(L"http://A/"));
    EXPECT_TRUE(set.Remove(L"http://a/"));
    EXPECT_FALSE(set.Remove(L"http://a/"));
    EXPECT_EQ(set.GetCount(), 2);
    set.RemoveAll();
    EXPECT_EQ(set.begin(), set.end());
}

TEST(StringSet, IteratesInTheSameOrderWhateverTheInsertionOrder)
{
    CStringSet a;
    CStringSet b;
    const std::vector<CString> items = {L"c", L"a", L"B", L"\u00e9", L"b"};
    for (const CString& s : items) {
        a.Add(s);
    }
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        b.Add(*it);
    }
    std::vector<CString> orderA(a.begin(), a.end());
    std::vector<CString> orderB(b.begin(), b.end());
    EXPECT_EQ(orderA, orderB);
    const std::vector<CString> expected = {L"B", L"a", L"b", L"c", L"\u00e9"};
    EXPECT_EQ(orderA, expected);
    EXPECT_TRUE(a == b);
}

#include "framework/String.h"
#include "framework/Time.h"

#include <gtest/gtest.h>

#include <utility>

#include "tests/support/Printers.h"

TEST(String, FormatKeepsTheMicrosoftConversionsAtAnyLengthAndConversionsReportLoss)
{
    CString s;
    s.Format(L"%s|%S|%d|0x%08X|%I64d|%c", L"wide", "narrow", -42, 0xC0000004u, 1LL << 40, L'z');
    EXPECT_EQ(s.ToUtf8(), "wide|narrow|-42|0xC0000004|1099511627776|z");
    // Past any fixed buffer.
    s.Format(L"[%s]", CString(L'x', 5000).GetString());
    EXPECT_EQ(s.GetLength(), 5002);
    s.AppendFormat(L"%d", 12);
    EXPECT_EQ(s.Right(4), L"x]12");
    s.AppendFormat(nullptr);
    EXPECT_EQ(s.GetLength(), 5004);

    // Conversions keep every character, or say they could not.
    s = L"a\u00e9\u4e2d\U0001F600z";
    EXPECT_EQ(s.ToUtf8(), "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80z");
    EXPECT_EQ(CString::FromUtf8(s.ToUtf8()), s);
    EXPECT_EQ(CString::FromAnsi("abc\0def", 7).GetLength(), 7);
    bool lossy = true;
    EXPECT_EQ(CString(L"plain").ToAnsi(&lossy), "plain");
    EXPECT_FALSE(lossy);
    // A CJK character is outside every single-byte Western code page.
    if (GetACP() != CP_UTF8 && GetACP() != 936 && GetACP() != 950 && GetACP() != 932 && GetACP() != 949) {
        EXPECT_NE(CString::FromAnsi(CString(L"x\u4e2dy").ToAnsi(&lossy)), CString(L"x\u4e2dy"));
        EXPECT_TRUE(lossy);
    }
}

TEST(String, OutOfRangePositionsAreClampedOrFoundNowhere)
{
    const CString s(L"C:\\a\\b.c\\d.txt");
    const CString list(L",a,,bc,");
    int pos = 0;
    const CString tokens[] = {list.Tokenize(L",", pos), list.Tokenize(L",", pos), list.Tokenize(L",", pos)};
    const int found[][2] = {{s.Find(L'\\', 3), 4}, {s.Find(L"b.c"), 5}, {s.Find(L'a', 100), -1},
                            {s.Find(L"a", -1), -1}, {s.ReverseFind(L'\\'), 8}, {s.FindOneOf(L".\\"), 2}, {pos, -1},
                            {CString(L"\u00c9T\u00c9").CompareNoCase(L"\u00e9t\u00e9"), 0},
                            {CString(L"abc").CompareNoCase(L"AB") > 0, 1}};
    for (size_t i = 0; i < std::size(found); ++i) {
        EXPECT_EQ(found[i][0], found[i][1]) << "case " << i;
    }
    CString replaced(L"aaaa");
    EXPECT_EQ(replaced.Replace(L"aa", L"b"), 2);
    const CString t(L"abcdef");
    const std::pair<CString, const wchar_t*> parts[] = {
        {t.Left(-1), L""}, {t.Left(99), L"abcdef"}, {t.Mid(9), L""}, {t.Mid(-2), L"abcdef"}, {t.Mid(4, 10), L"ef"},
        {t.Mid(2, -1), L""}, {t.Right(10), L"abcdef"}, {tokens[0] + L"|" + tokens[1] + L"|" + tokens[2], L"a|bc|"},
        {CString(L" \t\r\n value \r\n").Trim(), L"value"}, {replaced, L"bb"},
        {CString(L"\u00e9t\u00e9 MiXed").MakeUpper(), L"\u00c9T\u00c9 MIXED"}};
    for (size_t i = 0; i < std::size(parts); ++i) {
        EXPECT_EQ(parts[i].first, parts[i].second) << "case " << i;
    }
    EXPECT_THROW(t.GetAt(6), std::out_of_range);
    EXPECT_THROW(t.GetAt(-1), std::out_of_range);
}

TEST(Time, FileTimesConvertAsThePlatformDoesAndUnusableOnesGiveZero)
{
    constexpr ULONGLONG kEpoch = 116444736000000000;  // 1970 in 100 ns steps from 1601
    auto fileTime = [](ULONGLONG t) { return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)}; };
    // Before the epoch a fraction rounds down, not towards zero; after it, it is cut.
    const std::pair<ULONGLONG, int64_t> times[] = {
        {kEpoch, 0}, {kEpoch - 5000000, -1}, {kEpoch + 16148340078900000, 1614834007}};
    for (const auto& [t, seconds] : times) {
        EXPECT_EQ(CTime::FromFileTime(fileTime(t)).GetTime(), seconds) << t;
    }
    // Summer and winter: no local offset is left over.
    for (const int64_t seconds : {1592222400, 1579089600}) {
        EXPECT_EQ(CTime::FromFileTimeViaLocal(fileTime(kEpoch + seconds * 10000000ull)), CTime(seconds));
    }
    EXPECT_EQ(CTime::FromFileTimeViaLocal(FILETIME{0, 0}).GetTime(), 0);
    EXPECT_EQ(CTime::FromFileTimeViaLocal(FILETIME{0xFFFFFFFF, 0xFFFFFFFF}).GetTime(), 0);
}

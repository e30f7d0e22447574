#include "framework/String.h"
#include "framework/Time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <vector>

#include "tests/support/Printers.h"

TEST(String, FormatKeepsTheMicrosoftConversionsAtAnyLength)
{
    CString s;
    s.Format(L"%s|%S|%d|0x%08X|%u|%I64d|%c", L"wide", "narrow", -42, 0xC0000004u, 7u, 1LL << 40, L'z');
    EXPECT_EQ(s.ToUtf8(), "wide|narrow|-42|0xC0000004|7|1099511627776|z");

    // Past any fixed buffer.
    s.Format(L"[%s]", CString(L'x', 5000).GetString());
    EXPECT_EQ(s.GetLength(), 5002);
    EXPECT_EQ(s.Right(2), L"x]");
    s.AppendFormat(L"%d", 12);
    EXPECT_EQ(s.Right(3), L"]12");

    s.Format(L"%s", L"");
    EXPECT_TRUE(s.IsEmpty());
    s = L"keep";
    s.AppendFormat(nullptr);
    EXPECT_EQ(s, L"keep");
}

TEST(String, OutOfRangePositionsAreClampedOrFoundNowhereAndEditsKeepTheirEdges)
{
    const CString s(L"C:\\a\\b.c\\d.txt");
    const CString list(L",a,,bc,");
    int pos = 0;
    const CString tokens[] = {list.Tokenize(L",", pos), list.Tokenize(L",", pos), list.Tokenize(L",", pos)};
    const int found[][2] = {
        {s.Find(L'\\', 3), 4}, {s.Find(L"b.c"), 5}, {s.Find(L"zz"), -1}, {s.Find(L'a', 100), -1},
        {s.Find(L"a", -1), -1}, {s.Find(L"", 0), 0}, {s.ReverseFind(L'\\'), 8}, {s.ReverseFind(L'#'), -1},
        {s.FindOneOf(L".\\"), 2}, {s.FindOneOf(L""), -1}, {pos, -1},
        {CString(L"\u00c9T\u00c9").CompareNoCase(L"\u00e9t\u00e9"), 0},
        {CString(L"abc").CompareNoCase(L"ABD") < 0, 1}, {CString(L"abd").CompareNoCase(L"ABC") > 0, 1},
        {CString(L"abc").CompareNoCase(L"AB") > 0, 1}, {CString(L"a").CompareNoCase(nullptr) > 0, 1}};
    for (size_t i = 0; i < std::size(found); ++i) {
        EXPECT_EQ(found[i][0], found[i][1]) << "case " << i;
    }

    const CString t(L"abcdef");
    const std::pair<CString, const wchar_t*> parts[] = {
        {t.Left(-1), L""}, {t.Left(99), L"abcdef"}, {t.Mid(9), L""}, {t.Mid(-2), L"abcdef"}, {t.Mid(1, 3), L"bcd"},
        {t.Mid(4, 10), L"ef"}, {t.Mid(2, -1), L""}, {t.Right(10), L"abcdef"}, {t.Right(0), L""},
        {tokens[0] + L"|" + tokens[1] + L"|" + tokens[2], L"a|bc|"},
        {CString(L" \t\r\n value \r\n").Trim(), L"value"}, {CString(L"  x  ").TrimLeft(), L"x  "},
        {CString(L"  x  ").TrimRight(), L"  x"}, {CString(L" \t ").Trim(), L""},
        {CString(L"\"\"x\"").Trim(L"\""), L"x"},
        {CString(L"\u00e9t\u00e9 MiXed").MakeUpper(), L"\u00c9T\u00c9 MIXED"},
        {CString(L"\u00c9T\u00c9 MiXed").MakeLower(), L"\u00e9t\u00e9 mixed"}};
    for (size_t i = 0; i < std::size(parts); ++i) {
        EXPECT_EQ(parts[i].first, parts[i].second) << "case " << i;
    }

    const struct {
        CString str;
        const wchar_t* pszOld;
        const wchar_t* pszNew;
        int nCount;
        const wchar_t* pszResult;
    } replaces[] = {{L"aaaa", L"aa", L"b", 2, L"bb"},
                    {L"a\\b\\c", L"\\", L"\r\n", 2, L"a\r\nb\r\nc"},
                    {L"abc", L"", L"x", 0, L"abc"},
                    {L"8.0)", L")", nullptr, 1, L"8.0"}};
    for (auto r : replaces) {
        EXPECT_EQ(r.str.Replace(r.pszOld, r.pszNew), r.nCount) << r.pszResult;
        EXPECT_EQ(r.str, r.pszResult);
    }
    CString chars(L"1, 2, 3");
    EXPECT_EQ(chars.Replace(L',', L'.'), 2);
    EXPECT_EQ(chars.Remove(L' '), 2);
    EXPECT_EQ(chars, L"1.2.3");
    EXPECT_THROW(chars.GetAt(5), std::out_of_range);
    EXPECT_THROW(chars.GetAt(-1), std::out_of_range);
    EXPECT_THROW(chars.SetAt(5, L'y'), std::out_of_range);
}

TEST(String, ConvertsWithoutLossOrReportsIt)
{
    const CString s(L"a\u00e9\u4e2d\U0001F600z");
    EXPECT_EQ(s.ToUtf8(), "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80z");
    EXPECT_EQ(CString::FromUtf8(s.ToUtf8()), s);
    EXPECT_TRUE(CString::FromUtf8(nullptr).IsEmpty());
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

TEST(Time, FileTimesConvertAsThePlatformDoesAndUnusableOnesGiveZero)
{
    auto fileTime = [](WORD wYear, WORD wMonth, WORD wDay, WORD wHour, WORD wMinute, WORD wSecond, WORD wMs) {
        const SYSTEMTIME st = {wYear, wMonth, 0, wDay, wHour, wMinute, wSecond, wMs};
        FILETIME ft = {};
        EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
        return ft;
    };
    EXPECT_EQ(CTime::FromFileTime(fileTime(1970, 1, 1, 0, 0, 0, 0)).GetTime(), 0);
    // Before the epoch a fraction rounds down, not towards zero.
    EXPECT_EQ(CTime::FromFileTime(fileTime(1969, 12, 31, 23, 59, 59, 500)).GetTime(), -1);
    // 2021-03-04 05:06:07.890 UTC is 1614834367 seconds; the fraction is cut.
    const CTime t = CTime::FromFileTime(fileTime(2021, 3, 4, 5, 6, 7, 890));
    EXPECT_EQ(t.GetTime(), 1614834367);
    const FILETIME back = t.ToFileTime();
    const FILETIME whole = fileTime(2021, 3, 4, 5, 6, 7, 0);
    EXPECT_EQ(CompareFileTime(&back, &whole), 0);
    EXPECT_EQ(t.FormatGmt(L"%Y-%m-%d %H:%M:%S"), L"2021-03-04 05:06:07");
    EXPECT_EQ(t - 7, CTime(1614834360));
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    EXPECT_LE(std::abs(CTime::GetCurrentTime() - CTime::FromFileTime(now)), 2);

    for (const FILETIME ft : {fileTime(2020, 6, 15, 12, 0, 0, 0), fileTime(2020, 1, 15, 12, 0, 0, 0)}) {
        EXPECT_EQ(CTime::FromFileTimeViaLocal(ft), CTime::FromFileTime(ft));
    }
    EXPECT_EQ(CTime::FromFileTimeViaLocal(FILETIME{0, 0}).GetTime(), 0);
    EXPECT_EQ(CTime::FromFileTimeViaLocal(FILETIME{0xFFFFFFFF, 0xFFFFFFFF}).GetTime(), 0);
}

#include "framework/String.h"

#include <gtest/gtest.h>

#include "tests/support/Printers.h"

TEST(StringFormat, MicrosoftConversionsAnyLengthAndEmptyResults)
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

TEST(StringPositions, OutOfRangeArgumentsAreClampedOrFoundNowhere)
{
    const CString s(L"C:\\a\\b.c\\d.txt");
    EXPECT_EQ(s.Find(L'\\', 3), 4);
    EXPECT_EQ(s.Find(L"b.c"), 5);
    EXPECT_EQ(s.Find(L"zz"), -1);
    EXPECT_EQ(s.Find(L'a', 100), -1);
    EXPECT_EQ(s.Find(L"a", -1), -1);
    EXPECT_EQ(s.Find(L"", 0), 0);
    EXPECT_EQ(s.ReverseFind(L'\\'), 8);
    EXPECT_EQ(s.ReverseFind(L'#'), -1);
    EXPECT_EQ(s.FindOneOf(L".\\"), 2);
    EXPECT_EQ(s.FindOneOf(L""), -1);

    const CString t(L"abcdef");
    EXPECT_EQ(t.Left(-1), L"");
    EXPECT_EQ(t.Left(99), L"abcdef");
    EXPECT_EQ(t.Mid(9), L"");
    EXPECT_EQ(t.Mid(-2), L"abcdef");
    EXPECT_EQ(t.Mid(1, 3), L"bcd");
    EXPECT_EQ(t.Mid(4, 10), L"ef");
    EXPECT_EQ(t.Mid(2, -1), L"");
    EXPECT_EQ(t.Right(10), L"abcdef");
    EXPECT_EQ(t.Right(0), L"");

    CString edited(L"ace");
    edited.Insert(1, L"b");
    edited.Insert(100, L"f");
    edited.Insert(-3, L"_");
    EXPECT_EQ(edited, L"_abcef");
    edited.Delete(0);
    edited.Delete(3, 100);
    edited.Delete(10, 1);
    EXPECT_EQ(edited, L"abc");

    CString checked(L"ab");
    checked.SetAt(0, L'x');
    EXPECT_EQ(checked[0], L'x');
    EXPECT_THROW(checked.GetAt(2), std::out_of_range);
    EXPECT_THROW(checked.GetAt(-1), std::out_of_range);
    EXPECT_THROW(checked.SetAt(2, L'y'), std::out_of_range);
}

TEST(StringEdit, ReplaceTrimAndTokenize)
{
    CString s(L"aaaa");
    EXPECT_EQ(s.Replace(L"aa", L"b"), 2);
    EXPECT_EQ(s, L"bb");
    CString path(L"a\\b\\c");
    EXPECT_EQ(path.Replace(L"\\", L"\r\n"), 2);
    EXPECT_EQ(path, L"a\r\nb\r\nc");
    CString unchanged(L"abc");
    EXPECT_EQ(unchanged.Replace(L"", L"x"), 0);
    EXPECT_EQ(unchanged, L"abc");
    CString removeText(L"8.0)");
    EXPECT_EQ(removeText.Replace(L")", nullptr), 1);
    EXPECT_EQ(removeText, L"8.0");
    CString chars(L"1, 2, 3");
    EXPECT_EQ(chars.Replace(L',', L'.'), 2);
    EXPECT_EQ(chars.Remove(L' '), 2);
    EXPECT_EQ(chars, L"1.2.3");

    CString padded(L" \t\r\n value \r\n");
    padded.Trim();
    EXPECT_EQ(padded, L"value");
    CString left(L"  x  ");
    left.TrimLeft();
    EXPECT_EQ(left, L"x  ");
    CString right(L"  x  ");
    right.TrimRight();
    EXPECT_EQ(right, L"  x");
    CString blanks(L" \t ");
    blanks.Trim();
    EXPECT_TRUE(blanks.IsEmpty());
    CString quoted(L"\"\"x\"");
    quoted.Trim(L"\"");
    EXPECT_EQ(quoted, L"x");

    const CString list(L",a,,bc,");
    int pos = 0;
    EXPECT_EQ(list.Tokenize(L",", pos), L"a");
    EXPECT_EQ(list.Tokenize(L",", pos), L"bc");
    EXPECT_EQ(list.Tokenize(L",", pos), L"");
    EXPECT_EQ(pos, -1);
    EXPECT_EQ(list.Tokenize(L",", pos), L"");
    EXPECT_EQ(pos, -1);
}

TEST(StringCase, UpperLowerAndCaseInsensitiveCompareBeyondAscii)
{
    CString upper(L"Stra\u00dfe \u00e9t\u00e9 MiXed");
    upper.MakeUpper();
    EXPECT_EQ(upper.Right(9), L"\u00c9T\u00c9 MIXED");
    upper.MakeLower();
    EXPECT_EQ(upper.Right(9), L"\u00e9t\u00e9 mixed");

    EXPECT_EQ(CString(L"\u00c9T\u00c9").CompareNoCase(L"\u00e9t\u00e9"), 0);
    EXPECT_LT(CString(L"abc").CompareNoCase(L"ABD"), 0);
    EXPECT_GT(CString(L"abd").CompareNoCase(L"ABC"), 0);
    EXPECT_GT(CString(L"abc").CompareNoCase(L"AB"), 0);
    EXPECT_GT(CString(L"a").CompareNoCase(nullptr), 0);
    EXPECT_TRUE(CString(L"Path") != L"path");
}

TEST(StringBuffer, NullsLengthsAndPlatformFilledBuffers)
{
    EXPECT_TRUE(CString(static_cast<const wchar_t*>(nullptr)).IsEmpty());
    EXPECT_EQ(CString(L"abcdef", 3), L"abc");
    EXPECT_TRUE(CString(L'-', 0).IsEmpty());
    CString s(L"x");
    s = static_cast<const wchar_t*>(nullptr);
    EXPECT_TRUE(s.IsEmpty());

    CString dir;
    const UINT n = GetWindowsDirectoryW(dir.GetBuffer(MAX_PATH), MAX_PATH);
    dir.ReleaseBuffer();
    ASSERT_GT(n, 0u);
    EXPECT_EQ(dir.GetLength(), static_cast<int>(n));

    CString fixed;
    wcscpy(fixed.GetBufferSetLength(5), L"abcd");
    fixed.ReleaseBuffer(2);
    EXPECT_EQ(fixed, L"ab");
}

TEST(StringConvert, Utf8RoundTripsAndAnsiKeepsLengthAndReportsLoss)
{
    const CString s(L"a\u00e9\u4e2d\U0001F600z");
    const std::string utf8 = s.ToUtf8();
    EXPECT_EQ(utf8, "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80z");
    EXPECT_EQ(CString::FromUtf8(utf8), s);
    EXPECT_TRUE(CString::FromUtf8(nullptr).IsEmpty());

    EXPECT_EQ(CString::FromAnsi("abc\0def", 7).GetLength(), 7);
    bool lossy = true;
    EXPECT_EQ(CString(L"plain").ToAnsi(&lossy), "plain");
    EXPECT_FALSE(lossy);
    // A CJK character is outside every single-byte Western code page.
    if (GetACP() != CP_UTF8 && GetACP() != 936 && GetACP() != 950 && GetACP() != 932 && GetACP() != 949) {
        const std::string narrow = CString(L"x\u4e2dy").ToAnsi(&lossy);
        EXPECT_TRUE(lossy);
        EXPECT_NE(CString::FromAnsi(narrow), CString(L"x\u4e2dy"));
    }
}

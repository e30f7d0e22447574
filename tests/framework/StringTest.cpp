#include "framework/String.h"

#include <gtest/gtest.h>

#include "tests/support/Printers.h"

namespace {

std::string U8(const CString& s)
{
    return s.ToUtf8();
}

}  // namespace

TEST(StringFormat, UsesMicrosoftMeaningOfConversions)
{
    CString s;
    s.Format(L"%s|%S|%d|0x%08X|%u|%I64d|%c", L"wide", "narrow", -42, 0xC0000004u, 7u, 1LL << 40, L'z');
    EXPECT_EQ(U8(s), "wide|narrow|-42|0xC0000004|7|1099511627776|z");
}

TEST(StringFormat, GrowsPastAnyFixedBuffer)
{
    const CString big(L'x', 5000);
    CString s;
    s.Format(L"[%s]", big.GetString());
    EXPECT_EQ(s.GetLength(), 5002);
    EXPECT_EQ(s.Left(2), CString(L"[x"));
    EXPECT_EQ(s.Right(2), CString(L"x]"));

    s.AppendFormat(L"%d", 12);
    EXPECT_EQ(s.Right(3), CString(L"]12"));
    EXPECT_EQ(U8(FormatString(L"%s=%d", L"k", 3)), "k=3");
}

TEST(StringFormat, EmptyResultAndNullFormat)
{
    CString s(L"old");
    s.Format(L"%s", L"");
    EXPECT_TRUE(s.IsEmpty());
    s = L"keep";
    s.AppendFormat(nullptr);
    EXPECT_EQ(s, L"keep");
}

TEST(StringSearch, FindReverseFindAndFindOneOf)
{
    const CString s(L"C:\\a\\b.c\\d.txt");
    EXPECT_EQ(s.Find(L"\\"), 2);
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
}

TEST(StringEdit, ReplaceCountsNonOverlappingMatches)
{
    CString s(L"aaaa");
    EXPECT_EQ(s.Replace(L"aa", L"b"), 2);
    EXPECT_EQ(s, L"bb");

    CString path(L"a\\b\\c");
    EXPECT_EQ(path.Replace(L"\\", L"\r\n"), 2);
    EXPECT_EQ(path, L"a\r\nb\r\nc");

    CString unchanged(L"abc");
    EXPECT_EQ(unchanged.Replace(L"", L"x"), 0);
    EXPECT_EQ(unchanged.Replace(L"zz", L"x"), 0);
    EXPECT_EQ(unchanged, L"abc");

    CString removeText(L"8.0)");
    EXPECT_EQ(removeText.Replace(L")", nullptr), 1);
    EXPECT_EQ(removeText, L"8.0");

    CString chars(L"1, 2, 3");
    EXPECT_EQ(chars.Replace(L',', L'.'), 2);
    EXPECT_EQ(chars, L"1. 2. 3");
    EXPECT_EQ(chars.Remove(L' '), 2);
    EXPECT_EQ(chars, L"1.2.3");
}

TEST(StringEdit, InsertAndDeleteClampPositions)
{
    CString s(L"ace");
    s.Insert(1, L"b");
    s.Insert(100, L"f");
    s.Insert(-3, L"_");
    EXPECT_EQ(s, L"_abcef");
    s.Delete(0);
    s.Delete(3, 100);
    EXPECT_EQ(s, L"abc");
    s.Delete(10, 1);
    EXPECT_EQ(s, L"abc");
}

TEST(StringSlice, LeftMidRightClampOutOfRange)
{
    const CString s(L"abcdef");
    EXPECT_EQ(s.Left(2), L"ab");
    EXPECT_EQ(s.Left(-1), L"");
    EXPECT_EQ(s.Left(99), L"abcdef");
    EXPECT_EQ(s.Mid(4), L"ef");
    EXPECT_EQ(s.Mid(9), L"");
    EXPECT_EQ(s.Mid(-2), L"abcdef");
    EXPECT_EQ(s.Mid(1, 3), L"bcd");
    EXPECT_EQ(s.Mid(4, 10), L"ef");
    EXPECT_EQ(s.Mid(2, -1), L"");
    EXPECT_EQ(s.Right(2), L"ef");
    EXPECT_EQ(s.Right(10), L"abcdef");
    EXPECT_EQ(s.Right(0), L"");
}

TEST(StringCase, UpperLowerAndCaseInsensitiveCompare)
{
    CString s(L"Stra\u00dfe \u00e9t\u00e9 MiXed");
    CString upper(s);
    upper.MakeUpper();
    EXPECT_EQ(upper.Right(5), L"MIXED");
    EXPECT_EQ(upper.Mid(7, 3), L"\u00c9T\u00c9");
    CString lower(s);
    lower.MakeLower();
    EXPECT_EQ(lower.Right(5), L"mixed");

    EXPECT_EQ(CString(L"YES").CompareNoCase(L"yes"), 0);
    EXPECT_EQ(CString(L"\u00c9T\u00c9").CompareNoCase(L"\u00e9t\u00e9"), 0);
    EXPECT_LT(CString(L"abc").CompareNoCase(L"ABD"), 0);
    EXPECT_GT(CString(L"abd").CompareNoCase(L"ABC"), 0);
    EXPECT_GT(CString(L"abc").CompareNoCase(L"AB"), 0);
    EXPECT_GT(CString(L"a").CompareNoCase(nullptr), 0);

    EXPECT_NE(CString(L"Path").Compare(L"path"), 0);
    EXPECT_TRUE(CString(L"Path") != L"path");
}

TEST(StringTrim, WhiteSpaceAndGivenCharacters)
{
    CString s(L" \t\r\n value \r\n");
    s.Trim();
    EXPECT_EQ(s, L"value");

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
}

TEST(StringTokenize, SkipsEmptyTokensAndEnds)
{
    const CString s(L",a,,bc,");
    int pos = 0;
    EXPECT_EQ(s.Tokenize(L",", pos), L"a");
    EXPECT_EQ(s.Tokenize(L",", pos), L"bc");
    EXPECT_EQ(s.Tokenize(L",", pos), L"");
    EXPECT_EQ(pos, -1);
    EXPECT_EQ(s.Tokenize(L",", pos), L"");
    EXPECT_EQ(pos, -1);
}

TEST(StringAccess, IndexingIsChecked)
{
    CString s(L"ab");
    EXPECT_EQ(s[1], L'b');
    s.SetAt(0, L'x');
    EXPECT_EQ(s, L"xb");
    EXPECT_THROW(s.GetAt(2), std::out_of_range);
    EXPECT_THROW(s.GetAt(-1), std::out_of_range);
    EXPECT_THROW(s.SetAt(2, L'y'), std::out_of_range);
}

TEST(StringBuffer, PlatformCallsFillTheBuffer)
{
    CString dir;
    const UINT n = GetWindowsDirectoryW(dir.GetBuffer(MAX_PATH), MAX_PATH);
    dir.ReleaseBuffer();
    ASSERT_GT(n, 0u);
    EXPECT_EQ(dir.GetLength(), static_cast<int>(n));
    EXPECT_EQ(dir.Find(L'\0'), -1);

    CString fixed;
    wcscpy(fixed.GetBufferSetLength(5), L"abcd");
    fixed.ReleaseBuffer(2);
    EXPECT_EQ(fixed, L"ab");
}

TEST(StringConstruct, NullAndLengths)
{
    EXPECT_TRUE(CString(static_cast<const wchar_t*>(nullptr)).IsEmpty());
    EXPECT_EQ(CString(L"abcdef", 3), L"abc");
    EXPECT_EQ(CString(L'-', 3), L"---");
    EXPECT_TRUE(CString(L'-', 0).IsEmpty());
    CString s(L"x");
    s = static_cast<const wchar_t*>(nullptr);
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(CString(L"a") + L"b" + CString(L"c") + L'd', L"abcd");
    EXPECT_EQ(L"z" + CString(L"y"), L"zy");
}

TEST(StringConvert, Utf8RoundTripsEveryCharacter)
{
    const CString s(L"a\u00e9\u4e2d\U0001F600z");
    const std::string utf8 = s.ToUtf8();
    EXPECT_EQ(utf8, "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80z");
    EXPECT_EQ(CString::FromUtf8(utf8), s);
    EXPECT_TRUE(CString::FromUtf8("").IsEmpty());
    EXPECT_TRUE(CString::FromUtf8(nullptr).IsEmpty());
}

TEST(StringConvert, AnsiKeepsEmbeddedLengthAndReportsLoss)
{
    EXPECT_EQ(CString::FromAnsi("abc\0def", 7).GetLength(), 7);
    EXPECT_EQ(CString::FromAnsi("abc"), L"abc");

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

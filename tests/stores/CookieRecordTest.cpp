#include "stores/CookieRecord.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

FILETIME At(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    SYSTEMTIME st = {year, month, 0, day, hour, minute, second, 0};
    FILETIME ft;
    EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
    return ft;
}

CCookieFileEntry Entry(const wchar_t* name, const wchar_t* value, const wchar_t* hostPath, DWORD flags)
{
    return {name, value, hostPath, flags, At(2030, 1, 1, 0, 0, 0)};
}

}  // namespace

TEST(CookieRecord, KeysExpiriesProtectedModeFoldersAndWhatIsSetAgain)
{
    // The expiry text uses dashes and English names.
    EXPECT_EQ(CCookieRecord::FormatExpiry(At(2024, 2, 29, 23, 59, 7)), L"Thu, 29-Feb-2024 23-59-07 GMT");
    EXPECT_EQ(CCookieRecord::FormatExpiry({0xFFFFFFFF, 0xFFFFFFFF}), L"");
    // The protected-mode folder in any letter case.
    for (const auto& [path, bLow] : {std::pair{L"C:\\u\\Cookies\\Low\\a.txt", true}, {L"C:\\u\\Cookies\\low\\a.txt", true},
                                     {L"C:\\u\\Cookies\\lowercase.txt", false}, {L"C:\\u\\Cookies\\Lower\\a.txt", false}}) {
        EXPECT_EQ(CCookieRecord::IsProtectedModePath(path), bLow) << CString(path).ToUtf8();
    }
    const CString plain = CCookieRecord::MakeKey(false, Entry(L"a", L"1", L"host.example/p/", 0));
    EXPECT_EQ(plain, L"notprotectedmode\nhttp://host.example/p/\na=1;Expires = Tue, 01-Jan-2030 00-00-00 GMT\n0");
    const CString secure = CCookieRecord::MakeKey(true, Entry(L"s", L"2", L"host.example/", 8193));
    EXPECT_EQ(secure, L"protectedmode\nhttps://host.example/\ns=2;Expires = Tue, 01-Jan-2030 00-00-00 GMT;Secure\n8193");

    CCookieRecord record;
    ASSERT_TRUE(record.Parse(secure));
    EXPECT_TRUE(record.IsProtectedMode());
    EXPECT_EQ(record.GetHostPath(), L"host.example/");
    EXPECT_EQ(record.GetRecreationText(), L"s=2; expires=Tue, 01-Jan-2030 00:00:00 GMT; secure; HttpOnly");
    EXPECT_EQ(record.GetRecreationText(false), L"s=2; expires=Tue, 01-Jan-2030 00:00:00 GMT; secure");
    ASSERT_TRUE(record.Parse(plain));
    EXPECT_FALSE(record.IsProtectedMode());
    // A text in another form is handed on as it stands.
    ASSERT_TRUE(record.Parse(L"notprotectedmode\nhttp://h/\nx=y; path=/\n0"));
    EXPECT_EQ(record.GetRecreationText(), L"x=y; path=/");

    for (const wchar_t* bad : {L"", L"a\nb\nc", L"a\nb\nc\n", L"a\nb\nc\n1x", L"a\nb\nc\n99999999999",
                               L"a\nb\nc\n-1"}) {
        EXPECT_FALSE(record.Parse(bad)) << CString(bad).ToUtf8();
    }
}

TEST(CookieRecord, ReadsWholeRecordsOfAnyFile)
{
    CTempFolder folder;
    const CString path = folder / L"c.txt";
    WriteTestFile(path, "a\r\n1\r\nh/\r\n1\r\n2684731392\r\n31520448\r\nextra\r\n*\r\nb\n2\nh/p/\n8192\n0\n0\n*\nc\n3\n");
    std::vector<CCookieFileEntry> entries;
    ASSERT_TRUE(CCookieRecord::ReadCookieFile(path, entries));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].strName, L"a");
    EXPECT_EQ(entries[0].dwFlags, 1u);
    EXPECT_EQ(CCookieRecord::FormatExpiry(entries[0].expiry), L"Tue, 01-Jan-2030 00-00-00 GMT");
    EXPECT_EQ(entries[1].strHostPath, L"h/p/");
    EXPECT_FALSE(CCookieRecord::ReadCookieFile(folder / L"missing.txt", entries));

    // Arbitrary bytes never crash the reader or the key round trip.
    std::mt19937 random(5);
    const char alphabet[] = "ab*\n\r0123456789;=\x00\xff";
    for (int n = 0; n < 2000; ++n) {
        std::string content;
        const int length = static_cast<int>(random() % 200);
        for (int i = 0; i < length; ++i) {
            content += alphabet[random() % (sizeof(alphabet) - 1)];
        }
        WriteTestFile(path, content);
        std::vector<CCookieFileEntry> read;
        ASSERT_TRUE(CCookieRecord::ReadCookieFile(path, read));
        for (const CCookieFileEntry& e : read) {
            CCookieRecord record;
            ASSERT_TRUE(record.Parse(CCookieRecord::MakeKey(false, e)));
            EXPECT_EQ(record.m_dwFlags, e.dwFlags);
        }
    }
}

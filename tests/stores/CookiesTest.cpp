// Cookie records and hostile cookie files; the cookie cleaner on Wine's jar for what the
// whole clean-up test does not reach. The user's cookies are set by another process, the
// session's in this one; only a fresh process sees what went back to disk.
#include "stores/CookieRecord.h"
#include "stores/Cookies.h"

#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <tuple>

#include "cleanup/Deleter.h"
#include "stores/CookiesIndexDat.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/ExternalReaders.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

FILETIME At(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    const SYSTEMTIME st = {year, month, 0, day, hour, minute, second, 0};
    FILETIME ft = {};
    return SystemTimeToFileTime(&st, &ft) ? ft : FILETIME{1, 1};
}

constexpr wchar_t kExpiry2030[] = L"; expires=Tue, 01-Jan-2030 00:00:00 GMT";

void SetCookieInAnotherProcess(const CString& strUrl, const CString& strData, DWORD dwFlags = 0)
{
    CHelperProcess helper;
    ASSERT_TRUE(helper.Start(FormatString(L"set-cookie \"%s\" \"%s%s\" %lu", strUrl.GetString(), strData.GetString(),
                                          kExpiry2030, dwFlags)));
    ASSERT_EQ(helper.Stop(), 0) << strUrl.ToUtf8() << " " << strData.ToUtf8();
}

// The cookie jar as a fresh process sees it, sorted, without the files'
// names (the platform picks them afresh whenever it writes a host's cookies).
std::vector<std::string> CookieJarView()
{
    std::vector<std::string> view;
    for (const std::string& line : RunTraceAudit(L"cookiefile cookieapi")) {
        view.push_back(line.rfind("cookiefile\t", 0) == 0 ? line.substr(line.find('\t', 11)) : line);
    }
    std::sort(view.begin(), view.end());
    return view;
}

CString CookiesOfThisProcess(const CString& strUrl)
{
    wchar_t text[4096] = {};
    DWORD size = sizeof(text);
    return InternetGetCookieW(strUrl, nullptr, text, &size) ? CString(text) : CString();
}

// A hand-written cookie file as a cookie entry of the host: what the
// platform's cookie calls cannot make (a secure flag, a protected-mode folder).
void RegisterCookieFile(const CString& strHostPath, const CString& strFile, const std::string& records)
{
    WriteTestFile(strFile, records);
    const FILETIME never = {0, 0};
    EXPECT_TRUE(CommitUrlCacheEntryW(L"Cookie:user@" + strHostPath, strFile, never, never, COOKIE_CACHE_ENTRY, nullptr,
                                     0, L"txt", nullptr));
}

std::string CookieFileRecord(const char* name, const char* value, const CString& hostPath, unsigned flags)
{
    return std::string(name) + "\n" + value + "\n" + hostPath.ToUtf8() + "\n" + std::to_string(flags) +
           "\n2684731392\n31520448\n0\n0\n*\n";
}

using CCall = std::tuple<CString, CString, DWORD>;  // URL, text, flags
std::vector<CCall> g_protectedCalls, g_ordinaryCalls;

// The cleaner with its cookie-setting functions recorded (the ordinary one
// handed on), or missing (the plain call is left). (x64: one calling convention.)
class CSeamCookies : public CCookies {
public:
    explicit CSeamCookies(bool bSeams)
    {
        g_protectedCalls.clear();
        g_ordinaryCalls.clear();
        pfIESetProtectedModeCookie = !bSeams ? nullptr : +[](LPCWSTR url, LPCWSTR name, LPCWSTR data, DWORD flags) {
            g_protectedCalls.emplace_back(url, name == nullptr ? data : L"named", flags);
            return S_OK;
        };
        pfInternetSetCookieEx = !bSeams ? nullptr : +[](LPCWSTR url, LPCWSTR name, LPCWSTR data, DWORD flags, DWORD_PTR x) {
            g_ordinaryCalls.emplace_back(url, data, flags);
            return InternetSetCookieExW(url, name, data, flags, x);
        };
    }
};

class CookiesTest : public ::testing::Test {
protected:
    CDeleter m_deleter{FALSE, FALSE, FALSE};
    CString m_tag = UniqueTag();
    CString m_folder = CCookiesIndexDat::GetCookiesFolder();
};

}  // namespace

TEST(CookieRecord, KeysExpiriesProtectedModeFoldersWhatIsSetAgainAndWholeRecordsOfAnyFile)
{
    // The expiry text uses dashes and English names.
    EXPECT_EQ(CCookieRecord::FormatExpiry(At(2024, 2, 29, 23, 59, 7)), L"Thu, 29-Feb-2024 23-59-07 GMT");
    EXPECT_EQ(CCookieRecord::FormatExpiry({0xFFFFFFFF, 0xFFFFFFFF}), L"");
    // The protected-mode folder in any letter case.
    for (const auto& [path, bLow] : {std::pair{L"C:\\u\\Cookies\\Low\\a.txt", true}, {L"C:\\u\\Cookies\\low\\a.txt", true},
                                     {L"C:\\u\\Cookies\\lowercase.txt", false}, {L"C:\\u\\Cookies\\Lower\\a.txt", false}}) {
        EXPECT_EQ(CCookieRecord::IsProtectedModePath(path), bLow) << CString(path).ToUtf8();
    }
    const CString secure = CCookieRecord::MakeKey(true, {L"s", L"2", L"host.example/", 8193, At(2030, 1, 1, 0, 0, 0)});
    EXPECT_EQ(secure, L"protectedmode\nhttps://host.example/\ns=2;Expires = Tue, 01-Jan-2030 00-00-00 GMT;Secure\n8193");

    CCookieRecord record;
    ASSERT_TRUE(record.Parse(secure));
    EXPECT_TRUE(record.IsProtectedMode());
    EXPECT_EQ(record.GetHostPath(), L"host.example/");
    EXPECT_EQ(record.GetRecreationText(), L"s=2; expires=Tue, 01-Jan-2030 00:00:00 GMT; secure; HttpOnly");
    EXPECT_EQ(record.GetRecreationText(false), L"s=2; expires=Tue, 01-Jan-2030 00:00:00 GMT; secure");
    // A text in another form is handed on as it stands.
    ASSERT_TRUE(record.Parse(L"notprotectedmode\nhttp://h/\nx=y; path=/\n0"));
    EXPECT_EQ(record.GetRecreationText(), L"x=y; path=/");

    for (const wchar_t* bad : {L"", L"a\nb\nc", L"a\nb\nc\n", L"a\nb\nc\n1x", L"a\nb\nc\n99999999999",
                               L"a\nb\nc\n-1"}) {
        EXPECT_FALSE(record.Parse(bad)) << CString(bad).ToUtf8();
    }

    // Whole records of any file, a cut one left out.
    CTempFolder folder;
    const CString path = folder / L"c.txt";
    WriteTestFile(path, "a\r\n1\r\nh/\r\n1\r\n2684731392\r\n31520448\r\nextra\r\n*\r\nb\n2\nh/p/\n8192\n0\n0\n*\nc\n3\n");
    std::vector<CCookieFileEntry> entries;
    ASSERT_TRUE(CCookieRecord::ReadCookieFile(path, entries));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(std::make_tuple(entries[0].strName, entries[0].dwFlags, entries[1].strHostPath),
              std::make_tuple(CString(L"a"), DWORD{1}, CString(L"h/p/")));
    EXPECT_EQ(CCookieRecord::FormatExpiry(entries[0].expiry), L"Tue, 01-Jan-2030 00-00-00 GMT");
    EXPECT_FALSE(CCookieRecord::ReadCookieFile(folder / L"missing.txt", entries));

    // Arbitrary bytes never crash the reader or the key round trip.
    std::mt19937 random(5);
    const char alphabet[] = "ab*\n\r0123456789;=\x00\xff";
    for (int n = 0; n < 2000; ++n) {
        std::string content(random() % 200, '\0');
        std::generate(content.begin(), content.end(), [&] { return alphabet[random() % (sizeof(alphabet) - 1)]; });
        WriteTestFile(path, content);
        std::vector<CCookieFileEntry> read;
        ASSERT_TRUE(CCookieRecord::ReadCookieFile(path, read));
        for (const CCookieFileEntry& e : read) {
            ASSERT_TRUE(record.Parse(CCookieRecord::MakeKey(false, e)));
            EXPECT_EQ(record.m_dwFlags, e.dwFlags);
        }
    }
}

TEST_F(CookiesTest, HttpOnlyLongAndDomainCookiesAreRemovedAtTheStartAndComeBackAsTheyWere)
{
    const CString shop = L"http://" + m_tag + L".shop.example/";
    const CString low = m_folder + L"Low\\" + m_tag + L".txt", stray = m_folder + m_tag + L"-stray.txt";
    WriteTestFile(low, "kept");
    const CString longValue(L'x', 700);
    SetCookieInAnotherProcess(shop, L"token=abc; HttpOnly", INTERNET_COOKIE_HTTPONLY);
    SetCookieInAnotherProcess(shop, L"long=" + longValue);
    SetCookieInAnotherProcess(L"http://www." + m_tag + L".news.example/", L"region=eu; domain=." + m_tag + L".news.example");
    const std::vector<std::string> before = CookieJarView();
    WriteTestFile(stray, "gone");

    // Start-up: the snapshot, then the removal on the task's own worker.
    CCookies cookies;
    ASSERT_TRUE(cookies.ReadCookies());
    ASSERT_TRUE(cookies.StartRemoval(&m_deleter));
    cookies.WaitForBackgroundTask();
    ASSERT_TRUE(cookies.GetResult());
    EXPECT_EQ(LinesContaining(CookieJarView(), m_tag.ToUtf8()).size(), 0u);
    EXPECT_EQ(CookiesOfThisProcess(shop), L"");
    EXPECT_TRUE(TestFileExists(low) && !TestFileExists(stray));
    // The file pass spares the protected-mode folder and the index; a held file fails it, the index kept.
    EXPECT_TRUE(TestFileExists(CookieStore().strIndex));
    {
        WriteTestFile(stray, "held");
        CHelperProcess holder;
        ASSERT_TRUE(holder.Start(L"hold-file \"" + stray + L"\" none"));
        const std::string index = ReadTestFile(CookieStore().strIndex);
        EXPECT_FALSE(cookies.RunBackgroundTask());
        EXPECT_EQ(ReadTestFile(CookieStore().strIndex), index);
    }

    // The session overwrites the long cookie and sets one beside it.
    ASSERT_TRUE(InternetSetCookieW(shop, nullptr, L"long=session" + CString(kExpiry2030)));
    ASSERT_TRUE(InternetSetCookieW(shop, nullptr, L"tracker=session" + CString(kExpiry2030)));
    ASSERT_TRUE(cookies.RunBackgroundTask());
    EXPECT_FALSE(TestFileExists(stray));
    EXPECT_TRUE(cookies.RecreateCookies());
    EXPECT_EQ(CookieJarView(), before);
    const CString mine = CookiesOfThisProcess(shop);
    EXPECT_EQ(mine.Find(L"tracker"), -1) << mine.ToUtf8();
    EXPECT_NE(mine.Find(L"long=" + longValue), -1) << mine.ToUtf8();
}

TEST_F(CookiesTest, SecureProtectedModeAndDamagedCookiesAreSetAgainEachThroughItsOwnCall)
{
    const CString secureHost = m_tag + L".secure.example/", lowHost = m_tag + L".low.example/";
    // Two entries name one file and another file holds the same cookie.
    const CString secureFile = m_folder + m_tag + L"-secure.txt";
    const std::string secureRecord = CookieFileRecord("sid", "s3cr3t", secureHost, 1);
    RegisterCookieFile(secureHost, secureFile, secureRecord);
    RegisterCookieFile(secureHost + L"x/", secureFile, secureRecord);
    RegisterCookieFile(secureHost + L"y/", m_folder + m_tag + L"-copy.txt", secureRecord);
    // "low" in other letter case still names the protected-mode folder.
    RegisterCookieFile(lowHost, m_folder + L"low\\" + m_tag + L"-low.txt", CookieFileRecord("pm", "1", lowHost, 0));
    CSeamCookies cookies(true);
    ASSERT_TRUE(cookies.ReadCookies());
    const CString secureKey = L"notprotectedmode\nhttps://" + secureHost +
                              L"\nsid=s3cr3t;Expires = Tue, 01-Jan-2030 00-00-00 GMT;Secure\n1";
    const CString lowKey = L"protectedmode\nhttp://" + lowHost + L"\npm=1;Expires = Tue, 01-Jan-2030 00-00-00 GMT\n0";
    const CStringSet& keys = cookies.GetSnapshot();
    EXPECT_TRUE(keys.Contains(secureKey) && keys.Contains(lowKey));
    // The file read once, the identical cookie one record.
    EXPECT_EQ(std::count_if(keys.begin(), keys.end(), [&](const CString& k) { return k.Find(secureHost) >= 0; }), 1);

    cookies.SetDeleter(&m_deleter);
    ASSERT_TRUE(cookies.removeCookies());
    // A protected-mode cookie longer than any fixed buffer reaches its call whole.
    const CString value(L'v', 1500);
    cookies.GetSnapshot().RemoveAll();
    cookies.GetSnapshot().Add(secureKey);
    cookies.GetSnapshot().Add(lowKey);
    cookies.GetSnapshot().Add(L"protectedmode\nhttp://" + lowHost + L"\nbig=" + value +
                              L";Expires = Tue, 01-Jan-2030 00-00-00 GMT\n0");
    EXPECT_TRUE(cookies.RecreateCookies());
    std::sort(g_protectedCalls.begin(), g_protectedCalls.end(),  // by the text: tuples of CStrings order by address
              [](const auto& a, const auto& b) { return std::get<1>(a) < std::get<1>(b); });
    EXPECT_EQ(g_protectedCalls, (std::vector<CCall>{{L"http://" + lowHost, L"big=" + value + kExpiry2030, 0},
                                                    {L"http://" + lowHost, L"pm=1" + CString(kExpiry2030), 0}}));
    // First the removed cookies of the same hosts are ended in this process's jar.
    ASSERT_EQ(g_ordinaryCalls.size(), 3u);
    const CString ended = L"; expires=Thu, 01-Jan-1970 00:00:01 GMT";
    EXPECT_EQ((std::set<CString>{std::get<0>(g_ordinaryCalls[0]), std::get<0>(g_ordinaryCalls[1])}),
              (std::set<CString>{L"http://" + secureHost, L"http://" + lowHost}));
    EXPECT_EQ(std::get<1>(g_ordinaryCalls[0]) + std::get<1>(g_ordinaryCalls[1]), ended + ended);
    EXPECT_EQ(g_ordinaryCalls[2],
              (CCall{L"https://" + secureHost, L"sid=s3cr3t" + CString(kExpiry2030) + L"; secure", 1}));
    // Back on disk with its expiry, as a fresh process reads it.
    const auto secure = LinesContaining(RunTraceAudit(L"cookiefile"), "\tsid\ts3cr3t\t" + secureHost.ToUtf8() + "\t");
    ASSERT_EQ(secure.size(), 1u);
    EXPECT_NE(secure[0].find("\t2030-01-01T00:00:00.0000000Z"), std::string::npos) << secure[0];

    // Without the seams the plain call sets a protected-mode cookie; a mangled record is reported, not set.
    CSeamCookies plain(false);
    const CString plainHost = m_tag + L".plain.example/";
    plain.GetSnapshot().Add(L"protectedmode\nhttp://" + plainHost + L"\np=1;Expires = Tue, 01-Jan-2030 00-00-00 GMT\n0");
    plain.GetSnapshot().Add(L"notprotectedmode\nhttp://" + m_tag + L".bad.example/\nno flags");
    EXPECT_FALSE(plain.RecreateCookies());
    EXPECT_EQ(LinesContaining(RunTraceAudit(L"cookiefile"), "\tp\t1\t" + plainHost.ToUtf8() + "\t0\t2030").size(), 1u);
}

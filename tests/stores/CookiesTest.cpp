// The cookie cleaner against the platform's own cookie jar (Wine's
// WinINet), for the rules the whole clean-up test does not reach. The
// user's cookies are set by another process, as the user's own browser
// would; the session's in this one, as the rendering control would. Only a
// fresh process can tell whether a cookie really went back to disk.
#include "stores/Cookies.h"

#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "cleanup/Deleter.h"
#include "stores/CookiesIndexDat.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/ExternalReaders.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr wchar_t kExpiry2030[] = L"; expires=Tue, 01-Jan-2030 00:00:00 GMT";
constexpr wchar_t kExpired[] = L"; expires=Sat, 01-Jan-2000 00:00:00 GMT";

void SetCookieInAnotherProcess(const CString& strUrl, const CString& strData, DWORD dwFlags = 0)
{
    CHelperProcess helper;
    ASSERT_TRUE(helper.Start(FormatString(L"set-cookie \"%s\" \"%s%s\" %lu", strUrl.GetString(), strData.GetString(),
                                          kExpiry2030, dwFlags)));
    ASSERT_EQ(helper.Stop(), 0) << strUrl.ToUtf8() << " " << strData.ToUtf8();
}

// What a fresh process sees of the cookie jar, sorted, without the names
// of the cookie files (the platform picks them afresh whenever it writes a
// host's cookies): every cookie of the files and what the cookie call
// hands out.
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

// Registers a hand-written cookie file with the URL cache, as a cookie
// entry of the host: the way to seed what this platform's cookie calls
// cannot make (a secure flag, a protected-mode folder, two entries for
// one file, a damaged file). Each record expires on 1 January 2030.
CString RegisterCookieFile(const CString& strHostPath, const CString& strFile, const std::string& records)
{
    WriteTestFile(strFile, records);
    const FILETIME never = {0, 0};
    const CString url = L"Cookie:user@" + strHostPath;
    EXPECT_TRUE(CommitUrlCacheEntryW(url, strFile, never, never, COOKIE_CACHE_ENTRY, nullptr, 0, L"txt", nullptr))
        << GetLastError();
    return url;
}

std::string CookieFileRecord(const char* name, const char* value, const CString& hostPath, unsigned flags)
{
    return std::string(name) + "\n" + value + "\n" + hostPath.ToUtf8() + "\n" + std::to_string(flags) +
           "\n2684731392\n31520448\n0\n0\n*\n";
}

struct CCall {
    CString strUrl;
    CString strText;
    DWORD dwFlags;
    friend bool operator==(const CCall&, const CCall&) = default;
};
std::vector<CCall> g_protectedCalls, g_ordinaryCalls;

HRESULT WINAPI RecordProtectedModeCookie(LPCWSTR url, LPCWSTR name, LPCWSTR data, DWORD flags)
{
    EXPECT_EQ(name, nullptr);
    g_protectedCalls.push_back({url, data, flags});
    return S_OK;
}

// Records the call and hands it on to the platform.
DWORD WINAPI RecordAndSetCookie(LPCWSTR url, LPCWSTR name, LPCWSTR data, DWORD flags, DWORD_PTR reserved)
{
    g_ordinaryCalls.push_back({url, data, flags});
    return InternetSetCookieExW(url, name, data, flags, reserved);
}

// The cleaner with its cookie-setting functions replaced: recorded, or
// missing (the plain call is left).
class CSeamCookies : public CCookies {
public:
    explicit CSeamCookies(bool bSeams)
    {
        pfIESetProtectedModeCookie = bSeams ? &RecordProtectedModeCookie : nullptr;
        pfInternetSetCookieEx = bSeams ? &RecordAndSetCookie : nullptr;
    }
};

class CookiesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_protectedCalls.clear();
        g_ordinaryCalls.clear();
    }
    CDeleter m_deleter{FALSE, FALSE, FALSE};
    CString m_tag = UniqueTag();
    CString m_folder = CCookiesIndexDat::GetCookiesFolder();
};

}  // namespace

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
    ASSERT_EQ(LinesContaining(before, "\tlong\t" + longValue.ToUtf8()).size(), 1u);
    ASSERT_EQ(LinesContaining(before, "\ttoken\tabc\t").size(), 1u);
    WriteTestFile(stray, "gone");

    // Start-up: the snapshot, then the removal on the task's own worker,
    // from the disk and from this process's jar.
    CCookies cookies;
    ASSERT_TRUE(cookies.ReadCookies());
    ASSERT_TRUE(cookies.StartRemoval(&m_deleter));
    cookies.WaitForBackgroundTask();
    ASSERT_TRUE(cookies.GetResult());
    EXPECT_EQ(LinesContaining(CookieJarView(), m_tag.ToUtf8()).size(), 0u);
    EXPECT_EQ(CookiesOfThisProcess(shop), L"");
    EXPECT_TRUE(TestFileExists(low));
    EXPECT_FALSE(TestFileExists(stray));
    // The file pass spares the protected-mode folder and the index; a file
    // it cannot delete fails it and spares the index.
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

    for (const wchar_t* name : {L"token", L"long"}) {
        InternetSetCookieExW(shop, name, kExpired, INTERNET_COOKIE_HTTPONLY, 0);
    }
    InternetSetCookieW(L"http://" + m_tag + L".news.example/", L"region", kExpired);
    DeleteFileW(low);
}

TEST_F(CookiesTest, SecureProtectedModeAndDamagedCookiesAreSetAgainEachThroughItsOwnCall)
{
    const CString secureHost = m_tag + L".secure.example/", lowHost = m_tag + L".low.example/";
    RegisterCookieFile(secureHost, m_folder + m_tag + L"-secure.txt", CookieFileRecord("sid", "s3cr3t", secureHost, 1));
    // "low" in other letter case still names the protected-mode folder.
    RegisterCookieFile(lowHost, m_folder + L"low\\" + m_tag + L"-low.txt", CookieFileRecord("pm", "1", lowHost, 0));
    CSeamCookies cookies(true);
    ASSERT_TRUE(cookies.ReadCookies());
    const CString secureKey = L"notprotectedmode\nhttps://" + secureHost +
                              L"\nsid=s3cr3t;Expires = Tue, 01-Jan-2030 00-00-00 GMT;Secure\n1";
    const CString lowKey = L"protectedmode\nhttp://" + lowHost + L"\npm=1;Expires = Tue, 01-Jan-2030 00-00-00 GMT\n0";
    EXPECT_TRUE(cookies.GetSnapshot().Contains(secureKey));
    EXPECT_TRUE(cookies.GetSnapshot().Contains(lowKey));

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
    const std::set<CString> protectedTexts = {g_protectedCalls.at(0).strText, g_protectedCalls.at(1).strText};
    EXPECT_EQ(g_protectedCalls.size(), 2u);
    EXPECT_EQ(g_protectedCalls[0].strUrl, L"http://" + lowHost);
    EXPECT_EQ(protectedTexts, (std::set<CString>{L"pm=1" + CString(kExpiry2030), L"big=" + value + kExpiry2030}));
    // Before the recreation the removed cookies of the same hosts are ended
    // in this process's jar, then the snapshot's cookie is set.
    ASSERT_EQ(g_ordinaryCalls.size(), 3u);
    const CString ended = L"; expires=Thu, 01-Jan-1970 00:00:01 GMT";
    EXPECT_EQ((std::set<CString>{g_ordinaryCalls[0].strUrl, g_ordinaryCalls[1].strUrl}),
              (std::set<CString>{L"http://" + secureHost, L"http://" + lowHost}));
    EXPECT_EQ(g_ordinaryCalls[0].strText + g_ordinaryCalls[1].strText, ended + ended);
    EXPECT_EQ(g_ordinaryCalls[2],
              (CCall{L"https://" + secureHost, L"sid=s3cr3t" + CString(kExpiry2030) + L"; secure", 1}));
    // Back on disk with its expiry, as a fresh process reads it.
    const auto secure = LinesContaining(RunTraceAudit(L"cookiefile"), "\tsid\ts3cr3t\t" + secureHost.ToUtf8() + "\t");
    ASSERT_EQ(secure.size(), 1u);
    EXPECT_NE(secure[0].find("\t2030-01-01T00:00:00.0000000Z"), std::string::npos) << secure[0];
    InternetSetCookieW(L"https://" + secureHost, L"sid", kExpired);

    // Without the cookie-setting functions the plain call sets a
    // protected-mode cookie in the ordinary store, persistently; a record
    // mangled in the recovery file is reported, not set.
    CSeamCookies plain(false);
    const CString plainHost = m_tag + L".plain.example/";
    plain.GetSnapshot().Add(L"protectedmode\nhttp://" + plainHost + L"\np=1;Expires = Tue, 01-Jan-2030 00-00-00 GMT\n0");
    plain.GetSnapshot().Add(L"notprotectedmode\nhttp://" + m_tag + L".bad.example/\nno flags");
    EXPECT_FALSE(plain.RecreateCookies());
    EXPECT_EQ(LinesContaining(RunTraceAudit(L"cookiefile"), "\tp\t1\t" + plainHost.ToUtf8() + "\t0\t2030").size(), 1u);
    InternetSetCookieW(L"http://" + plainHost, L"p", kExpired);
}

TEST_F(CookiesTest, OneFileIsReadOnceIdenticalCookiesMakeOneRecordAndACutFileGivesItsWholeRecords)
{
    const CString host = m_tag + L".twice.example/", cutHost = m_tag + L".cut.example/";
    const std::string content = CookieFileRecord("a", "1", host, 0);
    // Two entries naming one file, a second file with the same cookie, and
    // a file cut in its second record.
    const CString shared = m_folder + m_tag + L"-shared.txt";
    const CString urls[] = {
        RegisterCookieFile(host, shared, content), RegisterCookieFile(host + L"x/", shared, content),
        RegisterCookieFile(host + L"y/", m_folder + m_tag + L"-copy.txt", content),
        RegisterCookieFile(cutHost, m_folder + m_tag + L"-cut.txt",
                           CookieFileRecord("whole", "1", cutHost, 0) + "part\nvalue\nhost/\n")};
    CCookies cookies;
    ASSERT_TRUE(cookies.ReadCookies());
    int nTwice = 0, nCut = 0;
    for (const CString& key : cookies.GetSnapshot()) {
        nTwice += key.Find(host) >= 0 ? 1 : 0;
        nCut += key.Find(cutHost) >= 0 ? 1 : 0;
    }
    EXPECT_EQ(nTwice, 1);
    EXPECT_EQ(nCut, 1);
    for (const CString& url : urls) {
        DeleteUrlCacheEntryW(url);
    }
}

// The cookie cleaner against the platform's own cookie jar (Wine's
// WinINet). The user's cookies are set by another process, as the user's
// own browser would; the session's cookies are set in this one, as the
// rendering control would. Only a fresh process can tell whether a cookie
// really went back to disk.
#include "stores/Cookies.h"

#include <wininet.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "cleanup/Deleter.h"
#include "stores/CookieRecord.h"
#include "stores/CookiesIndexDat.h"
#include "tests/support/ExternalReaders.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

using Lines = std::vector<std::string>;

constexpr wchar_t kExpiry2030[] = L"; expires=Tue, 01-Jan-2030 00:00:00 GMT";

void SetCookieInAnotherProcess(const CString& strUrl, const CString& strData, DWORD dwFlags = 0)
{
    CHelperProcess helper;
    ASSERT_TRUE(helper.Start(FormatString(L"set-cookie \"%s\" \"%s\" %lu", strUrl.GetString(), strData.GetString(),
                                          dwFlags)));
    ASSERT_EQ(helper.Stop(), 0) << strUrl.ToUtf8() << " " << strData.ToUtf8();
}

std::string Field(const std::string& line, int index)
{
    size_t start = 0;
    for (int i = 0; i < index; ++i) {
        start = line.find('\t', start);
        if (start == std::string::npos) {
            return std::string();
        }
        ++start;
    }
    const size_t end = line.find('\t', start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// What a fresh process sees of the cookie jar, without what changes when a
// cookie is merely written again (the file names the platform picks):
// every cookie of the files (name, value, host/path, flags, expiry), what
// the cookie call hands out, the URLs of the cookie entries and the live
// records of the cookie index.
std::multiset<std::string> CookieJarView()
{
    std::multiset<std::string> view;
    for (const std::string& line : RunTraceAudit(L"cookiefile cookieapi urlcache indexdat")) {
        if (line.rfind("cookiefile\t", 0) == 0) {
            view.insert("file\t" + line.substr(line.find('\t', 11) + 1));
        } else if (line.rfind("cookieapi\t", 0) == 0) {
            view.insert(line);
        } else if (line.rfind("urlcache\tcookie\t", 0) == 0) {
            view.insert("entry\t" + Field(line, 2));
        } else if (line.rfind("indexdat\tcookies:index.dat\tURL\t", 0) == 0) {
            view.insert("record\t" + Field(line, 3));
        }
    }
    return view;
}

size_t CountContaining(const std::multiset<std::string>& view, const std::string& text)
{
    size_t n = 0;
    for (const std::string& line : view) {
        n += line.find(text) != std::string::npos ? 1 : 0;
    }
    return n;
}

// Registers a hand-written cookie file with the URL cache, as a cookie
// entry of the host: the way to seed what this platform's cookie calls
// cannot make (a secure flag, a protected-mode folder, two entries for
// one file).
CString RegisterCookieFile(const CString& strHostPath, const CString& strFile, const std::string& content)
{
    WriteTestFile(strFile, content);
    const FILETIME never = {0, 0};
    const CString url = L"Cookie:user@" + strHostPath;
    EXPECT_TRUE(CommitUrlCacheEntryW(url, strFile, never, never, COOKIE_CACHE_ENTRY, nullptr, 0, L"txt", nullptr))
        << GetLastError();
    return url;
}

std::string CookieFileRecord(const char* name, const char* value, const std::string& hostPath, unsigned flags)
{
    // 1 January 2030 00:00:00 UTC.
    return std::string(name) + "\n" + value + "\n" + hostPath + "\n" + std::to_string(flags) +
           "\n2684731392\n31520448\n0\n0\n*\n";
}

struct CCall {
    CString strUrl;
    CString strText;
    DWORD dwFlags;
};
std::vector<CCall> g_protectedCalls;
std::vector<CCall> g_ordinaryCalls;

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

// The cleaner with its cookie-setting functions replaced.
class CSeamCookies : public CCookies {
public:
    void UseProtectedMode() { pfIESetProtectedModeCookie = &RecordProtectedModeCookie; }
    void RecordOrdinaryCalls() { pfInternetSetCookieEx = &RecordAndSetCookie; }
    void UsePlainCallOnly()
    {
        pfInternetSetCookieEx = nullptr;
        pfIESetProtectedModeCookie = nullptr;
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
};

}  // namespace

TEST_F(CookiesTest, ASessionLeavesExactlyTheCookiesThatWereThereBefore)
{
    CTempFolder folder;
    const CString tag = UniqueTag();
    const CString shop = L"http://" + tag + L".shop.example/";
    const CString news = L"http://www." + tag + L".news.example/";
    SetCookieInAnotherProcess(shop, L"basket=3" + CString(kExpiry2030));
    SetCookieInAnotherProcess(shop, L"theme=dark" + CString(kExpiry2030));
    SetCookieInAnotherProcess(shop + L"account/", L"user=ann" + CString(kExpiry2030));
    SetCookieInAnotherProcess(shop, L"token=abc; HttpOnly" + CString(kExpiry2030), INTERNET_COOKIE_HTTPONLY);
    SetCookieInAnotherProcess(news, L"region=eu; domain=." + tag + L".news.example" + kExpiry2030);
    const CString longValue(L'x', 700);
    SetCookieInAnotherProcess(shop, L"long=" + longValue + kExpiry2030);
    const std::multiset<std::string> before = CookieJarView();
    ASSERT_EQ(CountContaining(before, "\tlong\t" + longValue.ToUtf8()), 1u);
    ASSERT_EQ(CountContaining(before, "\ttoken\tabc\t"), 1u);

    // Start-up: the snapshot, then the removal on the task's own worker.
    CCookies cookies;
    ASSERT_TRUE(cookies.ReadCookies());
    EXPECT_GE(cookies.GetSnapshot().GetCount(), 6);
    ASSERT_TRUE(cookies.StartRemoval(&m_deleter));
    cookies.WaitForBackgroundTask();
    ASSERT_TRUE(cookies.GetResult());
    EXPECT_EQ(CountContaining(CookieJarView(), tag.ToUtf8()), 0u);
    wchar_t text[4096];
    DWORD size = sizeof(text);
    EXPECT_FALSE(InternetGetCookieW(shop, nullptr, text, &size));

    // The session: a new value for an old cookie, a new cookie beside old
    // ones, a host of its own.
    const CString sessionHost = L"http://" + tag + L".sessiononly.example/";
    ASSERT_TRUE(InternetSetCookieW(shop, nullptr, L"basket=99" + CString(kExpiry2030)));
    ASSERT_TRUE(InternetSetCookieW(shop, nullptr, L"tracker=session" + CString(kExpiry2030)));
    ASSERT_TRUE(InternetSetCookieW(sessionHost, nullptr, L"seen=1" + CString(kExpiry2030)));
    EXPECT_EQ(CountContaining(CookieJarView(), "\ttracker\tsession\t"), 1u);

    // The clean-up, as the manager runs it: removal, then recreation.
    cookies.SetDeleter(&m_deleter);
    ASSERT_TRUE(cookies.RunBackgroundTask());
    EXPECT_TRUE(cookies.RecreateCookies());
    EXPECT_EQ(CookieJarView(), before);
    const std::multiset<CString> recovered = ExportIndexLocations(folder, CookieStore().strIndex, L"all");
    for (const CString& location : recovered) {
        EXPECT_EQ(location.Find(L"sessiononly"), -1) << location.ToUtf8();
    }

    // This process's own jar holds no cookie of the session either.
    size = sizeof(text);
    ASSERT_TRUE(InternetGetCookieW(shop, nullptr, text, &size));
    EXPECT_EQ(CString(text).Find(L"tracker"), -1) << CString(text).ToUtf8();
    EXPECT_NE(CString(text).Find(L"basket=3"), -1) << CString(text).ToUtf8();

    for (const wchar_t* name : {L"basket", L"theme", L"token", L"long"}) {
        InternetSetCookieExW(shop, name, L"; expires=Sat, 01-Jan-2000 00:00:00 GMT", INTERNET_COOKIE_HTTPONLY, 0);
    }
    InternetSetCookieW(shop + L"account/", L"user", L"; expires=Sat, 01-Jan-2000 00:00:00 GMT");
    InternetSetCookieW(L"http://" + tag + L".news.example/", L"region", L"; expires=Sat, 01-Jan-2000 00:00:00 GMT");
}

TEST_F(CookiesTest, SecureAndProtectedModeCookiesFromHandWrittenFiles)
{
    const CString tag = UniqueTag();
    const CString folder = CCookiesIndexDat::GetCookiesFolder();
    const CString secureHost = tag + L".secure.example/";
    const CString lowHost = tag + L".low.example/";
    RegisterCookieFile(secureHost, folder + tag + L"-secure.txt",
                       CookieFileRecord("sid", "s3cr3t", secureHost.ToUtf8(), 1));
    // "low" in other letter case still names the protected-mode folder.
    RegisterCookieFile(lowHost, folder + L"low\\" + tag + L"-low.txt",
                       CookieFileRecord("pm", "1", lowHost.ToUtf8(), 0));

    CSeamCookies cookies;
    ASSERT_TRUE(cookies.ReadCookies());
    const CString secureKey = L"notprotectedmode\nhttps://" + secureHost +
                              L"\nsid=s3cr3t;Expires = Tue, 01-Jan-2030 00-00-00 GMT;Secure\n1";
    const CString lowKey = L"protectedmode\nhttp://" + lowHost + L"\npm=1;Expires = Tue, 01-Jan-2030 00-00-00 GMT\n0";
    EXPECT_TRUE(cookies.GetSnapshot().Contains(secureKey));
    EXPECT_TRUE(cookies.GetSnapshot().Contains(lowKey));

    cookies.SetDeleter(&m_deleter);
    ASSERT_TRUE(cookies.removeCookies());
    cookies.GetSnapshot().RemoveAll();
    cookies.GetSnapshot().Add(secureKey);
    cookies.GetSnapshot().Add(lowKey);
    cookies.UseProtectedMode();
    cookies.RecordOrdinaryCalls();
    EXPECT_TRUE(cookies.RecreateCookies());

    ASSERT_EQ(g_protectedCalls.size(), 1u);
    EXPECT_EQ(g_protectedCalls[0].strUrl, L"http://" + lowHost);
    EXPECT_EQ(g_protectedCalls[0].strText, L"pm=1; expires=Tue, 01-Jan-2030 00:00:00 GMT");
    // Before the recreation the removed cookies of the same hosts are ended
    // in this process's jar, then the snapshot's cookie is set.
    ASSERT_EQ(g_ordinaryCalls.size(), 3u);
    std::set<CString> ended;
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(g_ordinaryCalls[i].strText, L"; expires=Thu, 01-Jan-1970 00:00:01 GMT");
        ended.insert(g_ordinaryCalls[i].strUrl);
    }
    EXPECT_EQ(ended, (std::set<CString>{L"http://" + secureHost, L"http://" + lowHost}));
    g_ordinaryCalls.erase(g_ordinaryCalls.begin(), g_ordinaryCalls.begin() + 2);
    EXPECT_EQ(g_ordinaryCalls[0].strUrl, L"https://" + secureHost);
    EXPECT_EQ(g_ordinaryCalls[0].strText, L"sid=s3cr3t; expires=Tue, 01-Jan-2030 00:00:00 GMT; secure");
    EXPECT_EQ(g_ordinaryCalls[0].dwFlags, 1u);
    // Back on disk with its expiry, as a fresh process reads it.
    const Lines audit = RunTraceAudit(L"cookiefile");
    const Lines secure = LinesContaining(audit, "\tsid\ts3cr3t\t" + secureHost.ToUtf8() + "\t");
    ASSERT_EQ(secure.size(), 1u);
    EXPECT_NE(secure[0].find("\t2030-01-01T00:00:00.0000000Z"), std::string::npos) << secure[0];
    InternetSetCookieW(L"https://" + secureHost, L"sid", L"; expires=Sat, 01-Jan-2000 00:00:00 GMT");
}

TEST_F(CookiesTest, OneFileIsReadOnceAndIdenticalCookiesMakeOneRecord)
{
    const CString tag = UniqueTag();
    const CString folder = CCookiesIndexDat::GetCookiesFolder();
    const std::string hostPath = (tag + L".twice.example/").ToUtf8();
    const std::string content = CookieFileRecord("a", "1", hostPath, 0);
    // Two entries naming one file, and a second file with the same cookie.
    const CString shared = folder + tag + L"-shared.txt";
    const CString first = RegisterCookieFile(tag + L".twice.example/", shared, content);
    const CString second = RegisterCookieFile(tag + L".twice.example/x/", shared, content);
    const CString third = RegisterCookieFile(tag + L".twice.example/y/", folder + tag + L"-copy.txt", content);

    CCookies cookies;
    ASSERT_TRUE(cookies.ReadCookies());
    int n = 0;
    for (const CString& key : cookies.GetSnapshot()) {
        n += key.Find(tag) >= 0 ? 1 : 0;
    }
    EXPECT_EQ(n, 1);

    // A truncated file adds nothing after its last whole record.
    const CString cut = RegisterCookieFile(tag + L".cut.example/", folder + tag + L"-cut.txt",
                                           CookieFileRecord("whole", "1", (tag + L".cut.example/").ToUtf8(), 0) +
                                               "part\nvalue\nhost/\n");
    ASSERT_TRUE(cookies.ReadCookies());
    n = 0;
    for (const CString& key : cookies.GetSnapshot()) {
        n += key.Find(tag + L".cut") >= 0 ? 1 : 0;
    }
    EXPECT_EQ(n, 1);
    for (const CString& url : {first, second, third, cut}) {
        DeleteUrlCacheEntryW(url);
    }
}

TEST_F(CookiesTest, TheFilePassSparesTheProtectedModeFolderAndTheIndex)
{
    const CString tag = UniqueTag();
    const CString folder = CCookiesIndexDat::GetCookiesFolder();
    const CString low = folder + L"Low\\" + tag + L".txt";
    const CString stray = folder + tag + L"-stray.txt";
    WriteTestFile(low, "kept");
    WriteTestFile(stray, "gone");
    CCookies cookies;
    cookies.SetDeleter(&m_deleter);
    ASSERT_TRUE(cookies.removeCookies());
    EXPECT_TRUE(TestFileExists(low));
    EXPECT_FALSE(TestFileExists(stray));
    EXPECT_TRUE(TestFileExists(CookieStore().strIndex));
    DeleteFileW(low);

    // A file that cannot be deleted fails the removal and spares the index.
    WriteTestFile(stray, "held");
    CHelperProcess holder;
    ASSERT_TRUE(holder.Start(L"hold-file \"" + stray + L"\" none"));
    const std::string index = ReadTestFile(CookieStore().strIndex);
    EXPECT_FALSE(cookies.removeCookies());
    EXPECT_EQ(ReadTestFile(CookieStore().strIndex), index);
    holder.Stop();
    EXPECT_TRUE(cookies.removeCookies());
    EXPECT_FALSE(TestFileExists(stray));
}

TEST_F(CookiesTest, RecreationPathsAndTheirLogLines)
{
    const CString tag = UniqueTag();
    CSeamCookies cookies;
    EXPECT_TRUE(cookies.RecreateCookies());

    // A protected-mode cookie longer than any fixed buffer reaches the
    // protected-mode call whole.
    const CString value(L'v', 1500);
    const CString longKey = L"protectedmode\nhttp://" + tag + L".pm.example/\nbig=" + value +
                            L";Expires = Tue, 01-Jan-2030 00-00-00 GMT\n0";
    cookies.GetSnapshot().Add(longKey);
    cookies.UseProtectedMode();
    EXPECT_TRUE(cookies.RecreateCookies());
    ASSERT_EQ(g_protectedCalls.size(), 1u);
    EXPECT_EQ(g_protectedCalls[0].strText, L"big=" + value + L"; expires=Tue, 01-Jan-2030 00:00:00 GMT");

    // Without the cookie-setting functions the plain call sets it, in the
    // ordinary store, persistently.
    cookies.GetSnapshot().RemoveAll();
    const CString plainKey = L"protectedmode\nhttp://" + tag + L".plain.example/\np=1;Expires = Tue, 01-Jan-2030 00-00-00 GMT\n0";
    cookies.GetSnapshot().Add(plainKey);
    // A record mangled in the recovery file is reported, not set.
    cookies.GetSnapshot().Add(L"notprotectedmode\nhttp://" + tag + L".bad.example/\nno flags");
    cookies.UsePlainCallOnly();
    EXPECT_FALSE(cookies.RecreateCookies());
    EXPECT_EQ(LinesContaining(RunTraceAudit(L"cookiefile"), "\tp\t1\t" + (tag + L".plain.example/").ToUtf8() + "\t0\t2030").size(),
              1u);
    InternetSetCookieW(L"http://" + tag + L".plain.example/", L"p", L"; expires=Sat, 01-Jan-2000 00:00:00 GMT");
}

// The audit tool is run as its own process against stores seeded through the
// platform's own calls, as later tests use it: a fresh process reading what
// a session left.
#include <windows.h>
#include <shlobj.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/Handles.h"
#include "tests/support/ExternalReaders.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

CString SpecialFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    EXPECT_EQ(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
    return CString(path);
}

// A cache entry with a local file, committed through the URL cache.
CString SeedCacheEntry(const CString& url, const std::string& content)
{
    wchar_t local[MAX_PATH] = {};
    EXPECT_TRUE(CreateUrlCacheEntryW(url, 0, L"txt", local, 0)) << GetLastError();
    WriteTestFile(local, content);
    FILETIME zero = {};
    const wchar_t headers[] = L"HTTP/1.1 200 OK\r\n\r\n";
    EXPECT_TRUE(CommitUrlCacheEntryW(url, local, zero, zero, NORMAL_CACHE_ENTRY, const_cast<wchar_t*>(headers),
                                     static_cast<DWORD>(wcslen(headers)), L"txt", nullptr))
        << GetLastError();
    return CString(local);
}

class TraceAudit : public ::testing::Test {
protected:
    void TearDown() override
    {
        for (const CString& url : m_urls) {
            DeleteUrlCacheEntryW(url);
        }
        for (const CString& path : m_files) {
            DeleteFileW(path);
        }
    }

    std::vector<CString> m_urls;
    std::vector<CString> m_files;
};

}  // namespace

TEST_F(TraceAudit, ListsWhatThePlatformsOwnCallsStored)
{
    const CString cacheUrl = L"http://audit-cache.example/page.txt";
    const CString local = SeedCacheEntry(cacheUrl, "cached body");
    m_urls.push_back(cacheUrl);
    m_files.push_back(local);

    ASSERT_TRUE(InternetSetCookieW(L"http://audit-cookie.example/", nullptr,
                                   L"auditname=auditvalue; expires=Tue, 01-Jan-2030 00:00:00 GMT"));

    const CString visited = L"Visited: user@http://audit-history.example/seen";
    FILETIME zero = {};
    ASSERT_TRUE(CommitUrlCacheEntryW(visited, nullptr, zero, zero, URLHISTORY_CACHE_ENTRY | NORMAL_CACHE_ENTRY,
                                     nullptr, 0, nullptr, nullptr))
        << GetLastError();
    m_urls.push_back(visited);

    const std::vector<std::string> lines = RunTraceAudit(L"");

    const std::vector<std::string> cache = LinesContaining(lines, "urlcache\tcache\thttp://audit-cache.example/page.txt\t");
    ASSERT_EQ(cache.size(), 1u);
    const CString cacheRoot = SpecialFolder(CSIDL_INTERNET_CACHE);
    const std::string relative = "cache:" + local.Mid(cacheRoot.GetLength() + 1).ToUtf8();
    std::string escaped;
    for (char ch : relative) {
        escaped += ch == '\\' ? std::string("\\\\") : std::string(1, ch);
    }
    EXPECT_NE(cache[0].find("\t" + escaped + "\t11\t"), std::string::npos) << cache[0];

    const std::vector<std::string> cookieFiles = LinesContaining(lines, "\tauditname\tauditvalue\t");
    ASSERT_EQ(cookieFiles.size(), 1u);
    EXPECT_EQ(cookieFiles[0].rfind("cookiefile\tcookies:", 0), 0u) << cookieFiles[0];
    EXPECT_NE(cookieFiles[0].find("\t2030-01-01T00:00:00.0000000Z"), std::string::npos) << cookieFiles[0];

    EXPECT_EQ(LinesContaining(lines, "cookieapi\thttp://audit-cookie.example/\tauditname=auditvalue").size(), 1u);
    EXPECT_FALSE(LinesContaining(lines, "urlcache\tcookie\tCookie:").empty());
    EXPECT_EQ(LinesContaining(lines, "urlcache\thistory\tVisited: user@http://audit-history.example/seen").size(), 1u);

    // The index files, read apart from the URL cache, hold the same records.
    EXPECT_EQ(LinesContaining(lines, "\tURL\thttp://audit-cache.example/page.txt\t").size(), 1u);
    EXPECT_EQ(LinesStartingWith(lines, "history\tVisited: user@http://audit-history.example/seen").size(), 1u);

    // The cached file itself, with its hash; the index file is not hashed.
    EXPECT_EQ(LinesContaining(lines, "tif\t" + escaped + "\t11\t").size(), 1u);
    for (const std::string& line : LinesContaining(lines, "tif\t")) {
        EXPECT_EQ(line.find("index.dat"), std::string::npos) << line;
    }

    ASSERT_TRUE(InternetSetCookieW(L"http://audit-cookie.example/", nullptr,
                                   L"auditname=gone; expires=Sat, 01-Jan-2000 00:00:00 GMT"));
}

TEST_F(TraceAudit, HashesFlashAndJavaFilesWithTheirTimes)
{
    const CString flashFile = SpecialFolder(CSIDL_APPDATA) +
                              L"\\Macromedia\\Flash Player\\#SharedObjects\\ABC\\audit.example\\state.sol";
    WriteTestFile(flashFile, "abc");
    m_files.push_back(flashFile);
    CTempFolder java;
    WriteTestFile(java / L"6.0\\12\\applet.jar", "abc");

    const std::vector<std::string> lines = RunTraceAudit(L"--java-cache \"" + java.Path() + L"\" flash java");
    const std::string sha = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    const std::vector<std::string> flash =
        LinesContaining(lines, "flash\tflash:#SharedObjects\\\\ABC\\\\audit.example\\\\state.sol\t3\t" + sha + "\t");
    ASSERT_EQ(flash.size(), 1u);
    // Three file times follow the hash.
    EXPECT_EQ(std::count(flash[0].begin(), flash[0].end(), '\t'), 6);
    EXPECT_EQ(LinesContaining(lines, "java\tjava:6.0\\\\12\\\\applet.jar\t3\t" + sha).size(), 1u);
    // Only the sections asked for.
    EXPECT_TRUE(LinesContaining(lines, "urlcache\t").empty());
}

TEST_F(TraceAudit, OnlyReadsTheStoresAndShowsADeletedEntryAsAFreedRecord)
{
    // The platform frees a deleted entry's blocks but leaves its bytes: the
    // record is still a trace, and the audit must say it is a freed one.
    const CString url = L"http://audit-deleted.example/gone.txt";
    m_files.push_back(SeedCacheEntry(url, "gone"));
    ASSERT_TRUE(DeleteUrlCacheEntryW(url)) << GetLastError();

    const CString cacheIndex = SpecialFolder(CSIDL_INTERNET_CACHE) + L"\\Content.IE5\\index.dat";
    const std::string before = ReadTestFile(cacheIndex);
    ASSERT_FALSE(before.empty());
    int code = -1;
    const std::vector<std::string> lines = RunTraceAudit(L"", &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(RunTraceAudit(L""), lines);
    EXPECT_EQ(ReadTestFile(cacheIndex), before);

    EXPECT_TRUE(LinesContaining(lines, "urlcache\tcache\thttp://audit-deleted.example/").empty());
    const std::vector<std::string> records = LinesContaining(lines, "\thttp://audit-deleted.example/gone.txt\t");
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].rfind("indexdat\tcache:Content.IE5\\\\index.dat\tURL free\t", 0), 0u) << records[0];

    RunTraceAudit(L"--no-such-option", &code);
    EXPECT_EQ(code, 2);
}

// The audit tool is run as its own process, as later tests use it, against
// stores seeded through the platform's own calls.
#include <windows.h>
#include <shlobj.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/ExternalReaders.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

TEST(TraceAudit, ListsWhatThePlatformsOwnCallsStoredAndOnlyReads)
{
    const CString cacheUrl = L"http://audit-cache.example/page.txt";
    const CString local = AddCacheEntry(cacheUrl, "cached body");
    ASSERT_TRUE(AddCookie(L"http://audit-cookie.example/", L"auditname", L"auditvalue"));
    ASSERT_TRUE(AddHistoryEntry(L"http://audit-history.example/seen"));
    // The platform frees a deleted entry's blocks but leaves its bytes: the
    // record is still a trace, and the audit must say it is a freed one.
    ASSERT_FALSE(AddCacheEntry(L"http://audit-deleted.example/gone.txt", "gone").IsEmpty());
    ASSERT_TRUE(DeleteUrlCacheEntryW(L"http://audit-deleted.example/gone.txt"));
    wchar_t appData[MAX_PATH] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData), S_OK);
    const CString flashFile =
        CString(appData) + L"\\Macromedia\\Flash Player\\#SharedObjects\\ABC\\audit.example\\state.sol";
    WriteTestFile(flashFile, "abc");
    CTempFolder java;
    WriteTestFile(java / L"6.0\\12\\applet.jar", "abc");
    const std::string indexBefore = ReadTestFile(CacheStore().strIndex);

    int code = -1;
    const std::vector<std::string> lines = RunTraceAudit(L"--java-cache \"" + java.Path() + L"\"", &code);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadTestFile(CacheStore().strIndex), indexBefore);
    // The cached file as the audit names it: relative to its store, backslashes doubled.
    std::string cached = "cache:Content.IE5\\" + local.Mid(CacheStore().strFolder.GetLength() + 1).ToUtf8() + "\t11\t";
    for (size_t i = cached.find('\\'); i != std::string::npos; i = cached.find('\\', i + 2)) {
        cached.insert(i, 1, '\\');
    }
    EXPECT_EQ(LinesStartingWith(lines, "urlcache\tcache\thttp://audit-cache.example/page.txt\t" + cached).size(), 1u);
    const std::vector<std::string> cookie =
        LinesContaining(LinesStartingWith(lines, "cookiefile\tcookies:"), "\tauditname\tauditvalue\t");
    EXPECT_EQ(LinesContaining(cookie, "\t2030-01-01T00:00:00.0000000Z").size(), 1u);
    EXPECT_EQ(LinesContaining(lines, "cookieapi\thttp://audit-cookie.example/\tauditname=auditvalue").size(), 1u);
    EXPECT_EQ(LinesContaining(lines, "urlcache\thistory\tVisited: user@http://audit-history.example/seen").size(), 1u);
    // The index files, read apart from the URL cache, hold the same records.
    EXPECT_EQ(LinesContaining(lines, "\tURL\thttp://audit-cache.example/page.txt\t").size(), 1u);
    EXPECT_EQ(LinesStartingWith(lines, "history\tVisited: user@http://audit-history.example/seen").size(), 1u);
    const std::vector<std::string> deleted = LinesContaining(lines, "\thttp://audit-deleted.example/gone.txt\t");
    ASSERT_EQ(deleted.size(), 1u);
    EXPECT_EQ(deleted[0].rfind("indexdat\tcache:Content.IE5\\\\index.dat\tURL free\t", 0), 0u) << deleted[0];
    // The cached file itself, with its size and hash; the index file is not hashed.
    EXPECT_EQ(LinesContaining(lines, "tif\t" + cached).size(), 1u);
    EXPECT_TRUE(LinesContaining(LinesStartingWith(lines, "tif\t"), "index.dat").empty());
    // Flash and Java files hashed, with three file times after the hash.
    const std::string sha = "\t3\tba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    const std::vector<std::string> flash =
        LinesStartingWith(lines, "flash\tflash:#SharedObjects\\\\ABC\\\\audit.example\\\\state.sol" + sha);
    EXPECT_TRUE(flash.size() == 1 && std::count(flash[0].begin(), flash[0].end(), '\t') == 6);
    EXPECT_EQ(LinesStartingWith(lines, "java\tjava:6.0\\\\12\\\\applet.jar" + sha).size(), 1u);
}

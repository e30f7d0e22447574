// The session clean-up of the URL cache and the cookie jar at a realistic
// size, against the WinINet work it cannot avoid, all measured in one run:
//   profile   5,000 cache entries with files (the last 500 from the
//             session) and 1,000 persistent cookies (4 per host)
//   bare      the platform calls alone: the cookie removal's walk and the
//             deletion of every cookie entry, the Temporary Internet Files
//             walk and the deletion of the session's 500 entries
//   cleaners  CCookies::removeCookies + CTempInternetFiles::RunBackgroundTask
//             (plain deleter), on the same profile seeded again
//   start-up  the start-up cookie removal (its own worker, secure deleter)
// Target: cleaners within 1.15x of bare.
//
// Run it in a prefix of its own; it empties the URL cache and the cookie
// jar of the prefix it runs in:
//   WINEPREFIX=$PWD/build/bench-prefix cmake/wine-run.sh build/bench-bin/cache_cleanup_bench.exe
#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <vector>

#include "cleanup/Deleter.h"
#include "framework/Handles.h"
#include "framework/String.h"
#include "stores/Cookies.h"
#include "stores/TempInternetFiles.h"

namespace {

constexpr int kEntries = 5000;
constexpr int kSessionEntries = 500;
constexpr int kCookies = 1000;
constexpr int kCookiesPerHost = 4;

double Now()
{
    LARGE_INTEGER f;
    LARGE_INTEGER c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<double>(c.QuadPart) / static_cast<double>(f.QuadPart);
}

bool AddEntry(const CString& url)
{
    wchar_t file[MAX_PATH] = {};
    if (!CreateUrlCacheEntryW(url, 0, L"htm", file, 0)) {
        return false;
    }
    {
        CHandle h(CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!h || !WriteFile(h.get(), "<html>cached</html>", 19, &written, nullptr)) {
            return false;
        }
    }
    const FILETIME never = {0, 0};
    return CommitUrlCacheEntryW(url, file, never, never, NORMAL_CACHE_ENTRY, nullptr, 0, nullptr, nullptr) != FALSE;
}

bool SeedCookies(int round)
{
    for (int i = 0; i < kCookies; ++i) {
        const CString url = FormatString(L"http://h%d.cookies.example/", i / kCookiesPerHost);
        const CString data = FormatString(L"c%d=r%dv%d; expires=Tue, 01-Jan-2030 00:00:00 GMT", i, round, i);
        if (!InternetSetCookieW(url, nullptr, data)) {
            return false;
        }
    }
    return true;
}

// The session: entries whose last access lies after the returned start.
bool SeedSession(int round, CTime* pStart)
{
    const CTime seeded = CTime::GetCurrentTime();
    while (CTime::GetCurrentTime() <= seeded) {
        Sleep(50);
    }
    *pStart = CTime::GetCurrentTime();
    for (int i = 0; i < kSessionEntries; ++i) {
        if (!AddEntry(FormatString(L"http://session.example/r%d/page%d.html", round, i))) {
            return false;
        }
    }
    return true;
}

// One walk of the whole cache; the URLs of the entries the filter keeps.
std::vector<CString> Walk(bool (*keep)(const INTERNET_CACHE_ENTRY_INFOW&, CTime), CTime start)
{
    std::vector<CString> kept;
    std::vector<BYTE> buffer(8192);
    auto* e = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.data());
    DWORD size = static_cast<DWORD>(buffer.size());
    HANDLE find = FindFirstUrlCacheEntryW(nullptr, e, &size);
    while (find != nullptr) {
        if (keep(*e, start)) {
            kept.push_back(e->lpszSourceUrlName);
        }
        size = static_cast<DWORD>(buffer.size());
        if (!FindNextUrlCacheEntryW(find, e, &size)) {
            break;
        }
    }
    if (find != nullptr) {
        FindCloseUrlCache(find);
    }
    return kept;
}

bool IsCookie(const INTERNET_CACHE_ENTRY_INFOW& e, CTime)
{
    return (e.CacheEntryType & COOKIE_CACHE_ENTRY) != 0;
}

bool IsSessionEntry(const INTERNET_CACHE_ENTRY_INFOW& e, CTime start)
{
    return (e.CacheEntryType & (COOKIE_CACHE_ENTRY | URLHISTORY_CACHE_ENTRY)) == 0 &&
           CTime::FromFileTimeViaLocal(e.LastAccessTime) >= start;
}

int CountEntries()
{
    return static_cast<int>(Walk([](const INTERNET_CACHE_ENTRY_INFOW&, CTime) { return true; }, CTime()).size());
}

}  // namespace

int wmain()
{
    printf("seeding %d cache entries and %d cookies...\n", kEntries - kSessionEntries, kCookies);
    for (int i = 0; i < kEntries - kSessionEntries; ++i) {
        if (!AddEntry(FormatString(L"http://before.example/dir%d/page%d.html", i % 50, i))) {
            fprintf(stderr, "cannot seed cache entry %d (%lu)\n", i, GetLastError());
            return 1;
        }
    }
    CTime start;
    if (!SeedCookies(0) || !SeedSession(0, &start)) {
        fprintf(stderr, "cannot seed the profile (%lu)\n", GetLastError());
        return 1;
    }
    printf("profile: %d entries in the cache\n", CountEntries());

    // Bare: the same walks and deletions, nothing else.
    double t0 = Now();
    int deleted = 0;
    for (const CString& url : Walk(&IsCookie, start)) {
        deleted += DeleteUrlCacheEntryW(url) ? 1 : 0;
    }
    for (const CString& url : Walk(&IsSessionEntry, start)) {
        deleted += DeleteUrlCacheEntryW(url) ? 1 : 0;
    }
    const double bare = Now() - t0;
    printf("bare:     %.2f s (%d entries deleted)\n", bare, deleted);

    if (!SeedCookies(1) || !SeedSession(1, &start)) {
        fprintf(stderr, "cannot seed the profile again (%lu)\n", GetLastError());
        return 1;
    }
    printf("profile: %d entries in the cache\n", CountEntries());
    CDeleter deleter(FALSE, FALSE, FALSE);
    CCookies cookies;
    CTempInternetFiles cache;
    cache.SetStartTime(start);
    cookies.SetDeleter(&deleter);
    cache.SetDeleter(&deleter);
    t0 = Now();
    const BOOL bCookies = cookies.removeCookies();
    const double cookieTime = Now() - t0;
    const BOOL bCache = cache.RunBackgroundTask();
    const double cleaners = Now() - t0;
    printf("cleaners: %.2f s (cookies %.2f s, Temporary Internet Files %.2f s; results %d %d)\n", cleaners,
           cookieTime, cleaners - cookieTime, bCookies, bCache);
    printf("ratio cleaners / bare: %.3f (target <= 1.15)\n", cleaners / bare);
    printf("left: %d entries in the cache\n", CountEntries());

    // The start-up removal: the snapshot, then the removal on the task's
    // own worker with a secure deleter.
    if (!SeedCookies(2)) {
        return 1;
    }
    CCookies startup;
    CDeleter secure(TRUE, FALSE, FALSE);
    t0 = Now();
    const BOOL bRead = startup.ReadCookies();
    const double readTime = Now() - t0;
    startup.StartRemoval(&secure);
    startup.WaitForBackgroundTask();
    const double startupTime = Now() - t0;
    printf("start-up: ReadCookies %.2f s (%d records, %d), removal with the secure deleter %.2f s (%d)\n", readTime,
           startup.GetSnapshot().GetCount(), bRead, startupTime - readTime, startup.GetResult());
    return 0;
}

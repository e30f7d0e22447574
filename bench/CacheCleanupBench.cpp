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
// Bare and cleaners are measured in a few rounds, alternating which goes
// first, and compared by their medians: under Wine on a shared machine one
// walk of the same cache took from 4.3 s to 6.8 s within minutes.
// Target: cleaners within 1.15x of bare. Every WinINet call of the run is
// timed, and so is every file call (bench/PlatformCallTimer.h): what each
// cleaner spends outside them is printed too.
//
// Run it in a prefix of its own; it empties the URL cache and the cookie
// jar of the prefix it runs in:
//   WINEPREFIX=$PWD/build/bench-prefix cmake/wine-run.sh build/bench-bin/cache_cleanup_bench.exe [rounds]
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/BenchClock.h"
#include "bench/PlatformCallTimer.h"
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
constexpr int kDefaultRounds = 3;

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
           CTime::FromFileTime(e.LastAccessTime) >= start;
}

int CountEntries()
{
    return static_cast<int>(Walk([](const INTERNET_CACHE_ENTRY_INFOW&, CTime) { return true; }, CTime()).size());
}

// The platform calls charged to the bucket, and what was spent outside
// them.
void PrintCalls(const char* pszWhat, int nBucket, double dTotal)
{
    double dUrlCache = 0;
    double dFiles = 0;
    const PlatformCallTimer::CBucketFigures figures = PlatformCallTimer::Figures(nBucket);
    for (int c = 0; c < PlatformCallTimer::kCallCount; ++c) {
        if (figures[c].nCalls > 0) {
            printf("    %-26s %6lld calls %8.3f s\n", PlatformCallTimer::CallName(static_cast<PlatformCallTimer::Call>(c)),
                   figures[c].nCalls, figures[c].dSeconds);
        }
        (PlatformCallTimer::IsUrlCacheCall(c) ? dUrlCache : dFiles) += figures[c].dSeconds;
    }
    printf("  %s: %.3f s, inside WinINet %.3f s, inside file calls %.3f s, the rest %.3f s\n", pszWhat, dTotal,
           dUrlCache, dFiles, dTotal - dUrlCache - dFiles);
}

// The median of a few figures.
double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

enum Bucket : int { kSeeding = 0, kBare = 1, kCookieCleaner = 2, kCacheCleaner = 3 };

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const int nRounds = argc > 1 ? std::max(1, _wtoi(argv[1])) : kDefaultRounds;
    if (!PlatformCallTimer::Install()) {
        return 1;
    }
    printf("seeding %d cache entries...\n", kEntries - kSessionEntries);
    for (int i = 0; i < kEntries - kSessionEntries; ++i) {
        if (!AddEntry(FormatString(L"http://before.example/dir%d/page%d.html", i % 50, i))) {
            fprintf(stderr, "cannot seed cache entry %d (%lu)\n", i, GetLastError());
            return 1;
        }
    }

    // Each round measures the bare work and the cleaners once each, on a
    // profile seeded afresh for each, the one first that went second in the
    // round before: the machine's load drifts over minutes.
    std::vector<double> bareTimes;
    std::vector<double> cleanerTimes;
    double cookieSum = 0;
    double cacheSum = 0;
    for (int round = 0; round < nRounds; ++round) {
        double bare = 0;
        double cookieTime = 0;
        double cacheTime = 0;
        for (int half = 0; half < 2; ++half) {
            const int seed = 2 * round + half;
            CTime start;
            PlatformCallTimer::SetBucket(kSeeding);
            if (!SeedCookies(seed) || !SeedSession(seed, &start)) {
                fprintf(stderr, "cannot seed the profile (%lu)\n", GetLastError());
                return 1;
            }
            if (round == 0 && half == 0) {
                printf("profile: %d entries in the cache, %d cookies\n", CountEntries(), kCookies);
            }
            if ((half == 0) == (round % 2 == 0)) {
                // Bare: the same walks and deletions, nothing else.
                PlatformCallTimer::SetBucket(kBare);
                const double t0 = Seconds();
                int deleted = 0;
                for (const CString& url : Walk(&IsCookie, start)) {
                    deleted += DeleteUrlCacheEntryW(url) ? 1 : 0;
                }
                for (const CString& url : Walk(&IsSessionEntry, start)) {
                    deleted += DeleteUrlCacheEntryW(url) ? 1 : 0;
                }
                bare = Seconds() - t0;
                if (deleted != kCookies / kCookiesPerHost + kSessionEntries) {
                    fprintf(stderr, "bare work deleted %d entries\n", deleted);
                }
            } else {
                CDeleter deleter(FALSE, FALSE, FALSE);
                CCookies cookies;
                CTempInternetFiles cache;
                cache.SetStartTime(CFileTime(start.ToFileTime()));
                cookies.SetDeleter(&deleter);
                cache.SetDeleter(&deleter);
                PlatformCallTimer::SetBucket(kCookieCleaner);
                const double t0 = Seconds();
                const BOOL bCookies = cookies.removeCookies();
                cookieTime = Seconds() - t0;
                PlatformCallTimer::SetBucket(kCacheCleaner);
                const BOOL bCache = cache.RunBackgroundTask();
                cacheTime = Seconds() - t0 - cookieTime;
                if (!bCookies || !bCache) {
                    fprintf(stderr, "a cleaner failed: cookies %d, Temporary Internet Files %d\n", bCookies, bCache);
                }
            }
            PlatformCallTimer::SetBucket(kSeeding);
        }
        bareTimes.push_back(bare);
        cleanerTimes.push_back(cookieTime + cacheTime);
        cookieSum += cookieTime;
        cacheSum += cacheTime;
        printf("round %d: bare %.2f s, cleaners %.2f s (cookies %.2f s, Temporary Internet Files %.2f s): %.3f\n",
               round + 1, bare, cookieTime + cacheTime, cookieTime, cacheTime, (cookieTime + cacheTime) / bare);
    }
    printf("left: %d entries in the cache\n", CountEntries());
    printf("calls over all rounds:\n");
    double bareSum = 0;
    for (double t : bareTimes) {
        bareSum += t;
    }
    PrintCalls("bare", kBare, bareSum);
    PrintCalls("cookies", kCookieCleaner, cookieSum);
    PrintCalls("Temporary Internet Files", kCacheCleaner, cacheSum);
    printf("median of %d rounds: bare %.2f s, cleaners %.2f s; ratio cleaners / bare: %.3f (target <= 1.15)\n",
           nRounds, Median(bareTimes), Median(cleanerTimes), Median(cleanerTimes) / Median(bareTimes));

    // The start-up removal: the snapshot, then the removal on the task's
    // own worker with a secure deleter.
    if (!SeedCookies(2 * nRounds)) {
        return 1;
    }
    CCookies startup;
    CDeleter secure(TRUE, FALSE, FALSE);
    const double t0 = Seconds();
    const BOOL bRead = startup.ReadCookies();
    const double readTime = Seconds() - t0;
    startup.StartRemoval(&secure);
    startup.WaitForBackgroundTask();
    const double startupTime = Seconds() - t0;
    printf("start-up: ReadCookies %.2f s (%d records, %d), removal with the secure deleter %.2f s (%d)\n", readTime,
           startup.GetSnapshot().GetCount(), bRead, startupTime - readTime, startup.GetResult());
    return 0;
}

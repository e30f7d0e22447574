// The whole clean-up of a session, as the session clean-up runs it: the
// clean-up manager on its own worker over the five real cleaners, on a
// profile seeded into the current Wine prefix's real stores:
//   before the session  4,800 cache entries with files, 960 persistent
//                       cookies (240 hosts, set by another process as the
//                       user's own browser sets them), 4,800 history
//                       records, 480 ".sol" files, 1,920 Java cache files
//   the session         200 URLs: 200 cache entries and 200 history
//                       records, 40 cookies (20 on 5 new hosts, 20 more on
//                       hosts of the user's), 20 new ".sol" files (with
//                       ".sxx" companions) and 20 changed ones, 80 Java files
// (5,000 cache entries, 1,000 cookies, 5,000 history records, 500 ".sol"
// and 2,000 Java files in all). The start-of-session snapshots are taken as
// start-up takes them.
//
// Printed: the clean-up's total time; each category's time and share (the
// cookie category split into the removal and the restore, which first ends
// the removed cookies in this process's jar and then sets the snapshot
// back); and, for each, the time inside the platform's URL-cache and cookie
// calls (every WinINet call of the executable is timed, bench/
// PlatformCallTimer.h), inside file-system calls, and in the rest.
// Target: everything outside the URL-cache and cookie calls at most 10% of
// the total, and the residue and loss check after the cleaners (its own
// line) at most 10% of the clean-up's time. For comparison, a walk of the
// URL cache's content entries alone is timed last: what the check would cost
// had it listed the cache through WinINet rather than through the parser.
//
// It fills the stores of the prefix it runs in: use a throwaway prefix.
//   WINEPREFIX=$PWD/build/bench-prefix cmake/wine-run.sh build/bench-bin/whole_cleanup_bench.exe
#include <windows.h>
#include <shlobj.h>
#include <wininet.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchClock.h"
#include "bench/PlatformCallTimer.h"
#include "cleanup/CleanupManager.h"
#include "cleanup/Deleter.h"
#include "framework/Handles.h"
#include "framework/Logger.h"
#include "framework/String.h"
#include "stores/Cookies.h"
#include "stores/FlashSharedObjects.h"
#include "stores/History.h"
#include "stores/JavaFiles.h"
#include "stores/TempInternetFiles.h"

namespace {

constexpr int kSessionUrls = 200;
constexpr int kCacheEntries = 5000;
constexpr int kHistoryRecords = 5000;
constexpr int kCookieHosts = 240;
constexpr int kCookiesPerHost = 4;
constexpr int kSessionCookieHosts = 5;
constexpr int kSessionCookiesOnUserHosts = 20;
constexpr int kSolFiles = 500;
constexpr int kSessionSolFiles = 20;
constexpr int kJavaFiles = 2000;
constexpr int kSessionJavaFiles = 80;

constexpr wchar_t kSeedCookiesSwitch[] = L"--seed-cookies";
constexpr wchar_t kExpiry[] = L"; expires=Tue, 01-Jan-2030 00:00:00 GMT";

CString CookieHost(int nHost)
{
    return FormatString(L"http://user%d.cookies.example/", nHost);
}

void CreateFolders(const CString& path)
{
    for (int i = 3; i <= path.GetLength(); ++i) {
        if (i == path.GetLength() || path[i] == L'\\') {
            CreateDirectoryW(path.Left(i), nullptr);
        }
    }
}

bool WriteBytes(const CString& path, const std::string& bytes)
{
    CreateFolders(path.Left(path.ReverseFind(L'\\')));
    CHandle h(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return h && WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

bool AddCacheEntry(const CString& url)
{
    wchar_t file[MAX_PATH] = {};
    if (!CreateUrlCacheEntryW(url, 0, L"htm", file, 0) || !WriteBytes(file, "<html>cached</html>")) {
        return false;
    }
    const FILETIME never = {0, 0};
    return CommitUrlCacheEntryW(url, file, never, never, NORMAL_CACHE_ENTRY, nullptr, 0, nullptr, nullptr) != FALSE;
}

bool Visit(const CString& url)
{
    const FILETIME never = {0, 0};
    return CommitUrlCacheEntryW(L"Visited: user@" + url, nullptr, never, never,
                                URLHISTORY_CACHE_ENTRY | NORMAL_CACHE_ENTRY, nullptr, 0, nullptr, nullptr) != FALSE;
}

// The user's cookies, set in a process of its own (this program started
// again with the switch), as the user's own browser would set them.
bool SeedUserCookiesElsewhere()
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    CString commandLine = FormatString(L"\"%s\" %s", self, kSeedCookiesSwitch);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, commandLine.GetBuffer(0), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        return false;
    }
    CHandle process(pi.hProcess);
    CHandle thread(pi.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.get(), &code);
    return code == 0;
}

int SetUserCookies()
{
    for (int i = 0; i < kCookieHosts * kCookiesPerHost; ++i) {
        const CString data = FormatString(L"c%d=user%d%s", i % kCookiesPerHost, i, kExpiry);
        if (!InternetSetCookieW(CookieHost(i / kCookiesPerHost), nullptr, data)) {
            return 1;
        }
    }
    return 0;
}

// The categories as the manager runs them, told apart by its own log lines
// (and, inside the cookie category, by the cookie cleaner's), each charged
// to a bucket of the call timer.
enum Category : int {
    kOutside = 0,
    kCookieRemoval,
    kCookieEnding,
    kCookieSetting,
    kJava,
    kFlash,
    kHistory,
    kCache,
    kCheck,
    kCategoryCount
};
const char* const kCategoryNames[kCategoryCount] = {
    "(outside the manager)",
    "cookies: removal",
    "cookies: restore, ending removed cookies",
    "cookies: restore, setting the snapshot",
    "Java cache",
    "Flash shared objects",
    "history",
    "Temporary Internet Files",
    "residue and loss check",
};

struct CCategoryClock {
    double dEntered[kCategoryCount] = {};
    double dSeconds[kCategoryCount] = {};
    int nCurrent = kOutside;

    void Start()
    {
        nCurrent = kOutside;
        dEntered[kOutside] = Seconds();
        PlatformCallTimer::SetBucket(kOutside);
    }
    void Enter(int nCategory)
    {
        const double now = Seconds();
        dSeconds[nCurrent] += now - dEntered[nCurrent];
        nCurrent = nCategory;
        dEntered[nCategory] = now;
        PlatformCallTimer::SetBucket(nCategory);
    }
};
CCategoryClock g_clock;

void FollowTheManager(void*, const CString& strLine)
{
    static const std::pair<const wchar_t*, int> marks[] = {
        {L"Notify of m_pCookies start", kCookieRemoval},
        {L"CCookies::RecreateCookies() start", kCookieEnding},
        {L"Notify of m_pJavaFiles start", kJava},
        {L"Notify of m_pFlashSharedObjects start", kFlash},
        {L"Notify of m_pHistory start", kHistory},
        {L"Notify of m_pTempInternetFiles start", kCache},
        {L"CCleanupManager::CheckStores() start", kCheck},
        {L"End CCleanupManager::RunBackgroundTask()", kOutside},
    };
    if (g_clock.nCurrent == kCookieEnding && strLine.Find(L"going to recreate cookie: protMode") >= 0) {
        g_clock.Enter(kCookieSetting);
        return;
    }
    for (const auto& [pszMark, nCategory] : marks) {
        if (strLine.Find(pszMark) >= 0) {
            g_clock.Enter(nCategory);
            return;
        }
    }
}

void PrintCallCounts(int nCategory)
{
    const PlatformCallTimer::CBucketFigures figures = PlatformCallTimer::Figures(nCategory);
    std::string line;
    for (int c = 0; c < PlatformCallTimer::kCallCount; ++c) {
        if (figures[c].nCalls > 0) {
            line += FormatString(L"%S %lld (%.2f s); ", PlatformCallTimer::CallName(static_cast<PlatformCallTimer::Call>(c)),
                                 figures[c].nCalls, figures[c].dSeconds)
                        .ToUtf8();
        }
    }
    printf("      %s\n", line.c_str());
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc > 1 && CString(argv[1]) == kSeedCookiesSwitch) {
        return SetUserCookies();
    }
    if (!PlatformCallTimer::Install()) {
        return 1;
    }
    const CString flashRoot = AppData() + L"\\Macromedia\\Flash Player\\#SharedObjects\\BENCH";
    const CString javaRoot = AppData() + L"\\Sun\\Java\\Deployment\\cache\\6.0";
    auto page = [](const wchar_t* pszKind, int i) {
        return FormatString(L"http://%s%d.example/%s/page%d.html", pszKind, i % 97, pszKind, i);
    };
    auto sol = [&](int i) { return FormatString(L"%s\\site%d.example\\obj%d.sol", flashRoot.GetString(), i % 50, i); };

    printf("seeding the user's stores...\n");
    const std::string solBytes(2000, 's');
    bool bSeeded = true;
    const double seeding = Time([&] {
        for (int i = 0; bSeeded && i < kCacheEntries - kSessionUrls; ++i) {
            bSeeded = AddCacheEntry(page(L"user", i)) && Visit(page(L"user", i));
        }
        bSeeded = bSeeded && SeedUserCookiesElsewhere();
        for (int i = 0; bSeeded && i < kSolFiles - kSessionSolFiles; ++i) {
            bSeeded = WriteBytes(sol(i), solBytes);
        }
        for (int i = 0; bSeeded && i < kJavaFiles - kSessionJavaFiles; ++i) {
            bSeeded = WriteBytes(FormatString(L"%s\\%d\\file%d.idx", javaRoot.GetString(), i % 60, i), "java");
        }
    });
    if (!bSeeded) {
        fprintf(stderr, "cannot seed the profile (%lu)\n", GetLastError());
        return 1;
    }
    printf("seeded in %.1f s\n", seeding);

    // Start-up, in its order, once the second of the last seeding is over.
    const CTime seeded = CTime::GetCurrentTime();
    while (CTime::GetCurrentTime() <= seeded) {
        Sleep(50);
    }
    CTempInternetFiles cache;
    CCookies cookies;
    CFlashSharedObjects flash;
    CJavaFiles java;
    CHistory history;
    CDeleter deleter(FALSE, FALSE, FALSE);
    cache.SetStartTime(CFileTime::GetCurrentTime());
    BOOL bStartUp = TRUE;
    const double readCookies = Time([&] { bStartUp &= cookies.ReadCookies(); });
    const double removeCookies = Time([&] {
        bStartUp &= cookies.StartRemoval(&deleter);
        cookies.WaitForBackgroundTask();
        bStartUp &= cookies.GetResult();
    });
    const double snapFlash = Time([&] { bStartUp &= flash.SnapshotSharedObjects(FALSE); });
    const double snapJava = Time([&] { bStartUp &= java.SnapshotCache(); });
    const double readHistory = Time([&] { bStartUp &= history.ReadHistory(); });
    printf("start-up%s: ReadCookies %.2f s (%d cookies), cookie removal %.2f s, Flash snapshot %.2f s, "
           "Java snapshot %.2f s, ReadHistory %.2f s (%d URLs)\n",
           bStartUp ? "" : " (a step FAILED)", readCookies, cookies.GetSnapshot().GetCount(), removeCookies, snapFlash,
           snapJava, readHistory, history.GetSnapshot().GetCount());

    // The session.
    bool bSession = true;
    for (int i = 0; bSession && i < kSessionUrls; ++i) {
        bSession = AddCacheEntry(page(L"session", i)) && Visit(page(L"session", i));
    }
    for (int i = 0; bSession && i < kSessionCookieHosts * kCookiesPerHost; ++i) {
        bSession = InternetSetCookieW(FormatString(L"http://session%d.cookies.example/", i / kCookiesPerHost), nullptr,
                                      FormatString(L"s%d=session%s", i, kExpiry)) != FALSE;
    }
    for (int i = 0; bSession && i < kSessionCookiesOnUserHosts; ++i) {
        bSession = InternetSetCookieW(CookieHost(i * 7), nullptr, FormatString(L"tracker=session%s", kExpiry)) != FALSE;
    }
    for (int i = 0; bSession && i < kSessionSolFiles; ++i) {
        const CString folder = FormatString(L"%s\\session%d.example\\game.swf", flashRoot.GetString(), i % 5);
        bSession = WriteBytes(FormatString(L"%s\\s%d.sol", folder.GetString(), i), "session") &&
                   WriteBytes(FormatString(L"%s\\s%d.sxx", folder.GetString(), i), "session") &&
                   WriteBytes(sol(i * 13), "changed in the session");
    }
    for (int i = 0; bSession && i < kSessionJavaFiles; ++i) {
        bSession = WriteBytes(FormatString(L"%s\\session%d\\s%d.class", javaRoot.GetString(), i % 8, i), "session");
    }
    if (!bSession) {
        fprintf(stderr, "cannot seed the session (%lu)\n", GetLastError());
        return 1;
    }

    // The clean-up, as the session clean-up runs it.
    CCleanupManager manager(&deleter);
    manager.m_pCookies = &cookies;
    manager.m_pJavaFiles = &java;
    manager.m_pFlashSharedObjects = &flash;
    manager.m_pHistory = &history;
    manager.m_pTempInternetFiles = &cache;
    PlatformCallTimer::Reset();
    SetLogObserver(&FollowTheManager, nullptr);
    BOOL bResult = FALSE;
    g_clock.Start();
    const double total = Time([&] {
        if (manager.StartBackgroundTask()) {
            manager.WaitForBackgroundTask();
            bResult = manager.GetResult();
        }
    });
    g_clock.Enter(kOutside);
    SetLogObserver(nullptr, nullptr);

    printf("clean-up by the manager: %s in %.2f s\n", bResult ? "succeeded" : "FAILED", total);
    printf("  %-42s %8s %6s %10s %10s %10s\n", "category", "time", "share", "URL cache", "files", "the rest");
    double dUrlCacheAll = 0;
    double dFilesAll = 0;
    for (int n = kCookieRemoval; n <= kCategoryCount; ++n) {
        const int nCategory = n % kCategoryCount;  // the part outside the categories last
        const PlatformCallTimer::CBucketFigures figures = PlatformCallTimer::Figures(nCategory);
        double dUrlCache = 0;
        double dFiles = 0;
        for (int c = 0; c < PlatformCallTimer::kCallCount; ++c) {
            (PlatformCallTimer::IsUrlCacheCall(c) ? dUrlCache : dFiles) += figures[c].dSeconds;
        }
        const double dTime = g_clock.dSeconds[nCategory];
        dUrlCacheAll += dUrlCache;
        dFilesAll += dFiles;
        printf("  %-42s %7.2fs %5.1f%% %9.2fs %9.2fs %9.2fs\n", kCategoryNames[nCategory], dTime,
               100.0 * dTime / total, dUrlCache, dFiles, dTime - dUrlCache - dFiles);
        PrintCallCounts(nCategory);
    }
    const double outside = total - dUrlCacheAll;
    printf("inside the URL-cache and cookie calls: %.2f s (%.1f%%); outside them: %.2f s (%.1f%%: file and shell "
           "calls %.2f s, the rest %.2f s); target: outside <= 10%%\n",
           dUrlCacheAll, 100.0 * dUrlCacheAll / total, outside, 100.0 * outside / total, dFilesAll,
           outside - dFilesAll);
    printf("residue and loss check: %.2f s, %.1f%% of the clean-up; target: <= 10%%\n", g_clock.dSeconds[kCheck],
           100.0 * g_clock.dSeconds[kCheck] / total);

    int nContentEntries = 0;
    const double contentWalk = Time([&] {
        std::vector<BYTE> buffer(64 * 1024);
        auto* pEntry = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.data());
        DWORD dwSize = static_cast<DWORD>(buffer.size());
        // The content container's prefix is empty: this pattern lists it alone.
        HANDLE hFind = FindFirstUrlCacheEntryW(L"", pEntry, &dwSize);
        for (BOOL bMore = hFind != nullptr; bMore; ++nContentEntries) {
            dwSize = static_cast<DWORD>(buffer.size());
            bMore = FindNextUrlCacheEntryW(hFind, pEntry, &dwSize);
        }
        if (hFind != nullptr) {
            FindCloseUrlCache(hFind);
        }
    });
    printf("for comparison, a WinINet walk of the %d content entries: %.2f s, %.1f%% of the clean-up\n",
           nContentEntries, contentWalk, 100.0 * contentWalk / total);
    return bResult ? 0 : 1;
}

// The history, Flash and Java cleaners run by the clean-up manager on a
// profile seeded into the current Wine prefix's real stores: 5,000 history
// records, 500 ".sol" files, 2,000 Java cache files, of which a 200-URL
// session adds its share (200 history URLs, 20 new and 20 changed ".sol"
// files, 80 Java files). Prints, measured in the same run:
//   - each category's clean-up time and its share of the manager's run;
//   - the time inside the URL-cache calls the history clean-up must make
//     (one DeleteUrlCacheEntryW per session URL, timed call by call: the
//     history category runs CHistoryIndexDat's removal with CHistory's
//     snapshot, as CHistory does, through a subclass that times the calls)
//     and the time outside them;
//   - baselines: enumerating the whole URL cache (the floor that the
//     Temporary Internet Files cleaner pays), and bare Win32 loops doing
//     the Flash and Java cleaners' file work;
//   - the snapshots' times at the start.
// Everything seeded is removed at the end. Run it in a throwaway prefix.
//
//   store_cleaners_bench.exe [history records, default 5000]
#include <windows.h>
#include <shlobj.h>
#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchClock.h"
#include "cleanup/CleanupManager.h"
#include "cleanup/Deleter.h"
#include "framework/Handles.h"
#include "framework/String.h"
#include "stores/FlashSharedObjects.h"
#include "stores/History.h"
#include "stores/HistoryIndexDat.h"
#include "stores/HistoryViewRefresh.h"
#include "stores/JavaFiles.h"

namespace {

constexpr int kDefaultHistory = 5000;
constexpr int kSessionUrls = 200;

bool Visit(const CString& url)
{
    const FILETIME never = {0, 0};
    return CommitUrlCacheEntryW(L"Visited: user@" + url, nullptr, never, never,
                                URLHISTORY_CACHE_ENTRY | NORMAL_CACHE_ENTRY, nullptr, 0, nullptr, nullptr) != FALSE;
}

void CreateFolders(const CString& path)
{
    for (int i = 3; i <= path.GetLength(); ++i) {
        if (i == path.GetLength() || path[i] == L'\\') {
            CreateDirectoryW(path.Left(i), nullptr);
        }
    }
}

bool WriteFileBytes(const CString& path, const std::string& bytes)
{
    CreateFolders(path.Left(path.ReverseFind(L'\\')));
    CHandle h(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return h && WriteFile(h.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

void RemoveTree(const CString& folder)
{
    WIN32_FIND_DATAW data;
    CFindHandle find(FindFirstFileW(folder + L"\\*", &data));
    if (find) {
        do {
            const CString name(data.cFileName);
            if (name == L"." || name == L"..") {
                continue;
            }
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                RemoveTree(folder + L"\\" + name);
            } else {
                DeleteFileW(folder + L"\\" + name);
            }
        } while (FindNextFileW(find.get(), &data));
    }
    find.reset();
    RemoveDirectoryW(folder);
}

// Every entry of the URL cache enumerated once; the count.
int EnumerateCache()
{
    std::vector<BYTE> buffer(65536);
    auto* e = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.data());
    DWORD size = static_cast<DWORD>(buffer.size());
    HANDLE find = FindFirstUrlCacheEntryW(nullptr, e, &size);
    int n = 0;
    for (BOOL more = find != nullptr; more; more = FindNextUrlCacheEntryW(find, e, &size)) {
        ++n;
        size = static_cast<DWORD>(buffer.size());
    }
    if (find != nullptr) {
        FindCloseUrlCache(find);
    }
    return n;
}

// CHistoryIndexDat with its URL-cache deletions timed.
class CTimedHistoryIndexDat : public CHistoryIndexDat {
public:
    double m_dDeleteSeconds = 0;
    int m_nDeletes = 0;

protected:
    BOOL DeleteCacheEntry(const CString& strUrl) override
    {
        BOOL bResult = FALSE;
        m_dDeleteSeconds += Time([&] { bResult = CHistoryIndexDat::DeleteCacheEntry(strUrl); });
        ++m_nDeletes;
        return bResult;
    }
};

// The history clean-up as CHistory runs it, with the calls timed.
class CTimedHistoryCleanup : public CBackgroundTask {
public:
    explicit CTimedHistoryCleanup(CHistory& history) : m_history(history) {}
    BOOL RunBackgroundTask() override
    {
        CTimedHistoryIndexDat store;
        store.RemoveEntries(&m_history.GetSnapshot());
        m_dDeleteSeconds += store.m_dDeleteSeconds;
        m_nDeletes += store.m_nDeletes;
        return TRUE;
    }
    double m_dDeleteSeconds = 0;
    int m_nDeletes = 0;

private:
    CHistory& m_history;
};

void Line(const char* what, double seconds, double total)
{
    printf("  %-44s %8.3f s  %5.1f%%\n", what, seconds, total > 0 ? 100.0 * seconds / total : 0.0);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const int nHistory = argc > 1 ? _wtoi(argv[1]) : kDefaultHistory;
    const int nFlash = nHistory / 10, nJava = nHistory * 2 / 5;
    const int nFlashNew = nFlash * kSessionUrls / nHistory, nJavaNew = nJava * kSessionUrls / nHistory;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const CString tag = FormatString(L"bench%lx", now.dwLowDateTime);
    const CString flashMine = AppData() + L"\\Macromedia\\Flash Player\\#SharedObjects\\" + tag;
    const CString javaCache = AppData() + L"\\Sun\\Java\\Deployment\\cache";
    const CString javaMine = javaCache + L"\\6.0\\" + tag;
    auto url = [&](int i) { return FormatString(L"http://%s-%d.bench.example/page/%d", tag.GetString(), i % 97, i); };

    printf("profile: %d history records, %d .sol files, %d Java files; the session adds %d URLs, %d .sol files "
           "(and changes %d), %d Java files\n",
           nHistory, nFlash, nJava, kSessionUrls, nFlashNew, nFlashNew, nJavaNew);
    const std::string solBytes(2000, 's');
    const double seed = Time([&] {
        for (int i = 0; i < nHistory - kSessionUrls; ++i) {
            Visit(url(i));
        }
        for (int i = 0; i < nFlash - nFlashNew; ++i) {
            WriteFileBytes(FormatString(L"%s\\site%d.example\\obj%d.sol", flashMine.GetString(), i % 50, i), solBytes);
        }
        for (int i = 0; i < nJava - nJavaNew; ++i) {
            WriteFileBytes(FormatString(L"%s\\%d\\file%d.idx", javaMine.GetString(), i % 60, i), "java");
        }
    });
    printf("seeded in %.1f s\n", seed);

    CHistory history;
    CFlashSharedObjects flash;
    CJavaFiles java;
    printf("snapshots at the start:\n");
    const double readHistory = Time([&] { history.ReadHistory(); });
    const double snapFlash = Time([&] { (void)flash.SnapshotSharedObjects(FALSE); });
    const double snapJava = Time([&] { (void)java.SnapshotCache(); });
    Line("history (index.dat scans)", readHistory, readHistory + snapFlash + snapJava);
    Line("Flash (list and back up)", snapFlash, readHistory + snapFlash + snapJava);
    Line("Java (list)", snapJava, readHistory + snapFlash + snapJava);

    // The session.
    for (int i = nHistory - kSessionUrls; i < nHistory; ++i) {
        Visit(url(i));
    }
    for (int i = 0; i < nFlashNew; ++i) {
        WriteFileBytes(FormatString(L"%s\\new%d.example\\swf\\n%d.sol", flashMine.GetString(), i % 10, i), "new");
        WriteFileBytes(FormatString(L"%s\\site%d.example\\obj%d.sol", flashMine.GetString(), i % 50, i), "changed");
    }
    for (int i = 0; i < nJavaNew; ++i) {
        WriteFileBytes(FormatString(L"%s\\new%d\\s%d.class", javaMine.GetString(), i % 8, i), "session");
    }
    int nEnumerated = 0;
    const double enumerate = Time([&] { nEnumerated = EnumerateCache(); });

    // The clean-up, as the manager runs it, and each category on its own
    // timing (the manager's order: Java, Flash, history).
    CDeleter deleter(FALSE, FALSE, FALSE);
    double tJava = 0, tFlash = 0, tHistory = 0;
    struct CTimed : CBackgroundTask {
        CBackgroundTask* pInner = nullptr;
        double* pSeconds = nullptr;
        BOOL RunBackgroundTask() override
        {
            pInner->SetDeleter(m_pDeleter);
            BOOL bResult = FALSE;
            *pSeconds += Time([&] { bResult = pInner->RunBackgroundTask(); });
            return bResult;
        }
    };
    CTimedHistoryCleanup historyCleanup(history);
    CTimed timedJava, timedFlash, timedHistory;
    timedJava.pInner = &java;
    timedJava.pSeconds = &tJava;
    timedFlash.pInner = &flash;
    timedFlash.pSeconds = &tFlash;
    timedHistory.pInner = &historyCleanup;
    timedHistory.pSeconds = &tHistory;
    CCleanupManager manager(&deleter);
    manager.m_pJavaFiles = &timedJava;
    manager.m_pFlashSharedObjects = &timedFlash;
    manager.m_pHistory = &timedHistory;
    BOOL bResult = FALSE;
    const double total = Time([&] { bResult = manager.RunBackgroundTask(); });

    const double deletes = historyCleanup.m_dDeleteSeconds;

    // Bare Win32 doing the Flash and Java cleaners' file work on the same
    // trees: list the folders, copy each backup back and delete it; list
    // the cache and delete as many new files.
    auto solPath = [&](int i) {
        return FormatString(L"%s\\site%d.example\\obj%d.sol", flashMine.GetString(), i % 50, i);
    };
    for (int i = 0; i < nFlash - nFlashNew; ++i) {
        CopyFileW(solPath(i), solPath(i) + L".bak", FALSE);
    }
    const double bareFlash = Time([&] {
        WIN32_FIND_DATAW data;
        for (int f = 0; f < 50; ++f) {
            CFindHandle find(
                FindFirstFileW(FormatString(L"%s\\site%d.example\\*.sol", flashMine.GetString(), f), &data));
            while (find && FindNextFileW(find.get(), &data)) {
            }
        }
        for (int i = 0; i < nFlash - nFlashNew; ++i) {
            CopyFileW(solPath(i) + L".bak", solPath(i), FALSE);
            DeleteFileW(solPath(i) + L".bak");
        }
    });
    for (int i = 0; i < nJavaNew; ++i) {
        WriteFileBytes(FormatString(L"%s\\extra\\s%d.class", javaMine.GetString(), i), "x");
    }
    const double bareJava = Time([&] {
        WIN32_FIND_DATAW data;
        for (int f = 0; f < 60; ++f) {
            CFindHandle find(FindFirstFileW(FormatString(L"%s\\%d\\*.*", javaMine.GetString(), f), &data));
            while (find && FindNextFileW(find.get(), &data)) {
            }
        }
        for (int i = 0; i < nJavaNew; ++i) {
            DeleteFileW(FormatString(L"%s\\extra\\s%d.class", javaMine.GetString(), i));
        }
    });

    // The shell refresh that ends the history clean-up, on its own.
    const double refresh = Time([] { CHistoryViewRefresh().Refresh(); });

    printf("clean-up by the manager: %s in %.3f s\n", bResult ? "succeeded" : "FAILED", total);
    Line("Java", tJava, total);
    Line("Flash", tFlash, total);
    Line("history", tHistory, total);
    const CString inside = FormatString(L"  inside DeleteUrlCacheEntryW (%d calls)", historyCleanup.m_nDeletes);
    Line(inside.ToUtf8().c_str(), deletes, total);
    Line("  history outside the URL-cache calls", tHistory - deletes, total);
    Line("    of which the shell refresh (timed apart)", refresh, total);
    printf("baselines measured in this run:\n");
    printf("  enumerating the URL cache (%d entries): %.3f s; history clean-up outside the calls = %.2fx of it\n",
           nEnumerated, enumerate, (tHistory - deletes) / enumerate);
    printf("  bare listing, CopyFileW back and DeleteFileW of %d backups: %.3f s; Flash clean-up = %.2fx of it\n",
           nFlash - nFlashNew, bareFlash, tFlash / bareFlash);
    printf("  bare listing of the cache and DeleteFileW of %d files: %.3f s; Java clean-up = %.2fx of it\n", nJavaNew,
           bareJava, tJava / bareJava);
    printf("with the cache enumeration standing in for the URL-cache calls still to come (Temporary Internet Files),\n"
           "the work of these three categories outside those calls is %.1f%% of the total\n",
           100.0 * (total - deletes) / (total + enumerate));

    for (int i = 0; i < nHistory; ++i) {
        DeleteUrlCacheEntryW(L"Visited: user@" + url(i));
    }
    RemoveTree(flashMine);
    RemoveTree(javaMine);
    return bResult ? 0 : 1;
}

// The Temporary Internet Files cleaner against the platform's own URL
// cache (Wine's WinINet), judged by a fresh process (the trace-audit tool)
// and by libmsiecf's recovery of deleted records.
#include "stores/TempInternetFiles.h"

#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "app/Logger.h"
#include "app/ProductWebSite.h"
#include "cleanup/Deleter.h"
#include "framework/Handles.h"
#include "stores/TempInternetFilesIndexDat.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/ExternalReaders.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

using Lines = std::vector<std::string>;

// The audit lines that must not change across a clean-up: the URL cache,
// the cache folder's files, and the live records of the cache index
// (freed records may be reused by the cache itself at any time).
std::set<std::string> StableCacheView(const Lines& lines)
{
    std::set<std::string> view;
    for (const std::string& line : lines) {
        if (line.rfind("urlcache\t", 0) == 0 || line.rfind("tif\t", 0) == 0 ||
            line.rfind("indexdat\tcache:Content.IE5\\\\index.dat\tURL\t", 0) == 0 ||
            line.rfind("indexdat\tcache:Content.IE5\\\\index.dat\tLEAK\t", 0) == 0) {
            view.insert(line);
        }
    }
    return view;
}

bool IsInUrlCache(const CString& strUrl)
{
    const std::vector<CUrlCacheEntry> entries = EnumerateUrlCache();
    return std::any_of(entries.begin(), entries.end(), [&](const CUrlCacheEntry& e) { return e.strUrl == strUrl; });
}

// The cleaner with its start after everything seeded so far (the start
// has whole seconds) and its abort event reachable.
class CCleaner : public CTempInternetFiles {
public:
    CCleaner()
    {
        const CTime seeded = CTime::GetCurrentTime();
        while (CTime::GetCurrentTime() <= seeded) {
            Sleep(50);
        }
        SetStartTime(CTime::GetCurrentTime());
        SetDeleter(&m_deleter);
    }
    ~CCleaner() override { StopBackgroundTask(0); }
    HANDLE AbortEvent() const { return m_hAbortEvent.get(); }

    CDeleter m_deleter{FALSE, FALSE, FALSE};
};

}  // namespace

TEST(TempInternetFiles, RemovesTheSessionsEntriesFilesAndRecordsAndNothingElse)
{
    CTempFolder folder;
    const CString tag = UniqueTag();
    const CString cacheFolder = CTempInternetFilesIndexDat::GetCacheFolder();
    std::vector<CString> before, session;
    for (int i = 0; i < 3; ++i) {
        before.push_back(FormatString(L"http://%s.before.example/%d.html", tag.GetString(), i));
        ASSERT_FALSE(AddCacheEntry(before.back(), "kept").IsEmpty());
    }
    const CString oldOrphan = cacheFolder + L"NULVTEST\\" + tag + L"-old.bin";
    WriteTestFile(oldOrphan, "old");
    const Lines audited = RunTraceAudit(L"urlcache tif indexdat");

    CCleaner cleaner;
    for (int i = 0; i < 4; ++i) {
        session.push_back(FormatString(L"http://%s.session.example/%d.html", tag.GetString(), i));
        ASSERT_FALSE(AddCacheEntry(session.back(), "session").IsEmpty());
    }
    // A file of the session the cache does not list, an entry the cache
    // turns into a "LEAK" record because its file is in use, and one it
    // deleted on its own, whose record stays readable.
    const CString orphan = cacheFolder + L"NULVTEST\\" + tag + L"-new.bin";
    WriteTestFile(orphan, "new");
    const CString leaked = L"http://" + tag + L".session.example/leaked.html";
    const CString leakedFile = AddCacheEntry(leaked, "leaked");
    {
        CHandle inUse(CreateFileW(leakedFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(inUse.valid());
        ASSERT_TRUE(DeleteUrlCacheEntryW(leaked));
    }
    const CString dropped = L"http://" + tag + L".session.example/dropped.html";
    ASSERT_FALSE(AddCacheEntry(dropped, "dropped").IsEmpty());
    ASSERT_TRUE(DeleteUrlCacheEntryW(dropped));
    session.insert(session.end(), {leaked, dropped});

    ASSERT_TRUE(cleaner.RunBackgroundTask());
    // A fresh process sees exactly what was there before the session, and
    // nothing of the session can be recovered from the index either.
    const Lines after = RunTraceAudit(L"urlcache tif indexdat");
    EXPECT_EQ(StableCacheView(after), StableCacheView(audited));
    const std::multiset<CString> recovered = ExportIndexLocations(folder, CacheStore().strIndex, L"all");
    for (const CString& url : session) {
        EXPECT_TRUE(LinesContaining(after, url.ToUtf8()).empty()) << url.ToUtf8();
        EXPECT_EQ(recovered.count(url), 0u) << url.ToUtf8();
    }
    for (const CString& url : before) {
        EXPECT_EQ(LinesContaining(after, "urlcache\tcache\t" + url.ToUtf8() + "\t").size(), 1u) << url.ToUtf8();
        EXPECT_EQ(recovered.count(url), 1u) << url.ToUtf8();
        DeleteUrlCacheEntryW(url);
    }
    EXPECT_FALSE(TestFileExists(orphan));
    EXPECT_FALSE(TestFileExists(leakedFile));
    EXPECT_EQ(ReadTestFile(oldOrphan), "old");
    DeleteFileW(oldOrphan);
}

TEST(TempInternetFiles, AFileThatCannotBeDeletedFailsTheRunAndKeepsItsRecord)
{
    CCleaner cleaner;
    const CString url = L"http://" + UniqueTag() + L".held.example/page.html";
    const CString file = AddCacheEntry(url, "held");
    ASSERT_FALSE(file.IsEmpty());
    CHelperProcess holder;
    ASSERT_TRUE(holder.Start(L"hold-file \"" + file + L"\" none"));
    CLogCapture capture;
    EXPECT_FALSE(cleaner.RunBackgroundTask());
    // The index step is not run after a failed file pass.
    EXPECT_EQ(capture.CountMessage(L"Starting Temporary Internet Files index.dat cleanup"), 0);
    EXPECT_TRUE(IsInUrlCache(url));

    // The index step on its own keeps the record of a file that is still
    // in the cache folder: its path is taken relative to that folder.
    EXPECT_TRUE(CTempInternetFilesIndexDat().RemoveEntries(cleaner.GetStartTime()));
    EXPECT_TRUE(IsInUrlCache(url));
    EXPECT_EQ(LinesContaining(RunTraceAudit(L"indexdat"), "\tURL\t" + url.ToUtf8() + "\t").size(), 1u);

    holder.Stop();
    EXPECT_TRUE(cleaner.RunBackgroundTask());
    EXPECT_FALSE(IsInUrlCache(url));
    EXPECT_FALSE(TestFileExists(file));
}

TEST(TempInternetFiles, TheUpgradeProgramNeverStaysButItsDownloadEntryIsKeptByTheWalk)
{
    const CString tag = UniqueTag();
    const CString site = CString(L"http://") + kProductWebSiteHost;
    // Cached before the session, under its own name: removed all the same.
    const CString oldUpgrade = site + L"/" + tag + L"/NulvaneUpgrade.exe";
    const CString oldUpgradeFile = AddCacheEntry(oldUpgrade, "MZ");
    ASSERT_NE(oldUpgradeFile.Find(L"NulvaneUpgrade"), -1) << oldUpgradeFile.ToUtf8();
    const CString kept = L"http://" + tag + L".old.example/kept.html";
    ASSERT_FALSE(AddCacheEntry(kept).IsEmpty());

    CCleaner cleaner;
    // The download address itself, used during the session, whose file is
    // named otherwise: the walk leaves it.
    const CString download = site + L"/NulvaneUpgrade.exe";
    wchar_t other[MAX_PATH] = {};
    ASSERT_TRUE(CreateUrlCacheEntryW(L"http://" + tag + L".other.example/x.bin", 0, L"bin", other, 0));
    WriteTestFile(other, "bytes");
    const FILETIME never = {0, 0};
    ASSERT_TRUE(CommitUrlCacheEntryW(download, other, never, never, NORMAL_CACHE_ENTRY, nullptr, 0, nullptr, nullptr));

    ASSERT_TRUE(cleaner.IterateEntries());
    EXPECT_FALSE(IsInUrlCache(oldUpgrade));
    EXPECT_FALSE(TestFileExists(oldUpgradeFile));
    EXPECT_TRUE(IsInUrlCache(download));
    EXPECT_TRUE(IsInUrlCache(kept));
    // The rest of the run deletes the session's file and the entry with it.
    ASSERT_TRUE(cleaner.RunBackgroundTask());
    EXPECT_FALSE(IsInUrlCache(download));
    EXPECT_FALSE(TestFileExists(other));
    EXPECT_TRUE(IsInUrlCache(kept));
    DeleteUrlCacheEntryW(kept);
}

namespace {

struct CAbortAtLine {
    CCleaner* pCleaner;
    std::vector<CString> lines;
};

void AbortWhenLogged(void* pContext, const CString& strLine)
{
    auto* p = static_cast<CAbortAtLine*>(pContext);
    p->lines.push_back(strLine);
    if (strLine.Find(L"CTempInternetFiles::RunBackgroundTask() deleting file") >= 0) {
        SetEvent(p->pCleaner->AbortEvent());
    }
}

}  // namespace

TEST(TempInternetFiles, AnInterruptedFilePassLeavesTheIndexUntouched)
{
    const CString tag = UniqueTag();
    CCleaner cleaner;
    const CString folder = CTempInternetFilesIndexDat::GetCacheFolder() + L"NULVTEST\\";
    for (int i = 0; i < 3; ++i) {
        WriteTestFile(folder + tag + FormatString(L"-%d.bin", i), "x");
    }
    const CString url = L"http://" + tag + L".interrupted.example/";
    ASSERT_FALSE(AddCacheEntry(url).IsEmpty());
    ASSERT_TRUE(DeleteUrlCacheEntryW(url));
    const std::string index = ReadTestFile(CacheStore().strIndex);

    CAbortAtLine abort{&cleaner, {}};
    SetLogObserver(&AbortWhenLogged, &abort);
    ASSERT_TRUE(cleaner.StartBackgroundTask());
    cleaner.WaitForBackgroundTask();
    SetLogObserver(nullptr, nullptr);

    EXPECT_FALSE(cleaner.GetResult());
    const auto count = [&](const wchar_t* pszText) {
        return std::count_if(abort.lines.begin(), abort.lines.end(),
                             [&](const CString& line) { return line.Find(pszText) >= 0; });
    };
    // One file is deleted; the worker's second run stops in the walk.
    EXPECT_EQ(count(L"CTempInternetFiles::RunBackgroundTask() deleting file"), 1);
    EXPECT_EQ(count(L"CCacheReader::IterateEntries Cache iteration interrupted"), 1);
    EXPECT_EQ(count(L"Starting Temporary Internet Files index.dat cleanup"), 0);
    EXPECT_EQ(ReadTestFile(CacheStore().strIndex), index);
    RemoveTestTree(folder);
}

// The Temporary Internet Files cleaner against the platform's own URL
// cache (Wine's WinINet), judged by a fresh process (the trace-audit tool)
// and by libmsiecf's recovery of deleted records.
#include "stores/TempInternetFiles.h"

#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "cleanup/Deleter.h"
#include "framework/Handles.h"
#include "framework/Logger.h"
#include "framework/ProductWebSite.h"
#include "stores/TempInternetFilesIndexDat.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/ExternalReaders.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

bool IsInUrlCache(const CString& strUrl)
{
    const std::vector<CUrlCacheEntry> entries = EnumerateUrlCache();
    return std::any_of(entries.begin(), entries.end(), [&](const CUrlCacheEntry& e) { return e.strUrl == strUrl; });
}

// The cleaner with its start after everything seeded so far and its abort
// event reachable.
class CCleaner : public CTempInternetFiles {
public:
    CCleaner()
    {
        SetStartTime(CFileTime::GetCurrentTime());
        SetDeleter(&m_deleter);
    }
    ~CCleaner() override { StopBackgroundTask(0); }
    HANDLE AbortEvent() const { return m_hAbortEvent.get(); }

    CDeleter m_deleter{FALSE, FALSE, FALSE};
};

}  // namespace

// What the whole clean-up test does not reach: a file that cannot be
// deleted, an entry the cache turned into a "LEAK" record because its file
// was in use, one it deleted on its own, whose record stays readable, and a
// file of the cache folder from before the session that the cache does not
// list.
TEST(TempInternetFiles, AHeldFileFailsTheRunAndKeepsItsRecordAndLeakedAndDroppedRecordsGo)
{
    const CString tag = UniqueTag();
    const CString oldOrphan = CTempInternetFilesIndexDat::GetCacheFolder() + L"NULVTEST\\" + tag + L"-old.bin";
    WriteTestFile(oldOrphan, "old");
    CCleaner cleaner;
    const CString url = L"http://" + tag + L".held.example/page.html", file = AddCacheEntry(url, "held");
    const CString leaked = L"http://" + tag + L".session.example/leaked.html", leakedFile = AddCacheEntry(leaked);
    {
        CHandle inUse(CreateFileW(leakedFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(inUse.valid());
        ASSERT_TRUE(DeleteUrlCacheEntryW(leaked));
    }
    const CString dropped = L"http://" + tag + L".session.example/dropped.html";
    ASSERT_FALSE(AddCacheEntry(dropped, "dropped").IsEmpty());
    ASSERT_TRUE(DeleteUrlCacheEntryW(dropped));
    // Both records still lie in the index, byte for byte, until the clean-up.
    auto inIndex = [](const CString& u) { return ReadTestFile(CacheStore().strIndex).find(u.ToAnsi()) != std::string::npos; };
    ASSERT_TRUE(inIndex(leaked) && inIndex(dropped));

    CHelperProcess holder;
    ASSERT_TRUE(holder.Start(L"hold-file \"" + file + L"\" none"));
    CLogCapture capture;
    EXPECT_FALSE(cleaner.RunBackgroundTask());
    // The index step is not run after a failed file pass.
    EXPECT_EQ(capture.CountMessage(L"Starting Temporary Internet Files index.dat cleanup"), 0);
    EXPECT_TRUE(IsInUrlCache(url));
    EXPECT_TRUE(inIndex(leaked) && inIndex(dropped));
    // The index step on its own keeps the record of a file that is still
    // in the cache folder: its path is taken relative to that folder.
    EXPECT_TRUE(CTempInternetFilesIndexDat().RemoveEntries(cleaner.GetStartTime()));
    EXPECT_TRUE(IsInUrlCache(url));
    EXPECT_EQ(LinesContaining(RunTraceAudit(L"indexdat"), "\tURL\t" + url.ToUtf8() + "\t").size(), 1u);

    holder.Stop();
    EXPECT_TRUE(cleaner.RunBackgroundTask());
    EXPECT_FALSE(IsInUrlCache(url));
    EXPECT_FALSE(TestFileExists(file));
    EXPECT_FALSE(inIndex(leaked));
    EXPECT_FALSE(inIndex(dropped));
    EXPECT_FALSE(TestFileExists(leakedFile));
    EXPECT_EQ(ReadTestFile(oldOrphan), "old");
    DeleteFileW(oldOrphan);
}

// The user's browser caches pages a few milliseconds before the session
// starts and the session a few after, all in one second: only the
// platform's own precision tells whose each entry is.
TEST(TempInternetFiles, EntriesOfTheStartsOwnSecondBelongToWhoeverCachedThem)
{
    const CString tag = UniqueTag();
    std::vector<CString> users, sessions;
    CCleaner cleaner;
    bool bOneSecond = false;
    for (int attempt = 0; attempt < 3 && !bOneSecond; ++attempt) {
        users.clear();
        sessions.clear();
        // Just past a second boundary, so that both sides fit in its second.
        Sleep(1020 - static_cast<DWORD>(CFileTime::GetCurrentTime().GetTicks() / 10000 % 1000));
        const CTime second = CFileTime::GetCurrentTime().ToTime();
        for (int i = 0; i < 3; ++i) {
            users.push_back(FormatString(L"http://%s.user.example/%d-%d.html", tag.GetString(), attempt, i));
            ASSERT_FALSE(AddCacheEntry(users.back(), "user").IsEmpty());
        }
        Sleep(5);
        cleaner.SetStartTime(CFileTime::GetCurrentTime());
        Sleep(5);
        for (int i = 0; i < 3; ++i) {
            sessions.push_back(FormatString(L"http://%s.session.example/%d-%d.html", tag.GetString(), attempt, i));
            ASSERT_FALSE(AddCacheEntry(sessions.back(), "session").IsEmpty());
        }
        bOneSecond = CFileTime::GetCurrentTime().ToTime() == second;
    }
    ASSERT_TRUE(bOneSecond) << "the seeding never fitted in one second";
    std::map<CString, CString> files;
    for (const CUrlCacheEntry& e : EnumerateUrlCache()) {
        files[e.strUrl] = e.strLocalFile;
    }
    ASSERT_TRUE(cleaner.RunBackgroundTask());

    const std::vector<std::string> audit = RunTraceAudit(L"urlcache");
    for (const CString& url : users) {
        ASSERT_EQ(files.count(url), 1u) << url.ToUtf8();
        EXPECT_EQ(LinesContaining(audit, url.ToUtf8()).size(), 1u) << url.ToUtf8();
        EXPECT_EQ(ReadTestFile(files[url]), "user") << url.ToUtf8();
    }
    for (const CString& url : sessions) {
        EXPECT_TRUE(LinesContaining(audit, url.ToUtf8()).empty()) << url.ToUtf8();
        EXPECT_FALSE(TestFileExists(files[url])) << url.ToUtf8();
    }
}

TEST(TempInternetFiles, TheUpgradeProgramNeverStaysButItsDownloadEntryIsKeptByTheWalk)
{
    const CString tag = UniqueTag();
    const CString site = CString(L"http://") + kProductWebSiteHost;
    // Cached before the session, under its own name: removed all the same.
    const CString oldUpgrade = site + L"/" + tag + L"/NulvaneUpgrade.exe";
    const CString oldUpgradeFile = AddCacheEntry(oldUpgrade, "MZ");
    ASSERT_NE(oldUpgradeFile.Find(L"NulvaneUpgrade"), -1) << oldUpgradeFile.ToUtf8();
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
    // The rest of the run deletes the session's file and the entry with it.
    ASSERT_TRUE(cleaner.RunBackgroundTask());
    EXPECT_FALSE(IsInUrlCache(download));
    EXPECT_FALSE(TestFileExists(other));
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
    // One file is deleted; the worker's second run stops in the walk.
    std::vector<int> counts;
    for (const wchar_t* text : {L"CTempInternetFiles::RunBackgroundTask() deleting file",
                                L"CCacheReader::IterateEntries Cache iteration interrupted",
                                L"Starting Temporary Internet Files index.dat cleanup"}) {
        counts.push_back(static_cast<int>(std::count_if(abort.lines.begin(), abort.lines.end(),
                                                        [&](const CString& line) { return line.Find(text) >= 0; })));
    }
    EXPECT_EQ(counts, (std::vector<int>{1, 1, 0}));
    EXPECT_EQ(ReadTestFile(CacheStore().strIndex), index);
    RemoveTestTree(folder);
}

// The parser on stores written by the platform's own URL cache (Wine's
// WinINet), checked against WinINet in this process and in a fresh one,
// and against libmsiecf's independent reader.
#include "stores/IndexDatParser.h"

#include <wininet.h>

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "framework/Handles.h"
#include "stores/CookiesIndexDat.h"
#include "stores/TempInternetFilesIndexDat.h"
#include "tests/stores/RecordingParser.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/ExternalReaders.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr DWORD kUrl = 0x204C5255, kLeak = 0x4B41454C;

// URL -> local file, as a fresh process's WinINet enumerates them.
std::map<CString, CString> ListFromFreshProcess(const CTempFolder& folder)
{
    const CString output = folder / (UniqueTag() + L".txt").GetString();
    CHelperProcess helper;
    EXPECT_TRUE(helper.Start(L"url-cache-list \"" + output + L"\""));
    EXPECT_EQ(helper.Stop(), 0);
    std::map<CString, CString> listed;
    const CString text = CString::FromUtf8(ReadTestFile(output));
    for (int start = 0; start >= 0;) {
        const CString line = text.Tokenize(L"\n", start);
        const int tab = line.Find(L'\t');
        if (tab > 0) {
            listed[line.Left(tab)] = line.Mid(tab + 1, line.ReverseFind(L'\t') - tab - 1);
        }
    }
    return listed;
}

// An index step of a cleaner, with the deletions it asks of the URL cache
// recorded.
template <typename TIndex>
class CAskingIndex : public TIndex {
public:
    std::multiset<CString> m_asked;

protected:
    BOOL DeleteCacheEntry(const CString& strUrl) override
    {
        m_asked.insert(strUrl);
        return TIndex::DeleteCacheEntry(strUrl);
    }
};

bool CacheHolds(const CString& strUrl)
{
    std::vector<BYTE> info(65536);
    DWORD size = static_cast<DWORD>(info.size());
    return GetUrlCacheEntryInfoW(strUrl, reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(info.data()), &size) != FALSE;
}

bool Contains(const CString& strIndex, const CString& strText)
{
    return ReadTestFile(strIndex).find(strText.ToAnsi()) != std::string::npos;
}

}  // namespace

TEST(IndexDatPlatform, TheScanSeesWhatTheUrlCacheHoldsAndTheCacheSurvivesInPlaceErasure)
{
    CTempFolder folder;
    const CString tag = UniqueTag();
    std::vector<CString> seeded;
    for (int i = 0; i < 6; ++i) {
        seeded.push_back(FormatString(L"http://%s.cache.example/page%d.html?q=%d", tag.GetString(), i, i));
        ASSERT_FALSE(AddCacheEntry(seeded.back()).IsEmpty());
    }
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(AddCookie(FormatString(L"http://%s%d.cookie.example/", tag.GetString(), i), L"c", L"v"));
        const CString visited = FormatString(L"http://%s.history.example/%d", tag.GetString(), i);
        ASSERT_TRUE(AddHistoryEntry(visited));
        seeded.push_back(L"Visited: user@" + visited);
    }
    // One entry the cache marks "LEAK" because its file is in use, and one
    // it deletes (last, so that no later entry takes over its blocks).
    const CString leaked = L"http://" + tag + L".cache.example/leaked.html";
    const CString leakedFile = AddCacheEntry(leaked);
    const CString deleted = L"http://" + tag + L".cache.example/deleted.html";
    ASSERT_FALSE(AddCacheEntry(deleted).IsEmpty());
    {
        CHandle inUse(CreateFileW(leakedFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(inUse.valid());
        ASSERT_TRUE(DeleteUrlCacheEntryW(leaked));
    }
    ASSERT_TRUE(DeleteUrlCacheEntryW(deleted));

    // All three stores scanned without a change, by URL: the local path
    // joined to the store's folder, and whether the bitmap marks it live.
    std::multimap<CString, std::tuple<CSeenRecord, CString, bool>> seen;
    for (const CStoreFile& store : {CacheStore(), CookieStore(), HistoryStore()}) {
        const std::string before = ReadTestFile(store.strIndex);
        std::vector<bool> allocated;
        const CScanOutcome scan = ScanFile(store.strIndex, FALSE, [&](CRecordingParser& parser, const CSeenRecord& r) {
            allocated.push_back(parser.Allocated(r.dwOffset));
            return TRUE;
        });
        EXPECT_TRUE(scan.bResult);
        EXPECT_EQ(ReadTestFile(store.strIndex), before) << store.strIndex.ToUtf8();
        for (size_t i = 0; i < scan.seen.size(); ++i) {
            const CSeenRecord& r = scan.seen[i];
            const CString full = r.strPath.IsEmpty() ? CString() : store.strFolder + L"\\" + r.strPath;
            seen.insert({r.strUrl, {r, full, allocated[i]}});
        }
    }
    // Every entry the cache lists is one live "URL " record with its local
    // file and last access time...
    std::set<CString> listed;
    for (const CUrlCacheEntry& entry : EnumerateUrlCache()) {
        listed.insert(entry.strUrl);
        std::vector<CSeenRecord> live;
        for (auto [it, end] = seen.equal_range(entry.strUrl); it != end; ++it) {
            if (std::get<2>(it->second)) {
                live.push_back(std::get<0>(it->second));
                EXPECT_EQ(std::get<1>(it->second), entry.strLocalFile) << entry.strUrl.ToUtf8();
            }
        }
        ASSERT_EQ(live.size(), 1u) << entry.strUrl.ToUtf8();
        EXPECT_EQ(live[0].dwType, kUrl) << entry.strUrl.ToUtf8();
        EXPECT_EQ(live[0].time, CFileTime(entry.lastAccess)) << entry.strUrl.ToUtf8();
    }
    // ... and nothing else is seen but "LEAK" records and the records the
    // cache deleted, which stay readable in free blocks.
    for (const auto& [url, s] : seen) {
        EXPECT_TRUE(listed.count(url) > 0 || !std::get<2>(s) || std::get<0>(s).dwType == kLeak) << url.ToUtf8();
    }
    ASSERT_EQ(seen.count(deleted), 1u);
    EXPECT_FALSE(std::get<2>(seen.find(deleted)->second));
    ASSERT_EQ(seen.count(leaked), 1u);
    EXPECT_EQ(std::get<0>(seen.find(leaked)->second).dwType, kLeak);
    EXPECT_EQ(std::get<1>(seen.find(leaked)->second), leakedFile);

    // Erasing every other page in place changes only those records.
    const std::map<CString, CString> before = ListFromFreshProcess(folder);
    const std::set<CString> erase = {seeded[0], seeded[2], seeded[4]};
    const CString index = CacheStore().strIndex;
    std::string expected = ReadTestFile(index);
    ASSERT_TRUE(ScanFile(index, FALSE, [&](CRecordingParser& parser, const CSeenRecord& r) {
                    if (erase.count(r.strUrl) > 0) {
                        parser.RemoveEntry(r.dwOffset, r.dwSize);
                        expected.replace(r.dwOffset, r.dwSize, r.dwSize, '\0');
                    }
                    return TRUE;
                }).bResult);
    EXPECT_TRUE(ReadTestFile(index) == expected);
    // A fresh process lists exactly the others; so does the independent
    // reader, which cannot recover what was erased either.
    std::map<CString, CString> survivors = before;
    std::multiset<CString> cacheSurvivors;
    for (const CString& url : erase) {
        ASSERT_EQ(survivors.erase(url), 1u) << url.ToUtf8();
    }
    EXPECT_EQ(ListFromFreshProcess(folder), survivors);
    for (const auto& [url, file] : survivors) {
        if (url.Left(7) != L"Cookie:" && url.Left(8) != L"Visited:") {
            cacheSurvivors.insert(url);
        }
    }
    EXPECT_EQ(ExportIndexLocations(folder, index, L"items"), cacheSurvivors);
    const std::multiset<CString> recovered = ExportIndexLocations(folder, index, L"recovered");
    for (const CString& url : erase) {
        EXPECT_EQ(recovered.count(url), 0u) << url.ToUtf8();
    }
    // The cache still takes new entries and finds them, here and in a
    // fresh process.
    const CString added = L"http://" + tag + L".cache.example/new.html";
    survivors[added] = AddCacheEntry(added);
    EXPECT_TRUE(CacheHolds(added));
    EXPECT_EQ(ListFromFreshProcess(folder), survivors);
}

TEST(IndexDatPlatform, IndexStepsAskTheCacheOnlyAboutEntriesItStillHoldsAndKeepALockedOne)
{
    const CString tag = UniqueTag();
    const CFileTime threshold = CFileTime::GetCurrentTime();
    auto url = [&](const wchar_t* name) { return L"http://" + tag + L".ask.example/" + name; };
    // An entry whose file is gone, one the cache has deleted, and one held
    // locked (as a reader of its file would) whose file is gone too.
    const CString gone = url(L"gone.html"), freed = url(L"freed.html"), locked = url(L"locked.html");
    ASSERT_TRUE(DeleteFileW(AddCacheEntry(gone)));
    ASSERT_FALSE(AddCacheEntry(freed).IsEmpty());
    ASSERT_TRUE(DeleteUrlCacheEntryW(freed));
    const CString lockedFile = AddCacheEntry(locked);
    std::vector<BYTE> info(65536);
    DWORD size = static_cast<DWORD>(info.size());
    ASSERT_TRUE(RetrieveUrlCacheEntryFileW(locked, reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(info.data()), &size, 0))
        << GetLastError();
    ASSERT_TRUE(DeleteFileW(lockedFile));

    const CString index = CacheStore().strIndex;
    for (const bool bLocked : {true, false}) {
        CAskingIndex<CTempInternetFilesIndexDat> step;
        EXPECT_TRUE(step.RemoveEntries(threshold));
        EXPECT_EQ(step.m_asked, bLocked ? std::multiset<CString>({gone, locked}) : std::multiset<CString>());
        EXPECT_FALSE(Contains(index, gone));
        EXPECT_FALSE(Contains(index, freed));
        EXPECT_EQ(Contains(index, locked), bLocked);
        EXPECT_FALSE(CacheHolds(gone));
        // Unlocked, the entry the cache was asked to delete goes.
        EXPECT_EQ(CacheHolds(locked), bLocked);
        EXPECT_EQ(UnlockUrlCacheEntryFileW(locked, 0), bLocked ? TRUE : FALSE);
    }
    // Every one of them can be cached, found and deleted again.
    for (const CString& u : {gone, freed, locked}) {
        ASSERT_FALSE(AddCacheEntry(u).IsEmpty());
        EXPECT_TRUE(CacheHolds(u)) << u.ToUtf8();
        EXPECT_TRUE(DeleteUrlCacheEntryW(u)) << u.ToUtf8();
    }

    // The cookie index after the cookie walk: the cache has deleted the
    // entries, and is asked about none of them; one it still holds is
    // deleted through it.
    ASSERT_TRUE(AddCookie(L"http://" + tag + L".walked.example/", L"w", L"1"));
    ASSERT_TRUE(AddCookie(L"http://" + tag + L".held.example/", L"h", L"1"));
    std::multiset<CString> live;
    for (const CUrlCacheEntry& e : EnumerateUrlCache()) {
        if ((e.dwType & COOKIE_CACHE_ENTRY) != 0 && e.strUrl.Find(tag + L".walked") >= 0) {
            ASSERT_TRUE(DeleteUrlCacheEntryW(e.strUrl));
        } else if ((e.dwType & COOKIE_CACHE_ENTRY) != 0) {
            live.insert(e.strUrl);
        }
    }
    CAskingIndex<CCookiesIndexDat> step;
    EXPECT_TRUE(step.RemoveEntries());
    EXPECT_EQ(step.m_asked, live);
    EXPECT_FALSE(Contains(CookieStore().strIndex, tag + L".walked"));
    EXPECT_FALSE(Contains(CookieStore().strIndex, tag + L".held"));
    for (const CUrlCacheEntry& e : EnumerateUrlCache()) {
        EXPECT_EQ(e.dwType & COOKIE_CACHE_ENTRY, 0u) << e.strUrl.ToUtf8();
    }
}

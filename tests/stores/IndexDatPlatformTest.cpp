// The parser on stores written by the platform's own URL cache (Wine's
// WinINet), checked against WinINet in this process and in a fresh one,
// and against libmsiecf's independent reader.
#include "stores/IndexDatParser.h"

#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "framework/Handles.h"
#include "stores/CookiesIndexDat.h"
#include "stores/TempInternetFilesIndexDat.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ExternalReaders.h"
#include "tests/stores/RecordingParser.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr DWORD kUrl = 0x204C5255;
constexpr DWORD kLeak = 0x4B41454C;

struct CSeenInStore {
    CSeenRecord record;
    CString strFullPath;  // the store's folder joined to the local path
    bool bAllocated = false;
};

// Wine keeps a bitmap of allocated 128-byte blocks at 0x250, counted from
// 0x4000; its own deletion clears a record's bits and leaves the record.
bool IsAllocated(const std::string& file, DWORD dwOffset)
{
    const DWORD block = (dwOffset - 0x4000) / 128;
    const size_t at = 0x250 + block / 8;
    return dwOffset >= 0x4000 && at < file.size() && (static_cast<BYTE>(file[at]) >> (block % 8) & 1) != 0;
}

// All three stores, scanned without a change; by URL.
std::multimap<CString, CSeenInStore> ScanAllStores()
{
    std::multimap<CString, CSeenInStore> seen;
    for (const CStoreFile& store : {CacheStore(), CookieStore(), HistoryStore()}) {
        const std::string before = ReadTestFile(store.strIndex);
        const CScanOutcome scan = ScanFile(store.strIndex, FALSE);
        EXPECT_TRUE(scan.bResult);
        EXPECT_EQ(ReadTestFile(store.strIndex), before) << store.strIndex.ToUtf8();
        for (const CSeenRecord& r : scan.seen) {
            const CString full = r.strPath.IsEmpty() ? CString() : store.strFolder + L"\\" + r.strPath;
            seen.insert({r.strUrl, {r, full, IsAllocated(before, r.dwOffset)}});
        }
    }
    return seen;
}

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

}  // namespace

TEST(IndexDatPlatform, TheScanSeesWhatTheUrlCacheHolds)
{
    const CString tag = UniqueTag();
    std::vector<CString> seeded;
    for (int i = 0; i < 4; ++i) {
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

    const std::vector<CUrlCacheEntry> listed = EnumerateUrlCache();
    const std::multimap<CString, CSeenInStore> seen = ScanAllStores();
    // Every entry the cache lists is one live "URL " record with its local
    // file and last access time...
    std::set<CString> listedUrls;
    for (const CUrlCacheEntry& entry : listed) {
        listedUrls.insert(entry.strUrl);
        std::vector<CSeenInStore> live;
        const auto range = seen.equal_range(entry.strUrl);
        for (auto it = range.first; it != range.second; ++it) {
            if (it->second.bAllocated) {
                live.push_back(it->second);
            }
        }
        ASSERT_EQ(live.size(), 1u) << entry.strUrl.ToUtf8();
        EXPECT_EQ(live[0].record.dwType, kUrl) << entry.strUrl.ToUtf8();
        EXPECT_EQ(live[0].strFullPath, entry.strLocalFile) << entry.strUrl.ToUtf8();
        EXPECT_EQ(live[0].record.time, CTime::FromFileTimeViaLocal(entry.lastAccess)) << entry.strUrl.ToUtf8();
    }
    // ... and nothing else is seen but "LEAK" records and the records the
    // cache deleted, which stay readable in free blocks.
    for (const auto& [url, s] : seen) {
        EXPECT_TRUE(listedUrls.count(url) > 0 || !s.bAllocated || s.record.dwType == kLeak) << url.ToUtf8();
    }
    for (const CString& url : seeded) {
        EXPECT_EQ(listedUrls.count(url), 1u) << url.ToUtf8();
    }
    EXPECT_EQ(std::count_if(listed.begin(), listed.end(),
                            [&](const CUrlCacheEntry& e) {
                                return e.strUrl.Left(7) == L"Cookie:" && e.strUrl.Find(tag) > 0 &&
                                       e.strLocalFile.Find(CookieStore().strFolder) == 0;
                            }),
              2);
    ASSERT_EQ(seen.count(deleted), 1u);
    EXPECT_FALSE(seen.find(deleted)->second.bAllocated);
    ASSERT_EQ(seen.count(leaked), 1u);
    EXPECT_EQ(seen.find(leaked)->second.record.dwType, kLeak);
    EXPECT_EQ(seen.find(leaked)->second.strFullPath, leakedFile);
}

TEST(IndexDatPlatform, TheUrlCacheSurvivesInPlaceErasure)
{
    CTempFolder folder;
    const CString tag = UniqueTag();
    std::vector<CString> urls;
    std::set<CString> erase;
    for (int i = 0; i < 6; ++i) {
        urls.push_back(FormatString(L"http://%s.survive.example/%d.html", tag.GetString(), i));
        ASSERT_FALSE(AddCacheEntry(urls.back()).IsEmpty());
        if (i % 2 == 0) {
            erase.insert(urls.back());
        }
    }
    const std::map<CString, CString> before = ListFromFreshProcess(folder);
    for (const CString& url : urls) {
        ASSERT_EQ(before.count(url), 1u) << url.ToUtf8();
    }

    const CString index = CacheStore().strIndex;
    std::string expected = ReadTestFile(index);
    const CScanOutcome scan = ScanFile(index, FALSE, [&](CRecordingParser& parser, const CSeenRecord& r) {
        if (erase.count(r.strUrl) > 0) {
            parser.RemoveEntry(r.dwOffset, r.dwSize);
        }
        return TRUE;
    });
    ASSERT_TRUE(scan.bResult);
    int erased = 0;
    for (const CSeenRecord& r : scan.seen) {
        if (erase.count(r.strUrl) > 0) {
            expected.replace(r.dwOffset, r.dwSize, r.dwSize, '\0');
            ++erased;
        }
    }
    EXPECT_EQ(erased, 3);
    const std::string after = ReadTestFile(index);
    EXPECT_EQ(after, expected);  // only those records changed, the length stayed
    for (const CString& url : urls) {
        EXPECT_EQ(after.find(url.ToAnsi()) == std::string::npos, erase.count(url) > 0) << url.ToUtf8();
    }

    // A fresh process lists exactly the others; so does the independent
    // reader, which cannot recover what was erased either.
    std::map<CString, CString> survivors = before;
    for (const CString& url : erase) {
        survivors.erase(url);
    }
    EXPECT_EQ(ListFromFreshProcess(folder), survivors);
    std::multiset<CString> cacheSurvivors;
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
    const CString added = L"http://" + tag + L".survive.example/new.html";
    ASSERT_FALSE(AddCacheEntry(added).IsEmpty());
    std::vector<BYTE> info(65536);
    DWORD size = static_cast<DWORD>(info.size());
    EXPECT_TRUE(GetUrlCacheEntryInfoW(added, reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(info.data()), &size));
    survivors[added] = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(info.data())->lpszLocalFileName;
    EXPECT_EQ(ListFromFreshProcess(folder), survivors);
}

TEST(IndexDatPlatform, IndexStepsAskTheCacheOnlyAboutEntriesItStillHoldsAndKeepALockedOne)
{
    const CString tag = UniqueTag();
    const CTime threshold = CTime::GetCurrentTime();
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

    CLogCapture log;
    {
        CAskingIndex<CTempInternetFilesIndexDat> index;
        EXPECT_TRUE(index.RemoveEntries(threshold));
        EXPECT_EQ(index.m_asked, (std::multiset<CString>{gone, locked}));
    }
    EXPECT_TRUE(log.HasMessage(L"CIndexDatParser::EraseRecord: the URL cache still holds " + locked +
                               L"; its record is kept"));
    std::string bytes = ReadTestFile(CacheStore().strIndex);
    EXPECT_EQ(bytes.find(gone.ToAnsi()), std::string::npos);
    EXPECT_EQ(bytes.find(freed.ToAnsi()), std::string::npos);
    EXPECT_NE(bytes.find(locked.ToAnsi()), std::string::npos);
    EXPECT_FALSE(CacheHolds(gone));
    EXPECT_TRUE(CacheHolds(locked));

    // Unlocked, the entry the cache was asked to delete goes.
    EXPECT_TRUE(UnlockUrlCacheEntryFileW(locked, 0)) << GetLastError();
    EXPECT_FALSE(CacheHolds(locked));
    {
        CAskingIndex<CTempInternetFilesIndexDat> index;
        EXPECT_TRUE(index.RemoveEntries(threshold));
        EXPECT_TRUE(index.m_asked.empty());
    }
    bytes = ReadTestFile(CacheStore().strIndex);
    EXPECT_EQ(bytes.find(locked.ToAnsi()), std::string::npos);
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
        if ((e.dwType & COOKIE_CACHE_ENTRY) == 0) {
            continue;
        }
        if (e.strUrl.Find(tag + L".walked") >= 0) {
            ASSERT_TRUE(DeleteUrlCacheEntryW(e.strUrl));
        } else {
            live.insert(e.strUrl);
        }
    }
    {
        CAskingIndex<CCookiesIndexDat> index;
        EXPECT_TRUE(index.RemoveEntries());
        EXPECT_EQ(index.m_asked, live);
    }
    bytes = ReadTestFile(CookieStore().strIndex);
    EXPECT_EQ(bytes.find((tag + L".walked").ToAnsi()), std::string::npos);
    EXPECT_EQ(bytes.find((tag + L".held").ToAnsi()), std::string::npos);
    for (const CUrlCacheEntry& e : EnumerateUrlCache()) {
        EXPECT_EQ(e.dwType & COOKIE_CACHE_ENTRY, 0u) << e.strUrl.ToUtf8();
    }
}

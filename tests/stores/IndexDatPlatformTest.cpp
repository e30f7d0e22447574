// The parser on stores written by Wine's WinINet, checked against WinINet
// here and in a fresh process, and against libmsiecf's reader.
#include "stores/IndexDatParser.h"

#include <wininet.h>

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "framework/Handles.h"
#include "tests/stores/RecordingParser.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/ExternalReaders.h"
#include "tests/support/HelperProcess.h"
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

}  // namespace

TEST(IndexDatPlatform, TheScanSeesWhatTheUrlCacheHoldsAndTheCacheSurvivesInPlaceErasure)
{
    CTempFolder folder;
    const CString tag = UniqueTag();
    auto page = [&](const wchar_t* name) { return L"http://" + tag + L".cache.example/" + name; };
    const CString pages[] = {page(L"a.html?q=1"), page(L"b.html"), page(L"c.html")};
    for (const CString& u : pages) {
        ASSERT_FALSE(AddCacheEntry(u).IsEmpty());
    }
    ASSERT_TRUE(AddCookie(L"http://" + tag + L".cookie.example/", L"c", L"v"));
    ASSERT_TRUE(AddHistoryEntry(L"http://" + tag + L".history.example/"));
    // One entry the cache marks "LEAK" because its file is in use, and one
    // it deletes (last, so that no later entry takes over its blocks).
    const CString leaked = page(L"leaked.html"), deleted = page(L"deleted.html");
    const CString leakedFile = AddCacheEntry(leaked);
    ASSERT_FALSE(AddCacheEntry(deleted).IsEmpty());
    {
        CHandle inUse(CreateFileW(leakedFile, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(inUse.valid());
        ASSERT_TRUE(DeleteUrlCacheEntryW(leaked));
    }
    ASSERT_TRUE(DeleteUrlCacheEntryW(deleted));

    // All three stores scanned, by URL: the record, the local path joined to
    // the store's folder, and whether the bitmap marks it live.
    struct CSeen {
        CSeenRecord r;
        CString strFull;
        bool bLive;
    };
    std::multimap<CString, CSeen> seen;
    for (const CStoreFile& store : {CacheStore(), CookieStore(), HistoryStore()}) {
        EXPECT_TRUE(ScanFile(store.strIndex, FALSE, [&](CRecordingParser& parser, const CSeenRecord& r) {
                        const CString full = r.strPath.IsEmpty() ? CString() : store.strFolder + L"\\" + r.strPath;
                        seen.insert({r.strUrl, {r, full, parser.Allocated(r.dwOffset)}});
                        return TRUE;
                    }).bResult);
    }
    // Every entry the cache lists is one live "URL " record with its local
    // file and last access time...
    std::set<CString> listed;
    for (const CUrlCacheEntry& entry : EnumerateUrlCache()) {
        listed.insert(entry.strUrl);
        std::vector<CSeen> live;
        for (auto [it, end] = seen.equal_range(entry.strUrl); it != end; ++it) {
            if (it->second.bLive) {
                live.push_back(it->second);
            }
        }
        ASSERT_EQ(live.size(), 1u) << entry.strUrl.ToUtf8();
        EXPECT_EQ(live[0].strFull, entry.strLocalFile) << entry.strUrl.ToUtf8();
        EXPECT_EQ(live[0].r.dwType, kUrl) << entry.strUrl.ToUtf8();
        EXPECT_EQ(live[0].r.time, CFileTime(entry.lastAccess)) << entry.strUrl.ToUtf8();
    }
    // ... and nothing else is seen but "LEAK" records and the records the
    // cache deleted, which stay readable in free blocks.
    for (const auto& [url, s] : seen) {
        EXPECT_TRUE(listed.count(url) > 0 || !s.bLive || s.r.dwType == kLeak) << url.ToUtf8();
    }
    ASSERT_EQ(seen.count(deleted), 1u);
    EXPECT_FALSE(seen.find(deleted)->second.bLive);
    ASSERT_EQ(seen.count(leaked), 1u);
    EXPECT_EQ(seen.find(leaked)->second.r.dwType, kLeak);
    EXPECT_EQ(seen.find(leaked)->second.strFull, leakedFile);

    // Two pages erased in place: a fresh process lists exactly the others;
    // so does the independent reader, which cannot recover them either.
    std::map<CString, CString> survivors = ListFromFreshProcess(folder);
    const std::set<CString> erase = {pages[0], pages[2]};
    const CString index = CacheStore().strIndex;
    ASSERT_TRUE(ScanFile(index, FALSE, [&](CRecordingParser& parser, const CSeenRecord& r) {
                    if (erase.count(r.strUrl) > 0) {
                        parser.RemoveEntry(r.dwOffset, r.dwSize);
                    }
                    return TRUE;
                }).bResult);
    for (const CString& url : erase) {
        ASSERT_EQ(survivors.erase(url), 1u) << url.ToUtf8();
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
    // The cache still takes new entries, as a fresh process sees.
    survivors[page(L"new.html")] = AddCacheEntry(page(L"new.html"));
    EXPECT_EQ(ListFromFreshProcess(folder), survivors);
}

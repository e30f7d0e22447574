// The URL-cache walk: its buffer and error handling driven through the
// enumeration seam, and RemoveEntry against the real cache.
#include "stores/CacheReader.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "cleanup/Deleter.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

// One scripted answer of the platform: success with an entry of the URL,
// or failure with an error and a size request.
struct CAnswer {
    DWORD dwError = 0;
    DWORD dwAskedSize = 0;
    const wchar_t* pszUrl = L"";
};

class CScriptedReader : public CCacheReader {
public:
    explicit CScriptedReader(std::deque<CAnswer> script) : m_script(std::move(script)) {}

    BOOL RunBackgroundTask() override { return IterateEntries(); }
    void CleanIndexDatFiles() override { ++m_nFallbacks; }

    std::vector<CString> m_processed;
    std::vector<DWORD> m_offeredSizes;
    int m_nFallbacks = 0;
    bool m_bClosed = false;
    BOOL m_bProcessResult = TRUE;
    bool m_bAbortAtFirstEntry = false;

protected:
    BOOL ProcessEntry(const INTERNET_CACHE_ENTRY_INFOW& entry) override
    {
        m_processed.push_back(entry.lpszSourceUrlName);
        if (m_bAbortAtFirstEntry && m_hAbortEvent) {
            SetEvent(m_hAbortEvent.get());
        }
        return m_bProcessResult;
    }
    HANDLE FindFirstEntry(INTERNET_CACHE_ENTRY_INFOW* pEntry, DWORD* pdwSize) override
    {
        return Answer(pEntry, pdwSize) ? reinterpret_cast<HANDLE>(0x1234) : nullptr;
    }
    BOOL FindNextEntry(HANDLE hFind, INTERNET_CACHE_ENTRY_INFOW* pEntry, DWORD* pdwSize) override
    {
        EXPECT_EQ(hFind, reinterpret_cast<HANDLE>(0x1234));
        return Answer(pEntry, pdwSize) ? TRUE : FALSE;
    }
    void CloseFind(HANDLE) override { m_bClosed = true; }

private:
    bool Answer(INTERNET_CACHE_ENTRY_INFOW* pEntry, DWORD* pdwSize)
    {
        m_offeredSizes.push_back(*pdwSize);
        CAnswer answer{ERROR_NO_MORE_ITEMS, 0, L""};
        if (!m_script.empty()) {
            answer = m_script.front();
            m_script.pop_front();
        }
        if (answer.dwError != 0) {
            *pdwSize = answer.dwAskedSize;
            SetLastError(answer.dwError);
            return false;
        }
        // The whole offered buffer must be writable.
        memset(pEntry, 0xAB, *pdwSize);
        pEntry->lpszSourceUrlName = const_cast<LPWSTR>(answer.pszUrl);
        return true;
    }

    std::deque<CAnswer> m_script;
};

}  // namespace

TEST(CacheReader, GrowsItsBufferAndEndsOnTheErrorsThatEndAWalk)
{
    CScriptedReader reader({{ERROR_INSUFFICIENT_BUFFER, 10000}, {0, 0, L"a"}, {ERROR_INSUFFICIENT_BUFFER, 9000},
                            {0, 0, L"b"}, {0, 0, L"c"}, {ERROR_NO_MORE_ITEMS}});
    EXPECT_TRUE(reader.IterateEntries());
    EXPECT_EQ(reader.m_processed, (std::vector<CString>{L"a", L"b", L"c"}));
    // 4096 first; then what was asked; a request below the declared size
    // doubles it; after an entry the declared size is offered again.
    EXPECT_EQ(reader.m_offeredSizes, (std::vector<DWORD>{4096, 10000, 10000, 20000, 20000, 20000}));
    EXPECT_TRUE(reader.m_bClosed);

    CLogCapture capture;
    CScriptedReader invalid({{0, 0, L"a"}, {ERROR_INVALID_PARAMETER}});
    invalid.m_bProcessResult = FALSE;
    EXPECT_FALSE(invalid.IterateEntries());
    EXPECT_TRUE(capture.MessagesContaining(L"Failed to iterate").empty());

    CScriptedReader empty({CAnswer{ERROR_NO_MORE_ITEMS}});
    EXPECT_TRUE(empty.IterateEntries());
    EXPECT_FALSE(empty.m_bClosed);
}

TEST(CacheReader, FailuresOfTheCache)
{
    CLogCapture capture;
    CScriptedReader internal({{0, 0, L"a"}, {ERROR_INTERNET_INTERNAL_ERROR}});
    EXPECT_FALSE(internal.IterateEntries());
    EXPECT_EQ(internal.m_nFallbacks, 1);

    CScriptedReader other({CAnswer{ERROR_ACCESS_DENIED}});
    EXPECT_FALSE(other.IterateEntries());
    EXPECT_EQ(other.m_nFallbacks, 0);
    EXPECT_EQ(capture.MessagesContaining(L"Failed to iterate cache entries").size(), 1u);

    // A platform that keeps asking for more never gets unbounded memory.
    std::deque<CAnswer> greedy(40, CAnswer{ERROR_INSUFFICIENT_BUFFER, 1});
    CScriptedReader endless(greedy);
    EXPECT_FALSE(endless.IterateEntries());
    EXPECT_LE(endless.m_offeredSizes.back(), 16u * 1024 * 1024);
}

TEST(CacheReader, AnAbortedThreadedWalkStopsBeforeItsNextRound)
{
    CScriptedReader reader({{0, 0, L"a"}, {0, 0, L"b"}});
    reader.m_bAbortAtFirstEntry = true;
    CLogCapture capture;
    ASSERT_TRUE(reader.StartBackgroundTask());
    reader.WaitForBackgroundTask();
    EXPECT_FALSE(reader.GetResult());
    // The worker runs a failed task once more; that run stops at once.
    EXPECT_EQ(reader.m_processed, (std::vector<CString>{L"a"}));
    EXPECT_EQ(capture.CountMessage(L"CCacheReader::IterateEntries Cache iteration interrupted"), 2);
    EXPECT_TRUE(reader.m_bClosed);
}

TEST(CacheReader, RemoveEntryAgainstTheRealCache)
{
    const CString tag = UniqueTag();
    CDeleter deleter(FALSE, FALSE, FALSE);
    const CString url = L"http://" + tag + L".remove.example/a.html";
    const CString file = AddCacheEntry(url);
    ASSERT_FALSE(file.IsEmpty());
    EXPECT_TRUE(CCacheReader::RemoveEntry(file, url, &deleter));
    EXPECT_FALSE(TestFileExists(file));
    // Gone already: still a success.
    EXPECT_TRUE(CCacheReader::RemoveEntry(file, url, &deleter));

    // Without a deleter the cache deletes the entry with its file.
    const CString url2 = L"http://" + tag + L".remove.example/b.html";
    const CString file2 = AddCacheEntry(url2);
    CLogCapture capture;
    EXPECT_TRUE(CCacheReader::RemoveEntry(file2, url2, nullptr));
    EXPECT_EQ(capture.CountMessage(L"CCacheReader::IterateEntries() pDeleter is NULL"), 1);
    for (const CUrlCacheEntry& e : EnumerateUrlCache()) {
        EXPECT_NE(e.strUrl, url2);
    }

    // An entry whose URL is so long that its record outgrows the first
    // buffer is still walked.
    const CString longUrl = L"http://" + tag + L".remove.example/" + CString(L'q', 5000);
    ASSERT_FALSE(AddCacheEntry(longUrl).IsEmpty());
    class CFinder : public CCacheReader {
    public:
        BOOL RunBackgroundTask() override { return TRUE; }
        CString m_strSought;
        bool m_bFound = false;

    protected:
        BOOL ProcessEntry(const INTERNET_CACHE_ENTRY_INFOW& entry) override
        {
            m_bFound = m_bFound || m_strSought == entry.lpszSourceUrlName;
            return TRUE;
        }
    } finder;
    finder.m_strSought = longUrl;
    EXPECT_TRUE(finder.IterateEntries());
    EXPECT_TRUE(finder.m_bFound);
    DeleteUrlCacheEntryW(longUrl);
}

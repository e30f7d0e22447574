// The URL-cache walk: its buffer and error handling driven through the
// enumeration seam (the cleaners walk the real cache), and RemoveEntry.
#include "stores/CacheReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <tuple>
#include <vector>

#include "cleanup/Deleter.h"
#include "tests/stores/UrlCacheSeed.h"
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
        if (m_bAbortAtFirstEntry) {
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
        return Answer(pEntry, pdwSize);
    }
    void CloseFind(HANDLE) override { m_bClosed = true; }

private:
    BOOL Answer(INTERNET_CACHE_ENTRY_INFOW* pEntry, DWORD* pdwSize)
    {
        m_offeredSizes.push_back(*pdwSize);
        const CAnswer answer = m_script.empty() ? CAnswer{ERROR_NO_MORE_ITEMS} : m_script.front();
        if (!m_script.empty()) {
            m_script.pop_front();
        }
        if (answer.dwError != 0) {
            *pdwSize = answer.dwAskedSize;
            SetLastError(answer.dwError);
            return FALSE;
        }
        memset(pEntry, 0xAB, *pdwSize);  // the whole offered buffer must be writable
        pEntry->lpszSourceUrlName = const_cast<LPWSTR>(answer.pszUrl);
        return TRUE;
    }

    std::deque<CAnswer> m_script;
};

}  // namespace

TEST(CacheReader, GrowsItsBufferAndEndsOnTheErrorsThatEndAWalk)
{
    // The script, what ProcessEntry answers; the walk's result, entries,
    // index clean-ups, and whether the enumeration was closed.
    const std::tuple<std::deque<CAnswer>, BOOL, BOOL, size_t, int, bool> cases[] = {
        {{{ERROR_INSUFFICIENT_BUFFER, 10000}, {0, 0, L"a"}, {ERROR_INSUFFICIENT_BUFFER, 9000}, {0, 0, L"b"},
          {0, 0, L"c"}, {ERROR_NO_MORE_ITEMS}}, TRUE, TRUE, 3, 0, true},
        {{{0, 0, L"a"}, {0, 0, L"b"}}, FALSE, FALSE, 2, 0, true},
        {{{0, 0, L"a"}, {ERROR_INVALID_PARAMETER}}, TRUE, TRUE, 1, 0, true},
        {{CAnswer{ERROR_NO_MORE_ITEMS}}, TRUE, TRUE, 0, 0, false},
        {{{0, 0, L"a"}, {ERROR_INTERNET_INTERNAL_ERROR}}, TRUE, FALSE, 1, 1, true},
        {{CAnswer{ERROR_ACCESS_DENIED}}, TRUE, FALSE, 0, 0, false},
        // A platform that keeps asking for more never gets unbounded memory.
        {std::deque<CAnswer>(40, CAnswer{ERROR_INSUFFICIENT_BUFFER, 1}), TRUE, FALSE, 0, 0, false},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& [script, bProcessResult, bResult, nProcessed, nFallbacks, bClosed] = cases[i];
        CScriptedReader reader(script);
        reader.m_bProcessResult = bProcessResult;
        const BOOL bWalked = reader.IterateEntries();
        EXPECT_EQ(std::make_tuple(bWalked, reader.m_processed.size(), reader.m_nFallbacks, reader.m_bClosed),
                  std::make_tuple(bResult, nProcessed, nFallbacks, bClosed)) << i;
        EXPECT_LE(reader.m_offeredSizes.back(), 16u * 1024 * 1024) << i;
        if (i == 0) {
            // 4096 first; then what was asked; a request below the declared
            // size doubles it; after an entry the declared size is offered again.
            EXPECT_EQ(reader.m_processed, (std::vector<CString>{L"a", L"b", L"c"}));
            EXPECT_EQ(reader.m_offeredSizes, (std::vector<DWORD>{4096, 10000, 10000, 20000, 20000, 20000}));
        }
    }

    // An aborted threaded walk stops before its next round, and the
    // worker's second run of the failed task stops at once.
    CScriptedReader reader(std::deque<CAnswer>{{0, 0, L"a"}, {0, 0, L"b"}});
    reader.m_bAbortAtFirstEntry = true;
    ASSERT_TRUE(reader.StartBackgroundTask());
    reader.WaitForBackgroundTask();
    EXPECT_FALSE(reader.GetResult());
    EXPECT_EQ(reader.m_processed, (std::vector<CString>{L"a"}));
    EXPECT_TRUE(reader.m_bClosed);
}

TEST(CacheReader, RemovesAnEntryOfTheRealCacheEvenWhenItIsGoneAlready)
{
    const CString url = L"http://" + UniqueTag() + L".remove.example/a.html";
    CDeleter deleter(FALSE, FALSE, FALSE);
    const CString file = AddCacheEntry(url);
    ASSERT_FALSE(file.IsEmpty());
    EXPECT_TRUE(CCacheReader::RemoveEntry(file, url, &deleter));
    EXPECT_FALSE(TestFileExists(file));
    EXPECT_TRUE(CCacheReader::RemoveEntry(file, url, &deleter));
    // Without a deleter the cache deletes the entry with its file.
    const CString again = AddCacheEntry(url);
    EXPECT_TRUE(CCacheReader::RemoveEntry(again, url, nullptr));
    EXPECT_FALSE(TestFileExists(again));
}

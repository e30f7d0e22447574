// The history stores' edits on stores built by hand: a main container and
// a daily one below it, with what the platform's cache never writes
// ("REDR" records) and what a damaged store looks like.
#include "stores/HistoryIndexDat.h"

#include <gtest/gtest.h>

#include "tests/stores/IndexDatImage.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

// Stores as the cache leaves them: hash table and live records marked in
// the allocation bitmap, deleted ones not.
class HistoryIndexDatTest : public ::testing::Test {
protected:
    HistoryIndexDatTest()
    {
        m_main.MarkBlocks(CIndexDatImage::kRecordArea, 1);
        m_day.MarkBlocks(CIndexDatImage::kRecordArea, 1);
    }
    static DWORD Add(CIndexDatImage& image, const char* pszType, const std::string& url, bool bLive = true,
                     DWORD dwBlocks = 2)
    {
        const DWORD at = image.AddUrl(pszType, dwBlocks, FileTimeOf(1700000000), 0xFE, url);
        image.MarkBlocks(at, bLive ? dwBlocks : 0);
        return at;
    }
    void Write() const
    {
        m_main.WriteTo(m_mainPath);
        m_day.WriteTo(m_dayPath);
    }

    CTempFolder m_history;
    CString m_mainPath = m_history / L"History.IE5\\index.dat";
    CString m_dayPath = m_history / L"History.IE5\\MSHist012024010120240102\\index.dat";
    CIndexDatImage m_main, m_day;
};

}  // namespace

TEST_F(HistoryIndexDatTest, KeepsTheStartsUrlsAndErasesTheRestInEveryStoreBelowTheFolder)
{
    const DWORD kept = Add(m_main, "URL ", "Visited: user@http://kept/");
    const DWORD deletedBefore = Add(m_main, "URL ", "Visited: user@http://cleared-by-user/", false);
    m_main.MarkBlocks(m_main.AddRecord("REDR", 1, 0x11111111), 1);
    const DWORD keptDaily = Add(m_day, "URL ", ":2024010120240102: user@http://kept/");
    Write();
    const std::string start = m_main.Bytes();
    WriteTestFile(m_history / L"History.IE5\\index.dat.old", start);

    CStringSet snapshot, unscanned;
    {
        CHistoryIndexDat history(m_history.Path());
        EXPECT_EQ(history.GetFiles(), (std::vector<CString>{m_dayPath, m_mainPath}));  // subfolders first
        history.CollectEntries(&snapshot, &unscanned);
    }
    CStringSet expected;
    expected.Add(L"Visited: user@http://kept/");
    expected.Add(L":2024010120240102: user@http://kept/");
    EXPECT_EQ(snapshot, expected);  // the deleted record is no history
    EXPECT_TRUE(unscanned.IsEmpty());
    EXPECT_TRUE(ReadTestFile(m_mainPath) == start);

    // The session: new visits in both stores, one of them a "LEAK", one a
    // visit the user deleted again, and a URL that was kept at the start.
    const DWORD session = Add(m_main, "URL ", "Visited: user@http://session/", true, 3);
    const DWORD leak = Add(m_main, "LEAK", "Visited: user@http://session-leak/");
    const DWORD deletedInSession = Add(m_main, "URL ", "Visited: user@http://session-deleted/", false);
    const DWORD revisitFreedCopy = Add(m_main, "URL ", "Visited: user@http://kept/", false);
    const DWORD sessionDaily = Add(m_day, "URL ", ":2024010120240102: user@http://session/");
    Write();
    CHistoryIndexDat history(m_history.Path());
    history.RemoveEntries(&snapshot);
    EXPECT_EQ(history.GetErasedCount(), 6);
    std::string mainAfter = m_main.Bytes();
    for (const auto& [at, size] : {std::pair{deletedBefore, 256}, {session, 384}, {leak, 256},
                                   {deletedInSession, 256}, {revisitFreedCopy, 256}}) {
        mainAfter = Zeroed(mainAfter, at, size);
    }
    const std::string dailyAfter = Zeroed(m_day.Bytes(), sessionDaily, 256);
    EXPECT_TRUE(ReadTestFile(m_mainPath) == mainAfter);
    EXPECT_TRUE(ReadTestFile(m_dayPath) == dailyAfter);
    EXPECT_TRUE(ReadTestFile(m_history / L"History.IE5\\index.dat.old") == start);

    // An empty snapshot erases every URL left, but no redirect.
    CStringSet empty;
    CHistoryIndexDat again(m_history.Path());
    again.RemoveEntries(&empty);
    EXPECT_EQ(again.GetErasedCount(), 2);
    EXPECT_TRUE(ReadTestFile(m_mainPath) == Zeroed(mainAfter, kept, 256));
    EXPECT_TRUE(ReadTestFile(m_dayPath) == Zeroed(dailyAfter, keptDaily, 256));
}

TEST_F(HistoryIndexDatTest, AStoreUnreadableAtTheStartIsLeftAsItIsAtTheEnd)
{
    // Its header is damaged when the snapshot is taken, so nothing of it is
    // known; by the clean-up it reads again. Erasing then would take the
    // user's history for the session's.
    Add(m_main, "URL ", "Visited: user@http://users-own/");
    WriteTestFile(m_mainPath, std::string(m_main.Bytes()).replace(0x20, 1, 1, '\x40'));  // the hash table "at" 0x4040
    CStringSet snapshot, unscanned;
    CHistoryIndexDat(m_history.Path()).CollectEntries(&snapshot, &unscanned);
    EXPECT_TRUE(snapshot.IsEmpty());
    EXPECT_TRUE(unscanned.Contains(m_mainPath));

    m_main.WriteTo(m_mainPath);
    CHistoryIndexDat(m_history.Path()).RemoveEntries(&snapshot, &unscanned);
    EXPECT_TRUE(ReadTestFile(m_mainPath) == m_main.Bytes());
}

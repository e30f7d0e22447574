// The history stores' edits on stores built by hand: a main container and
// a daily one below it, with what the platform's cache never writes
// ("REDR" records) and what a damaged store looks like.
#include "stores/HistoryIndexDat.h"

#include <gtest/gtest.h>

#include "tests/stores/IndexDatImage.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"

namespace {

constexpr int64_t kT = 1700000000;

// A store as the cache leaves it: hash table and live records marked in
// the allocation bitmap, deleted ones not.
class CHistoryImage {
public:
    CHistoryImage() { m_image.MarkBlocks(CIndexDatImage::kRecordArea, 1); }

    DWORD Live(const char* pszType, const std::string& url, DWORD dwBlocks = 2)
    {
        const DWORD at = m_image.AddUrl(pszType, dwBlocks, FileTimeOf(kT), 0xFE, url);
        m_image.MarkBlocks(at, dwBlocks);
        return at;
    }
    DWORD Deleted(const std::string& url) { return m_image.AddUrl("URL ", 2, FileTimeOf(kT), 0xFE, url); }
    DWORD Redirect()
    {
        const DWORD at = m_image.AddRecord("REDR", 1, 0x11111111);
        m_image.MarkBlocks(at, 1);
        return at;
    }
    CIndexDatImage& Image() { return m_image; }

private:
    CIndexDatImage m_image;
};

class HistoryIndexDatTest : public ::testing::Test {
protected:
    CTempFolder m_history;
    CString m_main = m_history / L"History.IE5\\index.dat";
    CString m_daily = m_history / L"History.IE5\\MSHist012024010120240102\\index.dat";
};

}  // namespace

TEST_F(HistoryIndexDatTest, KeepsTheStartsUrlsAndErasesTheRestInEveryStoreBelowTheFolder)
{
    CHistoryImage main;
    const DWORD kept = main.Live("URL ", "Visited: user@http://kept/");
    const DWORD deletedBefore = main.Deleted("Visited: user@http://cleared-by-user/");
    main.Redirect();
    CHistoryImage daily;
    const DWORD keptDaily = daily.Live("URL ", ":2024010120240102: user@http://kept/");
    WriteTestFile(m_main, main.Image().Bytes());
    WriteTestFile(m_daily, daily.Image().Bytes());
    const std::string start = main.Image().Bytes();
    WriteTestFile(m_history / L"History.IE5\\index.dat.old", start);

    CStringSet snapshot;
    CStringSet unscanned;
    {
        CHistoryIndexDat history(m_history.Path());
        EXPECT_EQ(history.GetFiles(), (std::vector<CString>{m_daily, m_main}));  // subfolders first
        history.CollectEntries(&snapshot, &unscanned);
    }
    CStringSet expected;
    expected.Add(L"Visited: user@http://kept/");
    expected.Add(L":2024010120240102: user@http://kept/");
    EXPECT_EQ(snapshot, expected);  // the deleted record is no history
    EXPECT_TRUE(unscanned.IsEmpty());
    EXPECT_TRUE(SameBytes(ReadTestFile(m_main), start));

    // The session: new visits in both stores, one of them a "LEAK", one a
    // visit the user deleted again, and a URL that was kept at the start.
    const DWORD session = main.Live("URL ", "Visited: user@http://session/", 3);
    const DWORD leak = main.Live("LEAK", "Visited: user@http://session-leak/");
    const DWORD deletedInSession = main.Deleted("Visited: user@http://session-deleted/");
    const DWORD revisitFreedCopy = main.Deleted("Visited: user@http://kept/");
    const DWORD sessionDaily = daily.Live("URL ", ":2024010120240102: user@http://session/");
    WriteTestFile(m_main, main.Image().Bytes());
    WriteTestFile(m_daily, daily.Image().Bytes());

    CHistoryIndexDat history(m_history.Path());
    history.RemoveEntries(&snapshot);
    EXPECT_EQ(history.GetErasedCount(), 6);

    std::string mainAfter = main.Image().Bytes();
    for (const auto& [at, size] : {std::pair{deletedBefore, 256}, {session, 384}, {leak, 256},
                                   {deletedInSession, 256}, {revisitFreedCopy, 256}}) {
        mainAfter.replace(at, size, size, '\0');
    }
    EXPECT_TRUE(SameBytes(ReadTestFile(m_main), mainAfter));
    std::string dailyAfter = daily.Image().Bytes();
    dailyAfter.replace(sessionDaily, 256, 256, '\0');
    EXPECT_TRUE(SameBytes(ReadTestFile(m_daily), dailyAfter));
    EXPECT_TRUE(SameBytes(ReadTestFile(m_history / L"History.IE5\\index.dat.old"), start));

    // An empty snapshot erases every URL left, but no redirect.
    CStringSet empty;
    CHistoryIndexDat again(m_history.Path());
    again.RemoveEntries(&empty);
    EXPECT_EQ(again.GetErasedCount(), 2);
    EXPECT_TRUE(SameBytes(ReadTestFile(m_main), Zeroed(mainAfter, kept, 256)));
    EXPECT_TRUE(SameBytes(ReadTestFile(m_daily), Zeroed(dailyAfter, keptDaily, 256)));
}

TEST_F(HistoryIndexDatTest, AStoreUnreadableAtTheStartIsLeftAsItIsAtTheEnd)
{
    // Its header is damaged when the snapshot is taken, so nothing of it is
    // known; by the clean-up it reads again. Erasing then would take the
    // user's history for the session's.
    CHistoryImage main;
    main.Live("URL ", "Visited: user@http://users-own/");
    std::string damaged = main.Image().Bytes();
    damaged[0x20] = 0x40;  // the first hash table "at" 0x4040
    WriteTestFile(m_main, damaged);

    CStringSet snapshot;
    CStringSet unscanned;
    CHistoryIndexDat(m_history.Path()).CollectEntries(&snapshot, &unscanned);
    EXPECT_TRUE(snapshot.IsEmpty());
    EXPECT_TRUE(unscanned.Contains(m_main));

    WriteTestFile(m_main, main.Image().Bytes());
    CHistoryIndexDat(m_history.Path()).RemoveEntries(&snapshot, &unscanned);
    EXPECT_TRUE(SameBytes(ReadTestFile(m_main), main.Image().Bytes()));
}

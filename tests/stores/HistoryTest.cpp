// The history cleaner on the real store judged by a fresh process, its shell notifications,
// and its edits of hand-built main and daily stores (with "REDR" records, a damaged store).
#include "stores/History.h"
#include "stores/HistoryIndexDat.h"

#include <shlobj.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "cleanup/Deleter.h"
#include "tests/stores/IndexDatImage.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/ExternalReaders.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WindowCapture.h"

namespace {

constexpr UINT kChangeMessage = WM_APP + 61;
std::vector<CString> g_updatedFolders;

// Keeps, in order, the folder of every SHCNE_UPDATEDIR the shell sends.
LRESULT CALLBACK ListenerProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg != kChangeMessage) {
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    }
    PIDLIST_ABSOLUTE* pidls = nullptr;
    LONG event = 0;
    HANDLE lock = SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wParam), static_cast<DWORD>(lParam), &pidls, &event);
    wchar_t path[MAX_PATH] = {};
    if (lock != nullptr && event == SHCNE_UPDATEDIR && pidls[0] != nullptr && SHGetPathFromIDListW(pidls[0], path)) {
        g_updatedFolders.push_back(path);
    }
    if (lock != nullptr) {
        SHChangeNotification_Unlock(lock);
    }
    return 0;
}

// Stores as the cache leaves them: hash table and live records marked in the bitmap.
class HistoryIndexDatTest : public ::testing::Test {
protected:
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
    CIndexDatImage m_main = CIndexDatImage().MarkBlocks(CIndexDatImage::kRecordArea, 1), m_day = m_main;
};

}  // namespace

// What the whole clean-up test does not reach: visits the user cleared before the session
// and the session cleared itself, the URL cache's use of every wiped URL afterwards, and
// the shell told of every history folder after its subfolders.
TEST(History, ClearedVisitsAreNoHistoryWipedUrlsCanBeVisitedAgainAndTheShellHearsOfIt)
{
    const CString tag = UniqueTag();
    auto url = [&](const CString& name) { return L"http://" + tag + L".history.example/" + name; };
    const CString kept = url(L"kept"), clearedBefore = url(L"cleared-before"), clearedDuring = url(L"cleared-during"),
                  fresh = url(L"fresh?q=%C3%A9");
    const CString root = HistoryStore().strFolder.Left(HistoryStore().strFolder.ReverseFind(L'\\')), mine = root + L"\\" + tag;
    const CString day = mine + L"\\MSHist012024010120240102", inner = day + L"\\inner", other = mine + L"\\other";
    CreateTestFolders(inner);
    CreateTestFolders(other);
    // Before the session: two visits, the user cleared one (its record stays, but is no history).
    ASSERT_TRUE(AddHistoryEntry(kept) && AddHistoryEntry(clearedBefore));
    ASSERT_TRUE(DeleteUrlCacheEntryW(L"Visited: user@" + clearedBefore));
    const std::vector<std::string> before = RunTraceAudit(L"urlcache history");
    CHistory history;
    ASSERT_TRUE(history.ReadHistory());

    // The session visits the cleared URL again, a new one, and one it clears itself.
    ASSERT_TRUE(AddHistoryEntry(clearedBefore) && AddHistoryEntry(fresh) && AddHistoryEntry(clearedDuring));
    ASSERT_TRUE(DeleteUrlCacheEntryW(L"Visited: user@" + clearedDuring));
    // A window that the shell tells of changes below the history folder.
    const WNDCLASSW wc = {0, &ListenerProc, 0, 0, GetModuleHandleW(nullptr), nullptr, nullptr, nullptr, nullptr,
                          L"NulvaneHistoryListener"};
    RegisterClassW(&wc);
    HWND hWnd = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    LPITEMIDLIST historyPidl = nullptr;
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_HISTORY, &historyPidl), S_OK);
    SHChangeNotifyEntry entry = {historyPidl, TRUE};
    const ULONG registration = SHChangeNotifyRegister(
        hWnd, SHCNRF_ShellLevel | SHCNRF_InterruptLevel | SHCNRF_NewDelivery, SHCNE_UPDATEDIR, kChangeMessage, 1, &entry);
    ILFree(historyPidl);
    ASSERT_NE(registration, 0u);
    CDeleter deleter(FALSE, FALSE, FALSE);
    history.SetDeleter(&deleter);
    EXPECT_TRUE(history.RunBackgroundTask());
    EXPECT_EQ(RunTraceAudit(L"urlcache history"), before);

    auto position = [](const CString& path) {
        const auto it = std::find_if(g_updatedFolders.begin(), g_updatedFolders.end(),
                                     [&](const CString& s) { return s.CompareNoCase(path) == 0; });
        return it == g_updatedFolders.end() ? -1 : static_cast<int>(it - g_updatedFolders.begin());
    };
    EXPECT_TRUE(PumpMessagesUntil([&] { return position(root) >= 0; }, 5000));
    PumpMessagesFor(100);
    SHChangeNotifyDeregister(registration);
    DestroyWindow(hWnd);
    const int inInner = position(inner), inDay = position(day), inOther = position(other), inMine = position(mine);
    EXPECT_TRUE(inInner >= 0 && inInner < inDay && inDay < inMine && inOther >= 0 && inOther < inMine &&
                inMine < position(root));
    EXPECT_EQ(position(root), static_cast<int>(g_updatedFolders.size()) - 1);
    RemoveTestTree(mine);

    // The user's later browsing can record, find and delete each wiped URL again.
    for (const CString& u : {fresh, clearedBefore, clearedDuring}) {
        CHelperProcess helper;
        ASSERT_TRUE(helper.Start(L"url-cache-roundtrip \"Visited: user@" + u + L"\""));
        EXPECT_EQ(helper.Stop(), 0) << u.ToUtf8();
    }
}

TEST_F(HistoryIndexDatTest, KeepsTheStartsUrlsAndErasesTheRestInEveryStoreBelowTheFolder)
{
    Add(m_main, "URL ", "Visited: user@http://kept/");
    const DWORD deletedBefore = Add(m_main, "URL ", "Visited: user@http://cleared-by-user/", false);
    m_main.MarkBlocks(m_main.AddRecord("REDR", 1, 0x11111111), 1);
    Add(m_day, "URL ", ":2024010120240102: user@http://kept/");
    Write();
    const std::string start = m_main.Bytes();

    CStringSet snapshot, unscanned;
    {
        CHistoryIndexDat history(m_history.Path());
        EXPECT_EQ(history.GetFiles(), (std::vector<CString>{m_dayPath, m_mainPath}));  // subfolders first
        history.CollectEntries(&snapshot, &unscanned);
    }
    EXPECT_EQ(std::set<CString>(snapshot.begin(), snapshot.end()),  // the deleted record is no history
              (std::set<CString>{L"Visited: user@http://kept/", L":2024010120240102: user@http://kept/"}));
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
    std::string mainAfter = m_main.Bytes();
    for (const auto& [at, size] : {std::pair{deletedBefore, 256}, {session, 384}, {leak, 256},
                                   {deletedInSession, 256}, {revisitFreedCopy, 256}}) {
        mainAfter = Zeroed(mainAfter, at, size);
    }
    EXPECT_TRUE(ReadTestFile(m_mainPath) == mainAfter);
    EXPECT_TRUE(ReadTestFile(m_dayPath) == Zeroed(m_day.Bytes(), sessionDaily, 256));
}

TEST_F(HistoryIndexDatTest, AStoreUnreadableAtTheStartIsLeftAsItIsAtTheEnd)
{
    // Damaged at the snapshot, so nothing of it is known; by the clean-up it reads
    // again. Erasing then would take the user's history for the session's.
    Add(m_main, "URL ", "Visited: user@http://users-own/");
    WriteTestFile(m_mainPath, std::string(m_main.Bytes()).replace(0x20, 1, 1, '\x40'));  // the hash table "at" 0x4040
    CStringSet snapshot, unscanned;
    CHistoryIndexDat(m_history.Path()).CollectEntries(&snapshot, &unscanned);
    EXPECT_TRUE(snapshot.IsEmpty() && unscanned.Contains(m_mainPath));

    m_main.WriteTo(m_mainPath);
    CHistoryIndexDat(m_history.Path()).RemoveEntries(&snapshot, &unscanned);
    EXPECT_TRUE(ReadTestFile(m_mainPath) == m_main.Bytes());
}

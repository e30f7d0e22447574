// The history cleaner on the platform's own history store, judged by a
// fresh process; and the shell's change notifications a listener gets.
#include "stores/History.h"

#include <shlobj.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "cleanup/Deleter.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/ExternalReaders.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WindowCapture.h"

namespace {

CString Visited(const CString& url)
{
    return L"Visited: user@" + url;
}

CString HistoryFolder()
{
    wchar_t path[MAX_PATH] = {};
    EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_HISTORY, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
    return CString(path);
}

}  // namespace

// What the whole clean-up test does not reach: visits the user cleared
// before the session and the session cleared itself, and the URL cache's
// use of every wiped URL afterwards.
TEST(History, ClearedVisitsAreNoHistoryAndWipedUrlsCanBeVisitedAgain)
{
    const CString tag = UniqueTag();
    auto url = [&](const CString& name) { return L"http://" + tag + L".history.example/" + name; };
    const CString kept = url(L"kept"), clearedBefore = url(L"cleared-before"), clearedDuring = url(L"cleared-during");
    const CString fresh = url(L"fresh?q=%C3%A9");
    // Before the session: two visits, one of which the user cleared. Its
    // record still lies in the store, but it is no longer history.
    ASSERT_TRUE(AddHistoryEntry(kept));
    ASSERT_TRUE(AddHistoryEntry(clearedBefore));
    ASSERT_TRUE(DeleteUrlCacheEntryW(Visited(clearedBefore)));
    const std::vector<std::string> before = RunTraceAudit(L"urlcache history");
    CHistory history;
    ASSERT_TRUE(history.ReadHistory());
    EXPECT_TRUE(history.GetSnapshot().Contains(Visited(kept)));
    EXPECT_FALSE(history.GetSnapshot().Contains(Visited(clearedBefore)));

    // The session visits the cleared URL again, a new one, and one it
    // clears itself.
    for (const CString& u : {clearedBefore, fresh, clearedDuring}) {
        ASSERT_TRUE(AddHistoryEntry(u));
    }
    ASSERT_TRUE(DeleteUrlCacheEntryW(Visited(clearedDuring)));
    CDeleter deleter(FALSE, FALSE, FALSE);
    history.SetDeleter(&deleter);
    EXPECT_TRUE(history.RunBackgroundTask());
    EXPECT_TRUE(history.GetResult());
    const std::vector<std::string> after = RunTraceAudit(L"urlcache history");
    EXPECT_EQ(after, before);
    EXPECT_EQ(LinesContaining(after, Visited(kept).ToUtf8()).size(), 2u);  // urlcache and history

    // The user's later browsing can record, find and delete each wiped
    // URL again, from a process of its own.
    for (const CString& u : {fresh, clearedBefore, clearedDuring}) {
        CHelperProcess helper;
        ASSERT_TRUE(helper.Start(L"url-cache-roundtrip \"" + Visited(u) + L"\""));
        EXPECT_EQ(helper.Stop(), 0) << u.ToUtf8();
    }
    DeleteUrlCacheEntryW(Visited(kept));
}

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
    if (lock != nullptr && event == SHCNE_UPDATEDIR && pidls != nullptr && pidls[0] != nullptr &&
        SHGetPathFromIDListW(pidls[0], path)) {
        g_updatedFolders.push_back(path);
    }
    if (lock != nullptr) {
        SHChangeNotification_Unlock(lock);
    }
    return 0;
}

}  // namespace

TEST(History, AShellListenerHearsOfEveryHistoryFolderAfterItsSubfolders)
{
    const CString root = HistoryFolder();
    const CString mine = root + L"\\" + UniqueTag();
    const CString day = mine + L"\\MSHist012024010120240102", inner = day + L"\\inner", other = mine + L"\\other";
    CreateTestFolders(inner);
    CreateTestFolders(other);

    // A window that the shell tells of changes below the history folder.
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &ListenerProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"NulvaneHistoryListener";
    RegisterClassW(&wc);
    HWND hWnd = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    LPITEMIDLIST historyPidl = nullptr;
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_HISTORY, &historyPidl), S_OK);
    SHChangeNotifyEntry entry = {historyPidl, TRUE};
    const ULONG registration = SHChangeNotifyRegister(
        hWnd, SHCNRF_ShellLevel | SHCNRF_InterruptLevel | SHCNRF_NewDelivery, SHCNE_UPDATEDIR, kChangeMessage, 1, &entry);
    ILFree(historyPidl);
    ASSERT_NE(registration, 0u);

    CHistory history;
    ASSERT_TRUE(history.ReadHistory());
    CDeleter deleter(FALSE, FALSE, FALSE);
    history.SetDeleter(&deleter);
    ASSERT_TRUE(history.RunBackgroundTask());
    auto position = [&](const CString& path) {
        const auto& f = g_updatedFolders;
        const auto it = std::find_if(f.begin(), f.end(), [&](const CString& s) { return s.CompareNoCase(path) == 0; });
        return it == f.end() ? -1 : static_cast<int>(it - f.begin());
    };
    EXPECT_TRUE(PumpMessagesUntil([&] { return position(root) >= 0; }, 5000));
    PumpMessagesFor(100);
    SHChangeNotifyDeregister(registration);
    DestroyWindow(hWnd);
    const int inInner = position(inner), inDay = position(day), inOther = position(other), inMine = position(mine);
    EXPECT_TRUE(inInner >= 0 && inInner < inDay && inDay < inMine && inOther >= 0 && inOther < inMine &&
                inMine < position(root))
        << inInner << " " << inDay << " " << inOther << " " << inMine << " " << position(root);
    EXPECT_EQ(position(root), static_cast<int>(g_updatedFolders.size()) - 1);
    RemoveTestTree(mine);
}

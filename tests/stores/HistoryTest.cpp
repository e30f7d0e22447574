// The history cleaner on the platform's own history store: visits recorded
// through the URL cache before and during a session, the clean-up, and
// then what a fresh process, the trace-audit tool and libmsiecf's recovery
// mode find; and the shell's change notifications that a listener gets.
#include "stores/History.h"

#include <shlobj.h>
#include <wininet.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

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

// Every index.dat below the history folder, as bytes.
std::map<CString, std::string> HistoryStores()
{
    std::map<CString, std::string> stores;
    for (const CString& path : FindTestFiles({HistoryFolder()}, L"index.dat")) {
        stores[path] = ReadTestFile(path);
    }
    return stores;
}

}  // namespace

TEST(History, VisitsOfTheSessionAreGoneAndEarlierOnesStay)
{
    CTempFolder folder;
    const CString tag = UniqueTag();
    auto url = [&](const CString& name) { return L"http://" + tag + L".history.example/" + name; };
    const CString kept = url(L"kept"), revisited = url(L"revisited"), clearedBefore = url(L"cleared-before");
    const CString clearedDuring = url(L"cleared-during");
    std::vector<CString> session = {url(L"fresh?q=%C3%A9"), clearedBefore, clearedDuring};
    for (int i = 0; i < 20; ++i) {
        session.push_back(url(FormatString(L"page%d", i)));
    }

    // Before the session: three visits, one of which the user cleared.
    for (const CString& u : {kept, revisited, clearedBefore}) {
        ASSERT_TRUE(AddHistoryEntry(u));
    }
    ASSERT_TRUE(DeleteUrlCacheEntryW(Visited(clearedBefore)));
    const std::vector<std::string> before = RunTraceAudit(L"urlcache history");
    CHistory history;
    ASSERT_TRUE(history.ReadHistory());
    EXPECT_TRUE(history.GetSnapshot().Contains(Visited(kept)));
    EXPECT_TRUE(history.GetSnapshot().Contains(Visited(revisited)));
    // Its record still lies in the store, but it is no longer history.
    EXPECT_FALSE(history.GetSnapshot().Contains(Visited(clearedBefore)));

    // The session visits an earlier URL again, new ones, the cleared one,
    // and one it clears itself.
    ASSERT_TRUE(AddHistoryEntry(revisited));
    for (const CString& u : session) {
        ASSERT_TRUE(AddHistoryEntry(u));
    }
    ASSERT_TRUE(DeleteUrlCacheEntryW(Visited(clearedDuring)));

    CDeleter deleter(FALSE, FALSE, FALSE);
    history.SetDeleter(&deleter);
    EXPECT_TRUE(history.RunBackgroundTask());
    EXPECT_TRUE(history.GetResult());

    // The audit tool, a fresh process, lists what it listed before the
    // session; no history store holds a byte of the session's URLs, and
    // the independent reader recovers none from free space.
    const std::vector<std::string> after = RunTraceAudit(L"urlcache history");
    EXPECT_EQ(after, before);
    EXPECT_EQ(LinesContaining(after, Visited(kept).ToUtf8()).size(), 2u);  // urlcache and history
    for (const auto& [path, bytes] : HistoryStores()) {
        const std::multiset<CString> recovered = ExportIndexLocations(folder, path, L"all");
        for (const CString& u : session) {
            EXPECT_EQ(bytes.find(u.ToAnsi()), std::string::npos) << path.ToUtf8() << " " << u.ToUtf8();
            EXPECT_EQ(recovered.count(Visited(u)), 0u) << path.ToUtf8() << " " << u.ToUtf8();
        }
        EXPECT_EQ(recovered.count(Visited(kept)), 1u) << path.ToUtf8();
    }

    // The user's later browsing can record, find and delete each wiped
    // URL again, from a process of its own.
    for (const CString& u : {session[0], clearedBefore, clearedDuring}) {
        CHelperProcess helper;
        ASSERT_TRUE(helper.Start(L"url-cache-roundtrip \"" + Visited(u) + L"\""));
        EXPECT_EQ(helper.Stop(), 0) << u.ToUtf8();
    }
    DeleteUrlCacheEntryW(Visited(kept));
    DeleteUrlCacheEntryW(Visited(revisited));
}

namespace {

constexpr UINT kChangeMessage = WM_APP + 61;

// A window that the shell tells of changes below the history folder; it
// keeps, in order, the folder of every SHCNE_UPDATEDIR it is sent.
class CHistoryListener {
public:
    CHistoryListener()
    {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = &CHistoryListener::WindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"NulvaneHistoryListener";
        RegisterClassW(&wc);
        m_hWnd = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        LPITEMIDLIST history = nullptr;
        EXPECT_EQ(SHGetSpecialFolderLocation(nullptr, CSIDL_HISTORY, &history), S_OK);
        SHChangeNotifyEntry entry = {history, TRUE};
        m_uRegistration = SHChangeNotifyRegister(m_hWnd, SHCNRF_ShellLevel | SHCNRF_InterruptLevel | SHCNRF_NewDelivery,
                                                 SHCNE_UPDATEDIR, kChangeMessage, 1, &entry);
        ILFree(history);
    }
    ~CHistoryListener()
    {
        SHChangeNotifyDeregister(m_uRegistration);
        DestroyWindow(m_hWnd);
    }
    bool Registered() const { return m_hWnd != nullptr && m_uRegistration != 0; }
    const std::vector<CString>& Folders() const { return m_folders; }

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<CHistoryListener*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
        if (uMsg == kChangeMessage && self != nullptr) {
            PIDLIST_ABSOLUTE* pidls = nullptr;
            LONG event = 0;
            HANDLE lock = SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wParam), static_cast<DWORD>(lParam),
                                                    &pidls, &event);
            if (lock != nullptr) {
                wchar_t path[MAX_PATH] = {};
                if (event == SHCNE_UPDATEDIR && pidls != nullptr && pidls[0] != nullptr &&
                    SHGetPathFromIDListW(pidls[0], path)) {
                    self->m_folders.push_back(path);
                }
                SHChangeNotification_Unlock(lock);
            }
            return 0;
        }
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    }

    HWND m_hWnd = nullptr;
    ULONG m_uRegistration = 0;
    std::vector<CString> m_folders;
};

}  // namespace

TEST(History, AShellListenerHearsOfEveryHistoryFolderAfterItsSubfolders)
{
    const CString root = HistoryFolder();
    const CString mine = root + L"\\" + UniqueTag();
    const CString day = mine + L"\\MSHist012024010120240102";
    const CString inner = day + L"\\inner";
    const CString other = mine + L"\\other";
    CreateTestFolders(inner);
    CreateTestFolders(other);

    CHistoryListener listener;
    ASSERT_TRUE(listener.Registered());
    CHistory history;
    ASSERT_TRUE(history.ReadHistory());
    CDeleter deleter(FALSE, FALSE, FALSE);
    history.SetDeleter(&deleter);
    ASSERT_TRUE(history.RunBackgroundTask());

    auto position = [&](const CString& path) {
        const auto& f = listener.Folders();
        const auto it = std::find_if(f.begin(), f.end(), [&](const CString& s) { return s.CompareNoCase(path) == 0; });
        return it == f.end() ? -1 : static_cast<int>(it - f.begin());
    };
    EXPECT_TRUE(PumpMessagesUntil([&] { return position(root) >= 0; }, 5000));
    PumpMessagesFor(100);
    for (const CString& path : {inner, day, other, mine, root}) {
        EXPECT_GE(position(path), 0) << path.ToUtf8();
    }
    EXPECT_LT(position(inner), position(day));
    EXPECT_LT(position(day), position(mine));
    EXPECT_LT(position(other), position(mine));
    EXPECT_LT(position(mine), position(root));
    EXPECT_EQ(position(root), static_cast<int>(listener.Folders().size()) - 1);
    RemoveTestTree(mine);
}

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

#include "cleanup/Deleter.h"
#include "framework/ComPtr.h"
#include "stores/HistoryViewRefresh.h"
#include "tests/stores/UrlCacheSeed.h"
#include "tests/support/ExternalReaders.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/LogCapture.h"
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
    std::vector<CString> folders = {HistoryFolder()};
    while (!folders.empty()) {
        const CString folder = folders.back();
        folders.pop_back();
        WIN32_FIND_DATAW data;
        CFindHandle find(FindFirstFileW(folder + L"\\*", &data));
        if (!find) {
            continue;
        }
        do {
            const CString name(data.cFileName);
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                if (name != L"." && name != L"..") {
                    folders.push_back(folder + L"\\" + name);
                }
            } else if (name.CompareNoCase(L"index.dat") == 0) {
                stores[folder + L"\\" + name] = ReadTestFile(folder + L"\\" + name);
            }
        } while (FindNextFileW(find.get(), &data));
    }
    return stores;
}

// The history keys a fresh process's URL cache lists.
std::set<CString> HistoryKeysFromFreshProcess(const CTempFolder& folder)
{
    const CString output = folder / (UniqueTag() + L".txt").GetString();
    CHelperProcess helper;
    EXPECT_TRUE(helper.Start(L"url-cache-list \"" + output + L"\""));
    EXPECT_EQ(helper.Stop(), 0);
    std::set<CString> keys;
    const CString text = CString::FromUtf8(ReadTestFile(output));
    for (int start = 0; start >= 0;) {
        const CString line = text.Tokenize(L"\n", start);
        if (line.Left(8) == L"Visited:") {
            keys.insert(line.Left(line.Find(L'\t')));
        }
    }
    return keys;
}

void DeleteHistoryEntry(const CString& url)
{
    DeleteUrlCacheEntryW(Visited(url));
}

}  // namespace

TEST(History, VisitsOfTheSessionAreGoneAndEarlierOnesStay)
{
    CTempFolder folder;
    const CString tag = UniqueTag();
    auto url = [&](const wchar_t* pszName) { return FormatString(L"http://%s.history.example/%s", tag.GetString(), pszName); };
    const CString kept = url(L"kept"), revisited = url(L"revisited"), clearedBefore = url(L"cleared-before");
    const CString fresh1 = url(L"fresh1"), fresh2 = url(L"fresh2?q=%C3%A9"), clearedDuring = url(L"cleared-during");
    const std::vector<CString> earlier = {kept, revisited};
    const std::vector<CString> session = {fresh1, fresh2, clearedBefore, clearedDuring};

    // Before the session: three visits, one of which the user cleared.
    for (const CString& u : {kept, revisited, clearedBefore}) {
        ASSERT_TRUE(AddHistoryEntry(u));
    }
    ASSERT_TRUE(DeleteUrlCacheEntryW(Visited(clearedBefore)));
    CHistory history;
    ASSERT_TRUE(history.ReadHistory());
    EXPECT_TRUE(history.GetSnapshot().Contains(Visited(kept)));
    EXPECT_TRUE(history.GetSnapshot().Contains(Visited(revisited)));
    // Its record still lies in the store, but it is no longer history.
    EXPECT_FALSE(history.GetSnapshot().Contains(Visited(clearedBefore)));

    // The session visits an earlier URL again, new ones, the cleared one,
    // and one it clears itself.
    for (const CString& u : {revisited, fresh1, fresh2, clearedBefore, clearedDuring}) {
        ASSERT_TRUE(AddHistoryEntry(u));
    }
    ASSERT_TRUE(DeleteUrlCacheEntryW(Visited(clearedDuring)));
    ASSERT_TRUE(HistoryStores().begin()->second.find(Visited(fresh1).ToAnsi()) != std::string::npos);

    CDeleter deleter(FALSE, FALSE, FALSE);
    history.SetDeleter(&deleter);
    CLogCapture log;
    EXPECT_TRUE(history.RunBackgroundTask());
    EXPECT_TRUE(history.GetResult());
    EXPECT_FALSE(log.HasMessage(L"History cleanup failed"));

    // A fresh process's cache lists the earlier visits and none of the
    // session's; no history store holds a byte of the session's URLs.
    const std::set<CString> listed = HistoryKeysFromFreshProcess(folder);
    for (const CString& u : earlier) {
        EXPECT_EQ(listed.count(Visited(u)), 1u) << u.ToUtf8();
    }
    for (const CString& u : session) {
        EXPECT_EQ(listed.count(Visited(u)), 0u) << u.ToUtf8();
    }
    for (const auto& [path, bytes] : HistoryStores()) {
        for (const CString& u : session) {
            EXPECT_EQ(bytes.find(u.ToAnsi()), std::string::npos) << path.ToUtf8() << " " << u.ToUtf8();
        }
        // Nor can the independent reader recover one from free space.
        const std::multiset<CString> recovered = ExportIndexLocations(folder, path, L"all");
        for (const CString& u : session) {
            EXPECT_EQ(recovered.count(Visited(u)), 0u) << path.ToUtf8() << " " << u.ToUtf8();
        }
        EXPECT_EQ(recovered.count(Visited(kept)), 1u) << path.ToUtf8();
    }

    // The user's later browsing can record, find and delete each wiped
    // URL again, from a process of its own.
    for (const CString& u : session) {
        CHelperProcess helper;
        ASSERT_TRUE(helper.Start(L"url-cache-roundtrip \"" + Visited(u) + L"\""));
        EXPECT_EQ(helper.Stop(), 0) << u.ToUtf8();
    }
    for (const CString& u : earlier) {
        DeleteHistoryEntry(u);
    }
}

TEST(History, TheAuditAfterTheCleanUpIsTheAuditBeforeTheSession)
{
    const CString tag = UniqueTag();
    std::vector<CString> earlier;
    for (int i = 0; i < 5; ++i) {
        earlier.push_back(FormatString(L"http://%s.audit.example/earlier%d", tag.GetString(), i));
        ASSERT_TRUE(AddHistoryEntry(earlier.back()));
    }
    const std::vector<std::string> before = RunTraceAudit(L"urlcache history");
    CHistory history;
    ASSERT_TRUE(history.ReadHistory());

    std::vector<CString> seeded;
    for (int i = 0; i < 20; ++i) {
        seeded.push_back(FormatString(L"http://%s.audit.example/session%d", tag.GetString(), i));
        ASSERT_TRUE(AddHistoryEntry(seeded.back()));
    }
    for (int i = 0; i < 5; i += 2) {
        ASSERT_TRUE(AddHistoryEntry(earlier[static_cast<size_t>(i)]));  // visited again
    }
    const std::vector<std::string> during = RunTraceAudit(L"urlcache history");
    CDeleter deleter(FALSE, FALSE, FALSE);
    history.SetDeleter(&deleter);
    ASSERT_TRUE(history.RunBackgroundTask());
    const std::vector<std::string> after = RunTraceAudit(L"urlcache history indexdat");

    int left = 0;
    for (const CString& u : seeded) {
        EXPECT_EQ(std::count(during.begin(), during.end(), "history\t" + Visited(u).ToUtf8()), 1);
        left += static_cast<int>(LinesContaining(after, u.ToUtf8()).size());
    }
    std::vector<std::string> afterStores = LinesStartingWith(after, "urlcache\t");
    const std::vector<std::string> historyAfter = LinesStartingWith(after, "history\t");
    afterStores.insert(afterStores.end(), historyAfter.begin(), historyAfter.end());
    int lost = 0;
    for (const std::string& line : before) {
        lost += std::count(afterStores.begin(), afterStores.end(), line) == 0 ? 1 : 0;
    }
    printf("history audit: %zu traces seeded, %d left, %d lost; %zu lines before, %zu after\n", seeded.size(), left,
           lost, before.size(), afterStores.size());
    EXPECT_EQ(left, 0);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(afterStores, before);
    for (const CString& u : earlier) {
        DeleteHistoryEntry(u);
    }
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

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <tuple>
#include <vector>

#include "framework/Handles.h"
#include "framework/LanguageManagerResource.h"
#include "resources/Resource.h"
#include "shell/AddressInput.h"
#include "shell/FrameRules.h"
#include "shell/MSDIThreadManager.h"
#include "shell/MainFrame.h"
#include "shell/QuelmarSMDIView.h"
#include "shell/ShellMessages.h"
#include "tests/support/LogCapture.h"
#include "tests/support/MessageBoxAnswerer.h"
#include "tests/support/Printers.h"
#include "tests/support/TestFiles.h"
#include "tests/support/WindowThreadCall.h"

namespace {

TEST(AddressInput, SearchesWordsGoesToHostsAndPathsAndCompletesWithCtrlEnter)
{
    CTempFolder folder;
    WriteTestFile(folder / L"page.htm", "x");
    const CString strFile = folder / L"page.htm";
    // Text, whether it is a search, and (when not) whether it passes the check.
    const std::tuple<CString, bool, bool> cases[] = {
        {L"two words", true, false},         {L"word", true, false},       {L"example.com", false, true},
        {L"example.com/a b", true, false},   {L"http://a b", false, true}, {strFile, false, true},
        {L"C:\\no such\\file.htm", true, false}, {L"http://", false, false}, {L"ftp://h", false, true},
        {L"about:blank", true, true},        {L"http:///path.htm", false, false}};
    for (const auto& [strText, bSearch, bValid] : cases) {
        EXPECT_EQ(CAddressInput::IsSearch(strText), bSearch) << strText.ToUtf8();
        if (!bSearch || strText == L"about:blank") {
            EXPECT_EQ(CAddressInput::IsValidUrl(strText), bValid) << strText.ToUtf8();
        }
    }
    const std::pair<CString, CString> completions[] = {
        {L"w", L"www.w.com"}, {L"http://h/path/x", L"http://www.h.com/path/x"},
        {L"http://www.h.com/p", L"http://www.h.com/p"}, {L"www.w.com", L"www.w.com"}, {L"w.org", L"www.w.org.com"},
        {L"", L""}};
    for (const auto& [strText, strCompleted] : completions) {
        EXPECT_EQ(CAddressInput::Complete(strText), strCompleted) << strText.ToUtf8();
    }
}

TEST(FrameRules, HitZonesHoldUpToTheirEdges)
{
    const SIZE client = {800, 600};
    // Point, resizable, maximised, answer.
    const std::tuple<POINT, bool, bool, LRESULT> cases[] = {
        {{0, 0}, true, false, HTTOPLEFT},        {{27, 27}, true, false, HTTOPLEFT},
        {{28, 27}, true, false, HTCLIENT},       {{28, 3}, true, false, HTTOP},
        {{772, 0}, true, false, HTTOPRIGHT},     {{771, 29}, true, false, HTCAPTION},
        {{29, 5}, true, false, HTCAPTION},       {{400, 4}, true, false, HTCLIENT},
        {{400, 30}, true, false, HTCLIENT},      {{7, 7}, true, false, HTSYSMENU},
        {{23, 23}, true, false, HTSYSMENU},      {{24, 24}, true, false, HTTOPLEFT},
        {{3, 300}, true, false, HTLEFT},         {{4, 300}, true, false, HTCLIENT},
        {{796, 300}, true, false, HTRIGHT},      {{795, 300}, true, false, HTCLIENT},
        {{400, 596}, true, false, HTBOTTOM},     {{400, 595}, true, false, HTCLIENT},
        {{0, 599}, true, false, HTBOTTOMLEFT},   {{772, 572}, true, false, HTBOTTOMRIGHT},
        {{771, 571}, true, false, HTCLIENT},     {{0, 0}, true, true, HTCLIENT},
        {{3, 300}, false, false, HTCLIENT},      {{7, 7}, false, true, HTSYSMENU},
        {{400, 10}, false, true, HTCAPTION}};
    for (const auto& [pt, bResizable, bMaximized, nHit] : cases) {
        EXPECT_EQ(CFrameRules::HitTest(pt, client, bResizable, bMaximized), nHit)
            << pt.x << "," << pt.y << " resizable " << bResizable << " maximised " << bMaximized;
    }
}

TEST(FrameRules, LargestRectanglesTooltipsNearestTabsAndLabels)
{
    const auto largest = CFrameRules::Largest({0, 0, 1024, 768}, {0, 30, 1024, 728}, {4, 5});
    const RECT rcFull = {-4, -5, 1028, 773}, rcMaximized = {-4, 25, 1028, 733};
    EXPECT_TRUE(EqualRect(&largest.rcFullScreen, &rcFull));
    EXPECT_TRUE(EqualRect(&largest.rcMaximized, &rcMaximized));

    EXPECT_STREQ(CFrameRules::MaximizeTooltip(false, false), L"Maximize");
    EXPECT_STREQ(CFrameRules::MaximizeTooltip(false, true), L"Restore Down");
    EXPECT_STREQ(CFrameRules::MaximizeTooltip(true, true), L"Exit Fullscreen");
    EXPECT_STREQ(CFrameRules::MaximizeTooltip(true, false), L"Exit Fullscreen");

    const std::vector<bool> open = {true, false, true, true, false};
    // Current, after, answer.
    const std::tuple<int, bool, int> nearest[] = {{2, false, 0}, {2, true, 3}, {3, true, -1}, {0, false, -1},
                                                  {1, true, 2}, {4, false, 3}};
    for (const auto& [nCurrent, bAfter, nAnswer] : nearest) {
        EXPECT_EQ(CFrameRules::NearestOpenTab(open, nCurrent, bAfter), nAnswer) << nCurrent << " " << bAfter;
    }

    const std::pair<CString, CString> labels[] = {{L"Nulvane Search - results", L"Nulvane Search"},
                                                  {L"SEARCH the web with NULVANE", L"Nulvane Search"},
                                                  {L"Search", L"Search"}, {L"Nulvane", L"Nulvane"}};
    for (const auto& [strTitle, strLabel] : labels) {
        EXPECT_EQ(CFrameRules::TabLabel(strTitle), strLabel);
    }
    EXPECT_EQ(CFrameRules::WindowTitle(L"", L"Nulvane"), L"Nulvane");
    EXPECT_EQ(CFrameRules::WindowTitle(L"A page", L"Nulvane"), L"A page - Nulvane");
}

// Keys pressed in order and let go in reverse, as a user's fingers do.
void PressKeys(std::initializer_list<WORD> keys)
{
    std::vector<INPUT> inputs;
    for (WORD vk : keys) {
        inputs.push_back(INPUT{INPUT_KEYBOARD, {.ki = {vk, 0, 0, 0, 0}}});
    }
    for (auto it = keys.end(); it != keys.begin();) {
        inputs.push_back(INPUT{INPUT_KEYBOARD, {.ki = {*--it, 0, KEYEVENTF_KEYUP, 0, 0}}});
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

void TypeText(const CString& strText)
{
    std::vector<INPUT> inputs;
    for (int i = 0; i < strText.GetLength(); ++i) {
        for (DWORD dwUp : {0ul, static_cast<DWORD>(KEYEVENTF_KEYUP)}) {
            inputs.push_back(INPUT{INPUT_KEYBOARD, {.ki = {0, strText[i], KEYEVENTF_UNICODE | dwUp, 0, 0}}});
        }
    }
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// Real browser windows on window threads, with this thread as the
// application thread.
class BrowserWindow : public testing::Test {
protected:
    void SetUp() override { m_hWnd = OpenWindow(); }
    void TearDown() override { m_manager.EndAllThreads(); }

    HWND OpenWindow()
    {
        const size_t nBefore = m_manager.GetThreadCount();
        m_manager.OpenDocumentFile(m_strPage);
        const bool bUp = PumpUntil([&] {
            const std::vector<HWND> windows = m_manager.GetMainWindows();
            return windows.size() > nBefore && windows.back() != nullptr && IsWindowVisible(windows.back());
        });
        return bUp ? m_manager.GetMainWindows().back() : nullptr;
    }

    // The application thread's loop, which also takes the threads' reports.
    bool PumpUntil(const std::function<bool()>& condition, DWORD dwTimeoutMs = 20000)
    {
        const ULONGLONG ullDeadline = GetTickCount64() + dwTimeoutMs;
        while (!condition()) {
            if (GetTickCount64() >= ullDeadline) {
                return false;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.hwnd == nullptr) {
                    m_manager.HandleThreadMessage(msg);
                }
                DispatchMessageW(&msg);
            }
        }
        return true;
    }

    template <typename T>
    T OnFrame(const std::function<T(CMainFrame&)>& fn)
    {
        T result{};
        RunOnWindowThread(m_hWnd, [&] { result = fn(*dynamic_cast<CMainFrame*>(CWindow::FromHandle(m_hWnd))); });
        return result;
    }
    int CurrentTab() { return OnFrame<int>([](CMainFrame& f) { return f.GetTabStrip().GetCurSel(); }); }
    int OpenTabs() { return OnFrame<int>([](CMainFrame& f) { return f.GetTabStrip().GetOpenCount(); }); }
    bool FullScreen() { return OnFrame<bool>([](CMainFrame& f) { return f.IsFullScreen(); }); }
    CString MaximizeTip() { return OnFrame<CString>([](CMainFrame& f) { return f.GetTopBar().GetMaximizeTooltip(); }); }

    // The browser views that exist, shown or not.
    int Views() const
    {
        int nViews = 0;
        EnumChildWindows(
            m_hWnd,
            [](HWND hChild, LPARAM lParam) {
                wchar_t szClass[64] = {};
                GetClassNameW(hChild, szClass, 64);
                *reinterpret_cast<int*>(lParam) += wcscmp(szClass, L"NulvaneBrowserView") == 0 ? 1 : 0;
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&nViews));
        return nViews;
    }
    void Command(UINT nId, HWND hWnd = nullptr) { PostMessageW(hWnd != nullptr ? hWnd : m_hWnd, WM_COMMAND, nId, 0); }
    bool WaitFor(const std::function<bool()>& condition) { return PumpUntil(condition, 8000); }
    HWND Focus()
    {
        GUITHREADINFO info = {sizeof(info)};
        GetGUIThreadInfo(GetWindowThreadProcessId(m_hWnd, nullptr), &info);
        return info.hwndFocus;
    }
    HWND TopBarItem(int nId) const { return GetDlgItem(GetDlgItem(m_hWnd, IDD_TOP_BAR), nId); }
    // The text of the tooltip window (owned by the top bar) that serves the control.
    CString TooltipOf(HWND hControl) const
    {
        std::pair<HWND, CString> search(hControl, CString());
        EnumThreadWindows(
            GetWindowThreadProcessId(m_hWnd, nullptr),
            [](HWND hTip, LPARAM lParam) {
                auto& [hTool, strText] = *reinterpret_cast<std::pair<HWND, CString>*>(lParam);
                wchar_t szText[256] = {};
                TTTOOLINFOW info = {};
                info.cbSize = sizeof(info);
                info.hwnd = GetWindow(hTip, GW_OWNER);
                info.uId = reinterpret_cast<UINT_PTR>(hTool);
                info.lpszText = szText;
                if (SendMessageW(hTip, TTM_GETTOOLINFOW, 0, reinterpret_cast<LPARAM>(&info))) {
                    SendMessageW(hTip, TTM_GETTEXTW, std::size(szText), reinterpret_cast<LPARAM>(&info));
                    strText = szText;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.second;
    }

    CTempFolder m_folder;
    CString m_strPage = Page(L"page-a.html");
    CMSDIThreadManager m_manager{GetCurrentThreadId(), L"about:blank"};
    HWND m_hWnd = nullptr;

    CString Page(const wchar_t* pszName)
    {
        WriteTestFile(m_folder / pszName, "<html><head><title>A test page</title></head><body>A page</body></html>");
        return L"file:///" + (m_folder / pszName);
    }
};

TEST_F(BrowserWindow, StandsInTheTaskbarWithItsBarsAndCountsItsTabsByTheirViews)
{
    ASSERT_NE(m_hWnd, nullptr);
    HWND hOwner = GetWindow(m_hWnd, GW_OWNER);
    EXPECT_TRUE(hOwner != nullptr && !IsWindowVisible(hOwner));
    EXPECT_NE(GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
    EXPECT_EQ(GetWindowLongPtrW(m_hWnd, GWL_STYLE) & WS_CAPTION, 0);
    wchar_t szTitle[64] = {};
    GetWindowTextW(m_hWnd, szTitle, 64);
    EXPECT_STREQ(szTitle, L"Nulvane");
    for (int nId : {IDC_PREVIOUS, IDC_NEXT, IDC_HOME, IDC_REFRESH, IDC_STOP, IDC_ADDRESS, IDC_GOTO_ADDRESS,
                    IDC_SEARCH_TEXT, IDC_SEARCH, IDC_PAGE_ICON, IDC_PRINT, IDC_TOOLS, ID_BOSS_BUTTON, IDC_MINIMIZE,
                    IDC_MAXIMIZE, IDC_CLOSE}) {
        EXPECT_TRUE(IsWindowVisible(TopBarItem(nId))) << nId;
    }
    EXPECT_NE(GetDlgItem(m_hWnd, IDD_STATUS_BAR), nullptr);
    EXPECT_NE(GetWindowTextLengthW(TopBarItem(IDC_ADDRESS)), 0);
    // Each button's tooltip, as its own tooltip window holds it.
    const std::pair<int, const wchar_t*> tips[] = {{IDC_PREVIOUS, L"PREVIOUS"}, {IDC_GOTO_ADDRESS, L"GOTO_ADDRESS"},
                                                   {ID_BOSS_BUTTON, L"BOSS_BUTTON_TOOLTIP"}, {IDC_CLOSE, L"CLOSE"}};
    for (const auto& [nId, pszKey] : tips) {
        EXPECT_EQ(TooltipOf(TopBarItem(nId)), CLanguageManagerResource::Instance()->GetString(pszKey)) << nId;
    }
    auto closeTabGreyed = [&] {
        return OnFrame<bool>([](CMainFrame& f) { return (GetMenuState(f.GetMenu(), ID_CLOSE_TAB, 0) & MF_GRAYED) != 0; });
    };
    EXPECT_TRUE(closeTabGreyed());
    // The strip is up: other copies may hand over their addresses.
    EXPECT_TRUE(CHandle(OpenMutexW(SYNCHRONIZE, FALSE, CMainFrame::kTabOpenMutexName)));

    Command(ID_NEW_TAB);
    Command(ID_NEW_TAB);
    ASSERT_TRUE(WaitFor([&] { return Views() == 3; }));
    EXPECT_EQ(CurrentTab(), 2);
    EXPECT_FALSE(closeTabGreyed());
    // A tab in the background reports to nobody.
    EXPECT_TRUE(OnFrame<bool>([](CMainFrame& f) {
        f.SetAddressText(dynamic_cast<CQuelmarSMDIView*>(f.GetViews().front().get()), L"http://background.test/");
        f.SetAddressText(f.GetActiveBrowserView(), L"http://current.test/");
        return f.GetTopBar().GetAddressText() == L"http://current.test/";
    }));
    // Previous and next stop at the ends.
    const std::pair<UINT, int> moves[] = {{ID_PREVIOUS_TAB, 1}, {ID_PREVIOUS_TAB, 0}, {ID_PREVIOUS_TAB, 0},
                                          {ID_NEXT_TAB, 1}};
    for (const auto& [nCommand, nTab] : moves) {
        Command(nCommand);
        EXPECT_TRUE(WaitFor([&] { return CurrentTab() == nTab; })) << nCommand << " to " << nTab;
    }
    // Closing the second tab selects the nearest before it; its view goes
    // once its page has unloaded, which Wine never reports: after 40 ticks.
    Command(ID_CLOSE_TAB);
    EXPECT_TRUE(WaitFor([&] { return OpenTabs() == 2 && CurrentTab() == 0; }));
    EXPECT_TRUE(WaitFor([&] { return Views() == 2; }));
    // The strip's close-others keeps only its tab; Close Tab on the last
    // tab closes the window.
    PostMessageW(m_hWnd, TTabWnd::WM_TAB_CLOSE_OTHERS, 2, 0);
    EXPECT_TRUE(WaitFor([&] { return OpenTabs() == 1 && CurrentTab() == 2; }));
    // The tab menu's items sent to the window act on the current tab.
    Command(ID_TAB_NEW);
    EXPECT_TRUE(WaitFor([&] { return OpenTabs() == 2 && CurrentTab() == 3; }));
    Command(ID_TAB_CLOSE_OTHERS);
    EXPECT_TRUE(WaitFor([&] { return OpenTabs() == 1 && CurrentTab() == 3; }));
    Command(ID_CLOSE_TAB);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(m_hWnd); }));
}

TEST_F(BrowserWindow, FullScreenComesBackToItsRectangleAndTheMaximiseTooltipFollows)
{
    ASSERT_NE(m_hWnd, nullptr);
    EXPECT_EQ(MaximizeTip(), L"Restore Down");
    Command(IDC_MAXIMIZE);
    ASSERT_TRUE(WaitFor([&] { return !IsZoomed(m_hWnd); }));
    EXPECT_EQ(MaximizeTip(), L"Maximize");
    // No smaller than 450 by 300.
    SetWindowPos(m_hWnd, nullptr, 100, 80, 200, 100, SWP_NOZORDER);
    RECT rc = {};
    GetWindowRect(m_hWnd, &rc);
    EXPECT_TRUE(rc.right - rc.left == 450 && rc.bottom - rc.top == 300) << rc.right - rc.left << "x" << rc.bottom - rc.top;
    const RECT rcNormal = {100, 80, 700, 520};
    SetWindowPos(m_hWnd, nullptr, 100, 80, 600, 440, SWP_NOZORDER);

    // Full screen puts the frame just off the screen on every side.
    RECT rcFrame = {0, 0, 0, 0};
    AdjustWindowRectEx(&rcFrame, static_cast<DWORD>(GetWindowLongPtrW(m_hWnd, GWL_STYLE)), FALSE, 0);
    const RECT rcFull = {rcFrame.left, rcFrame.top, GetSystemMetrics(SM_CXSCREEN) + rcFrame.right,
                         GetSystemMetrics(SM_CYSCREEN) + rcFrame.bottom};
    Command(ID_VIEW_FULL_SCREEN);
    EXPECT_TRUE(WaitFor([&] { return GetWindowRect(m_hWnd, &rc) && EqualRect(&rc, &rcFull); }));
    EXPECT_EQ(MaximizeTip(), L"Exit Fullscreen");
    // Stop leaves full screen first.
    Command(ID_VIEW_STOP);
    EXPECT_TRUE(WaitFor([&] { return GetWindowRect(m_hWnd, &rc) && EqualRect(&rc, &rcNormal); }));
    EXPECT_FALSE(FullScreen());
    EXPECT_EQ(MaximizeTip(), L"Maximize");
    Command(IDC_MAXIMIZE);
    EXPECT_TRUE(WaitFor([&] { return IsZoomed(m_hWnd) != FALSE; }));
    EXPECT_EQ(MaximizeTip(), L"Restore Down");
}

TEST_F(BrowserWindow, KeysReachTheirCommandsAndAnAddressTypedWithEnterNavigates)
{
    ASSERT_NE(m_hWnd, nullptr);
    SetForegroundWindow(m_hWnd);
    ASSERT_TRUE(WaitFor([&] { return GetForegroundWindow() == m_hWnd; }));
    const int nViews = Views();
    struct {
        std::initializer_list<WORD> keys;
        std::function<bool()> reached;
    } const keys[] = {
        {{VK_CONTROL, 'T'}, [&] { return Views() == nViews + 1 && CurrentTab() == 1; }},
        {{VK_CONTROL, VK_SHIFT, VK_TAB}, [&] { return CurrentTab() == 0; }},
        {{VK_CONTROL, VK_TAB}, [&] { return CurrentTab() == 1; }},
        {{VK_CONTROL, 'W'}, [&] { return OpenTabs() == 1 && CurrentTab() == 0; }},
        {{VK_F11}, [&] { return FullScreen(); }},
        {{VK_ESCAPE}, [&] { return !FullScreen(); }},
        {{VK_CONTROL, 'E'}, [&] { return Focus() == TopBarItem(IDC_SEARCH_TEXT) && !GetWindowTextLengthW(Focus()); }},
        {{VK_MENU, 'D'}, [&] { return Focus() == TopBarItem(IDC_ADDRESS); }},
    };
    for (const auto& key : keys) {
        PressKeys(key.keys);
        EXPECT_TRUE(WaitFor(key.reached)) << "key " << *key.keys.begin() << " then " << *(key.keys.end() - 1);
    }

    // Alt+D selected the address: typing replaces it, Enter goes there.
    CLogCapture log;
    const CString strPageB = Page(L"page-b.html");
    TypeText(strPageB);
    PressKeys({VK_RETURN});
    EXPECT_TRUE(WaitFor([&] { return log.HasMessage(L"CQuelmarSMDIView::OnBeforeNavigate2Explorer1 start"); }));
    EXPECT_TRUE(WaitFor([&] {
        return OnFrame<CString>([](CMainFrame& f) { return f.GetActiveBrowserView()->GetLocationUrl(); })
                   .Find(L"page-b.html") >= 0;
    }));

    // An address that does not split gets the box and stays, selected.
    CMessageBoxAnswerer::CSeen seen;
    RunOnWindowThread(m_hWnd, [&] {
        CMessageBoxAnswerer answerer(L"Nulvane", IDOK);
        dynamic_cast<CMainFrame*>(CWindow::FromHandle(m_hWnd))->GoToAddress(L"http:///nowhere");
        seen = answerer.Seen();
    });
    EXPECT_EQ(seen.strText, L"Cannot find 'http:///nowhere'. Make sure the path or Internet address is correct.");
    DWORD dwStart = 0, dwEnd = 0;
    SendMessageW(TopBarItem(IDC_ADDRESS), EM_GETSEL, reinterpret_cast<WPARAM>(&dwStart), reinterpret_cast<LPARAM>(&dwEnd));
    EXPECT_TRUE(dwStart == 0 && dwEnd == 15) << dwStart << "-" << dwEnd;

    PressKeys({VK_CONTROL, VK_SHIFT, 'W'});
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(m_hWnd); }));
}

TEST_F(BrowserWindow, BossActsOnceAndACloseWaitsFortyTicksForTabsThatNeverBlank)
{
    ASSERT_NE(m_hWnd, nullptr);
    const HWND hSecond = OpenWindow();
    ASSERT_NE(hSecond, nullptr);
    CLogCapture log;
    const ULONGLONG ullStart = GetTickCount64();
    PostMessageW(m_hWnd, WM_FRAME_BOSS, 0, 0);
    PostMessageW(m_hWnd, WM_FRAME_BOSS, 0, 0);
    PostMessageW(hSecond, WM_CLOSE, 0, 0);
    // Both hide at once and leave the taskbar; the boss's window for good.
    EXPECT_TRUE(WaitFor([&] { return !IsWindowVisible(m_hWnd) && !IsWindowVisible(hSecond); }));
    EXPECT_EQ(GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
    EXPECT_TRUE(IsWindow(m_hWnd) && IsWindow(hSecond));
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(m_hWnd) && !IsWindow(hSecond); }));
    const ULONGLONG ullElapsed = GetTickCount64() - ullStart;
    EXPECT_TRUE(ullElapsed >= 1900 && ullElapsed < 6000) << ullElapsed;
    EXPECT_EQ(log.CountMessage(L"CMainFrame::OnCloseTick closing after 40 ticks, 1 tabs still loading"), 2);
    EXPECT_EQ(log.CountMessage(L"CMainFrame::BeginClose blanking 1 tabs"), 2);
    EXPECT_EQ(log.CountMessage(L"CMainFrame::OnBoss leaving the taskbar"), 1);
}

}  // namespace

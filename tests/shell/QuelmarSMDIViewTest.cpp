#include "shell/QuelmarSMDIView.h"

#include <gtest/gtest.h>

#include <optional>

#include "framework/ComPtr.h"
#include "shell/MainFrame.h"
#include "shell/ShellMessages.h"
#include "tests/shell/ShellTestSupport.h"
#include "tests/support/LogCapture.h"
#include "tests/support/Printers.h"
#include "tests/support/WindowThreadCall.h"

namespace {

constexpr DWORD kUserInitiated = 0x2;
constexpr DWORD kFirst = 0x4;
constexpr DWORD kOverrideKey = 0x8;

class BrowserView : public ::testing::Test {
protected:
    void SetUp() override
    {
        manager.OpenDocumentFile(page.strUrl);
        ASSERT_TRUE(pump.PumpUntil([&] { return pump.Started() == 1; }));
        hFrame = manager.GetMainWindows()[0];
        pView = BrowserViewOf(hFrame);
        ASSERT_NE(pView, nullptr);
    }
    void TearDown() override
    {
        manager.EndAllThreads();
        pump.PumpFor(50);
    }

    // Feeds a new-window event to the view on its thread, as its control
    // would (flags: NewWindow3's; none: NewWindow2); whether the request
    // went ahead with a browser.
    bool NewWindow(std::optional<DWORD> flags = std::nullopt)
    {
        bool bCancel = false;
        bool bGotBrowser = false;
        RunOnWindowThread(hFrame, [&] {
            CComPtr<IDispatch> pDisp;
            if (flags) {
                pView->OnNewWindow3(pDisp.put(), bCancel, *flags, page.strUrl, L"http://example.com/popup");
            } else {
                pView->OnNewWindow2(pDisp.put(), bCancel);
            }
            bGotBrowser = static_cast<bool>(pDisp);
        });
        EXPECT_EQ(bGotBrowser, !bCancel);
        return !bCancel;
    }

    CTempFolder folder;
    CTestPage page = WriteTestPage(folder, L"view.html");
    CTestThreadManager manager;
    CAppThreadPump pump{manager};
    HWND hFrame = nullptr;
    CQuelmarSMDIView* pView = nullptr;
};

}  // namespace

TEST(PopupRules, ScriptWindowsNeedARecentClickOrTheUsersOwnAction)
{
    const ULONGLONG now = 100000;
    // NewWindow2: blocking on, not requested by the user.
    EXPECT_FALSE(CQuelmarSMDIView::AllowNewWindow2(true, false, 0, now));
    EXPECT_TRUE(CQuelmarSMDIView::AllowNewWindow2(true, false, now - 1000, now));
    EXPECT_FALSE(CQuelmarSMDIView::AllowNewWindow2(true, false, now - 1001, now));
    EXPECT_FALSE(CQuelmarSMDIView::AllowNewWindow2(true, false, now + 5, now));
    EXPECT_TRUE(CQuelmarSMDIView::AllowNewWindow2(true, true, 0, now));
    EXPECT_TRUE(CQuelmarSMDIView::AllowNewWindow2(false, false, 0, now));

    EXPECT_FALSE(CQuelmarSMDIView::AllowNewWindow3(true, false, 0));
    EXPECT_FALSE(CQuelmarSMDIView::AllowNewWindow3(true, false, kUserInitiated));
    EXPECT_FALSE(CQuelmarSMDIView::AllowNewWindow3(true, false, kFirst));
    EXPECT_TRUE(CQuelmarSMDIView::AllowNewWindow3(true, false, kUserInitiated | kFirst));
    EXPECT_TRUE(CQuelmarSMDIView::AllowNewWindow3(true, false, kOverrideKey));
    EXPECT_TRUE(CQuelmarSMDIView::AllowNewWindow3(true, true, 0));
    EXPECT_TRUE(CQuelmarSMDIView::AllowNewWindow3(false, false, 0));
}

TEST_F(BrowserView, BlockedPopupsStartNoWindowAndAllowedOnesGetOne)
{
    CLogCapture log;
    EXPECT_FALSE(NewWindow());
    EXPECT_FALSE(NewWindow(kUserInitiated));
    EXPECT_EQ(log.CountMessage(L"CQuelmarSMDIView::CreateNewWindow start"), 0);
    EXPECT_EQ(manager.GetThreadCount(), 1u);

    EXPECT_TRUE(NewWindow(kUserInitiated | kFirst));
    EXPECT_EQ(manager.GetThreadCount(), 2u);

    // The user's own new-window command lets exactly one request through.
    SendMessageW(pView->GetSafeHwnd(), WM_VIEW_USER_REQUESTED_WINDOW, 0, 0);
    EXPECT_TRUE(NewWindow());
    EXPECT_FALSE(NewWindow());
    EXPECT_EQ(manager.GetThreadCount(), 3u);
    EXPECT_EQ(log.CountMessage(L"CQuelmarSMDIView::CreateNewWindow end, returning true"), 2);
}

TEST_F(BrowserView, AClickInThePageLetsAScriptWindowThroughUntilTheNextPage)
{
    HWND hControl = nullptr;
    RunOnWindowThread(hFrame, [&] { hControl = pView->GetBrowserSite()->GetControlWindow(); });
    ASSERT_NE(hControl, nullptr);

    // Through the window thread's own message loop, as a real click comes.
    PostMessageW(hControl, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    PostMessageW(hControl, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
    ULONGLONG ullClick = 0;
    ASSERT_TRUE(pump.PumpUntil([&] {
        RunOnWindowThread(hFrame, [&] { ullClick = pView->GetLastClickTime(); });
        return ullClick != 0;
    }));
    EXPECT_TRUE(NewWindow());

    RunOnWindowThread(hFrame, [&] { pView->OnNavigateComplete2(nullptr, page.strUrl); });
    RunOnWindowThread(hFrame, [&] { ullClick = pView->GetLastClickTime(); });
    EXPECT_EQ(ullClick, 0u);
    EXPECT_FALSE(NewWindow());

    RunOnWindowThread(hFrame, [&] { pView->SetBlockPopups(false); });
    EXPECT_TRUE(NewWindow());
}

TEST_F(BrowserView, TellsTheFrameAndTheApplicationWhatTheControlReports)
{
    RunOnWindowThread(hFrame, [&] {
        pView->OnTitleChange(L"A page");
        pView->OnDocumentComplete(nullptr, page.strUrl);
    });
    wchar_t szTitle[64] = {};
    GetWindowTextW(hFrame, szTitle, 64);
    EXPECT_STREQ(szTitle, L"A page - Nulvane");
    EXPECT_TRUE(pump.PumpUntil([&] { return pump.CleanupCacheRequests() == 1; }));

    CLogCapture log;
    bool bCancel = false;
    RunOnWindowThread(hFrame, [&] { pView->OnBeforeNavigate2(nullptr, page.strUrl, bCancel); });
    EXPECT_FALSE(bCancel);
    EXPECT_EQ(log.Messages(), (std::vector<CString>{L"CQuelmarSMDIView::OnBeforeNavigate2Explorer1 start",
                                                    L"CQuelmarSMDIView::OnBeforeNavigate2Explorer1 end"}));
}

#include "framework/Dialog.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "resources/Resource.h"
#include "tests/support/TestWindow.h"

namespace {

constexpr UINT kPosted = WM_APP + 7;

// Any template will do: the program's clean-up dialog, without its code.
class CPlainDialog : public CDialog {
public:
    explicit CPlainDialog(HWND hParent = nullptr) : CDialog(IDD_CLEANUP, hParent) {}
    std::function<void(CPlainDialog&)> onInit;
    std::function<void(CPlainDialog&, UINT_PTR)> onTimer;
    bool bShown = false;

protected:
    BOOL OnInitDialog() override
    {
        SetTimer(GetSafeHwnd(), 1, 10, nullptr);
        if (onInit) {
            onInit(*this);
        }
        return TRUE;
    }
    void OnTimer(UINT_PTR nIDEvent) override
    {
        if (onTimer) {
            onTimer(*this, nIDEvent);
        }
    }
    bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM, INT_PTR&) override
    {
        bShown = bShown || (uMsg == WM_SHOWWINDOW && wParam != 0);
        return false;
    }
};

}  // namespace

TEST(Dialog, HandsThreadMessagesToItsHandlerWhileModal)
{
    CPlainDialog dialog;
    std::vector<WPARAM> received;
    dialog.SetThreadMessageHandler([&](const MSG& msg) {
        if (msg.message == kPosted) {
            received.push_back(msg.wParam);
        }
    });
    dialog.onInit = [](CPlainDialog&) {
        PostThreadMessageW(GetCurrentThreadId(), kPosted, 1, 0);
        PostThreadMessageW(GetCurrentThreadId(), kPosted, 2, 0);
    };
    dialog.onTimer = [&](CPlainDialog& dlg, UINT_PTR) {
        if (received.size() == 2) {
            dlg.EndDialog(42);
        }
    };
    EXPECT_EQ(dialog.DoModal(), 42);
    EXPECT_EQ(received, (std::vector<WPARAM>{1, 2}));
    EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
}

TEST(Dialog, AQuitMessageEndsItAndReachesTheOuterLoop)
{
    CPlainDialog dialog;
    dialog.onInit = [](CPlainDialog&) { PostQuitMessage(10); };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 10u);
}

TEST(Dialog, DisablesItsOwnerOnlyWhileItRuns)
{
    CTestParentWindow owner;
    CPlainDialog dialog(owner.Get());
    bool bOwnerEnabledDuring = true;
    dialog.onInit = [&](CPlainDialog& dlg) {
        bOwnerEnabledDuring = IsWindowEnabled(owner.Get()) != FALSE;
        EXPECT_EQ(GetWindow(dlg.GetSafeHwnd(), GW_OWNER), owner.Get());
        PostMessageW(dlg.GetSafeHwnd(), WM_COMMAND, IDCANCEL, 0);
    };
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
    EXPECT_FALSE(bOwnerEnabledDuring);
    EXPECT_TRUE(IsWindowEnabled(owner.Get()));
}

TEST(Dialog, EndingInsideInitialisationNeverShowsIt)
{
    CPlainDialog dialog;
    bool bTimerRan = false;
    dialog.onInit = [&](CPlainDialog& dlg) { dlg.EndDialog(IDOK); };
    dialog.onTimer = [&](CPlainDialog&, UINT_PTR) { bTimerRan = true; };
    EXPECT_EQ(dialog.DoModal(), IDOK);
    EXPECT_FALSE(dialog.bShown);
    EXPECT_FALSE(bTimerRan);

    // The same dialog shows when it is not ended at once.
    CPlainDialog shown;
    shown.onTimer = [](CPlainDialog& dlg, UINT_PTR) { dlg.EndDialog(IDOK); };
    EXPECT_EQ(shown.DoModal(), IDOK);
    EXPECT_TRUE(shown.bShown);
}

TEST(Dialog, AMissingTemplateGivesMinusOne)
{
    class CMissing : public CDialog {
    public:
        CMissing() : CDialog(4242) {}
    } dialog;
    EXPECT_EQ(dialog.DoModal(), -1);
}

#include "framework/Dialog.h"
#include "framework/Window.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "resources/Resource.h"
#include "tests/support/TestWindow.h"

namespace {

class CProbeWindow : public CWindow {
public:
    bool bThrowAtCreate = false;
    int nCaught = 0;

    bool Create()
    {
        return RegisterWindowClass(L"FrameworkWindowTest", 0, nullptr, nullptr, nullptr) &&
               CreateEx(0, L"FrameworkWindowTest", L"probe", WS_POPUP, 0, 0, 50, 50, nullptr, 0);
    }

protected:
    int OnCreate(const CREATESTRUCTW&) override
    {
        if (bThrowAtCreate) {
            throw std::runtime_error("create");
        }
        return 0;
    }
    bool OnMessage(UINT uMsg, WPARAM, LPARAM, LRESULT&) override
    {
        if (uMsg == WM_APP) {
            throw std::runtime_error("handler");
        }
        return false;
    }
    void OnUnhandledException(const wchar_t*) noexcept override { ++nCaught; }
};

// Any template will do: the program's clean-up dialog, without its code.
class CPlainDialog : public CDialog {
public:
    explicit CPlainDialog(HWND hParent, UINT nIDTemplate = IDD_CLEANUP) : CDialog(nIDTemplate, hParent) {}
    std::function<void()> onInit;

protected:
    BOOL OnInitDialog() override
    {
        onInit();
        return TRUE;
    }
};

}  // namespace

TEST(Window, StopsEveryExceptionAndNeverTakesAnotherClasssWindowForOne)
{
    CProbeWindow window;
    ASSERT_TRUE(window.Create());
    const HWND hWnd = window.GetSafeHwnd();
    EXPECT_EQ(CWindow::FromHandle(hWnd), &window);
    EXPECT_EQ(SendMessageW(hWnd, WM_APP, 0, 0), 0);
    EXPECT_EQ(window.nCaught, 1);
    EXPECT_TRUE(window.DestroyWindow());
    EXPECT_EQ(CWindow::FromHandle(hWnd), nullptr);

    // Whatever the other window's user data holds.
    HWND hStatic = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    SetWindowLongPtrW(hStatic, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&window));
    EXPECT_EQ(CWindow::FromHandle(hStatic), nullptr);
    DestroyWindow(hStatic);

    CProbeWindow throwing;
    throwing.bThrowAtCreate = true;
    EXPECT_FALSE(throwing.Create());
    EXPECT_EQ(throwing.GetSafeHwnd(), nullptr);
    EXPECT_EQ(throwing.nCaught, 1);
}

TEST(Dialog, AQuitEndsItAndReachesTheOuterLoopAndTheOwnerIsDisabledOnlyWhileItRuns)
{
    CTestParentWindow owner;
    CPlainDialog quit(owner.Get());
    bool bOwnerEnabledDuring = true;
    quit.onInit = [&] {
        bOwnerEnabledDuring = IsWindowEnabled(owner.Get()) != FALSE;
        PostQuitMessage(10);
    };
    EXPECT_EQ(quit.DoModal(), IDCANCEL);
    EXPECT_FALSE(bOwnerEnabledDuring);
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 10u);
    EXPECT_TRUE(IsWindowEnabled(owner.Get()));
    // Without a template: refused, and the owner stays usable.
    EXPECT_EQ(CPlainDialog(owner.Get(), 4242).DoModal(), -1);
    EXPECT_TRUE(IsWindowEnabled(owner.Get()));
}

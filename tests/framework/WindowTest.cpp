#include "framework/Window.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

const wchar_t kTestClass[] = L"FrameworkWindowTest";

class CProbeWindow : public CWindow {
public:
    HWND hWndSeenAtCreate = nullptr;
    bool bThrowAtCreate = false;
    int nCaught = 0;
    int nNcDestroyed = 0;

protected:
    int OnCreate(const CREATESTRUCTW&) override
    {
        hWndSeenAtCreate = GetSafeHwnd();
        if (bThrowAtCreate) {
            throw std::runtime_error("create");
        }
        return 0;
    }
    bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM, LRESULT& lResult) override
    {
        if (uMsg == WM_APP) {
            throw std::runtime_error("handler");
        }
        if (uMsg == WM_APP + 1) {
            lResult = static_cast<LRESULT>(wParam) * 2;
            return true;
        }
        return false;
    }
    void PostNcDestroy() override { ++nNcDestroyed; }
    void OnUnhandledException(const wchar_t*) noexcept override { ++nCaught; }
};

bool Create(CProbeWindow& window)
{
    return CWindow::RegisterWindowClass(kTestClass, 0, nullptr, nullptr, nullptr) &&
           window.CreateEx(0, kTestClass, L"probe", WS_POPUP, 0, 0, 50, 50, nullptr, 0);
}

}  // namespace

TEST(Window, KnowsItsObjectFromCreationAndStopsEveryException)
{
    CProbeWindow window;
    ASSERT_TRUE(Create(window));
    const HWND hWnd = window.GetSafeHwnd();
    EXPECT_EQ(window.hWndSeenAtCreate, hWnd);
    EXPECT_EQ(CWindow::FromHandle(hWnd), &window);

    EXPECT_EQ(SendMessageW(hWnd, WM_APP + 1, 21, 0), 42);
    EXPECT_EQ(SendMessageW(hWnd, WM_APP, 0, 0), 0);
    EXPECT_EQ(window.nCaught, 1);

    EXPECT_TRUE(window.DestroyWindow());
    EXPECT_EQ(window.GetSafeHwnd(), nullptr);
    EXPECT_EQ(window.nNcDestroyed, 1);
    EXPECT_EQ(CWindow::FromHandle(hWnd), nullptr);

    // A window of another class is never taken for ours, whatever its user
    // data holds.
    HWND hStatic = CreateWindowExW(0, L"Static", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hStatic, nullptr);
    SetWindowLongPtrW(hStatic, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&window));
    EXPECT_EQ(CWindow::FromHandle(hStatic), nullptr);
    DestroyWindow(hStatic);
}

TEST(Window, ACreationThatThrowsFailsTheWindow)
{
    CProbeWindow window;
    window.bThrowAtCreate = true;
    EXPECT_FALSE(Create(window));
    EXPECT_EQ(window.GetSafeHwnd(), nullptr);
    EXPECT_EQ(window.nCaught, 1);
}

#include "widgets/BitmapButton.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include "tests/support/Printers.h"
#include "tests/support/TestWindow.h"
#include "tests/support/WindowCapture.h"

namespace {

constexpr int kButtonId = 3;
constexpr COLORREF kParentBack = RGB(0, 0, 255);
constexpr COLORREF kKey = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(220, 0, 0);
constexpr COLORREF kGreen = RGB(0, 180, 0);

// A 16 x 16 bitmap: a 10 x 10 square of the colour inside a 3-pixel border
// of the key colour.
CBitmap SquareBitmap(COLORREF crSquare)
{
    HDC hScreen = GetDC(nullptr);
    CBitmap bitmap(CreateCompatibleBitmap(hScreen, 16, 16));
    CMemoryDc memory(CreateCompatibleDC(hScreen));
    ReleaseDC(nullptr, hScreen);
    HGDIOBJ hOld = SelectObject(memory.get(), bitmap.get());
    RECT all = {0, 0, 16, 16};
    RECT inner = {3, 3, 13, 13};
    CBrush key(CreateSolidBrush(kKey));
    CBrush square(CreateSolidBrush(crSquare));
    FillRect(memory.get(), &all, key.get());
    FillRect(memory.get(), &inner, square.get());
    SelectObject(memory.get(), hOld);
    return bitmap;
}

bool Near(COLORREF a, COLORREF b)
{
    return abs(GetRValue(a) - GetRValue(b)) <= 6 && abs(GetGValue(a) - GetGValue(b)) <= 6 &&
           abs(GetBValue(a) - GetBValue(b)) <= 6;
}

void SendMouse(DWORD dwFlags)
{
    INPUT input = {};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = dwFlags;
    SendInput(1, &input, sizeof(input));
}

POINT CentreOf(HWND hWnd)
{
    RECT rc;
    GetWindowRect(hWnd, &rc);
    return {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

class BitmapButton : public testing::Test {
protected:
    void SetUp() override
    {
        // A plain push button, 40 x 30: the widget makes it owner-drawn.
        m_hButton = m_parent.AddChild(L"Button", kButtonId, 50, 40, 40, 30, BS_PUSHBUTTON);
        ASSERT_TRUE(m_button.SubclassDlgItem(kButtonId, m_parent.Get()));
        m_button.SetBitmaps(SquareBitmap(kRed), kKey, SquareBitmap(kGreen), kKey);
        // Start with the mouse away from the button.
        SetCursorPos(600, 600);
        SendMouse(MOUSEEVENTF_MOVE);
        PumpMessagesFor(50);
    }

    CWindowImage Shown()
    {
        RedrawWindow(m_hButton, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        return CWindowImage::Capture(m_hButton, true);
    }

    CTestParentWindow m_parent{kParentBack};
    HWND m_hButton = nullptr;
    CBitmapButton m_button;
};

}  // namespace

TEST_F(BitmapButton, DrawsItsBitmapCentredWithTheKeyShowingTheParentsBackgroundAndSizesToIt)
{
    EXPECT_EQ(GetWindowLongPtrW(m_hButton, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    const CWindowImage image = Shown();
    ASSERT_EQ(image.Width(), 40);
    // The bitmap sits at (12, 7); its square at (15, 10) to (25, 20).
    EXPECT_TRUE(Near(image.Pixel(20, 15), kRed));
    EXPECT_EQ(image.CountNear(kRed, 6), 100);
    // Its white border was the key: the parent's blue shows there, and
    // around the bitmap too.
    EXPECT_TRUE(Near(image.Pixel(13, 8), kParentBack));
    EXPECT_EQ(image.CountNear(kKey, 6), 0);
    EXPECT_EQ(image.CountNear(kParentBack, 6), 40 * 30 - 100);

    m_button.SizeToBitmap();
    RECT rc;
    GetWindowRect(m_hButton, &rc);
    MapWindowPoints(HWND_DESKTOP, m_parent.Get(), reinterpret_cast<POINT*>(&rc), 2);
    const RECT expected = {50, 40, 66, 56};
    EXPECT_TRUE(EqualRect(&rc, &expected));
}

TEST_F(BitmapButton, ShowsTheSecondBitmapWhileTheMouseIsOverAndAClickReachesTheParent)
{
    const POINT centre = CentreOf(m_hButton);
    SetCursorPos(centre.x, centre.y);
    SendMouse(MOUSEEVENTF_MOVE);
    ASSERT_TRUE(PumpMessagesUntil([&] { return m_button.IsHot(); }, 2000));
    CWindowImage image = Shown();
    EXPECT_EQ(image.CountNear(kGreen, 6), 100);
    EXPECT_EQ(image.CountNear(kRed, 6), 0);

    SendMouse(MOUSEEVENTF_LEFTDOWN);
    SendMouse(MOUSEEVENTF_LEFTUP);
    ASSERT_TRUE(PumpMessagesUntil([&] { return !m_parent.Commands().empty(); }, 2000));
    EXPECT_EQ(m_parent.Commands().front().nId, kButtonId);
    EXPECT_EQ(m_parent.Commands().front().nCode, BN_CLICKED);

    SetCursorPos(600, 600);
    SendMouse(MOUSEEVENTF_MOVE);
    ASSERT_TRUE(PumpMessagesUntil([&] { return !m_button.IsHot(); }, 2000));
    image = Shown();
    EXPECT_EQ(image.CountNear(kRed, 6), 100);
}

TEST_F(BitmapButton, KeepsOneTooltipWhoseTextCanChangeAndLetsGoWithItsWindow)
{
    EXPECT_TRUE(m_button.GetTooltipText().IsEmpty());
    ASSERT_TRUE(m_button.SetTooltipText(L"Stop the clean-up display"));
    HWND hTooltip = m_button.GetTooltip();
    ASSERT_NE(hTooltip, nullptr);
    ASSERT_TRUE(m_button.SetTooltipText(L"Close"));
    EXPECT_EQ(m_button.GetTooltip(), hTooltip);
    EXPECT_EQ(SendMessageW(hTooltip, TTM_GETTOOLCOUNT, 0, 0), 1);
    EXPECT_EQ(m_button.GetTooltipText(), L"Close");

    DestroyWindow(m_parent.Get());
    EXPECT_EQ(m_button.GetSafeHwnd(), nullptr);
    EXPECT_EQ(m_button.GetTooltip(), nullptr);
    EXPECT_FALSE(m_button.IsHot());
}

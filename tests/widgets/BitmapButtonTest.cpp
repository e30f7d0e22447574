#include "widgets/BitmapButton.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include "tests/support/Printers.h"
#include "tests/support/TestWindow.h"
#include "tests/support/WindowCapture.h"

namespace {

constexpr COLORREF kParentBack = RGB(0, 0, 255), kKey = RGB(255, 255, 255), kRed = RGB(220, 0, 0),
                   kGreen = RGB(0, 180, 0);

// A 16 x 16 bitmap: a 10 x 10 square of the colour inside a 3-pixel border
// of the key colour.
CBitmap SquareBitmap(COLORREF crSquare)
{
    HDC hScreen = GetDC(nullptr);
    CBitmap bitmap(CreateCompatibleBitmap(hScreen, 16, 16));
    CMemoryDc memory(CreateCompatibleDC(hScreen));
    ReleaseDC(nullptr, hScreen);
    HGDIOBJ hOld = SelectObject(memory.get(), bitmap.get());
    const RECT all = {0, 0, 16, 16}, inner = {3, 3, 13, 13};
    FillRect(memory.get(), &all, CBrush(CreateSolidBrush(kKey)).get());
    FillRect(memory.get(), &inner, CBrush(CreateSolidBrush(crSquare)).get());
    SelectObject(memory.get(), hOld);
    return bitmap;
}

// Moves the mouse to the point and presses the button there, when asked.
void Mouse(POINT pt, DWORD dwButtons = 0)
{
    SetCursorPos(pt.x, pt.y);
    INPUT inputs[3] = {};
    for (INPUT& input : inputs) {
        input.type = INPUT_MOUSE;
    }
    inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE;
    inputs[1].mi.dwFlags = dwButtons & MOUSEEVENTF_LEFTDOWN;
    inputs[2].mi.dwFlags = dwButtons & MOUSEEVENTF_LEFTUP;
    SendInput(dwButtons != 0 ? 3 : 1, inputs, sizeof(INPUT));
}

}  // namespace

// A plain push button, 40 x 30, that the widget makes owner-drawn: its
// bitmap centred, the key colour showing the parent's background; the
// second bitmap while the mouse is over it; a click that reaches the
// parent; one tooltip whose text can change; and all of it let go with the
// window.
TEST(BitmapButton, DrawsItsBitmapsByTheMouseAndKeepsOneTooltip)
{
    CTestParentWindow parent(kParentBack);
    const HWND hButton = parent.AddChild(L"Button", 3, 50, 40, 40, 30, BS_PUSHBUTTON);
    CBitmapButton button;
    ASSERT_TRUE(button.SubclassDlgItem(3, parent.Get()));
    button.SetBitmaps(SquareBitmap(kRed), kKey, SquareBitmap(kGreen), kKey);
    Mouse({600, 600});
    PumpMessagesFor(50);
    auto shown = [&] {
        RedrawWindow(hButton, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        return CWindowImage::Capture(hButton, true);
    };
    EXPECT_EQ(GetWindowLongPtrW(hButton, GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);
    CWindowImage image = shown();
    ASSERT_EQ(image.Width(), 40);
    // The bitmap sits at (12, 7); its square at (15, 10) to (25, 20).
    EXPECT_EQ(image.CountNear(kRed, 6), 100);
    EXPECT_EQ(image.CountNear(kRed, 6) + image.CountNear(kParentBack, 6), 40 * 30);
    EXPECT_EQ(image.Pixel(15, 10), image.Pixel(24, 19));
    EXPECT_NE(image.Pixel(15, 10), image.Pixel(14, 9));
    EXPECT_EQ(image.Pixel(14, 9), image.Pixel(0, 0));

    RECT rc;
    GetWindowRect(hButton, &rc);
    Mouse({(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2});
    ASSERT_TRUE(PumpMessagesUntil([&] { return button.IsHot(); }, 2000));
    image = shown();
    EXPECT_EQ(image.CountNear(kGreen, 6), 100);
    EXPECT_EQ(image.CountNear(kRed, 6), 0);
    Mouse({(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2}, MOUSEEVENTF_LEFTDOWN | MOUSEEVENTF_LEFTUP);
    ASSERT_TRUE(PumpMessagesUntil([&] { return !parent.Commands().empty(); }, 2000));
    EXPECT_EQ(parent.Commands().front().nId, 3);
    EXPECT_EQ(parent.Commands().front().nCode, BN_CLICKED);
    Mouse({600, 600});
    ASSERT_TRUE(PumpMessagesUntil([&] { return !button.IsHot(); }, 2000));
    EXPECT_EQ(shown().CountNear(kRed, 6), 100);

    button.SizeToBitmap();
    GetWindowRect(hButton, &rc);
    MapWindowPoints(HWND_DESKTOP, parent.Get(), reinterpret_cast<POINT*>(&rc), 2);
    const RECT expected = {50, 40, 66, 56};
    EXPECT_TRUE(EqualRect(&rc, &expected));

    EXPECT_TRUE(button.GetTooltipText().IsEmpty());
    ASSERT_TRUE(button.SetTooltipText(L"Stop the clean-up display"));
    const HWND hTooltip = button.GetTooltip();
    ASSERT_TRUE(hTooltip != nullptr && button.SetTooltipText(L"Close"));
    EXPECT_EQ(button.GetTooltip(), hTooltip);
    EXPECT_EQ(SendMessageW(hTooltip, TTM_GETTOOLCOUNT, 0, 0), 1);
    EXPECT_EQ(button.GetTooltipText(), L"Close");
    DestroyWindow(parent.Get());
    EXPECT_TRUE(button.GetSafeHwnd() == nullptr && button.GetTooltip() == nullptr && !button.IsHot());
}

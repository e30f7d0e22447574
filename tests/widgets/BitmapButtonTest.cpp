#include "widgets/BitmapButton.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <vector>

#include "tests/support/Printers.h"
#include "tests/support/TestWindow.h"
#include "tests/support/WindowCapture.h"

namespace {

constexpr COLORREF kParentBack = RGB(0, 0, 255), kKey = RGB(255, 255, 255), kRed = RGB(220, 0, 0),
                   kGreen = RGB(0, 180, 0);

// 16 x 16: a 10 x 10 square of the colour in a 3-pixel border of the key colour.
CBitmap SquareBitmap(COLORREF cr)
{
    std::vector<DWORD> bits(256, 0xFFFFFF);
    for (int i = 0; i < 100; ++i) {
        bits[(3 + i / 10) * 16 + 3 + i % 10] = GetRValue(cr) << 16 | GetGValue(cr) << 8 | GetBValue(cr);
    }
    return CBitmap(CreateBitmap(16, 16, 1, 32, bits.data()));
}

void MoveMouse(POINT pt)
{
    SetCursorPos(pt.x, pt.y);
    INPUT input = {INPUT_MOUSE};
    input.mi.dwFlags = MOUSEEVENTF_MOVE;
    SendInput(1, &input, sizeof(INPUT));
}

}  // namespace

// A plain push button, 40 x 30, made owner-drawn: its bitmap centred, the
// key colour showing the parent's background; the second bitmap while the
// mouse is over it; one tooltip whose text can change; all let go with the window.
TEST(BitmapButton, DrawsItsBitmapsByTheMouseAndKeepsOneTooltip)
{
    CTestParentWindow parent(kParentBack);
    const HWND hButton = parent.AddChild(L"Button", 3, 50, 40, 40, 30, BS_PUSHBUTTON);
    CBitmapButton button;
    ASSERT_TRUE(button.SubclassDlgItem(3, parent.Get()));
    button.SetBitmaps(SquareBitmap(kRed), kKey, SquareBitmap(kGreen), kKey);
    MoveMouse({600, 600});
    PumpMessagesFor(50);
    auto shown = [&] {
        RedrawWindow(hButton, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        return CWindowImage::Capture(hButton, true);
    };
    CWindowImage image = shown();
    // The bitmap sits at (12, 7); its square at (15, 10) to (25, 20).
    EXPECT_TRUE(image.CountNear(kRed, 6) == 100 && image.CountNear(kParentBack, 6) == 40 * 30 - 100);
    EXPECT_TRUE(image.Pixel(15, 10) == image.Pixel(24, 19) && image.Pixel(14, 9) == image.Pixel(0, 0));

    RECT rc;
    GetWindowRect(hButton, &rc);
    MoveMouse({(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2});
    ASSERT_TRUE(PumpMessagesUntil([&] { return button.IsHot(); }, 2000));
    image = shown();
    EXPECT_EQ(image.CountNear(kGreen, 6) - image.CountNear(kRed, 6), 100);
    MoveMouse({600, 600});
    ASSERT_TRUE(PumpMessagesUntil([&] { return !button.IsHot(); }, 2000));
    EXPECT_EQ(shown().CountNear(kRed, 6), 100);
    ASSERT_TRUE(button.SetTooltipText(L"Stop the clean-up display") && button.SetTooltipText(L"Close"));
    EXPECT_EQ(SendMessageW(button.GetTooltip(), TTM_GETTOOLCOUNT, 0, 0), 1);
    EXPECT_EQ(button.GetTooltipText(), L"Close");
    DestroyWindow(parent.Get());
    EXPECT_TRUE(button.GetSafeHwnd() == nullptr && button.GetTooltip() == nullptr && !button.IsHot());
}

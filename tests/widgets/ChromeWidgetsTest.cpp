#include "widgets/ImageStrip.h"
#include "widgets/SearchBox.h"
#include "widgets/TabWnd.h"

#include <gtest/gtest.h>

#include "resources/Resource.h"
#include "tests/support/Printers.h"
#include "tests/support/TestWindow.h"
#include "tests/support/WindowCapture.h"

namespace {

CString Text(HWND hWnd)
{
    wchar_t szText[128] = {};
    GetWindowTextW(hWnd, szText, 128);
    return szText;
}

// The colour the box's parent gives the box's text.
COLORREF TextColour(HWND hParent, HWND hBox)
{
    CClientDc dc(hBox);
    SendMessageW(hParent, WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(dc.get()), reinterpret_cast<LPARAM>(hBox));
    return GetTextColor(dc.get());
}

void Click(HWND hWnd)
{
    RECT rc = {};
    GetWindowRect(hWnd, &rc);
    SetCursorPos(rc.left + 8, (rc.top + rc.bottom) / 2);
    INPUT inputs[2] = {{INPUT_MOUSE, {.mi = {0, 0, 0, MOUSEEVENTF_LEFTDOWN, 0, 0}}},
                       {INPUT_MOUSE, {.mi = {0, 0, 0, MOUSEEVENTF_LEFTUP, 0, 0}}}};
    SendInput(2, inputs, sizeof(INPUT));
    PumpMessagesFor(200);
}

DWORD Selection(HWND hBox)
{
    DWORD dwStart = 0, dwEnd = 0;
    SendMessageW(hBox, EM_GETSEL, reinterpret_cast<WPARAM>(&dwStart), reinterpret_cast<LPARAM>(&dwEnd));
    return MAKELONG(dwStart, dwEnd);
}

TEST(SearchBox, ShowsItsPlaceholderInGreyUntilFocusedAndSelectsAllOnTheFirstClick)
{
    CTestParentWindow parent(RGB(255, 255, 255), 300, 120);
    HWND hBox = parent.AddChild(L"Edit", 300, 10, 10, 200, 24, WS_BORDER | ES_AUTOHSCROLL);
    CSearchBox box;
    ASSERT_TRUE(box.SubclassDlgItem(300, parent.Get()));
    box.SetPlaceholder(L"Powered by Querant");
    CString strTaken = L"untouched";
    EXPECT_EQ(Text(hBox), L"Powered by Querant");
    EXPECT_EQ(TextColour(parent.Get(), hBox), CSearchBox::kPlaceholderColour);
    EXPECT_FALSE(box.TakeSearchText(strTaken));
    EXPECT_EQ(strTaken, L"untouched");

    // The focus empties it; the text typed is a search, taken once.
    SetForegroundWindow(parent.Get());
    SetFocus(hBox);
    EXPECT_EQ(Text(hBox), L"");
    EXPECT_EQ(TextColour(parent.Get(), hBox), GetSysColor(COLOR_WINDOWTEXT));
    SetWindowTextW(hBox, L"two words");
    EXPECT_TRUE(box.TakeSearchText(strTaken));
    EXPECT_EQ(strTaken, L"two words");
    EXPECT_TRUE(box.IsShowingPlaceholder());
    EXPECT_EQ(Text(hBox), L"Powered by Querant");
    // Still focused: typing replaces the placeholder rather than joining it.
    SendMessageW(hBox, WM_CHAR, L'x', 0);
    EXPECT_EQ(Text(hBox), L"x");

    // The first click after the focus left selects everything; the next
    // one only places the caret.
    SetWindowTextW(hBox, L"some text");
    SetFocus(parent.Get());
    Click(hBox);
    EXPECT_EQ(Selection(hBox), static_cast<DWORD>(MAKELONG(0, 9)));
    Click(hBox);
    EXPECT_NE(Selection(hBox), static_cast<DWORD>(MAKELONG(0, 9)));
}

TEST(TabStrip, ScrollsToTheSelectedTabHidesClosedOnesAndHoldsTheOpenMutex)
{
    CTestParentWindow parent(RGB(255, 255, 255), 420, 100);
    CImageStrip images;
    ASSERT_TRUE(images.Load(IDB_CHROME_100, IDB_CHROME_150, 28, CImageStrip::ScreenDpi()));
    TTabWnd::CSettings settings;
    settings.pImages = &images;
    settings.strMakeDefault = L"Make default";
    TTabWnd strip;
    ASSERT_TRUE(strip.Create(parent.Get(), 7, settings));
    MoveWindow(strip.GetSafeHwnd(), 0, 0, 420, TTabWnd::HeightFor(CImageStrip::ScreenDpi()), TRUE);
    EXPECT_TRUE(CHandle(OpenMutexW(SYNCHRONIZE, FALSE, TTabWnd::kTabOpenMutexName)));

    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(strip.AddTab(FormatString(L"Tab %d", i), 0), i);
    }
    ASSERT_TRUE(strip.SelectTab(7));
    // Eight tabs do not fit in 420 pixels: the strip scrolled to the last.
    EXPECT_GT(strip.GetFirstShown(), 0);
    // Through the middle of the tabs, which start a little below the top.
    const int y = TTabWnd::HeightFor(CImageStrip::ScreenDpi()) / 2 + 2;
    EXPECT_EQ(strip.HitTest({12, y}), strip.GetFirstShown());

    strip.HideTab(3);
    EXPECT_FALSE(strip.IsTabOpen(3));
    EXPECT_FALSE(strip.SelectTab(3));
    EXPECT_EQ(strip.GetOpenCount(), 7);
    EXPECT_EQ(strip.GetTabCount(), 8);
    ASSERT_TRUE(strip.SelectTab(0));
    EXPECT_EQ(strip.GetFirstShown(), 0);

    // A click on a tab's close button asks the parent to close that tab.
    int xClose = 12;
    for (bool bOnClose = false; xClose < 420 && !bOnClose; ++xClose) {
        strip.HitTest({xClose, y}, &bOnClose);
    }
    SendMessageW(strip.GetSafeHwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(xClose, y));
    MSG msg = {};
    EXPECT_TRUE(PeekMessageW(&msg, parent.Get(), TTabWnd::WM_TAB_CLOSE, TTabWnd::WM_TAB_CLOSE, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 0u);

    strip.DestroyWindow();
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(CHandle(OpenMutexW(SYNCHRONIZE, FALSE, TTabWnd::kTabOpenMutexName)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace

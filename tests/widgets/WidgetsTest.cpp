#include "widgets/AnimatedPicture.h"
#include "widgets/BitmapButton.h"
#include "widgets/MessageBox.h"

#include <commctrl.h>
#include <objidl.h>
#include <shlwapi.h>

#include <gdiplus.h>
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "framework/ComPtr.h"
#include "resources/Resource.h"
#include "tests/support/MessageBoxAnswerer.h"
#include "tests/support/Printers.h"
#include "tests/support/TestWindow.h"
#include "tests/support/WindowCapture.h"

namespace {

constexpr COLORREF kBack = RGB(200, 30, 30), kParentBack = RGB(0, 0, 255), kKey = RGB(255, 255, 255),
                   kRed = RGB(220, 0, 0), kGreen = RGB(0, 180, 0);

std::string GifBytes(UINT nId)
{
    HRSRC hInfo = FindResourceW(nullptr, MAKEINTRESOURCEW(nId), L"GIF");
    return std::string(static_cast<const char*>(LockResource(LoadResource(nullptr, hInfo))),
                       SizeofResource(nullptr, hInfo));
}

bool Near(COLORREF a, COLORREF b)
{
    return abs(GetRValue(a) - GetRValue(b)) + abs(GetGValue(a) - GetGValue(b)) + abs(GetBValue(a) - GetBValue(b)) <= 18;
}

// The window's client area once it has painted.
CWindowImage Shown(HWND hWnd)
{
    RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    return CWindowImage::Capture(hWnd, true);
}

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

// A 60 x 50 static control at (40, 30) whose window the picture takes over.
class AnimatedPicture : public testing::Test {
protected:
    void SetUp() override
    {
        m_hPicture = m_parent.AddChild(L"Static", 100, 40, 30, 60, 50);
        ASSERT_TRUE(m_picture.SubclassDlgItem(100, m_parent.Get()));
        m_picture.SetBkColor(kBack);
    }
    BOOL LoadGif(UINT nId) { return m_picture.LoadResource(nullptr, MAKEINTRESOURCEW(nId), L"GIF"); }

    CTestParentWindow m_parent;
    HWND m_hPicture = nullptr;
    CAnimatedPicture m_picture;
};

}  // namespace

// In a loop it wraps until stopped, and stops where it is; a single frame (of
// 100 ms, as it gives none) in a loop plays until stopped, once it ends.
TEST_F(AnimatedPicture, PlaysInALoopUntilStoppedOrOnce)
{
    ASSERT_TRUE(LoadGif(IDR_GIF_CLEANUP_WORKING));
    UINT nTotalMs = 0;
    for (UINT i = 0; i < m_picture.GetFrameCount(); ++i) {
        nTotalMs += m_picture.GetFrameDelay(i);
    }
    EXPECT_TRUE(nTotalMs == 630 && m_picture.GetFrameDelay(99) == 0);
    ASSERT_TRUE(m_picture.Draw(true));
    EXPECT_TRUE(PumpMessagesUntil([&] { return m_picture.GetCurrentFrame() == 6; }, 1000));
    EXPECT_TRUE(PumpMessagesUntil([&] { return m_picture.GetCurrentFrame() < 6; }, 1000));
    m_picture.Stop();
    const UINT nStopped = m_picture.GetCurrentFrame();
    PumpMessagesFor(200);
    EXPECT_TRUE(!m_picture.IsPlaying() && m_picture.GetCurrentFrame() == nStopped);

    ASSERT_TRUE(LoadGif(IDR_GIF_CLEANUP_BANNER) && m_picture.Draw(true));
    EXPECT_EQ(m_picture.GetFrameDelay(0), 100u);
    PumpMessagesFor(300);
    EXPECT_TRUE(m_picture.IsPlaying());
    ASSERT_TRUE(m_picture.Draw(false));
    EXPECT_TRUE(PumpMessagesUntil([&] { return !m_picture.IsPlaying(); }, 2000));
}

// The frame shown, centred, pixel for pixel as GDI+ decodes it; without an
// image, only the background. Sized to its image, it keeps its centre.
TEST_F(AnimatedPicture, PaintsTheFrameShownCentredAndSizesItselfAroundItsCentre)
{
    ASSERT_TRUE(LoadGif(IDR_GIF_CLEANUP_WORKING));
    const std::string bytes = GifBytes(IDR_GIF_CLEANUP_WORKING);
    CGdiplusSession gdiplus;
    CComPtr<IStream> stream;
    stream.Attach(SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size())));
    const std::unique_ptr<Gdiplus::Bitmap> decoded(Gdiplus::Bitmap::FromStream(stream.get()));
    for (UINT nFrame : {6u, 2u}) {
        ASSERT_TRUE(m_picture.ShowFrame(nFrame));
        GUID dimension = Gdiplus::FrameDimensionTime;
        decoded->SelectActiveFrame(&dimension, nFrame);
        const CWindowImage image = Shown(m_hPicture);
        int nWrong = 0;
        for (int i = 0; i < 60 * 50; ++i) {
            const int x = i % 60, y = i / 60;
            Gdiplus::Color color(255, GetRValue(kBack), GetGValue(kBack), GetBValue(kBack));
            if (x >= 10 && x < 50 && y >= 10 && y < 40) {
                decoded->GetPixel(x - 10, y - 10, &color);
            }
            nWrong += Near(image.Pixel(x, y), RGB(color.GetR(), color.GetG(), color.GetB())) ? 0 : 1;
        }
        EXPECT_EQ(nWrong, 0) << "frame " << nFrame;
    }
    EXPECT_TRUE(!m_picture.ShowFrame(7) && !m_picture.IsPlaying() && m_picture.GetCurrentFrame() == 2);

    m_picture.SetAutoSize(CAnimatedPicture::AutoSize::AroundCentre);
    RECT rc;
    GetWindowRect(m_hPicture, &rc);
    MapWindowPoints(HWND_DESKTOP, m_parent.Get(), reinterpret_cast<POINT*>(&rc), 2);
    EXPECT_TRUE(rc.left == 50 && rc.top == 40 && rc.right == 90 && rc.bottom == 70);
    m_picture.UnLoad();
    EXPECT_EQ(Shown(m_hPicture).CountNear(kBack, 4), 40 * 30);
}

// No image is refused, a damaged one never loads beyond the limits; the picture outlives its window.
TEST_F(AnimatedPicture, RefusesNonImagesSurvivesDamagedOnesAndOutlivesItsWindow)
{
    const std::string garbage(500, '\x5A');
    EXPECT_FALSE(m_picture.Load(garbage.data(), garbage.size()) || m_picture.IsLoaded() || m_picture.Draw(false) ||
                 m_picture.Load(nullptr, 10) || m_picture.Load(garbage.data(), 0));
    EXPECT_FALSE(m_picture.LoadResource(nullptr, MAKEINTRESOURCEW(9999), L"GIF"));
    const std::string original = GifBytes(IDR_GIF_CLEANUP_DONE);
    std::mt19937 random(7);
    for (int i = 0; i < 300; ++i) {
        std::string bytes = original.substr(0, i % 3 == 0 ? random() % original.size() : original.size());
        for (int c = i % 3 == 0 ? 0 : 1 + static_cast<int>(random() % 8); c > 0; --c) {
            bytes[random() % bytes.size()] = static_cast<char>(random());
        }
        if (m_picture.Load(bytes.data(), bytes.size())) {
            const UINT nLast = m_picture.GetFrameCount() - 1;
            EXPECT_TRUE(nLast < 2048 && m_picture.GetImageSize().cx <= 4096 && m_picture.GetFrameDelay(nLast) > 0);
            m_picture.ShowFrame(nLast);
            UpdateWindow(m_hPicture);
        }
    }
    ASSERT_TRUE(LoadGif(IDR_GIF_CLEANUP_DONE) && m_picture.Draw(true));
    DestroyWindow(m_hPicture);
    EXPECT_EQ(m_picture.GetSafeHwnd(), nullptr);
    EXPECT_FALSE(m_picture.IsPlaying() || m_picture.Draw(true));
    PumpMessagesFor(100);
}

// A plain push button, 40 x 30, made owner-drawn: its bitmap, the
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
    CWindowImage image = Shown(hButton);
    EXPECT_TRUE(image.CountNear(kRed, 6) == 100 && image.CountNear(kParentBack, 6) == 40 * 30 - 100);

    RECT rc;
    GetWindowRect(hButton, &rc);
    MoveMouse({(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2});
    ASSERT_TRUE(PumpMessagesUntil([&] { return button.IsHot(); }, 2000));
    image = Shown(hButton);
    EXPECT_EQ(image.CountNear(kGreen, 6) - image.CountNear(kRed, 6), 100);
    MoveMouse({600, 600});
    ASSERT_TRUE(PumpMessagesUntil([&] { return !button.IsHot(); }, 2000));
    EXPECT_EQ(Shown(hButton).CountNear(kRed, 6), 100);
    ASSERT_TRUE(button.SetTooltipText(L"Stop the clean-up display") && button.SetTooltipText(L"Close"));
    EXPECT_TRUE(SendMessageW(button.GetTooltip(), TTM_GETTOOLCOUNT, 0, 0) == 1 && button.GetTooltipText() == L"Close");
    DestroyWindow(parent.Get());
    EXPECT_TRUE(button.GetSafeHwnd() == nullptr && button.GetTooltip() == nullptr && !button.IsHot());
}

// The box shows the last text given for a button, returns the pressed one's id
// and hands a message posted to its thread to the handler. A text too long for
// the system's buttons widens it, and the box, to fit.
TEST(RelabelledMessageBox, FitsTheGivenTextsAndHandsThreadMessagesToItsHandler)
{
    constexpr UINT kThreadMessage = WM_APP + 0x40;
    std::vector<CMessageBoxAnswerer::CSeen> seen;  // the system's texts, then a long one
    for (const wchar_t* pszOk : {L"", L"Continue with the download of this rather large file"}) {
        CMessageBox box(nullptr, L"Short", L"Width test", MB_OKCANCEL | MB_ICONINFORMATION);
        if (*pszOk != L'\0') {
            box.SetButtonText(IDOK, L"Not this one");
            box.SetButtonText(IDOK, pszOk);
        }
        std::vector<MSG> received;
        box.SetThreadMessageHandler([&](const MSG& msg) { received.push_back(msg); });
        CMessageBoxAnswerer answerer(L"Width test", IDCANCEL, kThreadMessage);
        EXPECT_EQ(box.DoModal(), IDCANCEL);
        seen.push_back(answerer.Seen());
        ASSERT_TRUE(seen.back().bFound && received.size() == 1);
        EXPECT_TRUE(received[0].message == kThreadMessage && received[0].wParam == 7 && received[0].lParam == 11);
    }
    const RECT &ok = seen[1].buttons.at(IDOK).rc, &cancel = seen[1].buttons.at(IDCANCEL).rc;
    EXPECT_EQ(seen[1].buttons.at(IDOK).strText, L"Continue with the download of this rather large file");
    EXPECT_GT(ok.right - ok.left, seen[1].buttons.at(IDOK).nTextWidth);
    EXPECT_TRUE(ok.left >= 0 && ok.right <= cancel.left && cancel.right <= seen[1].rcClient.right);
    EXPECT_GT(seen[1].rcClient.right, seen[0].rcClient.right);
}

#include "widgets/AnimatedPicture.h"

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
#include "tests/support/TestWindow.h"
#include "tests/support/WindowCapture.h"

namespace {

constexpr COLORREF kBack = RGB(200, 30, 30);

std::string GifBytes(UINT nId)
{
    HRSRC hInfo = FindResourceW(nullptr, MAKEINTRESOURCEW(nId), L"GIF");
    return std::string(static_cast<const char*>(LockResource(LoadResource(nullptr, hInfo))),
                       SizeofResource(nullptr, hInfo));
}

bool Near(COLORREF a, COLORREF b)
{
    return abs(GetRValue(a) - GetRValue(b)) <= 6 && abs(GetGValue(a) - GetGValue(b)) <= 6 &&
           abs(GetBValue(a) - GetBValue(b)) <= 6;
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
    CWindowImage Shown()
    {
        RedrawWindow(m_hPicture, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        return CWindowImage::Capture(m_hPicture, true);
    }

    CTestParentWindow m_parent;
    HWND m_hPicture = nullptr;
    CAnimatedPicture m_picture;
};

}  // namespace

// Frames and delays of the shipped images; the control takes each image's
// size around its centre, (70, 55), or from its corner.
TEST_F(AnimatedPicture, ReadsTheShippedImagesAndSizesItselfToThem)
{
    const struct {
        UINT nId, nFrames;
        LONG cx, cy;
        UINT nTotalMs;
    } images[] = {{IDR_GIF_CLEANUP_WORKING, 7, 40, 30, 630},
                  {IDR_GIF_CLEANUP_DONE, 14, 27, 27, 600},
                  {IDR_GIF_CLEANUP_DONE_SMALL, 1, 16, 16, 100},
                  {IDR_GIF_CLEANUP_BANNER, 1, 443, 27, 100}};
    m_picture.SetAutoSize(CAnimatedPicture::AutoSize::AroundCentre);
    for (const auto& image : images) {
        ASSERT_TRUE(LoadGif(image.nId));
        UINT total = 0;
        for (UINT i = 0; i < m_picture.GetFrameCount(); ++i) {
            total += m_picture.GetFrameDelay(i);
        }
        RECT rc;
        GetWindowRect(m_hPicture, &rc);
        MapWindowPoints(HWND_DESKTOP, m_parent.Get(), reinterpret_cast<POINT*>(&rc), 2);
        EXPECT_EQ((std::vector<LONG>{static_cast<LONG>(m_picture.GetFrameCount()), static_cast<LONG>(total),
                                     rc.right - rc.left, rc.bottom - rc.top}),
                  (std::vector<LONG>{static_cast<LONG>(image.nFrames), static_cast<LONG>(image.nTotalMs), image.cx,
                                     image.cy}));
        EXPECT_NEAR(rc.left + rc.right, 140, 1);
        EXPECT_NEAR(rc.top + rc.bottom, 110, 1);
    }
    EXPECT_EQ(m_picture.GetFrameDelay(99), 0u);
    SetWindowPos(m_hPicture, nullptr, 5, 6, 10, 10, SWP_NOZORDER);
    m_picture.SetAutoSize(CAnimatedPicture::AutoSize::FromTopLeft);
    ASSERT_TRUE(LoadGif(IDR_GIF_CLEANUP_WORKING));
    RECT rc;
    GetWindowRect(m_hPicture, &rc);
    MapWindowPoints(HWND_DESKTOP, m_parent.Get(), reinterpret_cast<POINT*>(&rc), 2);
    EXPECT_TRUE(rc.left == 5 && rc.top == 6 && rc.right == 5 + 40 && rc.bottom == 6 + 30);
}

// Played once it takes its 630 ms, no frame cut short, and stays on the last
// frame; in a loop it wraps until stopped, and stops where it is; a single
// frame in a loop plays until stopped, once it ends after its frame's time.
TEST_F(AnimatedPicture, PlaysOnceOrInALoopUntilStopped)
{
    ASSERT_TRUE(LoadGif(IDR_GIF_CLEANUP_WORKING));
    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(m_picture.Draw(false));
    ASSERT_TRUE(PumpMessagesUntil([&] { return !m_picture.IsPlaying(); }, 5000));
    EXPECT_TRUE(GetTickCount64() - start >= 620 && GetTickCount64() - start < 1500);
    PumpMessagesFor(200);
    EXPECT_EQ(m_picture.GetCurrentFrame(), 6u);

    ASSERT_TRUE(m_picture.Draw(true));
    EXPECT_TRUE(PumpMessagesUntil([&] { return m_picture.GetCurrentFrame() == 6; }, 1000));
    EXPECT_TRUE(PumpMessagesUntil([&] { return m_picture.GetCurrentFrame() < 6; }, 1000));
    m_picture.Stop();
    const UINT nStopped = m_picture.GetCurrentFrame();
    PumpMessagesFor(200);
    EXPECT_FALSE(m_picture.IsPlaying());
    EXPECT_EQ(m_picture.GetCurrentFrame(), nStopped);

    ASSERT_TRUE(LoadGif(IDR_GIF_CLEANUP_BANNER));
    ASSERT_TRUE(m_picture.Draw(true));
    PumpMessagesFor(300);
    EXPECT_TRUE(m_picture.IsPlaying());
    ASSERT_TRUE(m_picture.Draw(false));
    EXPECT_TRUE(PumpMessagesUntil([&] { return !m_picture.IsPlaying(); }, 2000));
}

// The frame shown, centred on the background, pixel for pixel as GDI+
// decodes it; a larger one scaled down keeping its shape; without an image,
// only the background.
TEST_F(AnimatedPicture, PaintsTheFrameShownCentredOnTheBackground)
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
        const CWindowImage image = Shown();
        int nWrong = 0;
        for (int y = 0; y < 50; ++y) {
            for (int x = 0; x < 60; ++x) {
                Gdiplus::Color color(255, GetRValue(kBack), GetGValue(kBack), GetBValue(kBack));
                if (x >= 10 && x < 50 && y >= 10 && y < 40) {
                    decoded->GetPixel(x - 10, y - 10, &color);
                }
                nWrong += Near(image.Pixel(x, y), RGB(color.GetR(), color.GetG(), color.GetB())) ? 0 : 1;
            }
        }
        EXPECT_EQ(nWrong, 0) << "frame " << nFrame;
    }
    EXPECT_FALSE(m_picture.ShowFrame(7) || m_picture.IsPlaying());
    EXPECT_EQ(m_picture.GetCurrentFrame(), 2u);

    // 40 x 30 in 30 x 30 becomes 30 x 22, centred: background bands above and below.
    SetWindowPos(m_hPicture, nullptr, 0, 0, 30, 30, SWP_NOMOVE | SWP_NOZORDER);
    ASSERT_TRUE(m_picture.ShowFrame(6));
    const CWindowImage scaled = Shown();
    EXPECT_TRUE(Near(scaled.Pixel(15, 1), kBack) && Near(scaled.Pixel(15, 28), kBack));
    EXPECT_FALSE(Near(scaled.Pixel(15, 15), kBack) || Near(scaled.Pixel(0, 15), kBack));
    EXPECT_TRUE(scaled.CountNear(kBack, 4) >= 30 * 6 && scaled.CountNear(kBack, 4) <= 30 * 10);
    m_picture.UnLoad();
    EXPECT_EQ(Shown().CountNear(kBack, 4), 30 * 30);
}

// Data that is no image is refused; damaged images load or not, but never
// beyond the limits; the picture outlives its window quietly.
TEST_F(AnimatedPicture, RefusesNonImagesSurvivesDamagedOnesAndOutlivesItsWindow)
{
    const std::string garbage(500, '\x5A');
    EXPECT_FALSE(m_picture.Load(garbage.data(), garbage.size()) || m_picture.IsLoaded() || m_picture.Draw(false));
    EXPECT_FALSE(m_picture.Load(nullptr, 10) || m_picture.Load(garbage.data(), 0));
    EXPECT_FALSE(m_picture.LoadResource(nullptr, MAKEINTRESOURCEW(9999), L"GIF"));
    const std::string original = GifBytes(IDR_GIF_CLEANUP_DONE);
    std::mt19937 random(7);
    for (int i = 0; i < 300; ++i) {
        std::string bytes = original;
        if (i % 3 == 0) {
            bytes.resize(random() % bytes.size());
        }
        for (int c = i % 3 == 0 ? 0 : 1 + static_cast<int>(random() % 8); c > 0; --c) {
            bytes[random() % bytes.size()] = static_cast<char>(random());
        }
        if (m_picture.Load(bytes.data(), bytes.size())) {
            EXPECT_TRUE(m_picture.GetFrameCount() >= 1 && m_picture.GetImageSize().cx <= 4096);
            EXPECT_GT(m_picture.GetFrameDelay(m_picture.GetFrameCount() - 1), 0u);
            m_picture.ShowFrame(m_picture.GetFrameCount() - 1);
            UpdateWindow(m_hPicture);
        }
    }
    ASSERT_TRUE(LoadGif(IDR_GIF_CLEANUP_DONE) && m_picture.Draw(true));
    DestroyWindow(m_hPicture);
    EXPECT_EQ(m_picture.GetSafeHwnd(), nullptr);
    EXPECT_FALSE(m_picture.IsPlaying() || m_picture.Draw(true));
    PumpMessagesFor(100);
}

#include "widgets/AnimatedPicture.h"

#include <objidl.h>
#include <shlwapi.h>

#include <gdiplus.h>
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

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
    return abs(GetRValue(a) - GetRValue(b)) + abs(GetGValue(a) - GetGValue(b)) + abs(GetBValue(a) - GetBValue(b)) <= 18;
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
    auto shown = [&] {
        RedrawWindow(m_hPicture, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        return CWindowImage::Capture(m_hPicture, true);
    };
    for (UINT nFrame : {6u, 2u}) {
        ASSERT_TRUE(m_picture.ShowFrame(nFrame));
        GUID dimension = Gdiplus::FrameDimensionTime;
        decoded->SelectActiveFrame(&dimension, nFrame);
        const CWindowImage image = shown();
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
    EXPECT_EQ(shown().CountNear(kBack, 4), 40 * 30);
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

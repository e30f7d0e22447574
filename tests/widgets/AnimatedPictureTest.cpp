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

constexpr int kPictureId = 100;
constexpr COLORREF kBack = RGB(200, 30, 30);

std::string GifBytes(UINT nId)
{
    HMODULE hModule = GetModuleHandleW(nullptr);
    HRSRC hInfo = FindResourceW(hModule, MAKEINTRESOURCEW(nId), L"GIF");
    EXPECT_NE(hInfo, nullptr);
    if (hInfo == nullptr) {
        return std::string();
    }
    const char* p = static_cast<const char*>(LockResource(LoadResource(hModule, hInfo)));
    return std::string(p, SizeofResource(hModule, hInfo));
}

// One frame decoded straight through GDI+, as the oracle for what the
// control paints.
class CDecodedFrame {
public:
    CDecodedFrame(UINT nGifId, UINT nFrame)
    {
        const std::string bytes = GifBytes(nGifId);
        CComPtr<IStream> stream;
        stream.Attach(SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size())));
        m_bitmap.reset(Gdiplus::Bitmap::FromStream(stream.get()));
        GUID dimension = Gdiplus::FrameDimensionTime;
        m_bitmap->SelectActiveFrame(&dimension, nFrame);
    }
    COLORREF Pixel(int x, int y) const
    {
        Gdiplus::Color color;
        m_bitmap->GetPixel(x, y, &color);
        return RGB(color.GetR(), color.GetG(), color.GetB());
    }

private:
    CGdiplusSession m_gdiplus;
    std::unique_ptr<Gdiplus::Bitmap> m_bitmap;
};

bool Near(COLORREF a, COLORREF b, int nTolerance = 6)
{
    return abs(GetRValue(a) - GetRValue(b)) <= nTolerance && abs(GetGValue(a) - GetGValue(b)) <= nTolerance &&
           abs(GetBValue(a) - GetBValue(b)) <= nTolerance;
}

RECT RectInParent(HWND hWnd)
{
    RECT rc;
    GetWindowRect(hWnd, &rc);
    MapWindowPoints(HWND_DESKTOP, GetParent(hWnd), reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

class AnimatedPicture : public testing::Test {
protected:
    // A 60 x 50 static control whose window the picture takes over.
    void SetUp() override
    {
        m_hPicture = m_parent.AddChild(L"Static", kPictureId, 40, 30, 60, 50);
        ASSERT_TRUE(m_picture.SubclassDlgItem(kPictureId, m_parent.Get()));
        m_picture.SetBkColor(kBack);
    }

    BOOL LoadGif(UINT nId)
    {
        return m_picture.LoadResource(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(nId), L"GIF");
    }

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

TEST_F(AnimatedPicture, ReadsFramesAndDelaysOfTheShippedImages)
{
    struct CExpected {
        UINT nId;
        UINT nFrames;
        LONG cx;
        LONG cy;
        UINT nTotalMs;
    };
    const CExpected images[] = {
        {IDR_GIF_CLEANUP_WORKING, 7, 40, 30, 630},
        {IDR_GIF_CLEANUP_DONE, 14, 27, 27, 600},
        {IDR_GIF_CLEANUP_DONE_SMALL, 1, 16, 16, 100},
        {IDR_GIF_CLEANUP_BANNER, 1, 443, 27, 100},
    };
    for (const CExpected& image : images) {
        SCOPED_TRACE(testing::Message() << "GIF " << image.nId);
        ASSERT_TRUE(LoadGif(image.nId));
        EXPECT_EQ(m_picture.GetFrameCount(), image.nFrames);
        EXPECT_EQ(m_picture.GetImageSize().cx, image.cx);
        EXPECT_EQ(m_picture.GetImageSize().cy, image.cy);
        UINT total = 0;
        for (UINT i = 0; i < m_picture.GetFrameCount(); ++i) {
            total += m_picture.GetFrameDelay(i);
        }
        EXPECT_EQ(total, image.nTotalMs);
    }
    EXPECT_EQ(m_picture.GetFrameDelay(99), 0u);
}

TEST_F(AnimatedPicture, PlaysOnceAndStaysOnTheLastFrame)
{
    ASSERT_TRUE(LoadGif(IDR_GIF_CLEANUP_WORKING));
    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(m_picture.Draw(false));
    EXPECT_TRUE(m_picture.IsPlaying());
    EXPECT_EQ(m_picture.GetCurrentFrame(), 0u);
    std::vector<UINT> seen;
    ASSERT_TRUE(PumpMessagesUntil(
        [&] {
            if (seen.empty() || seen.back() != m_picture.GetCurrentFrame()) {
                seen.push_back(m_picture.GetCurrentFrame());
            }
            return !m_picture.IsPlaying();
        },
        5000));
    const ULONGLONG elapsed = GetTickCount64() - start;
    // Frames are never cut short; the whole play takes its 630 ms.
    EXPECT_GE(elapsed, 620u);
    EXPECT_LT(elapsed, 1500u);
    EXPECT_EQ(m_picture.GetCurrentFrame(), 6u);
    for (size_t i = 1; i < seen.size(); ++i) {
        EXPECT_GT(seen[i], seen[i - 1]) << "frames went backwards";
    }
    PumpMessagesFor(200);
    EXPECT_FALSE(m_picture.IsPlaying());
    EXPECT_EQ(m_picture.GetCurrentFrame(), 6u);
}

TEST_F(AnimatedPicture, LoopsUntilStoppedAndStopsWhereItIs)
{
    ASSERT_TRUE(LoadGif(IDR_GIF_CLEANUP_DONE));
    ASSERT_TRUE(m_picture.Draw(true));
    bool bWrapped = false;
    UINT nLast = 0;
    PumpMessagesUntil(
        [&] {
            bWrapped = bWrapped || m_picture.GetCurrentFrame() < nLast;
            nLast = m_picture.GetCurrentFrame();
            return false;
        },
        900);
    EXPECT_TRUE(bWrapped);
    EXPECT_TRUE(m_picture.IsPlaying());
    m_picture.Stop();
    const UINT nStopped = m_picture.GetCurrentFrame();
    EXPECT_FALSE(m_picture.IsPlaying());
    PumpMessagesFor(200);
    EXPECT_EQ(m_picture.GetCurrentFrame(), nStopped);

    // A single frame in a loop plays until stopped.
    ASSERT_TRUE(LoadGif(IDR_GIF_CLEANUP_BANNER));
    EXPECT_FALSE(m_picture.IsPlaying());
    ASSERT_TRUE(m_picture.Draw(true));
    PumpMessagesFor(300);
    EXPECT_TRUE(m_picture.IsPlaying());
    // Once, it ends after its frame's time.
    ASSERT_TRUE(m_picture.Draw(false));
    EXPECT_TRUE(PumpMessagesUntil([&] { return !m_picture.IsPlaying(); }, 2000));
}

TEST_F(AnimatedPicture, PaintsTheFrameShownCentredOnTheBackground)
{
    ASSERT_TRUE(LoadGif(IDR_GIF_CLEANUP_WORKING));
    for (UINT nFrame : {6u, 2u}) {
        SCOPED_TRACE(testing::Message() << "frame " << nFrame);
        ASSERT_TRUE(m_picture.ShowFrame(nFrame));
        EXPECT_FALSE(m_picture.IsPlaying());
        const CWindowImage image = Shown();
        ASSERT_EQ(image.Width(), 60);
        ASSERT_EQ(image.Height(), 50);
        // The 40 x 30 frame sits at (10, 10); the background around it.
        const CDecodedFrame frame(IDR_GIF_CLEANUP_WORKING, nFrame);
        int nWrong = 0;
        for (int y = 0; y < 50; ++y) {
            for (int x = 0; x < 60; ++x) {
                const bool bInside = x >= 10 && x < 50 && y >= 10 && y < 40;
                const COLORREF expected = bInside ? frame.Pixel(x - 10, y - 10) : kBack;
                nWrong += Near(image.Pixel(x, y), expected) ? 0 : 1;
            }
        }
        EXPECT_EQ(nWrong, 0);
    }
    EXPECT_FALSE(m_picture.ShowFrame(7));
    EXPECT_EQ(m_picture.GetCurrentFrame(), 2u);

    // Without an image only the background is left.
    m_picture.UnLoad();
    EXPECT_FALSE(m_picture.IsLoaded());
    EXPECT_EQ(Shown().CountNear(kBack, 4), 60 * 50);
}

TEST_F(AnimatedPicture, ScalesALargerImageDownKeepingItsShape)
{
    SetWindowPos(m_hPicture, nullptr, 0, 0, 30, 30, SWP_NOMOVE | SWP_NOZORDER);
    ASSERT_TRUE(LoadGif(IDR_GIF_CLEANUP_WORKING));
    ASSERT_TRUE(m_picture.ShowFrame(6));
    const CWindowImage image = Shown();
    // 40 x 30 becomes 30 x 22, centred: background bands above and below.
    EXPECT_TRUE(Near(image.Pixel(15, 1), kBack));
    EXPECT_TRUE(Near(image.Pixel(15, 28), kBack));
    EXPECT_FALSE(Near(image.Pixel(15, 15), kBack));
    EXPECT_FALSE(Near(image.Pixel(0, 15), kBack));
    const int nBack = image.CountNear(kBack, 4);
    EXPECT_GE(nBack, 30 * 6);
    EXPECT_LE(nBack, 30 * 10);
}

TEST_F(AnimatedPicture, SizesItselfToTheImageAroundItsCentreOrFromItsCorner)
{
    m_picture.SetAutoSize(CAnimatedPicture::AutoSize::AroundCentre);
    // The control is 60 x 50 at (40, 30): its centre is (70, 55).
    for (UINT nId : {IDR_GIF_CLEANUP_WORKING, IDR_GIF_CLEANUP_DONE, IDR_GIF_CLEANUP_WORKING}) {
        ASSERT_TRUE(LoadGif(nId));
        const RECT rc = RectInParent(m_hPicture);
        EXPECT_EQ(rc.right - rc.left, m_picture.GetImageSize().cx);
        EXPECT_EQ(rc.bottom - rc.top, m_picture.GetImageSize().cy);
        EXPECT_NEAR((rc.left + rc.right) / 2.0, 70.0, 0.5);
        EXPECT_NEAR((rc.top + rc.bottom) / 2.0, 55.0, 0.5);
    }
    SetWindowPos(m_hPicture, nullptr, 5, 6, 10, 10, SWP_NOZORDER);
    m_picture.SetAutoSize(CAnimatedPicture::AutoSize::FromTopLeft);
    ASSERT_TRUE(LoadGif(IDR_GIF_CLEANUP_BANNER));
    const RECT rc = RectInParent(m_hPicture);
    EXPECT_EQ(rc.left, 5);
    EXPECT_EQ(rc.top, 6);
    EXPECT_EQ(rc.right, 5 + 443);
    EXPECT_EQ(rc.bottom, 6 + 27);
}

TEST_F(AnimatedPicture, RefusesDataThatIsNoImageAndSurvivesDamagedImages)
{
    ASSERT_TRUE(LoadGif(IDR_GIF_CLEANUP_DONE));
    const std::string garbage(500, '\x5A');
    EXPECT_FALSE(m_picture.Load(garbage.data(), garbage.size()));
    EXPECT_FALSE(m_picture.IsLoaded());
    EXPECT_FALSE(m_picture.Draw(false));
    EXPECT_FALSE(m_picture.Load(nullptr, 10));
    EXPECT_FALSE(m_picture.Load(garbage.data(), 0));
    EXPECT_FALSE(m_picture.LoadResource(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(9999), L"GIF"));
    EXPECT_EQ(Shown().CountNear(kBack, 4), 60 * 50);

    const std::string original = GifBytes(IDR_GIF_CLEANUP_DONE);
    std::mt19937 random(7);
    for (int i = 0; i < 300; ++i) {
        std::string bytes = original;
        if (i % 3 == 0) {
            bytes.resize(random() % bytes.size());
        } else {
            for (int c = 1 + static_cast<int>(random() % 8); c > 0; --c) {
                bytes[random() % bytes.size()] = static_cast<char>(random());
            }
        }
        if (m_picture.Load(bytes.data(), bytes.size())) {
            EXPECT_GE(m_picture.GetFrameCount(), 1u);
            EXPECT_LE(m_picture.GetImageSize().cx, 4096);
            for (UINT f = 0; f < m_picture.GetFrameCount(); ++f) {
                EXPECT_GT(m_picture.GetFrameDelay(f), 0u);
            }
            m_picture.ShowFrame(m_picture.GetFrameCount() - 1);
            UpdateWindow(m_hPicture);
        }
    }
}

TEST_F(AnimatedPicture, OutlivesItsWindowQuietly)
{
    ASSERT_TRUE(LoadGif(IDR_GIF_CLEANUP_DONE));
    ASSERT_TRUE(m_picture.Draw(true));
    DestroyWindow(m_hPicture);
    EXPECT_EQ(m_picture.GetSafeHwnd(), nullptr);
    EXPECT_FALSE(m_picture.IsPlaying());
    EXPECT_FALSE(m_picture.Draw(true));
    PumpMessagesFor(100);
}

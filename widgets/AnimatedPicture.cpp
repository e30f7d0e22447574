#include "widgets/AnimatedPicture.h"

#include <commctrl.h>
#include <shlwapi.h>
// GDI+ needs the COM declarations that WIN32_LEAN_AND_MEAN leaves out.
#include <objidl.h>

#include <gdiplus.h>

#include <algorithm>
#include <cstring>

#include "framework/ComPtr.h"
#include "framework/Handles.h"

namespace {

constexpr UINT_PTR kSubclassId = 0x4E414E49;  // any value unique among our subclasses
constexpr UINT_PTR kTimerId = 1;

// Limits for images from outside: no frame larger than a screen or two, no
// image that would take more than 256 MB once decoded.
constexpr UINT kMaxSide = 4096;
constexpr UINT kMaxFrames = 2048;
constexpr ULONGLONG kMaxDecodedBytes = 256ull * 1024 * 1024;

// GIF delays are in hundredths of a second. Like browsers, treat 0 and 10 ms
// as "unspecified": such frames would otherwise spin the timer.
UINT DelayFromHundredths(LONG lHundredths)
{
    return lHundredths < 2 ? 100 : static_cast<UINT>(lHundredths) * 10;
}

}  // namespace

CAnimatedPicture::CAnimatedPicture() = default;

CAnimatedPicture::~CAnimatedPicture()
{
    Detach();
}

BOOL CAnimatedPicture::SubclassDlgItem(UINT nID, HWND hParent)
{
    return Attach(GetDlgItem(hParent, static_cast<int>(nID)));
}

BOOL CAnimatedPicture::Attach(HWND hWnd)
{
    if (hWnd == nullptr || m_hWnd != nullptr) {
        return FALSE;
    }
    if (!SetWindowSubclass(hWnd, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) {
        return FALSE;
    }
    m_hWnd = hWnd;
    SetAutoSize(m_autoSize);
    Redraw();
    return TRUE;
}

void CAnimatedPicture::Detach()
{
    if (m_hWnd == nullptr) {
        return;
    }
    KillTimer(m_hWnd, kTimerId);
    RemoveWindowSubclass(m_hWnd, SubclassProc, kSubclassId);
    m_hWnd = nullptr;
    m_bPlaying = false;
}

BOOL CAnimatedPicture::LoadResource(HMODULE hModule, LPCWSTR pszName, LPCWSTR pszType)
{
    HRSRC hInfo = FindResourceW(hModule, pszName, pszType);
    HGLOBAL hData = hInfo != nullptr ? ::LoadResource(hModule, hInfo) : nullptr;
    const void* pData = hData != nullptr ? LockResource(hData) : nullptr;
    if (pData == nullptr) {
        UnLoad();
        return FALSE;
    }
    return Load(pData, SizeofResource(hModule, hInfo));
}

BOOL CAnimatedPicture::Load(const void* pData, size_t cbData)
{
    UnLoad();
    if (!m_gdiplus.Started() || pData == nullptr || cbData == 0 || cbData > UINT_MAX) {
        return FALSE;
    }
    CComPtr<IStream> stream;
    stream.Attach(SHCreateMemStream(static_cast<const BYTE*>(pData), static_cast<UINT>(cbData)));
    if (!stream) {
        return FALSE;
    }
    std::unique_ptr<Gdiplus::Bitmap> source(Gdiplus::Bitmap::FromStream(stream.get()));
    if (!source || source->GetLastStatus() != Gdiplus::Ok) {
        return FALSE;
    }
    const UINT cx = source->GetWidth();
    const UINT cy = source->GetHeight();
    if (cx == 0 || cy == 0 || cx > kMaxSide || cy > kMaxSide) {
        return FALSE;
    }

    // Still images have no frame dimension; animated ones list time first.
    GUID dimension = Gdiplus::FrameDimensionTime;
    UINT nFrames = 1;
    if (source->GetFrameDimensionsCount() > 0) {
        GUID dimensions[4] = {};
        const UINT nDimensions = source->GetFrameDimensionsCount() < 4 ? source->GetFrameDimensionsCount() : 4;
        if (source->GetFrameDimensionsList(dimensions, nDimensions) == Gdiplus::Ok) {
            dimension = dimensions[0];
            nFrames = source->GetFrameCount(&dimension);
        }
    }
    if (nFrames == 0) {
        nFrames = 1;
    }
    if (nFrames > kMaxFrames || static_cast<ULONGLONG>(cx) * cy * 4 * nFrames > kMaxDecodedBytes) {
        return FALSE;
    }

    std::vector<LONG> hundredths;
    const UINT cbDelays = source->GetPropertyItemSize(PropertyTagFrameDelay);
    if (cbDelays >= sizeof(Gdiplus::PropertyItem)) {
        std::vector<BYTE> buffer(cbDelays);
        auto* pItem = reinterpret_cast<Gdiplus::PropertyItem*>(buffer.data());
        if (source->GetPropertyItem(PropertyTagFrameDelay, cbDelays, pItem) == Gdiplus::Ok &&
            pItem->value != nullptr) {
            // The values must lie inside the buffer GDI+ filled.
            const BYTE* pFirst = static_cast<const BYTE*>(pItem->value);
            const BYTE* pEnd = buffer.data() + buffer.size();
            if (pFirst >= buffer.data() && pFirst <= pEnd) {
                const size_t n = std::min<size_t>(pItem->length, static_cast<size_t>(pEnd - pFirst)) / sizeof(LONG);
                hundredths.resize(n);
                memcpy(hundredths.data(), pFirst, n * sizeof(LONG));
            }
        }
    }

    std::vector<std::unique_ptr<Gdiplus::Bitmap>> frames;
    std::vector<UINT> delays;
    for (UINT i = 0; i < nFrames; ++i) {
        if (nFrames > 1 && source->SelectActiveFrame(&dimension, i) != Gdiplus::Ok) {
            return FALSE;
        }
        // Each frame is copied whole, so painting never decodes.
        auto frame = std::make_unique<Gdiplus::Bitmap>(static_cast<INT>(cx), static_cast<INT>(cy),
                                                       PixelFormat32bppPARGB);
        if (frame->GetLastStatus() != Gdiplus::Ok) {
            return FALSE;
        }
        Gdiplus::Graphics graphics(frame.get());
        graphics.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
        if (graphics.DrawImage(source.get(), 0, 0, static_cast<INT>(cx), static_cast<INT>(cy)) != Gdiplus::Ok) {
            return FALSE;
        }
        frames.push_back(std::move(frame));
        delays.push_back(DelayFromHundredths(i < hundredths.size() ? hundredths[i] : 0));
    }

    m_frames = std::move(frames);
    m_delays = std::move(delays);
    m_size = {static_cast<LONG>(cx), static_cast<LONG>(cy)};
    m_nFrame = 0;
    ApplyAutoSize();
    Redraw();
    return TRUE;
}

void CAnimatedPicture::UnLoad()
{
    Stop();
    m_frames.clear();
    m_delays.clear();
    m_size = {0, 0};
    m_nFrame = 0;
    Redraw();
}

BOOL CAnimatedPicture::Draw(bool bLoop)
{
    Stop();
    if (m_frames.empty() || m_hWnd == nullptr) {
        return FALSE;
    }
    m_nFrame = 0;
    m_bLoop = bLoop;
    m_bPlaying = true;
    m_ullFrameDue = GetTickCount64() + GetFrameDelay(0);
    // A single frame in a loop never changes: it needs no timer.
    if (m_frames.size() > 1 || !bLoop) {
        ScheduleNextFrame();
    }
    Redraw();
    return TRUE;
}

void CAnimatedPicture::Stop()
{
    if (m_hWnd != nullptr) {
        KillTimer(m_hWnd, kTimerId);
    }
    m_bPlaying = false;
}

BOOL CAnimatedPicture::ShowFrame(UINT nFrame)
{
    Stop();
    if (nFrame >= m_frames.size()) {
        return FALSE;
    }
    m_nFrame = nFrame;
    Redraw();
    return TRUE;
}

void CAnimatedPicture::SetBkColor(COLORREF crBack)
{
    m_crBack = crBack;
    Redraw();
}

void CAnimatedPicture::SetAutoSize(AutoSize mode)
{
    m_autoSize = mode;
    if (m_hWnd != nullptr) {
        RECT rc;
        GetWindowRect(m_hWnd, &rc);
        MapWindowPoints(HWND_DESKTOP, GetParent(m_hWnd), reinterpret_cast<POINT*>(&rc), 2);
        m_ptCentre2 = {rc.left + rc.right, rc.top + rc.bottom};
    }
    ApplyAutoSize();
}

UINT CAnimatedPicture::GetFrameDelay(UINT nFrame) const
{
    return nFrame < m_delays.size() ? m_delays[nFrame] : 0;
}

void CAnimatedPicture::ApplyAutoSize()
{
    if (m_hWnd == nullptr || m_frames.empty() || m_autoSize == AutoSize::None) {
        return;
    }
    if (m_autoSize == AutoSize::FromTopLeft) {
        SetWindowPos(m_hWnd, nullptr, 0, 0, m_size.cx, m_size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        return;
    }
    const int x = (m_ptCentre2.x - m_size.cx) / 2;
    const int y = (m_ptCentre2.y - m_size.cy) / 2;
    SetWindowPos(m_hWnd, nullptr, x, y, m_size.cx, m_size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

void CAnimatedPicture::ScheduleNextFrame()
{
    const ULONGLONG now = GetTickCount64();
    const UINT nWait = m_ullFrameDue > now ? static_cast<UINT>(m_ullFrameDue - now) : USER_TIMER_MINIMUM;
    SetTimer(m_hWnd, kTimerId, nWait, nullptr);
}

void CAnimatedPicture::Advance()
{
    if (!m_bPlaying || m_frames.empty()) {
        Stop();
        return;
    }
    const ULONGLONG now = GetTickCount64();
    if (now < m_ullFrameDue) {
        // Early: timers may fire up to a tick before their time.
        ScheduleNextFrame();
        return;
    }
    if (m_nFrame + 1 < m_frames.size()) {
        ++m_nFrame;
    } else if (m_bLoop) {
        m_nFrame = 0;
    } else {
        // Played once: the last frame stays up.
        Stop();
        return;
    }
    m_ullFrameDue += GetFrameDelay(m_nFrame);
    // After a long stall (a blocked thread), start afresh rather than race
    // through the frames that were missed.
    if (m_ullFrameDue + 1000 < now) {
        m_ullFrameDue = now + GetFrameDelay(m_nFrame);
    }
    ScheduleNextFrame();
    Redraw();
}

void CAnimatedPicture::Redraw() const
{
    if (m_hWnd != nullptr) {
        InvalidateRect(m_hWnd, nullptr, FALSE);
    }
}

void CAnimatedPicture::Paint(HDC hDc) const
{
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    const int cx = rc.right - rc.left;
    const int cy = rc.bottom - rc.top;
    if (cx <= 0 || cy <= 0) {
        return;
    }
    // Drawn off screen first, so a frame change never flickers.
    CMemoryDc memory(CreateCompatibleDC(hDc));
    CBitmap canvas(CreateCompatibleBitmap(hDc, cx, cy));
    if (!memory || !canvas) {
        return;
    }
    HGDIOBJ hOld = SelectObject(memory.get(), canvas.get());
    CBrush back(CreateSolidBrush(m_crBack));
    FillRect(memory.get(), &rc, back.get());
    if (m_nFrame < m_frames.size()) {
        // Natural size when it fits, else scaled down keeping its shape;
        // centred either way.
        int w = m_size.cx;
        int h = m_size.cy;
        if (w > cx || h > cy) {
            if (static_cast<LONGLONG>(w) * cy > static_cast<LONGLONG>(h) * cx) {
                h = static_cast<int>(static_cast<LONGLONG>(h) * cx / w);
                w = cx;
            } else {
                w = static_cast<int>(static_cast<LONGLONG>(w) * cy / h);
                h = cy;
            }
        }
        Gdiplus::Graphics graphics(memory.get());
        const bool bScaled = w != m_size.cx || h != m_size.cy;
        graphics.SetInterpolationMode(bScaled ? Gdiplus::InterpolationModeHighQualityBicubic
                                              : Gdiplus::InterpolationModeNearestNeighbor);
        graphics.SetPixelOffsetMode(Gdiplus::PixelOffsetModeHalf);
        graphics.DrawImage(m_frames[m_nFrame].get(), (cx - w) / 2, (cy - h) / 2, w, h);
    }
    BitBlt(hDc, 0, 0, cx, cy, memory.get(), 0, 0, SRCCOPY);
    SelectObject(memory.get(), hOld);
}

LRESULT CALLBACK CAnimatedPicture::SubclassProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam,
                                                UINT_PTR uIdSubclass, DWORD_PTR dwRefData)
{
    (void)uIdSubclass;
    auto* pThis = reinterpret_cast<CAnimatedPicture*>(dwRefData);
    if (uMsg == WM_NCDESTROY) {
        pThis->Detach();
        return DefSubclassProc(hWnd, uMsg, wParam, lParam);
    }
    return pThis->HandleMessage(uMsg, wParam, lParam);
}

LRESULT CAnimatedPicture::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) noexcept
{
    try {
        switch (uMsg) {
        case WM_ERASEBKGND:
            return TRUE;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC hDc = BeginPaint(m_hWnd, &ps);
            Paint(hDc);
            EndPaint(m_hWnd, &ps);
            return 0;
        }
        case WM_PRINTCLIENT:
            Paint(reinterpret_cast<HDC>(wParam));
            return 0;
        case WM_TIMER:
            if (wParam == kTimerId) {
                Advance();
                return 0;
            }
            break;
        default:
            break;
        }
    } catch (...) {
        // Painting allocates; a failure leaves the control unpainted.
        return 0;
    }
    return DefSubclassProc(m_hWnd, uMsg, wParam, lParam);
}

#include "tests/support/WindowCapture.h"

#include "framework/Handles.h"

CWindowImage CWindowImage::Capture(HWND hWnd, bool bClientOnly)
{
    CWindowImage image;
    RECT rc;
    if (bClientOnly) {
        GetClientRect(hWnd, &rc);
    } else {
        GetWindowRect(hWnd, &rc);
        OffsetRect(&rc, -rc.left, -rc.top);
    }
    const int cx = rc.right;
    const int cy = rc.bottom;
    if (cx <= 0 || cy <= 0) {
        return image;
    }
    HDC hWindowDc = bClientOnly ? GetDC(hWnd) : GetWindowDC(hWnd);
    if (hWindowDc == nullptr) {
        return image;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = cx;
    info.bmiHeader.biHeight = -cy;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pBits = nullptr;
    CBitmap dib(CreateDIBSection(hWindowDc, &info, DIB_RGB_COLORS, &pBits, nullptr, 0));
    CMemoryDc memory(CreateCompatibleDC(hWindowDc));
    if (dib && memory) {
        HGDIOBJ hOld = SelectObject(memory.get(), dib.get());
        BitBlt(memory.get(), 0, 0, cx, cy, hWindowDc, 0, 0, SRCCOPY);
        GdiFlush();
        SelectObject(memory.get(), hOld);
        const auto* pPixels = static_cast<const uint32_t*>(pBits);
        image.m_pixels.assign(pPixels, pPixels + static_cast<size_t>(cx) * cy);
        for (uint32_t& pixel : image.m_pixels) {
            pixel &= 0x00FFFFFF;
        }
        image.m_nWidth = cx;
        image.m_nHeight = cy;
    }
    ReleaseDC(hWnd, hWindowDc);
    return image;
}

COLORREF CWindowImage::Pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_nWidth || y >= m_nHeight) {
        return RGB(0, 0, 0);
    }
    const uint32_t p = m_pixels[static_cast<size_t>(y) * m_nWidth + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
}

int CWindowImage::CountNear(COLORREF cr, int nTolerance) const
{
    int n = 0;
    for (int y = 0; y < m_nHeight; ++y) {
        for (int x = 0; x < m_nWidth; ++x) {
            const COLORREF p = Pixel(x, y);
            if (abs(GetRValue(p) - GetRValue(cr)) <= nTolerance && abs(GetGValue(p) - GetGValue(cr)) <= nTolerance &&
                abs(GetBValue(p) - GetBValue(cr)) <= nTolerance) {
                ++n;
            }
        }
    }
    return n;
}

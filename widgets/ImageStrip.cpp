#include "widgets/ImageStrip.h"

#include "framework/Logger.h"

bool CImageStrip::Load(UINT nId100, UINT nId150, int nCell100, int nDpi)
{
    const bool bLarge = nDpi >= kLargeDpi;
    m_grid.reset(static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(bLarge ? nId150 : nId100),
                                                 IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    DIBSECTION dib = {};
    if (!m_grid || GetObjectW(m_grid.get(), sizeof(dib), &dib) != sizeof(dib) || dib.dsBm.bmBitsPixel != 32 ||
        dib.dsBm.bmBits == nullptr) {
        LOG_MESSAGE(L"CImageStrip::Load the grid %u is missing or not 32-bit", bLarge ? nId150 : nId100);
        m_grid.reset();
        return false;
    }
    // AlphaBlend wants each colour already multiplied by its alpha; the file
    // holds them straight.
    auto* pPixel = static_cast<BYTE*>(dib.dsBm.bmBits);
    const size_t nPixels = static_cast<size_t>(dib.dsBm.bmWidth) * static_cast<size_t>(abs(dib.dsBm.bmHeight));
    for (size_t i = 0; i < nPixels; ++i, pPixel += 4) {
        for (int c = 0; c < 3; ++c) {
            pPixel[c] = static_cast<BYTE>((pPixel[c] * pPixel[3] + 127) / 255);
        }
    }
    m_size = {dib.dsBm.bmWidth, abs(dib.dsBm.bmHeight)};
    m_nCell = bLarge ? nCell100 * 3 / 2 : nCell100;
    return true;
}

CBitmap CImageStrip::CopyCell(int nColumn, int nRow) const
{
    if (!m_grid || nColumn < 0 || nRow < 0 || (nColumn + 1) * m_nCell > m_size.cx || (nRow + 1) * m_nCell > m_size.cy) {
        return CBitmap();
    }
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), m_nCell, -m_nCell, 1, 32, BI_RGB};
    void* pBits = nullptr;
    CBitmap cell(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pBits, nullptr, 0));
    CMemoryDc source(CreateCompatibleDC(nullptr));
    CMemoryDc target(CreateCompatibleDC(nullptr));
    if (!cell || !source || !target) {
        return CBitmap();
    }
    HGDIOBJ hOldSource = SelectObject(source.get(), m_grid.get());
    HGDIOBJ hOldTarget = SelectObject(target.get(), cell.get());
    // A plain copy keeps the alpha bytes as they are.
    BitBlt(target.get(), 0, 0, m_nCell, m_nCell, source.get(), nColumn * m_nCell, nRow * m_nCell, SRCCOPY);
    SelectObject(target.get(), hOldTarget);
    SelectObject(source.get(), hOldSource);
    return cell;
}

void CImageStrip::Draw(HDC hDc, int nColumn, int nRow, int x, int y, int nInset) const
{
    if (!m_grid) {
        return;
    }
    const RECT rc = {nColumn * m_nCell + nInset, nRow * m_nCell + nInset, (nColumn + 1) * m_nCell - nInset,
                     (nRow + 1) * m_nCell - nInset};
    Blend(hDc, m_grid.get(), x, y, rc);
}

int CImageStrip::ScreenDpi()
{
    // A program aware of the system DPI keeps the DPI it started with, and
    // layouts ask for it at every step.
    static const int s_nDpi = [] {
        CClientDc dc(nullptr);
        return dc.get() != nullptr ? GetDeviceCaps(dc.get(), LOGPIXELSX) : 96;
    }();
    return s_nDpi;
}

bool CImageStrip::HasAlpha(HBITMAP hBitmap)
{
    DIBSECTION dib = {};
    return hBitmap != nullptr && GetObjectW(hBitmap, sizeof(dib), &dib) == sizeof(dib) && dib.dsBm.bmBitsPixel == 32;
}

void CImageStrip::Blend(HDC hDc, HBITMAP hBitmap, int x, int y, const RECT& rcSource)
{
    CMemoryDc memory(CreateCompatibleDC(hDc));
    if (!memory) {
        return;
    }
    HGDIOBJ hOld = SelectObject(memory.get(), hBitmap);
    const int cx = rcSource.right - rcSource.left;
    const int cy = rcSource.bottom - rcSource.top;
    const BLENDFUNCTION blend = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    AlphaBlend(hDc, x, y, cx, cy, memory.get(), rcSource.left, rcSource.top, cx, cy, blend);
    SelectObject(memory.get(), hOld);
}

#pragma once

#include <windows.h>

#include "framework/Handles.h"

// A grid of square images with an alpha channel (columns: glyphs, rows:
// states), kept in two resolutions so that each scaling gets images drawn
// for it. The grid for the screen's DPI is chosen when it is loaded.
class CImageStrip {
public:
    // 150% and above take the large grid.
    static constexpr int kLargeDpi = 132;

    // nId100 and nId150: the grids for 96 and 144 DPI, whose cells are
    // nCell100 pixels square and one and a half times that.
    [[nodiscard]] bool Load(UINT nId100, UINT nId150, int nCell100, int nDpi);
    bool IsLoaded() const { return static_cast<bool>(m_grid); }
    int CellSize() const { return m_nCell; }

    // A copy of one cell, premultiplied 32-bit, for CBitmapButton; null when
    // the cell lies outside the grid.
    CBitmap CopyCell(int nColumn, int nRow) const;
    // Blends the cell, less nInset pixels on each side, with its top-left
    // corner at x, y.
    void Draw(HDC hDc, int nColumn, int nRow, int x, int y, int nInset = 0) const;

    // Logical pixels per inch of the screen (96 at 100%).
    static int ScreenDpi();
    // A length of the 100% layout at the screen's scaling.
    static int Scaled(int n) { return MulDiv(n, ScreenDpi(), 96); }
    // Whether the bitmap is a 32-bit DIB, drawn with its alpha channel.
    static bool HasAlpha(HBITMAP hBitmap);
    // Blends a premultiplied 32-bit bitmap's rectangle at x, y.
    static void Blend(HDC hDc, HBITMAP hBitmap, int x, int y, const RECT& rcSource);

private:
    CBitmap m_grid;
    int m_nCell = 0;
    SIZE m_size = {};
};

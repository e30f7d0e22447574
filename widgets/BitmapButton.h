#pragma once

#include <windows.h>

#include "framework/Handles.h"
#include "framework/String.h"

// An owner-drawn push button that shows one bitmap normally, a second one
// while the mouse is over it or it is pressed, and a third one while it is
// disabled, with a tooltip. It takes over an existing button (a dialog
// template's), which keeps sending BN_CLICKED to its parent as any button
// does. A 32-bit bitmap is blended by its alpha channel (premultiplied, as
// CImageStrip makes them); in any other, pixels of the key colour are not
// drawn. Either way the parent's WM_CTLCOLORBTN brush shows through. A
// button with a window text shows it right of the bitmap. No focus
// rectangle is drawn: it is meant for mouse-driven window chrome.
class CBitmapButton {
public:
    CBitmapButton() = default;
    ~CBitmapButton();
    CBitmapButton(const CBitmapButton&) = delete;
    CBitmapButton& operator=(const CBitmapButton&) = delete;

    BOOL SubclassDlgItem(UINT nID, HWND hParent);
    HWND GetSafeHwnd() const { return m_hWnd; }

    // Takes both bitmaps over; the second may be null (the first then shows
    // in every state).
    void SetBitmaps(CBitmap normal, COLORREF crNormalKey, CBitmap second, COLORREF crSecondKey);
    // Shown while the button is disabled; without one the normal bitmap is.
    void SetDisabledBitmap(CBitmap disabled);
    // Gives the button the normal bitmap's size, keeping its top-left corner.
    void SizeToBitmap();

    BOOL SetTooltipText(const wchar_t* pszText);
    CString GetTooltipText() const;
    HWND GetTooltip() const { return m_hTooltip.get(); }

    // Whether the second bitmap is shown because the mouse is over the button.
    bool IsHot() const { return m_bHot; }

    // Draws the button in the state given, as WM_DRAWITEM asks.
    void DrawItem(const DRAWITEMSTRUCT& item) const;

private:
    static LRESULT CALLBACK ButtonProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                       DWORD_PTR dwRefData);
    static LRESULT CALLBACK ParentProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                       DWORD_PTR dwRefData);
    LRESULT HandleButtonMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) noexcept;
    void Detach();
    void SetHot(bool bHot);

    HWND m_hWnd = nullptr;
    HWND m_hParent = nullptr;
    CBitmap m_normal;
    CBitmap m_second;
    CBitmap m_disabled;
    COLORREF m_crNormalKey = RGB(255, 255, 255);
    COLORREF m_crSecondKey = RGB(255, 255, 255);
    CWindowHandle m_hTooltip;
    bool m_bHot = false;
};

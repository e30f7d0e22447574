#pragma once

#include <windows.h>

#include "framework/Handles.h"

// A strip of controls made from a dialog template: a child of a frame,
// which places it (a top bar, a status bar). Where no control is, the bar
// lets the mouse through to the frame, so that the frame's own zones (its
// caption, its sizing edges) work over it. A button's click reaches the
// frame as a command (WM_COMMAND with the button's id and no control
// handle), the way a menu item's does.
class CDialogBar {
public:
    CDialogBar() = default;
    virtual ~CDialogBar();
    CDialogBar(const CDialogBar&) = delete;
    CDialogBar& operator=(const CDialogBar&) = delete;

    // The template must be a child dialog (WS_CHILD, DS_CONTROL). The bar's
    // window gets nId as its control id, and stays hidden until shown.
    [[nodiscard]] bool Create(HWND hParent, UINT nIDTemplate, UINT nId);
    void Destroy();

    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND GetDlgItem(int nId) const { return ::GetDlgItem(m_hWnd, nId); }
    HWND GetParent() const { return m_hParent; }
    void SetBackColor(COLORREF cr);
    COLORREF GetBackColor() const { return m_crBack; }
    HBRUSH GetBackBrush() const { return m_brush.get(); }

protected:
    virtual void OnInitDialog() {}
    virtual void OnSize(int cx, int cy)
    {
        (void)cx;
        (void)cy;
    }
    // After the background is filled.
    virtual void OnPaint(HDC hDc, const RECT& rcClient)
    {
        (void)hDc;
        (void)rcClient;
    }
    // Any message but WM_INITDIALOG, before the bar's own handling; true
    // when handled, with the result to give (a brush for WM_CTLCOLOR*).
    virtual bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult);

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) noexcept;

    HWND m_hWnd = nullptr;
    HWND m_hParent = nullptr;
    COLORREF m_crBack = GetSysColor(COLOR_BTNFACE);
    CBrush m_brush{CreateSolidBrush(GetSysColor(COLOR_BTNFACE))};
};

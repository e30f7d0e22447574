#pragma once

#include <windows.h>

#include <vector>

// A visible top-level window for widget tests: it paints itself with a
// background colour, answers WM_CTLCOLORBTN and WM_CTLCOLORSTATIC with it,
// and records the WM_COMMAND notifications its children send.
class CTestParentWindow {
public:
    explicit CTestParentWindow(COLORREF crBack = RGB(0, 0, 255), int cx = 240, int cy = 200);
    ~CTestParentWindow();
    CTestParentWindow(const CTestParentWindow&) = delete;
    CTestParentWindow& operator=(const CTestParentWindow&) = delete;

    HWND Get() const { return m_hWnd; }
    // A child control of a system class (L"Static", L"Button") with an id.
    HWND AddChild(const wchar_t* pszClass, int nId, int x, int y, int cx, int cy, DWORD dwStyle = 0);

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd = nullptr;
    HBRUSH m_hBrush = nullptr;
};

#include "framework/Window.h"

CWindow::~CWindow()
{
    if (m_hWnd != nullptr) {
        // The derived parts are gone: no message may reach this object.
        SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
        HWND hWnd = m_hWnd;
        m_hWnd = nullptr;
        ::DestroyWindow(hWnd);
    }
}

bool CWindow::RegisterWindowClass(const wchar_t* pszClassName, UINT nStyle, HCURSOR hCursor, HBRUSH hBackground,
                                  HICON hIcon)
{
    WNDCLASSEXW wc = {sizeof(wc)};
    wc.style = nStyle;
    wc.lpfnWndProc = &CWindow::WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = hCursor;
    wc.hbrBackground = hBackground;
    wc.hIcon = hIcon;
    wc.lpszClassName = pszClassName;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool CWindow::CreateEx(DWORD dwExStyle, const wchar_t* pszClassName, const wchar_t* pszTitle, DWORD dwStyle, int x,
                       int y, int cx, int cy, HWND hWndParent, UINT_PTR nIdOrMenu)
{
    if (m_hWnd != nullptr) {
        return false;
    }
    HWND hWnd = CreateWindowExW(dwExStyle, pszClassName, pszTitle, dwStyle, x, y, cx, cy, hWndParent,
                                reinterpret_cast<HMENU>(nIdOrMenu), GetModuleHandleW(nullptr), this);
    return hWnd != nullptr && m_hWnd == hWnd;
}

bool CWindow::DestroyWindow()
{
    return m_hWnd != nullptr && ::DestroyWindow(m_hWnd) != FALSE;
}

CWindow* CWindow::FromHandle(HWND hWnd)
{
    if (hWnd == nullptr) {
        return nullptr;
    }
    // Only windows of a class whose procedure is our thunk carry an object
    // in their user data; another window's user data means something else.
    // The class procedure stays ours when the window is subclassed.
    if (GetClassLongPtrW(hWnd, GCLP_WNDPROC) != reinterpret_cast<ULONG_PTR>(&CWindow::WindowProc)) {
        return nullptr;
    }
    return reinterpret_cast<CWindow*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
}

LRESULT CALLBACK CWindow::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CWindow* pThis = nullptr;
    if (uMsg == WM_NCCREATE) {
        pThis = static_cast<CWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        if (pThis != nullptr) {
            SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pThis));
            pThis->m_hWnd = hWnd;
        }
    } else {
        pThis = reinterpret_cast<CWindow*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    }
    // Messages before WM_NCCREATE (WM_GETMINMAXINFO) belong to no object yet.
    if (pThis == nullptr) {
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    }
    const LRESULT lResult = pThis->HandleMessage(uMsg, wParam, lParam);
    if (uMsg == WM_NCDESTROY) {
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
        pThis->m_hWnd = nullptr;
        try {
            pThis->PostNcDestroy();
        } catch (...) {
            pThis->OnUnhandledException(L"CWindow::PostNcDestroy");
        }
    }
    return lResult;
}

LRESULT CWindow::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) noexcept
{
    try {
        switch (uMsg) {
        case WM_CREATE:
            return OnCreate(*reinterpret_cast<const CREATESTRUCTW*>(lParam));
        case WM_SIZE:
            OnSize(static_cast<UINT>(wParam), static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
            return 0;
        case WM_DESTROY:
            OnDestroy();
            return 0;
        default: {
            LRESULT lResult = 0;
            if (OnMessage(uMsg, wParam, lParam, lResult)) {
                return lResult;
            }
            return DefWindowProcW(m_hWnd, uMsg, wParam, lParam);
        }
        }
    } catch (...) {
        OnUnhandledException(L"CWindow::HandleMessage");
        // A failed creation must fail the window, not leave half an object.
        return uMsg == WM_CREATE ? -1 : 0;
    }
}

bool CWindow::OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    (void)uMsg;
    (void)wParam;
    (void)lParam;
    (void)lResult;
    return false;
}

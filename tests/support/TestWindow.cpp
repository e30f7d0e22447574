#include "tests/support/TestWindow.h"

namespace {

const wchar_t kClassName[] = L"NulvaneTestParent";

void RegisterOnce()
{
    static const ATOM atom = [] {
        WNDCLASSEXW wc = {sizeof(wc)};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kClassName;
        return RegisterClassExW(&wc);
    }();
    (void)atom;
}

}  // namespace

CTestParentWindow::CTestParentWindow(COLORREF crBack, int cx, int cy) : m_hBrush(CreateSolidBrush(crBack))
{
    RegisterOnce();
    m_hWnd = CreateWindowExW(0, kClassName, L"widget test", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 20, 20, cx, cy,
                             nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc));
    InvalidateRect(m_hWnd, nullptr, TRUE);
    UpdateWindow(m_hWnd);
}

CTestParentWindow::~CTestParentWindow()
{
    if (IsWindow(m_hWnd)) {
        DestroyWindow(m_hWnd);
    }
    DeleteObject(m_hBrush);
}

HWND CTestParentWindow::AddChild(const wchar_t* pszClass, int nId, int x, int y, int cx, int cy, DWORD dwStyle)
{
    return CreateWindowExW(0, pszClass, L"", WS_CHILD | WS_VISIBLE | dwStyle, x, y, cx, cy, m_hWnd,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(nId)), GetModuleHandleW(nullptr), nullptr);
}

LRESULT CALLBACK CTestParentWindow::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    auto* pThis = reinterpret_cast<CTestParentWindow*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (pThis != nullptr) {
        switch (uMsg) {
        case WM_ERASEBKGND: {
            RECT rc;
            GetClientRect(hWnd, &rc);
            FillRect(reinterpret_cast<HDC>(wParam), &rc, pThis->m_hBrush);
            return TRUE;
        }
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORSTATIC:
            return reinterpret_cast<LRESULT>(pThis->m_hBrush);
        default:
            break;
        }
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

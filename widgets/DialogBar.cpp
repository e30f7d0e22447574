#include "widgets/DialogBar.h"

#include "framework/Logger.h"

CDialogBar::~CDialogBar()
{
    Destroy();
}

bool CDialogBar::Create(HWND hParent, UINT nIDTemplate, UINT nId)
{
    if (m_hWnd != nullptr) {
        return false;
    }
    m_hParent = hParent;
    HWND hWnd = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(nIDTemplate), hParent,
                                   &CDialogBar::DialogProc, reinterpret_cast<LPARAM>(this));
    if (hWnd == nullptr) {
        LOG_ERROR(GetLastError(), L"CDialogBar::Create cannot create the bar of template %u", nIDTemplate);
        return false;
    }
    SetWindowLongPtrW(hWnd, GWLP_ID, static_cast<LONG_PTR>(nId));
    return true;
}

void CDialogBar::Destroy()
{
    if (m_hWnd != nullptr) {
        HWND hWnd = m_hWnd;
        // No message may reach a half-destroyed object.
        SetWindowLongPtrW(hWnd, DWLP_USER, 0);
        m_hWnd = nullptr;
        DestroyWindow(hWnd);
    }
}

void CDialogBar::SetBackColor(COLORREF cr)
{
    m_crBack = cr;
    m_brush.reset(CreateSolidBrush(cr));
    if (m_hWnd != nullptr) {
        InvalidateRect(m_hWnd, nullptr, TRUE);
    }
}

bool CDialogBar::OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult)
{
    (void)uMsg;
    (void)wParam;
    (void)lParam;
    (void)lResult;
    return false;
}

INT_PTR CALLBACK CDialogBar::DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CDialogBar* pThis = nullptr;
    if (uMsg == WM_INITDIALOG) {
        pThis = reinterpret_cast<CDialogBar*>(lParam);
        SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        pThis->m_hWnd = hWnd;
    } else {
        pThis = reinterpret_cast<CDialogBar*>(GetWindowLongPtrW(hWnd, DWLP_USER));
    }
    if (pThis == nullptr) {
        return FALSE;
    }
    if (uMsg == WM_NCDESTROY) {
        SetWindowLongPtrW(hWnd, DWLP_USER, 0);
        pThis->m_hWnd = nullptr;
        return FALSE;
    }
    return pThis->HandleMessage(uMsg, wParam, lParam);
}

INT_PTR CDialogBar::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) noexcept
{
    // A dialog procedure answers most messages through DWLP_MSGRESULT.
    auto answer = [this](LRESULT lResult) {
        SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, lResult);
        return TRUE;
    };
    try {
        // The bar's own class answers first, colours included.
        LRESULT lResult = 0;
        if (uMsg != WM_INITDIALOG && OnMessage(uMsg, wParam, lParam, lResult)) {
            const bool bColour = uMsg >= WM_CTLCOLORMSGBOX && uMsg <= WM_CTLCOLORSTATIC;
            return bColour ? static_cast<INT_PTR>(lResult) : answer(lResult);
        }
        switch (uMsg) {
        case WM_INITDIALOG:
            OnInitDialog();
            // The focus stays where it is: a bar is no dialog box.
            return FALSE;
        case WM_NCHITTEST:
            return answer(HTTRANSPARENT);
        case WM_ERASEBKGND: {
            RECT rc = {};
            GetClientRect(m_hWnd, &rc);
            FillRect(reinterpret_cast<HDC>(wParam), &rc, m_brush.get());
            return answer(1);
        }
        case WM_PAINT: {
            PAINTSTRUCT ps = {};
            HDC hDc = BeginPaint(m_hWnd, &ps);
            RECT rc = {};
            GetClientRect(m_hWnd, &rc);
            OnPaint(hDc, rc);
            EndPaint(m_hWnd, &ps);
            return answer(0);
        }
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            SetBkColor(reinterpret_cast<HDC>(wParam), m_crBack);
            return reinterpret_cast<INT_PTR>(m_brush.get());
        case WM_SIZE:
            OnSize(LOWORD(lParam), HIWORD(lParam));
            return answer(0);
        case WM_COMMAND: {
            HWND hControl = reinterpret_cast<HWND>(lParam);
            wchar_t szClass[16] = {};
            if (hControl != nullptr && HIWORD(wParam) == BN_CLICKED && GetClassNameW(hControl, szClass, 16) > 0 &&
                _wcsicmp(szClass, L"Button") == 0) {
                SendMessageW(m_hParent, WM_COMMAND, MAKEWPARAM(LOWORD(wParam), 0), 0);
                return TRUE;
            }
            break;
        }
        default:
            break;
        }
    } catch (...) {
        LOG_MESSAGE(L"CDialogBar: exception stopped in message %u", uMsg);
    }
    return FALSE;
}

#include "framework/Dialog.h"

CDialog::CDialog(UINT nIDTemplate, HWND hWndParent, HMODULE hResources)
    : m_nIDTemplate(nIDTemplate),
      m_hWndParent(hWndParent),
      m_hResources(hResources != nullptr ? hResources : GetModuleHandleW(nullptr))
{
}

CDialog::~CDialog()
{
    if (m_hWnd != nullptr) {
        DestroyWindow(m_hWnd);
    }
}

INT_PTR CDialog::DoModal()
{
    m_bEndModal = false;
    m_nResult = -1;

    // The owner is disabled while the dialog runs, as DialogBox does.
    const bool bDisableOwner = m_hWndParent != nullptr && IsWindowEnabled(m_hWndParent);
    if (bDisableOwner) {
        EnableWindow(m_hWndParent, FALSE);
    }
    HWND hWnd = CreateDialogParamW(m_hResources, MAKEINTRESOURCEW(m_nIDTemplate), m_hWndParent, DialogProc,
                                   reinterpret_cast<LPARAM>(this));
    if (hWnd == nullptr) {
        if (bDisableOwner) {
            EnableWindow(m_hWndParent, TRUE);
        }
        return -1;
    }
    if (!m_bEndModal) {
        ShowWindow(hWnd, SW_SHOWNORMAL);
        RunModalLoop();
    }
    // The owner is enabled before the dialog goes, so that activation
    // returns to it rather than to some other program's window.
    if (bDisableOwner) {
        EnableWindow(m_hWndParent, TRUE);
    }
    if (m_hWnd != nullptr) {
        DestroyWindow(m_hWnd);
    }
    return m_nResult;
}

void CDialog::RunModalLoop()
{
    MSG msg;
    while (!m_bEndModal) {
        const BOOL bGot = GetMessageW(&msg, nullptr, 0, 0);
        if (bGot == -1) {
            EndDialog(IDCANCEL);
            break;
        }
        if (bGot == 0) {
            // The outer loop must see the quit too.
            PostQuitMessage(static_cast<int>(msg.wParam));
            EndDialog(IDCANCEL);
            break;
        }
        if (msg.hwnd == nullptr) {
            if (m_threadMessageHandler) {
                try {
                    m_threadMessageHandler(msg);
                } catch (...) {
                    // A failing handler must not end the modal loop.
                }
            }
            // Thread timers with a callback still need dispatching; every
            // other windowless message is ignored by DispatchMessage.
            DispatchMessageW(&msg);
            continue;
        }
        if (m_hWnd == nullptr || !IsDialogMessageW(m_hWnd, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

void CDialog::EndDialog(INT_PTR nResult)
{
    m_nResult = nResult;
    m_bEndModal = true;
    // Wakes the loop when EndDialog comes from inside a message handler that
    // GetMessage is not waiting on (a timer, another window).
    if (m_hWnd != nullptr) {
        PostMessageW(m_hWnd, WM_NULL, 0, 0);
    }
}

BOOL CDialog::OnCommand(WORD wId, WORD wNotifyCode, HWND hControl)
{
    (void)wNotifyCode;
    (void)hControl;
    switch (wId) {
    case IDOK:
        OnOK();
        return TRUE;
    case IDCANCEL:
        OnCancel();
        return TRUE;
    default:
        return FALSE;
    }
}

HBRUSH CDialog::OnCtlColor(HDC hDc, HWND hWnd, UINT nCtlColor)
{
    (void)hDc;
    (void)hWnd;
    (void)nCtlColor;
    return nullptr;
}

bool CDialog::OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, INT_PTR& nResult)
{
    (void)uMsg;
    (void)wParam;
    (void)lParam;
    (void)nResult;
    return false;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    CDialog* pThis = nullptr;
    if (uMsg == WM_INITDIALOG) {
        pThis = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        pThis->m_hWnd = hWnd;
    } else {
        pThis = reinterpret_cast<CDialog*>(GetWindowLongPtrW(hWnd, DWLP_USER));
    }
    // Messages before WM_INITDIALOG (WM_SETFONT) belong to no object yet.
    if (pThis == nullptr) {
        return FALSE;
    }
    const INT_PTR nResult = pThis->HandleMessage(uMsg, wParam, lParam);
    if (uMsg == WM_NCDESTROY) {
        SetWindowLongPtrW(hWnd, DWLP_USER, 0);
        pThis->m_hWnd = nullptr;
    }
    return nResult;
}

INT_PTR CDialog::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) noexcept
{
    try {
        switch (uMsg) {
        case WM_INITDIALOG:
            return OnInitDialog();
        case WM_COMMAND:
            return OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        case WM_TIMER:
            OnTimer(wParam);
            return TRUE;
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORMSGBOX:
            return reinterpret_cast<INT_PTR>(OnCtlColor(reinterpret_cast<HDC>(wParam),
                                                        reinterpret_cast<HWND>(lParam), uMsg - WM_CTLCOLORMSGBOX));
        default: {
            INT_PTR nResult = FALSE;
            return OnMessage(uMsg, wParam, lParam, nResult) ? nResult : FALSE;
        }
        }
    } catch (...) {
        return FALSE;
    }
}

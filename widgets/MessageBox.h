#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "framework/String.h"

// The system's message box with buttons that carry the caller's texts
// instead of the system's "Yes", "No", "OK"... Buttons, icon, default
// button, foreground and topmost are chosen with the usual MB_* flags; the
// result is the id of the button pressed (IDYES, IDNO, IDOK...), whatever
// text it showed. Buttons widen, and the box with them, when a text needs
// more room than the system gave.
class CMessageBox {
public:
    CMessageBox(HWND hOwner, const CString& strText, const CString& strCaption, UINT uType);
    CMessageBox(const CMessageBox&) = delete;
    CMessageBox& operator=(const CMessageBox&) = delete;

    // nButtonId is the id the button has in the box: IDOK, IDCANCEL, IDYES,
    // IDNO, IDABORT, IDRETRY, IDIGNORE, IDTRYAGAIN, IDCONTINUE.
    void SetButtonText(int nButtonId, const CString& strText);

    // Receives each message posted to the thread itself (no window) while
    // the box is up. Without a handler the box's loop drops them, as the
    // system's loop does.
    using ThreadMessageHandler = std::function<void(const MSG&)>;
    void SetThreadMessageHandler(ThreadMessageHandler handler) { m_threadMessageHandler = std::move(handler); }

    // Shows the box and returns the id of the button pressed; 0 when the box
    // could not be shown.
    int DoModal();

private:
    static LRESULT CALLBACK CbtHook(int nCode, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK MessageFilterHook(int nCode, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK BoxProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                    DWORD_PTR dwRefData);
    void Relabel() noexcept;
    void FitButtons();

    struct CButtonText {
        int nId;
        CString strText;
    };

    HWND m_hOwner;
    CString m_strText;
    CString m_strCaption;
    UINT m_uType;
    std::vector<CButtonText> m_buttonTexts;
    ThreadMessageHandler m_threadMessageHandler;
    HWND m_hWnd = nullptr;
    bool m_bCaught = false;
};

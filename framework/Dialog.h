#pragma once

#include <windows.h>

#include <functional>

// A dialog from a template resource, shown modally by DoModal. The modal
// loop is our own rather than DialogBox's: the system's loop drops messages
// posted to the thread itself, and the thread that shows a dialog may be
// one that other threads and processes talk to by thread messages.
class CDialog {
public:
    // hResources null: the running program.
    explicit CDialog(UINT nIDTemplate, HWND hWndParent = nullptr, HMODULE hResources = nullptr);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Creates the dialog, runs the modal loop until EndDialog, destroys the
    // window and returns the value given to EndDialog; -1 when the template
    // cannot be loaded. A WM_QUIT met in the loop ends the dialog with
    // IDCANCEL and is posted again for the outer loop.
    INT_PTR DoModal();
    void EndDialog(INT_PTR nResult);

    // Receives each message posted to the thread (no window) while the modal
    // loop runs. Without a handler such messages are dropped.
    using ThreadMessageHandler = std::function<void(const MSG&)>;
    void SetThreadMessageHandler(ThreadMessageHandler handler) { m_threadMessageHandler = std::move(handler); }

    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND GetDlgItem(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
    HMODULE ResourceModule() const { return m_hResources; }

protected:
    // Handlers run inside the dialog procedure: an exception that escapes
    // one is swallowed there, never passed into the system.
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }
    // TRUE when the command was handled. The default sends IDOK and IDCANCEL
    // to OnOK and OnCancel.
    virtual BOOL OnCommand(WORD wId, WORD wNotifyCode, HWND hControl);
    virtual void OnTimer(UINT_PTR nIDEvent) { (void)nIDEvent; }
    // A brush for WM_CTLCOLOR* (nCtlColor is CTLCOLOR_DLG, CTLCOLOR_STATIC,
    // ...); null lets the system paint.
    virtual HBRUSH OnCtlColor(HDC hDc, HWND hWnd, UINT nCtlColor);
    // Any other message; return true when handled and set the dialog
    // procedure's result.
    virtual bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, INT_PTR& nResult);

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) noexcept;
    void RunModalLoop();

    UINT m_nIDTemplate;
    HWND m_hWndParent;
    HMODULE m_hResources;
    HWND m_hWnd = nullptr;
    bool m_bEndModal = false;
    INT_PTR m_nResult = -1;
    ThreadMessageHandler m_threadMessageHandler;
};

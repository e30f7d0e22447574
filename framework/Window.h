#pragma once

#include <windows.h>

#include "framework/CmdTarget.h"

// A window owned by an object. The window procedure is a static thunk that
// stores the object at WM_NCCREATE and hands every later message to
// HandleMessage, which never lets an exception reach the system.
class CWindow : public CCmdTarget {
public:
    CWindow() = default;
    // A window still alive is detached from the object and destroyed.
    ~CWindow() override;

    // Registers a window class whose procedure is the thunk; registering a
    // name twice is not an error.
    static bool RegisterWindowClass(const wchar_t* pszClassName, UINT nStyle, HCURSOR hCursor, HBRUSH hBackground,
                                    HICON hIcon);

    // The class must have been registered through RegisterWindowClass.
    // x, y, cx, cy as CreateWindowEx takes them (CW_USEDEFAULT included).
    [[nodiscard]] bool CreateEx(DWORD dwExStyle, const wchar_t* pszClassName, const wchar_t* pszTitle, DWORD dwStyle,
                                int x, int y, int cx, int cy, HWND hWndParent, UINT_PTR nIdOrMenu);
    bool DestroyWindow();

    HWND GetSafeHwnd() const { return m_hWnd; }
    // The object of a window created through CreateEx; null for others.
    static CWindow* FromHandle(HWND hWnd);

    // Offered every message of the thread whose window is this one or one
    // of its descendants, before it is dispatched; true when consumed.
    virtual BOOL PreTranslateMessage(MSG* pMsg)
    {
        (void)pMsg;
        return FALSE;
    }

protected:
    // Any message; return true when handled, with the procedure's result.
    // Unhandled messages go to DefWindowProc.
    virtual bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult);
    // WM_CREATE: -1 fails the creation.
    virtual int OnCreate(const CREATESTRUCTW& cs)
    {
        (void)cs;
        return 0;
    }
    virtual void OnSize(UINT nType, int cx, int cy)
    {
        (void)nType;
        (void)cx;
        (void)cy;
    }
    virtual void OnDestroy() {}
    // The last message; the object no longer has a window.
    virtual void PostNcDestroy() {}
    // A handler let an exception escape; it stops here.
    virtual void OnUnhandledException(const wchar_t* pszWhere) noexcept { (void)pszWhere; }

private:
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) noexcept;

    HWND m_hWnd = nullptr;
};

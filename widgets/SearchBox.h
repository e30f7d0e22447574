#pragma once

#include <windows.h>

#include "framework/String.h"

// An edit box for search text that shows a placeholder in grey while it
// holds no search. The focus empties the placeholder, so does typing into
// a box that still shows it, and the first click after the box lost the
// focus selects all its text. It takes over an existing edit control.
class CSearchBox {
public:
    static constexpr COLORREF kPlaceholderColour = RGB(0xC0, 0xC0, 0xC0);

    CSearchBox() = default;
    ~CSearchBox();
    CSearchBox(const CSearchBox&) = delete;
    CSearchBox& operator=(const CSearchBox&) = delete;

    BOOL SubclassDlgItem(UINT nID, HWND hParent);
    HWND GetSafeHwnd() const { return m_hWnd; }

    // Sets the placeholder's text and shows it.
    void SetPlaceholder(const CString& strPlaceholder);
    void ShowPlaceholder();
    bool IsShowingPlaceholder() const { return m_bPlaceholder; }
    // The text to search for, with the placeholder shown again in its
    // place; false, and nothing taken, while the placeholder shows.
    bool TakeSearchText(CString& strText);

private:
    static LRESULT CALLBACK EditProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                     DWORD_PTR dwRefData);
    static LRESULT CALLBACK ParentProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR uIdSubclass,
                                       DWORD_PTR dwRefData);
    LRESULT HandleEditMessage(UINT uMsg, WPARAM wParam, LPARAM lParam) noexcept;
    void ClearPlaceholder();
    void Detach();

    HWND m_hWnd = nullptr;
    HWND m_hParent = nullptr;
    CString m_strPlaceholder;
    bool m_bPlaceholder = false;
    bool m_bSelectOnClick = true;
};

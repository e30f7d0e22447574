#pragma once

#include <windows.h>

#include "framework/Handles.h"
#include "framework/String.h"
#include "widgets/BitmapButton.h"
#include "widgets/DialogBar.h"
#include "widgets/ImageStrip.h"
#include "widgets/SearchBox.h"

// The browser window's top bar (template 245): the caption row, which the
// bar draws itself (the window has no system caption), with the boss,
// minimise, maximise and close buttons; and the navigation row with the
// page buttons, the address box with the page icon, and the search box.
// Without the toolbar (a page asked for a window without one) only the
// caption row shows.
class CTopBar : public CDialogBar {
public:
    // The columns of the window's image grid.
    enum Glyph {
        kBack, kForward, kRefresh, kStop, kHome, kGo, kSearch, kPrint, kTools, kBoss, kMinimize, kMaximize, kRestore,
        kClose, kNewTab, kTabClose, kTabList, kLeft, kRight, kStar, kLock
    };

    explicit CTopBar(const CImageStrip& images) : m_images(images) {}

    int GetHeight() const;
    void SetToolbarShown(bool bShown);
    void SetCaption(const CString& strCaption);
    const CString& GetCaption() const { return m_strCaption; }
    // The maximise button shows restore and its tooltip changes while the
    // window is maximised or in full screen.
    void SetMaximizeState(bool bFullScreen, bool bMaximized);
    CString GetMaximizeTooltip() const { return m_maximize.GetTooltipText(); }
    void SetBackEnabled(bool bEnabled);
    void SetForwardEnabled(bool bEnabled);
    // Shown only; null shows the program's icon.
    void SetPageIcon(HANDLE hIcon, UINT nKind);

    CString GetAddressText() const;
    void SetAddressText(const CString& strText);
    // Puts the focus there and selects the whole text.
    void FocusAddress();
    void FocusSearch();
    HWND GetAddressBox() const { return GetDlgItem(kAddressId); }
    CSearchBox& GetSearchBox() { return m_search; }
    HWND GetToolsButton() const { return GetDlgItem(kToolsId); }

protected:
    void OnInitDialog() override;
    void OnSize(int cx, int cy) override;
    void OnPaint(HDC hDc, const RECT& rcClient) override;
    bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override;

private:
    static constexpr int kAddressId = 1012;
    static constexpr int kToolsId = 1035;

    void Layout(int cx);
    void PaintField(HDC hDc, const RECT& rc) const;

    const CImageStrip& m_images;
    CBitmapButton m_buttons[13];
    CBitmapButton& m_maximize = m_buttons[11];
    CSearchBox m_search;
    CString m_strCaption;
    CFont m_captionFont;
    CIcon m_programIcon;
    bool m_bToolbar = true;
    bool m_bRestoreGlyph = false;
    RECT m_rcAddressField = {};
    RECT m_rcSearchField = {};
};

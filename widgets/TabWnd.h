#pragma once

#include <windows.h>

#include <vector>

#include "framework/Handles.h"
#include "framework/String.h"
#include "framework/Window.h"
#include "widgets/BitmapButton.h"
#include "widgets/ImageStrip.h"

// The strip of tabs above a window's pages. A tab that is closed stays in
// the strip, hidden, so tab indices never change. Each shown tab has a
// close button; the strip has a new-tab button after the last tab, a
// tab-list button, left and right buttons when the tabs do not fit, and a
// make-default button. While the strip exists it holds TAB_OPEN_MUTEX, by
// which other copies of the program know a window is up.
//
// To its parent it sends WM_NOTIFY (TCN_SELCHANGE) when the user selects a
// tab, WM_COMMAND with the configured commands (new tab, make default), and
// posts the tab messages below with the tab's index in wParam.
class TTabWnd : public CWindow {
public:
    static constexpr wchar_t kTabOpenMutexName[] = L"TAB_OPEN_MUTEX";
    static constexpr UINT WM_TAB_CLOSE = WM_APP + 12;
    static constexpr UINT WM_TAB_CLOSE_OTHERS = WM_APP + 13;
    static constexpr UINT WM_TAB_REFRESH = WM_APP + 14;
    // wParam unused.
    static constexpr UINT WM_TAB_REFRESH_ALL = WM_APP + 15;

    // What the strip shows and sends; the glyphs are columns of the images.
    struct CSettings {
        const CImageStrip* pImages = nullptr;
        int nNewTabGlyph = 0, nCloseGlyph = 0, nListGlyph = 0, nLeftGlyph = 0, nRightGlyph = 0, nMakeDefaultGlyph = 0;
        CString strNewTabTip, strListTip, strLeftTip, strRightTip, strMakeDefault, strMakeDefaultTip;
        UINT nNewTabCommand = 0, nMakeDefaultCommand = 0;
        // The tab's context menu (its first pop-up) and its five commands.
        UINT nContextMenu = 0;
        UINT nMenuClose = 0, nMenuCloseOthers = 0, nMenuRefresh = 0, nMenuRefreshAll = 0, nMenuNewTab = 0;
    };

    TTabWnd() = default;
    ~TTabWnd() override;

    [[nodiscard]] bool Create(HWND hParent, UINT nId, const CSettings& settings);
    static int HeightFor(int nDpi);

    // The new tab's index. It is open and not selected.
    int AddTab(const CString& strLabel, LPARAM lData);
    // False for a closed tab or an index out of range. Sends nothing.
    bool SelectTab(int nIndex);
    // Closes the tab: hidden from now on.
    void HideTab(int nIndex);
    int GetCurSel() const { return m_nCurrent; }
    int GetTabCount() const { return static_cast<int>(m_tabs.size()); }
    int GetOpenCount() const;
    bool IsTabOpen(int nIndex) const;
    LPARAM GetTabData(int nIndex) const;
    void SetTabLabel(int nIndex, const CString& strLabel);
    CString GetTabLabel(int nIndex) const;
    // The strip only shows the icon (kind IMAGE_ICON or IMAGE_BITMAP); its
    // owner keeps and frees it. Null: the default icon given here.
    void SetTabIcon(int nIndex, HANDLE hIcon, UINT nKind);
    void SetDefaultIcon(HICON hIcon) { m_hDefaultIcon = hIcon; }
    void ShowMakeDefault(bool bShow);
    bool IsMakeDefaultShown() const { return m_bMakeDefaultShown; }
    // The first open tab shown while the tabs do not all fit.
    int GetFirstShown() const { return m_nFirstShown; }

    // Where the tabs go: the index under a point, or -1; bOnClose tells
    // whether the point is on the tab's close button.
    int HitTest(POINT pt, bool* pbOnClose = nullptr) const;
    // Selects the tab the user chose from the tab list, as a click would.
    void ChooseFromList(int nIndex);

protected:
    int OnCreate(const CREATESTRUCTW& cs) override;
    void OnSize(UINT nType, int cx, int cy) override;
    void OnDestroy() override;
    bool OnMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override;

private:
    struct CTab {
        CString strLabel;
        LPARAM lData = 0;
        HANDLE hIcon = nullptr;
        UINT nIconKind = IMAGE_ICON;
        bool bOpen = true;
    };
    struct CShownTab {
        int nIndex;
        RECT rc;
    };

    void Layout();
    void Paint(HDC hDc, const RECT& rcClient) const;
    void PaintTab(HDC hDc, const CTab& tab, const RECT& rc, bool bCurrent, bool bCloseHot) const;
    RECT CloseRect(const RECT& rcTab) const;
    void UserSelect(int nIndex);
    void ShowListMenu();
    void ShowContextMenu(int nIndex, POINT ptScreen);
    void OnButton(UINT nId);
    void Scroll(int nDelta);
    void EnsureCurrentShown();
    std::vector<int> OpenTabs() const;

    CSettings m_settings;
    UINT m_nId = 0;
    std::vector<CTab> m_tabs;
    std::vector<CShownTab> m_shown;
    int m_nCurrent = -1;
    int m_nFirstShown = 0;
    bool m_bOverflow = false;
    bool m_bMakeDefaultShown = true;
    int m_nHotClose = -1;
    HICON m_hDefaultIcon = nullptr;
    CFont m_font;
    CHandle m_hTabOpenMutex;
    CBitmapButton m_newTab, m_list, m_left, m_right, m_makeDefault;
};

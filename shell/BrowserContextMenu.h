#pragma once

#include <windows.h>
#include <oaidl.h>

#include "framework/String.h"

// The page's context menu: the control's own menu of the clicked kind,
// trimmed, with the encoding submenu and an "Open in New Tab" item before
// the control's "Open in New Window".
class CBrowserContextMenu {
public:
    // The control's command ids that the menu works with.
    static constexpr UINT kOpenInNewWindow = 2137;
    static constexpr UINT kEncoding = 2292;
    static constexpr UINT kRemoved[] = {2266, 2261, 2139};

    // IDocHostUIHandler::ShowContextMenu for the control in the view. S_OK
    // when the menu was shown here; S_FALSE lets the control show its own
    // (the platform's menu resource cannot be loaded).
    static HRESULT Show(HWND hWndView, HWND hWndControl, DWORD dwId, const POINT& pt, IUnknown* pCommandTarget,
                        IDispatch* pObject);

    // Trims the menu and adds our item; the item's text is for an image
    // (IDS_OPENNEWTAB_IMAGE) or anything else (IDS_OPENNEWTAB_ANCHOR).
    // hEncoding, when not null, becomes item 2292's submenu.
    static void Prepare(HMENU hMenu, bool bImage, HMENU hEncoding);
    // The address of the link the element is, or is inside; empty if none.
    static CString LinkAddress(IDispatch* pObject);
};

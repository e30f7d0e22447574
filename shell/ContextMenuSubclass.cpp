#include "shell/ContextMenuSubclass.h"

#include <commctrl.h>

#include "resources/Resource.h"
#include "shell/BrowserContextMenu.h"

namespace {

constexpr UINT_PTR kSubclassId = 0x4E56;  // "NV"

}  // namespace

bool CContextMenuSubclass::Install(HWND hWnd)
{
    if (hWnd == nullptr || IsInstalled(hWnd)) {
        return false;
    }
    const LONG_PTR pfnOriginal = GetWindowLongPtrW(hWnd, GWLP_WNDPROC);
    if (!SetWindowSubclass(hWnd, Proc, kSubclassId, 0)) {
        return false;
    }
    SetPropW(hWnd, kPropertyName, reinterpret_cast<HANDLE>(pfnOriginal));
    return true;
}

LRESULT CALLBACK CContextMenuSubclass::Proc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR)
{
    switch (uMsg) {
    case WM_INITMENUPOPUP: {
        const LRESULT lResult = DefSubclassProc(hWnd, uMsg, wParam, lParam);
        HMENU hMenu = reinterpret_cast<HMENU>(wParam);
        const UINT nState = GetMenuState(hMenu, CBrowserContextMenu::kOpenInNewWindow, MF_BYCOMMAND);
        if (nState != static_cast<UINT>(-1) && GetMenuState(hMenu, ID_OPEN_IN_NEW_TAB, MF_BYCOMMAND) != static_cast<UINT>(-1)) {
            EnableMenuItem(hMenu, ID_OPEN_IN_NEW_TAB,
                           MF_BYCOMMAND | ((nState & (MF_GRAYED | MF_DISABLED)) != 0 ? MF_GRAYED : MF_ENABLED));
        }
        return lResult;
    }
    case WM_NCDESTROY:
        RemoveWindowSubclass(hWnd, Proc, kSubclassId);
        RemovePropW(hWnd, kPropertyName);
        break;
    default:
        break;
    }
    return DefSubclassProc(hWnd, uMsg, wParam, lParam);
}

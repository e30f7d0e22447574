#include "shell/BrowserContextMenu.h"

#include <mshtml.h>
#include <mshtmhst.h>

#include "framework/ComPtr.h"
#include "framework/LanguageManagerResource.h"
#include "framework/Logger.h"
#include "resources/Resource.h"
#include "shell/ContextMenuSubclass.h"
#include "shell/FrameUrlMessage.h"
#include "shell/ShellMessages.h"
#include "shell/SystemLibrary.h"

namespace {

constexpr UINT kContextMenuResource = 24641;
// The document's command that hands out its encoding menu.
constexpr DWORD kGetMimeCharsetMenu = 27;
const GUID kShellDocViewGroup = {0x000214D1, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// How far up from an image a link is looked for.
constexpr int kMaxLinkDepth = 32;

bool IsSeparator(HMENU hMenu, int nPosition)
{
    MENUITEMINFOW info = {sizeof(info), MIIM_FTYPE};
    return GetMenuItemInfoW(hMenu, nPosition, TRUE, &info) && (info.fType & MFT_SEPARATOR) != 0;
}

// Separators at either edge, or one after another, separate nothing.
void RemoveStraySeparators(HMENU hMenu)
{
    for (int i = GetMenuItemCount(hMenu) - 1; i >= 0; --i) {
        const int nCount = GetMenuItemCount(hMenu);
        if (IsSeparator(hMenu, i) && (i == 0 || i == nCount - 1 || IsSeparator(hMenu, i + 1))) {
            DeleteMenu(hMenu, i, MF_BYPOSITION);
        }
    }
    if (GetMenuItemCount(hMenu) > 0 && IsSeparator(hMenu, 0)) {
        DeleteMenu(hMenu, 0, MF_BYPOSITION);
    }
}

HMENU EncodingMenu(IUnknown* pCommandTarget)
{
    CComPtr<IOleCommandTarget> pTarget;
    if (pCommandTarget == nullptr ||
        FAILED(pCommandTarget->QueryInterface(IID_IOleCommandTarget, pTarget.put_void()))) {
        return nullptr;
    }
    CVariant menu;
    if (FAILED(pTarget->Exec(&kShellDocViewGroup, kGetMimeCharsetMenu, 0, nullptr, menu.get()))) {
        return nullptr;
    }
    const HMENU hMenu = static_cast<HMENU>(V_BYREF(menu.get()));
    // The variant holds a handle, not a reference: nothing to clear.
    V_VT(menu.get()) = VT_EMPTY;
    return IsMenu(hMenu) ? hMenu : nullptr;
}

}  // namespace

void CBrowserContextMenu::Prepare(HMENU hMenu, bool bImage, HMENU hEncoding)
{
    if (hEncoding != nullptr) {
        MENUITEMINFOW info = {sizeof(info), MIIM_SUBMENU};
        info.hSubMenu = hEncoding;
        SetMenuItemInfoW(hMenu, kEncoding, FALSE, &info);
    }
    for (UINT nId : kRemoved) {
        DeleteMenu(hMenu, nId, MF_BYCOMMAND);
    }
    RemoveStraySeparators(hMenu);
    const CString strLabel =
        CLanguageManagerResource::Instance()->GetString(bImage ? L"IDS_OPENNEWTAB_IMAGE" : L"IDS_OPENNEWTAB_ANCHOR");
    InsertMenuW(hMenu, kOpenInNewWindow, MF_BYCOMMAND | MF_STRING, ID_OPEN_IN_NEW_TAB, strLabel);
}

CString CBrowserContextMenu::LinkAddress(IDispatch* pObject)
{
    CComPtr<IHTMLElement> pElement;
    if (pObject == nullptr || FAILED(pObject->QueryInterface(IID_IHTMLElement, pElement.put_void()))) {
        return CString();
    }
    for (int nDepth = 0; pElement && nDepth < kMaxLinkDepth; ++nDepth) {
        CComPtr<IHTMLAnchorElement> pAnchor;
        CBstr bstrHref;
        if (SUCCEEDED(pElement.QueryInterface(pAnchor)) && SUCCEEDED(pAnchor->get_href(bstrHref.put())) &&
            bstrHref.get() != nullptr) {
            return CString(bstrHref.get());
        }
        CComPtr<IHTMLElement> pParent;
        if (FAILED(pElement->get_parentElement(pParent.put()))) {
            break;
        }
        pElement = std::move(pParent);
    }
    return CString();
}

HRESULT CBrowserContextMenu::Show(HWND hWndView, HWND hWndControl, DWORD dwId, const POINT& pt,
                                  IUnknown* pCommandTarget, IDispatch* pObject)
{
    CSystemLibrary library(CSystemLibrary::kBrowserResourceLibraries);
    HMENU hMenuBar = library.IsLoaded() ? LoadMenuW(library.Get(), MAKEINTRESOURCEW(kContextMenuResource)) : nullptr;
    if (hMenuBar == nullptr) {
        LOG_MESSAGE(L"CBrowserContextMenu::Show the platform's context menu cannot be loaded");
        return S_FALSE;
    }
    HMENU hMenu = GetSubMenu(hMenuBar, static_cast<int>(dwId));
    if (hMenu == nullptr || hWndControl == nullptr) {
        DestroyMenu(hMenuBar);
        return S_FALSE;
    }
    HMENU hEncoding = EncodingMenu(pCommandTarget);
    Prepare(hMenu, dwId == CONTEXT_MENU_IMAGE, hEncoding);
    CContextMenuSubclass::Install(hWndControl);
    const UINT nCommand = static_cast<UINT>(
        TrackPopupMenu(hMenu, TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, pt.x, pt.y, 0, hWndControl, nullptr));
    if (hEncoding != nullptr) {
        // The document owns its encoding menu: it must not go with ours.
        MENUITEMINFOW info = {sizeof(info), MIIM_SUBMENU};
        info.hSubMenu = nullptr;
        SetMenuItemInfoW(hMenu, kEncoding, FALSE, &info);
    }
    DestroyMenu(hMenuBar);

    if (nCommand == ID_OPEN_IN_NEW_TAB) {
        const CString strUrl = LinkAddress(pObject);
        if (!strUrl.IsEmpty()) {
            (void)CFrameUrlMessage::Post(GetAncestor(hWndView, GA_ROOT), strUrl, 0);
        }
    } else if (nCommand != 0) {
        if (nCommand == kOpenInNewWindow) {
            // The window this opens is the user's own request, not a pop-up.
            SendMessageW(hWndView, WM_VIEW_USER_REQUESTED_WINDOW, 0, 0);
        }
        SendMessageW(hWndControl, WM_COMMAND, nCommand, 0);
    }
    return S_OK;
}

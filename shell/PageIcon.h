#pragma once

#include <windows.h>

#include "framework/String.h"

struct IHTMLDocument2;

// The icon a tab shows for its page: an icon (IMAGE_ICON) or a bitmap
// (IMAGE_BITMAP), owned here and freed by its kind.
class CPageIcon {
public:
    CPageIcon() = default;
    ~CPageIcon() { Free(); }
    CPageIcon(const CPageIcon&) = delete;
    CPageIcon& operator=(const CPageIcon&) = delete;

    HANDLE Get() const { return m_hImage; }
    UINT GetKind() const { return m_nKind; }

    // The program's own icon, 16 by 16: what a page shows until its own
    // icon is known.
    void SetProgramIcon();
    // Loads the icon at the address (a picture first, else a download of
    // the file beside the user's application data, deleted at once). False
    // leaves the current icon.
    bool Load(const CString& strAddress);

    // The href of the document's first link whose rel is "icon" or
    // "shortcut icon" (any case); "/favicon.ico" when there is none.
    static CString FindIconHref(IHTMLDocument2* pDocument);
    static bool IsIconRel(const CString& strRel);
    // An icon address as the page wrote it, made absolute against the
    // page's location: "/x.ico" against the host, "x.ico" against the
    // page's folder; then canonicalised.
    static CString ResolveAddress(const CString& strHref, const CString& strLocation);

private:
    void Free();
    void Take(HANDLE hImage, UINT nKind);
    bool LoadPicture(const CString& strAddress);
    bool LoadDownloaded(const CString& strAddress);

    HANDLE m_hImage = nullptr;
    UINT m_nKind = IMAGE_ICON;
};

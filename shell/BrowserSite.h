#pragma once

#include <windows.h>
#include <exdisp.h>
#include <oleidl.h>

#include <memory>

#include "framework/ComPtr.h"

class CBrowserEvents;

// The site of one rendering control: a reference-counted object that owns
// the count, with one small part per host interface (client site, in-place
// site, in-place frame, UI handler with the context menu, message display,
// command handler, service provider, event sink) delegating IUnknown to it
// and one QueryInterface table. Events reach the view through the narrow
// CBrowserEvents interface until Close.
class CBrowserSite final : public IUnknown {
public:
    // Creates the control (or takes pControl, for tests), embeds it in
    // hWndParent over rc and connects its events. On failure nothing stays
    // connected and the site is released.
    static HRESULT Create(HWND hWndParent, const RECT& rc, CBrowserEvents* pEvents, CComPtr<CBrowserSite>& site,
                          IOleObject* pControl = nullptr);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // Null once closed, or when the control is not a web browser.
    IWebBrowser2* GetBrowser() const { return m_pBrowser.get(); }
    // The control's own window; null when it has none (yet).
    HWND GetControlWindow() const;
    HWND GetParentWindow() const { return m_hWndParent; }
    void SetRect(const RECT& rc);
    // Offers a keyboard message to the control; true when it used it.
    bool TranslateAccelerator(MSG* pMsg);
    // Takes the control down in the order it needs; see the .cpp. Safe to
    // call twice. Events stop at once.
    void Close();
    bool IsClosed() const { return m_pControl.get() == nullptr; }

    // Sites alive in the process: a control that keeps a reference after
    // Close keeps its site alive.
    static LONG LiveCount();

private:
    struct CParts;
    friend struct CParts;

    CBrowserSite(HWND hWndParent, const RECT& rc, CBrowserEvents* pEvents);
    ~CBrowserSite();
    HRESULT Embed(IOleObject* pControl);

    LONG m_nRef = 1;
    HWND m_hWndParent;
    RECT m_rc;
    CBrowserEvents* m_pEvents;
    std::unique_ptr<CParts> m_pParts;
    CComPtr<IOleObject> m_pControl;
    CComPtr<IWebBrowser2> m_pBrowser;
    CComPtr<IConnectionPoint> m_pConnectionPoint;
    DWORD m_dwAdviseCookie = 0;
};

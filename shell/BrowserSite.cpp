#include "shell/BrowserSite.h"

#include <exdispid.h>
#include <mshtmhst.h>
#include <ocidl.h>

#include <atomic>

#include "shell/BrowserEvents.h"

namespace {

std::atomic<LONG> g_nLiveSites{0};

HWND RootWindow(HWND hWnd)
{
    HWND hRoot = GetAncestor(hWnd, GA_ROOT);
    return hRoot != nullptr ? hRoot : hWnd;
}

}  // namespace

// A part answers one host interface and lends IUnknown from the site.
template <typename Interface>
class CSitePart : public Interface {
public:
    explicit CSitePart(CBrowserSite& site) : m_site(site) {}
    CSitePart(const CSitePart&) = delete;
    CSitePart& operator=(const CSitePart&) = delete;
    virtual ~CSitePart() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        return m_site.QueryInterface(riid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return m_site.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return m_site.Release(); }

protected:
    CBrowserSite& m_site;
};

struct CBrowserSite::CParts {
    class CClientSite : public CSitePart<IOleClientSite> {
    public:
        using CSitePart::CSitePart;
        HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** ppmk) override
        {
            if (ppmk != nullptr) {
                *ppmk = nullptr;
            }
            return E_NOTIMPL;
        }
        HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** ppContainer) override
        {
            if (ppContainer != nullptr) {
                *ppContainer = nullptr;
            }
            return E_NOINTERFACE;
        }
        HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
        HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }
    };

    class CInPlaceSite : public CSitePart<IOleInPlaceSite> {
    public:
        using CSitePart::CSitePart;
        HRESULT STDMETHODCALLTYPE GetWindow(HWND* phwnd) override
        {
            if (phwnd == nullptr) {
                return E_POINTER;
            }
            *phwnd = m_site.m_hWndParent;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
        HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
        HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
        HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc,
                                                   LPRECT lprcPosRect, LPRECT lprcClipRect,
                                                   LPOLEINPLACEFRAMEINFO lpFrameInfo) override
        {
            if (ppFrame == nullptr || ppDoc == nullptr || lprcPosRect == nullptr || lprcClipRect == nullptr ||
                lpFrameInfo == nullptr) {
                return E_POINTER;
            }
            *ppFrame = &m_site.m_pParts->frame;
            (*ppFrame)->AddRef();
            *ppDoc = nullptr;
            *lprcPosRect = m_site.m_rc;
            *lprcClipRect = m_site.m_rc;
            lpFrameInfo->fMDIApp = FALSE;
            lpFrameInfo->hwndFrame = RootWindow(m_site.m_hWndParent);
            lpFrameInfo->haccel = nullptr;
            lpFrameInfo->cAccelEntries = 0;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
        HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT lprcPosRect) override
        {
            if (lprcPosRect != nullptr) {
                m_site.SetRect(*lprcPosRect);
            }
            return S_OK;
        }
    };

    class CInPlaceFrame : public CSitePart<IOleInPlaceFrame> {
    public:
        using CSitePart::CSitePart;
        HRESULT STDMETHODCALLTYPE GetWindow(HWND* phwnd) override
        {
            if (phwnd == nullptr) {
                return E_POINTER;
            }
            *phwnd = RootWindow(m_site.m_hWndParent);
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
        // The control draws no tool bars of its own in our window.
        HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
        HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
        HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }
    };

    class CUIHandler : public CSitePart<IDocHostUIHandler> {
    public:
        using CSitePart::CSitePart;
        // S_FALSE everywhere below: the control's own behaviour.
        HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override { return S_FALSE; }
        HRESULT STDMETHODCALLTYPE GetHostInfo(DOCHOSTUIINFO* pInfo) override
        {
            if (pInfo == nullptr) {
                return E_POINTER;
            }
            pInfo->dwFlags = DOCHOSTUIFLAG_NO3DBORDER;
            pInfo->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                                         IOleInPlaceUIWindow*) override
        {
            return S_FALSE;
        }
        HRESULT STDMETHODCALLTYPE HideUI() override { return S_OK; }
        HRESULT STDMETHODCALLTYPE UpdateUI() override { return S_OK; }
        HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, const GUID*, DWORD) override { return S_FALSE; }
        HRESULT STDMETHODCALLTYPE GetOptionKeyPath(LPOLESTR* pchKey, DWORD) override
        {
            if (pchKey != nullptr) {
                *pchKey = nullptr;
            }
            return E_NOTIMPL;
        }
        HRESULT STDMETHODCALLTYPE GetDropTarget(IDropTarget*, IDropTarget** ppDropTarget) override
        {
            if (ppDropTarget != nullptr) {
                *ppDropTarget = nullptr;
            }
            return E_NOTIMPL;
        }
        HRESULT STDMETHODCALLTYPE GetExternal(IDispatch** ppDispatch) override
        {
            if (ppDispatch != nullptr) {
                *ppDispatch = nullptr;
            }
            return S_FALSE;
        }
        HRESULT STDMETHODCALLTYPE TranslateUrl(DWORD, LPWSTR, LPWSTR* ppchURLOut) override
        {
            if (ppchURLOut != nullptr) {
                *ppchURLOut = nullptr;
            }
            return S_FALSE;
        }
        HRESULT STDMETHODCALLTYPE FilterDataObject(IDataObject*, IDataObject** ppDORet) override
        {
            if (ppDORet != nullptr) {
                *ppDORet = nullptr;
            }
            return S_FALSE;
        }
    };

    // DWebBrowserEvents2. The control also asks the client site's IDispatch
    // for ambient properties; those are not events and get "no such member",
    // which leaves the control's defaults.
    class CEventSink : public CSitePart<IDispatch> {
    public:
        using CSitePart::CSitePart;
        HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override
        {
            if (pctinfo == nullptr) {
                return E_POINTER;
            }
            *pctinfo = 0;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override
        {
            if (ppTInfo != nullptr) {
                *ppTInfo = nullptr;
            }
            return DISP_E_BADINDEX;
        }
        HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
        {
            return DISP_E_UNKNOWNNAME;
        }
        HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID, LCID, WORD, DISPPARAMS* pDispParams, VARIANT*,
                                         EXCEPINFO*, UINT*) override
        {
            CBrowserEvents* pEvents = m_site.m_pEvents;
            if (pEvents == nullptr) {
                return DISP_E_MEMBERNOTFOUND;
            }
            // The site may be closed and released from inside a handler.
            CComPtr<CBrowserSite> keepAlive(&m_site);
            try {
                return DispatchBrowserEvent(dispIdMember, pDispParams, *pEvents);
            } catch (...) {
                // Never into the control.
                return E_UNEXPECTED;
            }
        }
    };

    explicit CParts(CBrowserSite& site) : clientSite(site), inPlaceSite(site), frame(site), uiHandler(site), sink(site)
    {
    }

    CClientSite clientSite;
    CInPlaceSite inPlaceSite;
    CInPlaceFrame frame;
    CUIHandler uiHandler;
    CEventSink sink;
};

CBrowserSite::CBrowserSite(HWND hWndParent, const RECT& rc, CBrowserEvents* pEvents)
    : m_hWndParent(hWndParent), m_rc(rc), m_pEvents(pEvents), m_pParts(std::make_unique<CParts>(*this))
{
    ++g_nLiveSites;
}

CBrowserSite::~CBrowserSite()
{
    --g_nLiveSites;
}

LONG CBrowserSite::LiveCount()
{
    return g_nLiveSites.load();
}

HRESULT CBrowserSite::Create(HWND hWndParent, const RECT& rc, CBrowserEvents* pEvents, CComPtr<CBrowserSite>& site,
                             IOleObject* pControl)
{
    site.reset();
    CComPtr<CBrowserSite> pSite;
    pSite.Attach(new CBrowserSite(hWndParent, rc, pEvents));
    const HRESULT hr = pSite->Embed(pControl);
    if (FAILED(hr)) {
        pSite->Close();
        return hr;
    }
    site = std::move(pSite);
    return S_OK;
}

HRESULT CBrowserSite::Embed(IOleObject* pControl)
{
    HRESULT hr = S_OK;
    if (pControl != nullptr) {
        m_pControl = CComPtr<IOleObject>(pControl);
    } else {
        hr = m_pControl.CoCreateInstance(CLSID_WebBrowser);
        if (FAILED(hr)) {
            return hr;
        }
    }
    hr = m_pControl->SetClientSite(&m_pParts->clientSite);
    if (FAILED(hr)) {
        return hr;
    }
    hr = m_pControl->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &m_pParts->clientSite, 0, m_hWndParent, &m_rc);
    if (FAILED(hr)) {
        return hr;
    }
    CComPtr<IConnectionPointContainer> pContainer;
    hr = m_pControl.QueryInterface(pContainer);
    if (FAILED(hr)) {
        return hr;
    }
    hr = pContainer->FindConnectionPoint(DIID_DWebBrowserEvents2, m_pConnectionPoint.put());
    if (FAILED(hr)) {
        return hr;
    }
    hr = m_pConnectionPoint->Advise(&m_pParts->sink, &m_dwAdviseCookie);
    if (FAILED(hr)) {
        m_pConnectionPoint.reset();
        return hr;
    }
    // A control that is not a web browser (a test's) still embeds.
    (void)m_pControl.QueryInterface(m_pBrowser);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBrowserSite::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    struct CEntry {
        const IID& iid;
        IUnknown* pInterface;
    };
    const CEntry table[] = {
        {IID_IUnknown, static_cast<IUnknown*>(this)},
        {IID_IOleClientSite, &m_pParts->clientSite},
        {IID_IOleWindow, &m_pParts->inPlaceSite},
        {IID_IOleInPlaceSite, &m_pParts->inPlaceSite},
        {IID_IOleInPlaceUIWindow, &m_pParts->frame},
        {IID_IOleInPlaceFrame, &m_pParts->frame},
        {IID_IDocHostUIHandler, &m_pParts->uiHandler},
        {IID_IDispatch, &m_pParts->sink},
        {DIID_DWebBrowserEvents2, &m_pParts->sink},
    };
    for (const CEntry& entry : table) {
        if (IsEqualIID(riid, entry.iid)) {
            *ppv = entry.pInterface;
            AddRef();
            return S_OK;
        }
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CBrowserSite::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_nRef));
}

ULONG STDMETHODCALLTYPE CBrowserSite::Release()
{
    const LONG nRef = InterlockedDecrement(&m_nRef);
    if (nRef == 0) {
        delete this;
    }
    return static_cast<ULONG>(nRef);
}

HWND CBrowserSite::GetControlWindow() const
{
    CComPtr<IOleInPlaceObject> pInPlace;
    HWND hWnd = nullptr;
    if (m_pControl && SUCCEEDED(m_pControl.QueryInterface(pInPlace)) && FAILED(pInPlace->GetWindow(&hWnd))) {
        hWnd = nullptr;
    }
    return hWnd;
}

void CBrowserSite::SetRect(const RECT& rc)
{
    m_rc = rc;
    CComPtr<IOleInPlaceObject> pInPlace;
    if (m_pControl && SUCCEEDED(m_pControl.QueryInterface(pInPlace))) {
        pInPlace->SetObjectRects(&m_rc, &m_rc);
    }
}

bool CBrowserSite::TranslateAccelerator(MSG* pMsg)
{
    CComPtr<IOleInPlaceActiveObject> pActive;
    return m_pControl && SUCCEEDED(m_pControl.QueryInterface(pActive)) && pActive->TranslateAccelerator(pMsg) == S_OK;
}

// The order matters: the control must leave the window before it is
// disconnected, be disconnected before it is closed, and drop its
// reference to this site (SetClientSite(nullptr)) before our last
// reference to it goes, or the two keep each other alive.
//   1. in-place deactivate   2. UI deactivate   3. unadvise the events
//   4. Close(OLECLOSE_NOSAVE)   5. SetClientSite(nullptr)   6. release
void CBrowserSite::Close()
{
    m_pEvents = nullptr;
    if (!m_pControl) {
        return;
    }
    // Whatever the control does during its teardown, this site stays.
    CComPtr<CBrowserSite> keepAlive(this);
    CComPtr<IOleObject> pControl = std::move(m_pControl);
    CComPtr<IOleInPlaceObject> pInPlace;
    if (SUCCEEDED(pControl.QueryInterface(pInPlace))) {
        pInPlace->InPlaceDeactivate();
        pInPlace->UIDeactivate();
        pInPlace.reset();
    }
    if (m_pConnectionPoint) {
        m_pConnectionPoint->Unadvise(m_dwAdviseCookie);
        m_pConnectionPoint.reset();
        m_dwAdviseCookie = 0;
    }
    pControl->Close(OLECLOSE_NOSAVE);
    pControl->SetClientSite(nullptr);
    m_pBrowser.reset();
    pControl.reset();
}

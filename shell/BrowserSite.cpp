#include "shell/BrowserSite.h"

#include <exdispid.h>
#include <mshtmhst.h>
#include <ocidl.h>

#include <atomic>

#include "shell/BrowserContextMenu.h"
#include "shell/BrowserEvents.h"
#include "shell/HostMessage.h"
#include "shell/NoHistoryStore.h"
#include "shell/SecurityManager.h"

namespace {

std::atomic<LONG> g_nLiveSites{0};

// The host's command group, and its command that asks whether a script
// error should stop the page's scripts.
const GUID kDocHostCommandHandler = {0xf38bc242, 0xb950, 0x11d1, {0x89, 0x18, 0x00, 0xc0, 0x4f, 0xc2, 0xc8, 0x36}};
constexpr DWORD kShowScriptError = 40;
// The show-UI interface, which the import library does not carry.
const IID kIidDocHostShowUI = {0xC4D244B0, 0xD43E, 0x11CF, {0x89, 0x3B, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x1A}};
// The top-level browser service, asked for the history store.
const GUID kTopLevelBrowserService = {0x4C96BE40, 0x915C, 0x11CF, {0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};

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
        HRESULT STDMETHODCALLTYPE ShowContextMenu(DWORD dwId, POINT* ppt, IUnknown* pCommandTarget,
                                                  IDispatch* pObject) override
        {
            if (ppt == nullptr) {
                return S_FALSE;
            }
            HWND hControl = nullptr;
            CComPtr<IOleWindow> pWindow;
            if (pCommandTarget == nullptr ||
                FAILED(pCommandTarget->QueryInterface(IID_IOleWindow, pWindow.put_void())) ||
                FAILED(pWindow->GetWindow(&hControl))) {
                hControl = m_site.GetControlWindow();
            }
            return CBrowserContextMenu::Show(m_site.m_hWndParent, hControl, dwId, *ppt, pCommandTarget, pObject);
        }
        // S_FALSE everywhere below: the control's own behaviour.
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

    class CShowUI : public CSitePart<IDocHostShowUI> {
    public:
        using CSitePart::CSitePart;
        HRESULT STDMETHODCALLTYPE ShowMessage(HWND hwnd, LPOLESTR lpstrText, LPOLESTR lpstrCaption, DWORD dwType,
                                              LPOLESTR, DWORD, LRESULT* plResult) override
        {
            return CHostMessage::ShowMessage(hwnd, lpstrText, lpstrCaption, dwType, plResult);
        }
        HRESULT STDMETHODCALLTYPE ShowHelp(HWND, LPOLESTR, UINT, DWORD, POINT, IDispatch*) override
        {
            return S_FALSE;
        }
    };

    // Script errors: the page's scripts go on, and nothing is shown.
    class CCommandTarget : public CSitePart<IOleCommandTarget> {
    public:
        using CSitePart::CSitePart;
        HRESULT STDMETHODCALLTYPE QueryStatus(const GUID*, ULONG, OLECMD*, OLECMDTEXT*) override
        {
            return OLECMDERR_E_NOTSUPPORTED;
        }
        HRESULT STDMETHODCALLTYPE Exec(const GUID* pguidCmdGroup, DWORD nCmdID, DWORD, VARIANT*,
                                       VARIANT* pvaOut) override
        {
            if (pguidCmdGroup == nullptr || !IsEqualGUID(*pguidCmdGroup, kDocHostCommandHandler)) {
                return OLECMDERR_E_UNKNOWNGROUP;
            }
            if (nCmdID != kShowScriptError) {
                return OLECMDERR_E_NOTSUPPORTED;
            }
            if (pvaOut != nullptr) {
                VariantClear(pvaOut);
                V_VT(pvaOut) = VT_BOOL;
                V_BOOL(pvaOut) = VARIANT_TRUE;
            }
            return S_OK;
        }
    };

    // The history store that keeps nothing and our security manager.
    class CServiceProvider : public CSitePart<IServiceProvider> {
    public:
        using CSitePart::CSitePart;
        HRESULT STDMETHODCALLTYPE QueryService(REFGUID guidService, REFIID riid, void** ppv) override
        {
            if (ppv == nullptr) {
                return E_POINTER;
            }
            *ppv = nullptr;
            CComPtr<IUnknown> pService;
            if (IsEqualGUID(guidService, kTopLevelBrowserService) && IsEqualIID(riid, IID_IUrlHistoryStg)) {
                pService.Attach(CNoHistoryStore::Create());
            } else if (IsEqualGUID(guidService, SID_SInternetSecurityManager) &&
                       IsEqualIID(riid, IID_IInternetSecurityManager)) {
                pService.Attach(CSecurityManager::Create(m_site.m_hWndParent));
            } else {
                return E_NOINTERFACE;
            }
            return pService->QueryInterface(riid, ppv);
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

    explicit CParts(CBrowserSite& site)
        : clientSite(site), inPlaceSite(site), frame(site), uiHandler(site), showUi(site), commandTarget(site),
          serviceProvider(site), sink(site)
    {
    }

    CClientSite clientSite;
    CInPlaceSite inPlaceSite;
    CInPlaceFrame frame;
    CUIHandler uiHandler;
    CShowUI showUi;
    CCommandTarget commandTarget;
    CServiceProvider serviceProvider;
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
        {kIidDocHostShowUI, &m_pParts->showUi},
        {IID_IOleCommandTarget, &m_pParts->commandTarget},
        {IID_IServiceProvider, &m_pParts->serviceProvider},
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

#include "shell/BrowserSite.h"

#include <gtest/gtest.h>

#include <exdispid.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "shell/BrowserEvents.h"
#include "tests/support/Printers.h"

namespace {

IDispatch* const kSomeDispatch = reinterpret_cast<IDispatch*>(0x1000);

// Records each event with its text, and answers Cancel and every new window.
class CRecorder : public CBrowserEvents {
public:
    std::vector<CString> calls;

    void OnBeforeNavigate2(IDispatch*, const CString& strUrl, bool& bCancel) override 
    {
        Answer(L"before " + strUrl, bCancel);
    }
    void OnNavigateComplete2(IDispatch*, const CString& strUrl) override { Add(L"complete " + strUrl); }
    void OnDocumentComplete(IDispatch*, const CString& strUrl) override { Add(L"document " + strUrl); }
    void OnTitleChange(const CString& strTitle) override { Add(L"title " + strTitle); }
    void OnStatusTextChange(const CString& strText) override { Add(L"status " + strText); }
    void OnCommandStateChange(long nCommand, bool bEnable) override
    {
        Add(FormatString(L"command %ld %d", nCommand, int(bEnable)));
    }
    void OnNewWindow2(IDispatch** ppDisp, bool& bCancel) override { Answer(L"new2", bCancel, ppDisp); }
    void OnNewWindow3(IDispatch** ppDisp, bool& bCancel, DWORD dwFlags, const CString&, const CString& strUrl) override
    {
        Answer(FormatString(L"new3 %lu %s", dwFlags, strUrl.GetString()), bCancel, ppDisp);
    }

private:
    void Add(const CString& strCall) { calls.push_back(strCall); }
    void Answer(const CString& strCall, bool& bCancel, IDispatch** ppDisp = nullptr)
    {
        Add(strCall);
        bCancel = true;
        if (ppDisp != nullptr) {
            *ppDisp = kSomeDispatch;
        }
    }
};

// An argument: a pointer for VT_BYREF and object types, else a number.
template <typename T>
VARIANT Arg(VARTYPE vt, T value)
{
    VARIANT v = {};
    v.vt = vt;
    v.llVal = (LONG_PTR)value;
    return v;
}

// The event's arguments in declaration order; DISPPARAMS holds them last first.
HRESULT Fire(CBrowserEvents& handler, DISPID dispid, std::vector<VARIANT> args)
{
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    return DispatchBrowserEvent(dispid, &params, handler);
}

class BrowserEvents : public ::testing::Test {
protected:
    CBstr url{L"u"};
    VARIANT urlVariant = Arg(VT_BSTR, url.get());
    const VARIANT disp = Arg(VT_DISPATCH, kSomeDispatch);
    const VARIANT none = {};
    VARIANT_BOOL cancel = VARIANT_FALSE;
    CRecorder recorder;
};

// The control's methods that the site never calls.
#define NOT_USED(method, ...) \
    HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { return E_NOTIMPL; }

// A control that records what its site does to it and holds its site and sink.
class CFakeControl final : public IOleObject,
                           public IOleInPlaceObject,
                           public IConnectionPointContainer,
                           public IConnectionPoint {
public:
    std::vector<std::string> calls;
    LONG nRef = 1;
    CComPtr<IOleClientSite> pSite;
    CComPtr<IUnknown> pSink;

    HRESULT Record(const char* pszCall, HRESULT hr = S_OK) { return calls.push_back(pszCall), hr; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleObject)) {
            *ppv = static_cast<IOleObject*>(this);
        } else if (IsEqualIID(riid, IID_IOleInPlaceObject)) {
            *ppv = static_cast<IOleInPlaceObject*>(this);
        } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
            *ppv = static_cast<IConnectionPointContainer*>(this);
        } else if (IsEqualIID(riid, IID_IConnectionPoint)) {
            *ppv = static_cast<IConnectionPoint*>(this);
        }
        return *ppv != nullptr ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++nRef); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--nRef); }

    // IOleObject
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* pClientSite) override
    {
        pSite = CComPtr<IOleClientSite>(pClientSite);
        return Record(pClientSite != nullptr ? "SetClientSite(site)" : "SetClientSite(null)");
    }
    HRESULT STDMETHODCALLTYPE Close(DWORD dwSave) override { return Record(dwSave == OLECLOSE_NOSAVE ? "Close" : "?"); }
    HRESULT STDMETHODCALLTYPE DoVerb(LONG iVerb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override
    {
        return Record(iVerb == OLEIVERB_INPLACEACTIVATE ? "DoVerb(inplace)" : "DoVerb(other)");
    }
    NOT_USED(GetClientSite, IOleClientSite**) NOT_USED(SetHostNames, LPCOLESTR, LPCOLESTR) NOT_USED(Update)
    NOT_USED(SetMoniker, DWORD, IMoniker*) NOT_USED(GetMoniker, DWORD, DWORD, IMoniker**) NOT_USED(IsUpToDate)
    NOT_USED(InitFromData, IDataObject*, BOOL, DWORD) NOT_USED(GetClipboardData, DWORD, IDataObject**)
    NOT_USED(EnumVerbs, IEnumOLEVERB**) NOT_USED(GetUserClassID, CLSID*) NOT_USED(GetUserType, DWORD, LPOLESTR*)
    NOT_USED(SetExtent, DWORD, SIZEL*) NOT_USED(GetExtent, DWORD, SIZEL*) NOT_USED(Advise, IAdviseSink*, DWORD*)
    NOT_USED(EnumAdvise, IEnumSTATDATA**) NOT_USED(GetMiscStatus, DWORD, DWORD*) NOT_USED(SetColorScheme, LOGPALETTE*)

    // IOleInPlaceObject
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override { return Record("InPlaceDeactivate"); }
    HRESULT STDMETHODCALLTYPE UIDeactivate() override { return Record("UIDeactivate"); }
    NOT_USED(GetWindow, HWND*) NOT_USED(ContextSensitiveHelp, BOOL) NOT_USED(SetObjectRects, LPCRECT, LPCRECT)
    NOT_USED(ReactivateAndUndo)

    // IConnectionPointContainer and IConnectionPoint (Unadvise serves both).
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override
    {
        *ppCP = nullptr;
        return IsEqualIID(riid, DIID_DWebBrowserEvents2) ? QueryInterface(IID_IConnectionPoint, (void**)ppCP) : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override
    {
        pSink = CComPtr<IUnknown>(pUnkSink);
        *pdwCookie = 7;
        return Record("Advise");
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) override
    {
        pSink.reset();
        return Record(dwCookie == 7 ? "Unadvise" : "?");
    }
    NOT_USED(EnumConnectionPoints, IEnumConnectionPoints**) NOT_USED(GetConnectionInterface, IID*)
    NOT_USED(GetConnectionPointContainer, IConnectionPointContainer**) NOT_USED(EnumConnections, IEnumConnections**)
};

}  // namespace

TEST_F(BrowserEvents, DecodesEachHandledEventAndLetsMalformedArgumentsReachNoHandler)
{
    VARIANT urlRef = Arg(VT_BYREF | VT_VARIANT, &urlVariant);
    BSTR bstrUrl = url.get();
    // Each event's own out variables, so that each write is seen.
    VARIANT_BOOL cancels[3] = {};
    IDispatch* news[2] = {};
    const std::pair<DISPID, std::vector<VARIANT>> events[] = {
        {DISPID_BEFORENAVIGATE2, {disp, urlRef, none, none, none, none, Arg(VT_BYREF | VT_BOOL, &cancels[0])}},
        {DISPID_NAVIGATECOMPLETE2, {disp, urlRef}},
        {DISPID_DOCUMENTCOMPLETE, {disp, urlRef}},
        {DISPID_TITLECHANGE, {urlVariant}},
        {DISPID_STATUSTEXTCHANGE, {Arg(VT_BYREF | VT_BSTR, &bstrUrl)}},
        {DISPID_COMMANDSTATECHANGE, {Arg(VT_I4, 2), Arg(VT_BOOL, VARIANT_TRUE)}},
        {DISPID_NEWWINDOW2, {Arg(VT_BYREF | VT_DISPATCH, &news[0]), Arg(VT_BYREF | VT_BOOL, &cancels[1])}},
        {DISPID_NEWWINDOW3,
         {Arg(VT_BYREF | VT_DISPATCH, &news[1]), Arg(VT_BYREF | VT_BOOL, &cancels[2]), Arg(VT_UI4, 6), urlVariant,
          urlVariant}}};
    for (const auto& [dispid, args] : events) {
        EXPECT_EQ(Fire(recorder, dispid, args), S_OK) << dispid;
    }
    EXPECT_EQ(recorder.calls, (std::vector<CString>{L"before u", L"complete u", L"document u", L"title u", L"status u",
                                                    L"command 2 1", L"new2", L"new3 6 u"}));
    // The answers reach the caller's variables.
    EXPECT_EQ(std::vector<VARIANT_BOOL>(cancels, cancels + 3), std::vector<VARIANT_BOOL>(3, VARIANT_TRUE));
    EXPECT_EQ(news[0], kSomeDispatch);
    EXPECT_EQ(news[1], kSomeDispatch);

    recorder.calls.clear();
    VARIANT number = Arg(VT_I4, 5);
    VARIANT twice = Arg(VT_BYREF | VT_VARIANT, &urlVariant);
    DISPPARAMS noArray = {nullptr, nullptr, 1, 0};
    const std::pair<DISPID, std::vector<VARIANT>> typeMismatches[] = {
        // Cancel by value, or by a null reference: nowhere to write.
        {DISPID_BEFORENAVIGATE2, {disp, urlRef, none, none, none, none, Arg(VT_BOOL, 0)}},
        {DISPID_BEFORENAVIGATE2, {disp, urlRef, none, none, none, none, Arg(VT_BYREF | VT_BOOL, 0)}},
        // A number for the URL, and a URL wrapped twice.
        {DISPID_NAVIGATECOMPLETE2, {disp, Arg(VT_BYREF | VT_VARIANT, &number)}},
        {DISPID_NAVIGATECOMPLETE2, {disp, Arg(VT_BYREF | VT_VARIANT, &twice)}},
        // The new window's out parameter by value; a text for a command number.
        {DISPID_NEWWINDOW2, {disp, Arg(VT_BYREF | VT_BOOL, &cancel)}},
        {DISPID_COMMANDSTATECHANGE, {urlVariant, Arg(VT_BOOL, VARIANT_TRUE)}}};
    for (const auto& [dispid, args] : typeMismatches) {
        EXPECT_EQ(Fire(recorder, dispid, args), DISP_E_TYPEMISMATCH) << dispid;
    }
    // Too few arguments (Cancel past the end), a count without an array, none.
    EXPECT_EQ(Fire(recorder, DISPID_BEFORENAVIGATE2, {disp, urlRef}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(DispatchBrowserEvent(DISPID_TITLECHANGE, &noArray, recorder), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(DispatchBrowserEvent(DISPID_TITLECHANGE, nullptr, recorder), DISP_E_BADPARAMCOUNT);
    // Events not handled here, and the control's ambient property queries.
    EXPECT_EQ(DispatchBrowserEvent(DISPID_DOWNLOADBEGIN, nullptr, recorder), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(DispatchBrowserEvent(-5501, nullptr, recorder), DISP_E_MEMBERNOTFOUND);
    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_EQ(cancel, VARIANT_FALSE);
}

TEST_F(BrowserEvents, TheSiteTakesTheControlDownInOrderAndKeepsNoReference)
{
    const LONG nSitesBefore = CBrowserSite::LiveCount();
    const RECT rc = {0, 0, 400, 300};
    CComPtr<CBrowserSite> site;
    CFakeControl control;
    ASSERT_EQ(CBrowserSite::Create(nullptr, rc, &recorder, site, &control), S_OK);
    EXPECT_EQ(CBrowserSite::LiveCount(), nSitesBefore + 1);
    EXPECT_EQ(control.calls, (std::vector<std::string>{"SetClientSite(site)", "DoVerb(inplace)", "Advise"}));

    // Events reach the view until Close, and never after.
    CComPtr<IDispatch> pSink;
    ASSERT_EQ(control.pSink->QueryInterface(IID_IDispatch, pSink.put_void()), S_OK);
    DISPPARAMS params = {&urlVariant, nullptr, 1, 0};
    auto fire = [&] {
        return pSink->Invoke(DISPID_STATUSTEXTCHANGE, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    };
    EXPECT_EQ(fire(), S_OK);

    control.calls.clear();
    site->Close();
    EXPECT_EQ(control.calls, (std::vector<std::string>{"InPlaceDeactivate", "UIDeactivate", "Unadvise",
                                                       "Close", "SetClientSite(null)"}));
    EXPECT_EQ(fire(), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(recorder.calls, std::vector<CString>{L"status u"});
    pSink.reset();
    EXPECT_TRUE(site->IsClosed());
    // Every reference the site took on the control is given back ...
    EXPECT_EQ(control.nRef, 1);
    // ... and the control gave back every one it had on the site.
    site.reset();
    EXPECT_EQ(CBrowserSite::LiveCount(), nSitesBefore);
}

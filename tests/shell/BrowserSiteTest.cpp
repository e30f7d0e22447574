#include "shell/BrowserSite.h"

#include <gtest/gtest.h>

#include <exdispid.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "shell/BrowserEvents.h"
#include "tests/shell/ShellTestSupport.h"
#include "tests/support/Printers.h"
#include "tests/support/TestWindow.h"
#include "tests/support/WindowCapture.h"

namespace {

class CRecorder : public CBrowserEvents {
public:
    std::vector<CString> navigations;
    std::vector<CString> statusTexts;
    int nCommandStates = 0;
    CString strCancel;

    void OnBeforeNavigate2(IDispatch*, const CString& strUrl, bool& bCancel) override
    {
        navigations.push_back(strUrl);
        bCancel = !strCancel.IsEmpty() && strUrl.Find(strCancel) >= 0;
    }
    void OnNavigateComplete2(IDispatch*, const CString&) override {}
    void OnDocumentComplete(IDispatch*, const CString&) override {}
    void OnTitleChange(const CString&) override {}
    void OnStatusTextChange(const CString& strText) override { statusTexts.push_back(strText); }
    void OnCommandStateChange(long, bool) override { ++nCommandStates; }
    void OnNewWindow2(IDispatch**, bool&) override {}
    void OnNewWindow3(IDispatch**, bool&, DWORD, const CString&, const CString&) override {}
};

// A control that records what its site does to it, in order, and holds
// the references a real one holds: the client site and the event sink.
class CFakeControl final : public IOleObject,
                           public IOleInPlaceObject,
                           public IConnectionPointContainer,
                           public IConnectionPoint {
public:
    std::vector<std::string> calls;
    LONG nRef = 1;
    HRESULT hrDoVerb = S_OK;
    CComPtr<IOleClientSite> pSite;
    CComPtr<IUnknown> pSink;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleObject)) {
            *ppv = static_cast<IOleObject*>(this);
        } else if (IsEqualIID(riid, IID_IOleInPlaceObject) || IsEqualIID(riid, IID_IOleWindow)) {
            *ppv = static_cast<IOleInPlaceObject*>(this);
        } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
            *ppv = static_cast<IConnectionPointContainer*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++nRef); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--nRef); }

    // IOleObject
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* pClientSite) override
    {
        calls.push_back(pClientSite != nullptr ? "SetClientSite(site)" : "SetClientSite(null)");
        pSite = CComPtr<IOleClientSite>(pClientSite);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Close(DWORD dwSaveOption) override
    {
        calls.push_back(dwSaveOption == OLECLOSE_NOSAVE ? "Close(nosave)" : "Close(other)");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DoVerb(LONG iVerb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override
    {
        calls.push_back(iVerb == OLEIVERB_INPLACEACTIVATE ? "DoVerb(inplace)" : "DoVerb(other)");
        return hrDoVerb;
    }
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Update() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE IsUpToDate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    // IOleInPlaceObject
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* phwnd) override
    {
        *phwnd = nullptr;
        return E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override
    {
        calls.push_back("InPlaceDeactivate");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE UIDeactivate() override
    {
        calls.push_back("UIDeactivate");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT, LPCRECT) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override { return E_NOTIMPL; }

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override
    {
        if (!IsEqualIID(riid, DIID_DWebBrowserEvents2)) {
            *ppCP = nullptr;
            return E_NOINTERFACE;
        }
        *ppCP = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }

    // IConnectionPoint; Unadvise serves IOleObject's too, which the site
    // never calls.
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override
    {
        calls.push_back("Advise");
        pSink = CComPtr<IUnknown>(pUnkSink);
        *pdwCookie = 7;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) override
    {
        calls.push_back(dwCookie == 7 ? "Unadvise" : "Unadvise(wrong cookie)");
        pSink.reset();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }
};

class BrowserSite : public ::testing::Test {
protected:
    COleInitializer ole;
    CTestParentWindow parent{RGB(255, 255, 255), 400, 300};
    RECT rc = {0, 0, 400, 300};
    CRecorder recorder;
    const LONG nSitesBefore = CBrowserSite::LiveCount();
};

}  // namespace

TEST_F(BrowserSite, TakesTheControlDownInOrderAndKeepsNoReferenceEitherWay)
{
    CFakeControl control;
    CComPtr<CBrowserSite> site;
    ASSERT_EQ(CBrowserSite::Create(parent.Get(), rc, &recorder, site, &control), S_OK);
    EXPECT_EQ(CBrowserSite::LiveCount(), nSitesBefore + 1);
    EXPECT_EQ(control.calls, (std::vector<std::string>{"SetClientSite(site)", "DoVerb(inplace)", "Advise"}));
    EXPECT_EQ(site->GetBrowser(), nullptr);

    // Events reach the view until Close, and never after.
    CComPtr<IDispatch> pSink;
    ASSERT_EQ(control.pSink->QueryInterface(IID_IDispatch, pSink.put_void()), S_OK);
    CBstr text(L"Done");
    VARIANT arg = {};
    arg.vt = VT_BSTR;
    arg.bstrVal = text.get();
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    auto fire = [&] {
        return pSink->Invoke(DISPID_STATUSTEXTCHANGE, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    };
    EXPECT_EQ(fire(), S_OK);

    control.calls.clear();
    site->Close();
    EXPECT_EQ(control.calls, (std::vector<std::string>{"InPlaceDeactivate", "UIDeactivate", "Unadvise",
                                                       "Close(nosave)", "SetClientSite(null)"}));
    EXPECT_EQ(fire(), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(recorder.statusTexts, std::vector<CString>{L"Done"});
    pSink.reset();
    EXPECT_TRUE(site->IsClosed());
    // Every reference the site took on the control is given back ...
    EXPECT_EQ(control.nRef, 1);
    // ... and the control gave back every one it had on the site.
    site.reset();
    EXPECT_EQ(CBrowserSite::LiveCount(), nSitesBefore);

}

TEST_F(BrowserSite, AControlThatCannotEmbedLeavesNothingConnected)
{
    CFakeControl control;
    control.hrDoVerb = E_FAIL;
    CComPtr<CBrowserSite> site;
    EXPECT_EQ(CBrowserSite::Create(parent.Get(), rc, &recorder, site, &control), E_FAIL);
    EXPECT_FALSE(site);
    EXPECT_EQ(control.calls.back(), "SetClientSite(null)");
    EXPECT_FALSE(control.pSite);
    EXPECT_EQ(control.nRef, 1);
    EXPECT_EQ(CBrowserSite::LiveCount(), nSitesBefore);
}

TEST_F(BrowserSite, HostsTheRealControlAndSeesItNavigate)
{
    CTempFolder folder;
    const CTestPage page = WriteTestPage(folder, L"hosted.html");
    const CTestPage blocked = WriteTestPage(folder, L"blocked.html");
    recorder.strCancel = L"blocked.html";
    {
        CComPtr<CBrowserSite> site;
        ASSERT_EQ(CBrowserSite::Create(parent.Get(), rc, &recorder, site), S_OK);
        IWebBrowser2* pBrowser = site->GetBrowser();
        ASSERT_NE(pBrowser, nullptr);
        const HWND hControl = site->GetControlWindow();
        ASSERT_NE(hControl, nullptr);
        EXPECT_TRUE(IsChild(parent.Get(), hControl));

        CBstr bstrUrl(page.strUrl);
        CVariant empty;
        EXPECT_EQ(pBrowser->Navigate(bstrUrl.get(), empty.get(), empty.get(), empty.get(), empty.get()), S_OK);
        ASSERT_TRUE(PumpMessagesUntil([&] { return !recorder.navigations.empty() && !recorder.statusTexts.empty(); },
                                      10000));
        EXPECT_GE(recorder.navigations[0].Find(L"hosted.html"), 0);
        EXPECT_GT(recorder.nCommandStates, 0);

        // A navigation the site cancels goes nowhere.
        CBstr bstrBlocked(blocked.strUrl);
        EXPECT_EQ(pBrowser->Navigate(bstrBlocked.get(), empty.get(), empty.get(), empty.get(), empty.get()), S_OK);
        ASSERT_TRUE(PumpMessagesUntil([&] { return recorder.navigations.size() == 2; }, 10000));
        PumpMessagesFor(200);
        CBstr bstrLocation;
        ASSERT_EQ(pBrowser->get_LocationURL(bstrLocation.put()), S_OK);
        EXPECT_GE(CString(bstrLocation.get()).Find(L"hosted.html"), 0);

        site->Close();
        EXPECT_FALSE(IsWindow(hControl));
    }
    // The control let go of the site: nothing keeps the two alive.
    EXPECT_EQ(CBrowserSite::LiveCount(), nSitesBefore);
}

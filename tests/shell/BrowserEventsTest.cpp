#include "shell/BrowserEvents.h"

#include <gtest/gtest.h>

#include <exdispid.h>

#include <vector>

#include "framework/ComPtr.h"
#include "tests/support/Printers.h"

namespace {

// Records what reached it, and answers as told.
class CRecorder : public CBrowserEvents {
public:
    std::vector<CString> calls;
    IDispatch* pLastDisp = nullptr;
    bool bCancelWith = false;
    IDispatch* pNewWindow = nullptr;

    void OnBeforeNavigate2(IDispatch* pDisp, const CString& strUrl, bool& bCancel) override
    {
        pLastDisp = pDisp;
        calls.push_back(L"before " + strUrl + (bCancel ? L" cancelled" : L""));
        bCancel = bCancelWith;
    }
    void OnNavigateComplete2(IDispatch* pDisp, const CString& strUrl) override
    {
        pLastDisp = pDisp;
        calls.push_back(L"complete " + strUrl);
    }
    void OnDocumentComplete(IDispatch* pDisp, const CString& strUrl) override
    {
        pLastDisp = pDisp;
        calls.push_back(L"document " + strUrl);
    }
    void OnTitleChange(const CString& strTitle) override { calls.push_back(L"title " + strTitle); }
    void OnStatusTextChange(const CString& strText) override { calls.push_back(L"status " + strText); }
    void OnCommandStateChange(long nCommand, bool bEnable) override
    {
        calls.push_back(FormatString(L"command %ld %d", nCommand, bEnable ? 1 : 0));
    }
    void OnNewWindow2(IDispatch** ppDisp, bool& bCancel) override
    {
        calls.push_back(L"new2");
        *ppDisp = pNewWindow;
        bCancel = bCancelWith;
    }
    void OnNewWindow3(IDispatch** ppDisp, bool& bCancel, DWORD dwFlags, const CString& strUrlContext,
                      const CString& strUrl) override
    {
        calls.push_back(FormatString(L"new3 %lu %s %s", dwFlags, strUrlContext.GetString(), strUrl.GetString()));
        *ppDisp = pNewWindow;
        bCancel = bCancelWith;
    }
};

// Arguments in declaration order; DISPPARAMS wants them reversed.
class CArgs {
public:
    CArgs& Add(const VARIANT& v)
    {
        m_args.insert(m_args.begin(), v);
        return *this;
    }
    CArgs& Bstr(BSTR bstr)
    {
        VARIANT v = {};
        v.vt = VT_BSTR;
        v.bstrVal = bstr;
        return Add(v);
    }
    CArgs& VariantRef(VARIANT* pInner)
    {
        VARIANT v = {};
        v.vt = VT_BYREF | VT_VARIANT;
        v.pvarVal = pInner;
        return Add(v);
    }
    CArgs& Dispatch(IDispatch* p)
    {
        VARIANT v = {};
        v.vt = VT_DISPATCH;
        v.pdispVal = p;
        return Add(v);
    }
    CArgs& DispatchRef(IDispatch** pp)
    {
        VARIANT v = {};
        v.vt = VT_BYREF | VT_DISPATCH;
        v.ppdispVal = pp;
        return Add(v);
    }
    CArgs& BoolRef(VARIANT_BOOL* pb)
    {
        VARIANT v = {};
        v.vt = VT_BYREF | VT_BOOL;
        v.pboolVal = pb;
        return Add(v);
    }
    CArgs& Long(long n, VARTYPE vt = VT_I4)
    {
        VARIANT v = {};
        v.vt = vt;
        v.lVal = n;
        return Add(v);
    }
    CArgs& Bool(bool b)
    {
        VARIANT v = {};
        v.vt = VT_BOOL;
        v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
        return Add(v);
    }
    CArgs& Empty() { return Add(VARIANT{}); }

    DISPPARAMS* Params()
    {
        m_params.rgvarg = m_args.empty() ? nullptr : m_args.data();
        m_params.cArgs = static_cast<UINT>(m_args.size());
        return &m_params;
    }

private:
    std::vector<VARIANT> m_args;
    DISPPARAMS m_params = {};
};

IDispatch* const kSomeDispatch = reinterpret_cast<IDispatch*>(0x1000);

}  // namespace

TEST(BrowserEvents, DecodesEachHandledEventAndWritesTheCancelFlagBack)
{
    CBstr url(L"http://example.com/");
    CBstr title(L"A page");
    VARIANT urlVariant = {};
    urlVariant.vt = VT_BSTR;
    urlVariant.bstrVal = url.get();
    VARIANT_BOOL cancel = VARIANT_FALSE;
    CRecorder recorder;
    recorder.bCancelWith = true;

    CArgs before;
    before.Dispatch(kSomeDispatch).VariantRef(&urlVariant).Empty().Empty().Empty().Empty().BoolRef(&cancel);
    EXPECT_EQ(DispatchBrowserEvent(DISPID_BEFORENAVIGATE2, before.Params(), recorder), S_OK);
    EXPECT_EQ(cancel, VARIANT_TRUE);
    EXPECT_EQ(recorder.pLastDisp, kSomeDispatch);

    CArgs complete;
    complete.Dispatch(kSomeDispatch).VariantRef(&urlVariant);
    EXPECT_EQ(DispatchBrowserEvent(DISPID_NAVIGATECOMPLETE2, complete.Params(), recorder), S_OK);
    EXPECT_EQ(DispatchBrowserEvent(DISPID_DOCUMENTCOMPLETE, complete.Params(), recorder), S_OK);

    CArgs text;
    text.Bstr(title.get());
    EXPECT_EQ(DispatchBrowserEvent(DISPID_TITLECHANGE, text.Params(), recorder), S_OK);
    EXPECT_EQ(DispatchBrowserEvent(DISPID_STATUSTEXTCHANGE, text.Params(), recorder), S_OK);

    CArgs command;
    command.Long(2).Bool(true);
    EXPECT_EQ(DispatchBrowserEvent(DISPID_COMMANDSTATECHANGE, command.Params(), recorder), S_OK);

    IDispatch* pNew = nullptr;
    recorder.pNewWindow = kSomeDispatch;
    recorder.bCancelWith = false;
    cancel = VARIANT_TRUE;
    CArgs new2;
    new2.DispatchRef(&pNew).BoolRef(&cancel);
    EXPECT_EQ(DispatchBrowserEvent(DISPID_NEWWINDOW2, new2.Params(), recorder), S_OK);
    EXPECT_EQ(pNew, kSomeDispatch);
    EXPECT_EQ(cancel, VARIANT_FALSE);

    pNew = nullptr;
    CBstr context(L"http://example.com/page");
    CArgs new3;
    new3.DispatchRef(&pNew).BoolRef(&cancel).Long(6, VT_UI4).Bstr(context.get()).Bstr(url.get());
    EXPECT_EQ(DispatchBrowserEvent(DISPID_NEWWINDOW3, new3.Params(), recorder), S_OK);
    EXPECT_EQ(pNew, kSomeDispatch);

    EXPECT_EQ(recorder.calls, (std::vector<CString>{
                                  L"before http://example.com/",
                                  L"complete http://example.com/",
                                  L"document http://example.com/",
                                  L"title A page",
                                  L"status A page",
                                  L"command 2 1",
                                  L"new2",
                                  L"new3 6 http://example.com/page http://example.com/",
                              }));
}

TEST(BrowserEvents, MalformedArgumentsReachNoHandler)
{
    CBstr url(L"http://example.com/");
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT urlVariant = {};
    urlVariant.vt = VT_BSTR;
    urlVariant.bstrVal = url.get();
    CRecorder recorder;

    // Too few arguments: the last one, Cancel, would be read past the end.
    CArgs shortBefore;
    shortBefore.Dispatch(kSomeDispatch).VariantRef(&urlVariant);
    EXPECT_EQ(DispatchBrowserEvent(DISPID_BEFORENAVIGATE2, shortBefore.Params(), recorder), DISP_E_BADPARAMCOUNT);

    // Cancel not a reference: nowhere to write.
    CArgs byValueCancel;
    byValueCancel.Dispatch(kSomeDispatch).VariantRef(&urlVariant).Empty().Empty().Empty().Empty().Bool(false);
    EXPECT_EQ(DispatchBrowserEvent(DISPID_BEFORENAVIGATE2, byValueCancel.Params(), recorder), DISP_E_TYPEMISMATCH);

    // A reference with a null pointer.
    CArgs nullRef;
    nullRef.Dispatch(kSomeDispatch).VariantRef(&urlVariant).Empty().Empty().Empty().Empty().BoolRef(nullptr);
    EXPECT_EQ(DispatchBrowserEvent(DISPID_BEFORENAVIGATE2, nullRef.Params(), recorder), DISP_E_TYPEMISMATCH);

    // A number where the URL should be, and a URL wrapped twice.
    VARIANT number = {};
    number.vt = VT_I4;
    VARIANT twice = {};
    twice.vt = VT_BYREF | VT_VARIANT;
    twice.pvarVal = &urlVariant;
    CArgs wrongUrl;
    wrongUrl.Dispatch(kSomeDispatch).VariantRef(&number);
    EXPECT_EQ(DispatchBrowserEvent(DISPID_NAVIGATECOMPLETE2, wrongUrl.Params(), recorder), DISP_E_TYPEMISMATCH);
    CArgs wrappedTwice;
    wrappedTwice.Dispatch(kSomeDispatch).VariantRef(&twice);
    EXPECT_EQ(DispatchBrowserEvent(DISPID_NAVIGATECOMPLETE2, wrappedTwice.Params(), recorder), DISP_E_TYPEMISMATCH);

    // A count with no array, and no parameters at all.
    DISPPARAMS noArray = {nullptr, nullptr, 1, 0};
    EXPECT_EQ(DispatchBrowserEvent(DISPID_TITLECHANGE, &noArray, recorder), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(DispatchBrowserEvent(DISPID_TITLECHANGE, nullptr, recorder), DISP_E_BADPARAMCOUNT);

    // A new-window request whose out parameter is passed by value.
    CArgs new2;
    new2.Dispatch(kSomeDispatch).BoolRef(&cancel);
    EXPECT_EQ(DispatchBrowserEvent(DISPID_NEWWINDOW2, new2.Params(), recorder), DISP_E_TYPEMISMATCH);
    CArgs command;
    command.Bstr(url.get()).Bool(true);
    EXPECT_EQ(DispatchBrowserEvent(DISPID_COMMANDSTATECHANGE, command.Params(), recorder), DISP_E_TYPEMISMATCH);

    // Events not handled here, and the control's ambient property queries.
    EXPECT_EQ(DispatchBrowserEvent(DISPID_DOWNLOADBEGIN, nullptr, recorder), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(DispatchBrowserEvent(-5501, nullptr, recorder), DISP_E_MEMBERNOTFOUND);

    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_EQ(cancel, VARIANT_FALSE);
}

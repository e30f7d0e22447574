#include "shell/BrowserEvents.h"

#include <gtest/gtest.h>

#include <exdispid.h>

#include <vector>

#include "framework/ComPtr.h"
#include "tests/support/Printers.h"

namespace {

class CRecorder : public CBrowserEvents {
public:
    std::vector<CString> calls;
    bool bAnswer = false;  // the cancel flag to give back
    IDispatch* pNewWindow = nullptr;

    void OnBeforeNavigate2(IDispatch*, const CString& strUrl, bool& bCancel) override
    {
        calls.push_back(L"before " + strUrl);
        bCancel = bAnswer;
    }
    void OnNavigateComplete2(IDispatch*, const CString& strUrl) override { calls.push_back(L"complete " + strUrl); }
    void OnDocumentComplete(IDispatch*, const CString& strUrl) override { calls.push_back(L"document " + strUrl); }
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
        bCancel = bAnswer;
    }
    void OnNewWindow3(IDispatch** ppDisp, bool& bCancel, DWORD dwFlags, const CString&, const CString& strUrl) override
    {
        calls.push_back(FormatString(L"new3 %lu %s", dwFlags, strUrl.GetString()));
        *ppDisp = pNewWindow;
        bCancel = bAnswer;
    }
};

VARIANT Arg(VARTYPE vt, void* p)
{
    VARIANT v = {};
    v.vt = vt;
    v.byref = p;
    return v;
}
VARIANT Arg(VARTYPE vt, long n)
{
    VARIANT v = {};
    v.vt = vt;
    v.lVal = n;
    return v;
}

// The event's arguments in declaration order; DISPPARAMS holds them last
// first.
HRESULT Fire(CBrowserEvents& handler, DISPID dispid, std::vector<VARIANT> args)
{
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    return DispatchBrowserEvent(dispid, &params, handler);
}

IDispatch* const kSomeDispatch = reinterpret_cast<IDispatch*>(0x1000);

}  // namespace

TEST(BrowserEvents, DecodesEachHandledEventAndWritesTheCancelFlagBack)
{
    CBstr url(L"http://example.com/");
    VARIANT urlVariant = Arg(VT_BSTR, url.get());
    const VARIANT urlRef = Arg(VT_BYREF | VT_VARIANT, &urlVariant);
    const VARIANT disp = Arg(VT_DISPATCH, kSomeDispatch);
    const VARIANT none = {};
    VARIANT_BOOL cancel = VARIANT_FALSE;
    IDispatch* pNew = nullptr;
    CRecorder recorder;
    recorder.bAnswer = true;
    recorder.pNewWindow = kSomeDispatch;

    EXPECT_EQ(Fire(recorder, DISPID_BEFORENAVIGATE2,
                   {disp, urlRef, none, none, none, none, Arg(VT_BYREF | VT_BOOL, &cancel)}),
              S_OK);
    EXPECT_EQ(cancel, VARIANT_TRUE);
    EXPECT_EQ(Fire(recorder, DISPID_NAVIGATECOMPLETE2, {disp, urlRef}), S_OK);
    EXPECT_EQ(Fire(recorder, DISPID_DOCUMENTCOMPLETE, {disp, urlRef}), S_OK);
    EXPECT_EQ(Fire(recorder, DISPID_TITLECHANGE, {urlVariant}), S_OK);
    BSTR bstrUrl = url.get();
    EXPECT_EQ(Fire(recorder, DISPID_STATUSTEXTCHANGE, {Arg(VT_BYREF | VT_BSTR, &bstrUrl)}), S_OK);
    EXPECT_EQ(Fire(recorder, DISPID_COMMANDSTATECHANGE, {Arg(VT_I4, 2), Arg(VT_BOOL, VARIANT_TRUE)}), S_OK);
    recorder.bAnswer = false;
    EXPECT_EQ(Fire(recorder, DISPID_NEWWINDOW2, {Arg(VT_BYREF | VT_DISPATCH, &pNew), Arg(VT_BYREF | VT_BOOL, &cancel)}),
              S_OK);
    EXPECT_EQ(pNew, kSomeDispatch);
    EXPECT_EQ(cancel, VARIANT_FALSE);
    EXPECT_EQ(Fire(recorder, DISPID_NEWWINDOW3,
                   {Arg(VT_BYREF | VT_DISPATCH, &pNew), Arg(VT_BYREF | VT_BOOL, &cancel), Arg(VT_UI4, 6), urlVariant,
                    urlVariant}),
              S_OK);

    EXPECT_EQ(recorder.calls, (std::vector<CString>{
                                  L"before http://example.com/", L"complete http://example.com/",
                                  L"document http://example.com/", L"title http://example.com/",
                                  L"status http://example.com/", L"command 2 1", L"new2",
                                  L"new3 6 http://example.com/"}));
}

TEST(BrowserEvents, MalformedArgumentsReachNoHandler)
{
    CBstr url(L"http://example.com/");
    VARIANT urlVariant = Arg(VT_BSTR, url.get());
    VARIANT number = Arg(VT_I4, 5);
    VARIANT twice = Arg(VT_BYREF | VT_VARIANT, &urlVariant);
    const VARIANT disp = Arg(VT_DISPATCH, kSomeDispatch);
    const VARIANT none = {};
    VARIANT_BOOL cancel = VARIANT_FALSE;
    CRecorder recorder;
    recorder.bAnswer = true;

    // Too few arguments: Cancel would be read past the end.
    EXPECT_EQ(Fire(recorder, DISPID_BEFORENAVIGATE2, {disp, Arg(VT_BYREF | VT_VARIANT, &urlVariant)}),
              DISP_E_BADPARAMCOUNT);
    // Cancel by value, or by a null reference: nowhere to write.
    for (const VARIANT& badCancel : {Arg(VT_BOOL, 0L), Arg(VT_BYREF | VT_BOOL, nullptr)}) {
        EXPECT_EQ(Fire(recorder, DISPID_BEFORENAVIGATE2,
                       {disp, Arg(VT_BYREF | VT_VARIANT, &urlVariant), none, none, none, none, badCancel}),
                  DISP_E_TYPEMISMATCH);
    }
    // A number for the URL, and a URL wrapped twice.
    EXPECT_EQ(Fire(recorder, DISPID_NAVIGATECOMPLETE2, {disp, Arg(VT_BYREF | VT_VARIANT, &number)}),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Fire(recorder, DISPID_NAVIGATECOMPLETE2, {disp, Arg(VT_BYREF | VT_VARIANT, &twice)}),
              DISP_E_TYPEMISMATCH);
    // A count without an array, and no parameters at all.
    DISPPARAMS noArray = {nullptr, nullptr, 1, 0};
    EXPECT_EQ(DispatchBrowserEvent(DISPID_TITLECHANGE, &noArray, recorder), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(DispatchBrowserEvent(DISPID_TITLECHANGE, nullptr, recorder), DISP_E_BADPARAMCOUNT);
    // The new window's out parameter by value; a text for a command number.
    EXPECT_EQ(Fire(recorder, DISPID_NEWWINDOW2, {disp, Arg(VT_BYREF | VT_BOOL, &cancel)}), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Fire(recorder, DISPID_COMMANDSTATECHANGE, {urlVariant, Arg(VT_BOOL, VARIANT_TRUE)}),
              DISP_E_TYPEMISMATCH);
    // Events not handled here, and the control's ambient property queries.
    EXPECT_EQ(DispatchBrowserEvent(DISPID_DOWNLOADBEGIN, nullptr, recorder), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(DispatchBrowserEvent(-5501, nullptr, recorder), DISP_E_MEMBERNOTFOUND);

    EXPECT_TRUE(recorder.calls.empty());
    EXPECT_EQ(cancel, VARIANT_FALSE);
}

#include "shell/BrowserEvents.h"

#include <exdispid.h>

namespace {

// The arguments in the order the event declares them; DISPPARAMS holds
// them last first.
class CEventArgs {
public:
    explicit CEventArgs(const DISPPARAMS* pParams) : m_pParams(pParams) {}

    bool HasAtLeast(UINT nCount) const
    {
        return m_pParams != nullptr && m_pParams->cArgs >= nCount && (nCount == 0 || m_pParams->rgvarg != nullptr);
    }

    // Callers check the count first.
    const VARIANT& At(UINT nIndex) const { return m_pParams->rgvarg[m_pParams->cArgs - 1 - nIndex]; }

    // A string, plain or by reference, or wrapped in a variant by reference
    // (how the control passes URLs).
    bool String(UINT nIndex, CString& str) const
    {
        const VARIANT* pv = Unwrap(At(nIndex));
        BSTR bstr = nullptr;
        if (pv->vt == VT_BSTR) {
            bstr = pv->bstrVal;
        } else if (pv->vt == (VT_BYREF | VT_BSTR) && pv->pbstrVal != nullptr) {
            bstr = *pv->pbstrVal;
        } else {
            return false;
        }
        str = bstr != nullptr ? CString(bstr, static_cast<int>(SysStringLen(bstr))) : CString();
        return true;
    }

    // A string that may be missing altogether (empty or null).
    bool OptionalString(UINT nIndex, CString& str) const
    {
        const VARIANT* pv = Unwrap(At(nIndex));
        if (pv->vt == VT_EMPTY || pv->vt == VT_NULL) {
            str.Empty();
            return true;
        }
        return String(nIndex, str);
    }

    // An object, which may be null.
    bool Dispatch(UINT nIndex, IDispatch*& pDisp) const
    {
        const VARIANT* pv = Unwrap(At(nIndex));
        if (pv->vt == VT_DISPATCH) {
            pDisp = pv->pdispVal;
            return true;
        }
        if (pv->vt == (VT_BYREF | VT_DISPATCH) && pv->ppdispVal != nullptr) {
            pDisp = *pv->ppdispVal;
            return true;
        }
        return false;
    }

    bool Long(UINT nIndex, long& n) const
    {
        const VARIANT* pv = Unwrap(At(nIndex));
        switch (pv->vt) {
        case VT_I4:
            n = pv->lVal;
            return true;
        case VT_UI4:
            n = static_cast<long>(pv->ulVal);
            return true;
        case VT_INT:
            n = pv->intVal;
            return true;
        case VT_UINT:
            n = static_cast<long>(pv->uintVal);
            return true;
        case VT_I2:
            n = pv->iVal;
            return true;
        default:
            return false;
        }
    }

    bool Bool(UINT nIndex, bool& b) const
    {
        const VARIANT* pv = Unwrap(At(nIndex));
        if (pv->vt != VT_BOOL) {
            return false;
        }
        b = pv->boolVal != VARIANT_FALSE;
        return true;
    }

    // The out parameters: only these exact by-reference types are written.
    VARIANT_BOOL* BoolOut(UINT nIndex) const
    {
        const VARIANT& v = At(nIndex);
        return v.vt == (VT_BYREF | VT_BOOL) ? v.pboolVal : nullptr;
    }
    IDispatch** DispatchOut(UINT nIndex) const
    {
        const VARIANT& v = At(nIndex);
        return v.vt == (VT_BYREF | VT_DISPATCH) ? v.ppdispVal : nullptr;
    }

private:
    // One level of VT_BYREF | VT_VARIANT, never more.
    static const VARIANT* Unwrap(const VARIANT& v)
    {
        if (v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal != nullptr) {
            return v.pvarVal;
        }
        return &v;
    }

    const DISPPARAMS* m_pParams;
};

void WriteCancel(VARIANT_BOOL* pCancel, bool bCancel)
{
    *pCancel = bCancel ? VARIANT_TRUE : VARIANT_FALSE;
}

}  // namespace

HRESULT DispatchBrowserEvent(DISPID dispid, const DISPPARAMS* pParams, CBrowserEvents& handler)
{
    const CEventArgs args(pParams);
    switch (dispid) {
    case DISPID_BEFORENAVIGATE2: {
        // (pDisp, URL, Flags, TargetFrameName, PostData, Headers, Cancel)
        if (!args.HasAtLeast(7)) {
            return DISP_E_BADPARAMCOUNT;
        }
        IDispatch* pDisp = nullptr;
        CString strUrl;
        VARIANT_BOOL* pCancel = args.BoolOut(6);
        if (!args.Dispatch(0, pDisp) || !args.String(1, strUrl) || pCancel == nullptr) {
            return DISP_E_TYPEMISMATCH;
        }
        bool bCancel = *pCancel != VARIANT_FALSE;
        handler.OnBeforeNavigate2(pDisp, strUrl, bCancel);
        WriteCancel(pCancel, bCancel);
        return S_OK;
    }
    case DISPID_NAVIGATECOMPLETE2:
    case DISPID_DOCUMENTCOMPLETE: {
        // (pDisp, URL)
        if (!args.HasAtLeast(2)) {
            return DISP_E_BADPARAMCOUNT;
        }
        IDispatch* pDisp = nullptr;
        CString strUrl;
        if (!args.Dispatch(0, pDisp) || !args.String(1, strUrl)) {
            return DISP_E_TYPEMISMATCH;
        }
        if (dispid == DISPID_NAVIGATECOMPLETE2) {
            handler.OnNavigateComplete2(pDisp, strUrl);
        } else {
            handler.OnDocumentComplete(pDisp, strUrl);
        }
        return S_OK;
    }
    case DISPID_TITLECHANGE:
    case DISPID_STATUSTEXTCHANGE: {
        // (Text)
        if (!args.HasAtLeast(1)) {
            return DISP_E_BADPARAMCOUNT;
        }
        CString strText;
        if (!args.String(0, strText)) {
            return DISP_E_TYPEMISMATCH;
        }
        if (dispid == DISPID_TITLECHANGE) {
            handler.OnTitleChange(strText);
        } else {
            handler.OnStatusTextChange(strText);
        }
        return S_OK;
    }
    case DISPID_COMMANDSTATECHANGE: {
        // (Command, Enable)
        if (!args.HasAtLeast(2)) {
            return DISP_E_BADPARAMCOUNT;
        }
        long nCommand = 0;
        bool bEnable = false;
        if (!args.Long(0, nCommand) || !args.Bool(1, bEnable)) {
            return DISP_E_TYPEMISMATCH;
        }
        handler.OnCommandStateChange(nCommand, bEnable);
        return S_OK;
    }
    case DISPID_NEWWINDOW2: {
        // (ppDisp, Cancel)
        if (!args.HasAtLeast(2)) {
            return DISP_E_BADPARAMCOUNT;
        }
        IDispatch** ppDisp = args.DispatchOut(0);
        VARIANT_BOOL* pCancel = args.BoolOut(1);
        if (ppDisp == nullptr || pCancel == nullptr) {
            return DISP_E_TYPEMISMATCH;
        }
        bool bCancel = *pCancel != VARIANT_FALSE;
        handler.OnNewWindow2(ppDisp, bCancel);
        WriteCancel(pCancel, bCancel);
        return S_OK;
    }
    case DISPID_NEWWINDOW3: {
        // (ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl)
        if (!args.HasAtLeast(5)) {
            return DISP_E_BADPARAMCOUNT;
        }
        IDispatch** ppDisp = args.DispatchOut(0);
        VARIANT_BOOL* pCancel = args.BoolOut(1);
        long nFlags = 0;
        CString strUrlContext;
        CString strUrl;
        if (ppDisp == nullptr || pCancel == nullptr || !args.Long(2, nFlags) || !args.String(3, strUrlContext) ||
            !args.String(4, strUrl)) {
            return DISP_E_TYPEMISMATCH;
        }
        bool bCancel = *pCancel != VARIANT_FALSE;
        handler.OnNewWindow3(ppDisp, bCancel, static_cast<DWORD>(nFlags), strUrlContext, strUrl);
        WriteCancel(pCancel, bCancel);
        return S_OK;
    }
    case DISPID_NAVIGATEERROR: {
        // (pDisp, URL, TargetFrameName, StatusCode, Cancel)
        if (!args.HasAtLeast(5)) {
            return DISP_E_BADPARAMCOUNT;
        }
        IDispatch* pDisp = nullptr;
        CString strUrl;
        CString strFrame;
        long nStatus = 0;
        VARIANT_BOOL* pCancel = args.BoolOut(4);
        if (!args.Dispatch(0, pDisp) || !args.String(1, strUrl) || !args.OptionalString(2, strFrame) ||
            !args.Long(3, nStatus) || pCancel == nullptr) {
            return DISP_E_TYPEMISMATCH;
        }
        bool bCancel = *pCancel != VARIANT_FALSE;
        handler.OnNavigateError(pDisp, strUrl, strFrame, nStatus, bCancel);
        WriteCancel(pCancel, bCancel);
        return S_OK;
    }
    case DISPID_FILEDOWNLOAD: {
        // (ActiveDocument, Cancel)
        if (!args.HasAtLeast(2)) {
            return DISP_E_BADPARAMCOUNT;
        }
        bool bActiveDocument = false;
        VARIANT_BOOL* pCancel = args.BoolOut(1);
        if (!args.Bool(0, bActiveDocument) || pCancel == nullptr) {
            return DISP_E_TYPEMISMATCH;
        }
        bool bCancel = *pCancel != VARIANT_FALSE;
        handler.OnFileDownload(bActiveDocument, bCancel);
        WriteCancel(pCancel, bCancel);
        return S_OK;
    }
    case DISPID_PROGRESSCHANGE: {
        // (Progress, ProgressMax)
        if (!args.HasAtLeast(2)) {
            return DISP_E_BADPARAMCOUNT;
        }
        long nProgress = 0;
        long nMax = 0;
        if (!args.Long(0, nProgress) || !args.Long(1, nMax)) {
            return DISP_E_TYPEMISMATCH;
        }
        handler.OnProgressChange(nProgress, nMax);
        return S_OK;
    }
    case DISPID_SETSECURELOCKICON:
    case DISPID_WINDOWSETLEFT:
    case DISPID_WINDOWSETTOP:
    case DISPID_WINDOWSETWIDTH:
    case DISPID_WINDOWSETHEIGHT: {
        // (a number)
        if (!args.HasAtLeast(1)) {
            return DISP_E_BADPARAMCOUNT;
        }
        long nValue = 0;
        if (!args.Long(0, nValue)) {
            return DISP_E_TYPEMISMATCH;
        }
        if (dispid == DISPID_SETSECURELOCKICON) {
            handler.OnSetSecureLockIcon(nValue);
        } else {
            handler.OnWindowSetPosition(dispid, nValue);
        }
        return S_OK;
    }
    case DISPID_WINDOWSETRESIZABLE:
    case DISPID_ONTOOLBAR: {
        // (a flag)
        if (!args.HasAtLeast(1)) {
            return DISP_E_BADPARAMCOUNT;
        }
        bool bValue = false;
        if (!args.Bool(0, bValue)) {
            return DISP_E_TYPEMISMATCH;
        }
        if (dispid == DISPID_WINDOWSETRESIZABLE) {
            handler.OnWindowSetResizable(bValue);
        } else {
            handler.OnToolBar(bValue);
        }
        return S_OK;
    }
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

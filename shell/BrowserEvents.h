#pragma once

#include <windows.h>
#include <oaidl.h>

#include "framework/String.h"

// The rendering control's events that a browser view handles, with plain
// arguments, so that a test can feed them as well as the control can.
class CBrowserEvents {
public:
    virtual ~CBrowserEvents() = default;

    virtual void OnBeforeNavigate2(IDispatch* pDisp, const CString& strUrl, bool& bCancel) = 0;
    virtual void OnNavigateComplete2(IDispatch* pDisp, const CString& strUrl) = 0;
    virtual void OnDocumentComplete(IDispatch* pDisp, const CString& strUrl) = 0;
    virtual void OnTitleChange(const CString& strTitle) = 0;
    virtual void OnStatusTextChange(const CString& strText) = 0;
    virtual void OnCommandStateChange(long nCommand, bool bEnable) = 0;
    // *ppDisp receives the new window's browser (with a reference) when the
    // request goes ahead.
    virtual void OnNewWindow2(IDispatch** ppDisp, bool& bCancel) = 0;
    virtual void OnNewWindow3(IDispatch** ppDisp, bool& bCancel, DWORD dwFlags, const CString& strUrlContext,
                              const CString& strUrl) = 0;

    // The events below leave the control's own behaviour unless handled.
    // strTargetFrame is empty for the top-level window.
    virtual void OnNavigateError(IDispatch* pDisp, const CString& strUrl, const CString& strTargetFrame,
                                 long nStatus, bool& bCancel)
    {
        (void)pDisp, (void)strUrl, (void)strTargetFrame, (void)nStatus, (void)bCancel;
    }
    // bActiveDocument: the file will be shown in the control, not saved.
    virtual void OnFileDownload(bool bActiveDocument, bool& bCancel) { (void)bActiveDocument, (void)bCancel; }
    virtual void OnProgressChange(long nProgress, long nProgressMax) { (void)nProgress, (void)nProgressMax; }
    virtual void OnSetSecureLockIcon(long nSecureLock) { (void)nSecureLock; }
    virtual void OnWindowSetResizable(bool bResizable) { (void)bResizable; }
    virtual void OnToolBar(bool bToolBar) { (void)bToolBar; }
    // A page moves or sizes its window: nDispid is the event's
    // (DISPID_WINDOWSETLEFT, ...TOP, ...WIDTH, ...HEIGHT).
    virtual void OnWindowSetPosition(DISPID nDispid, long nValue) { (void)nDispid, (void)nValue; }
};

// Decodes one DWebBrowserEvents2 call and hands it to the handler, writing
// the cancel flag back. The arguments are checked first: their count, and
// the type of each one read. S_OK when handled; DISP_E_MEMBERNOTFOUND for
// an event not handled here; DISP_E_BADPARAMCOUNT or DISP_E_TYPEMISMATCH
// for malformed arguments, with nothing called.
HRESULT DispatchBrowserEvent(DISPID dispid, const DISPPARAMS* pParams, CBrowserEvents& handler);

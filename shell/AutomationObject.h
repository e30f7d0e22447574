#pragma once

#include <windows.h>
#include <oaidl.h>

#include "framework/UnknownImpl.h"

// The program's automation object: a command target with automation
// enabled and no members of its own. Each window thread registers its class
// object for kClsid.
class CAutomationObject final : public CUnknownImpl<IDispatch, IID_IDispatch> {
public:
    // {2D360201-FFF5-11D1-8D03-00A0C959BC0A}
    static const CLSID kClsid;

    // Its class object, with one reference for the caller.
    static IClassFactory* CreateClassFactory();

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                            DISPID* rgDispId) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                                     VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

private:
    CAutomationObject() = default;
    ~CAutomationObject() override = default;
    friend class CAutomationClassFactory;
};

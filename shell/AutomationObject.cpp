#include "shell/AutomationObject.h"

const CLSID CAutomationObject::kClsid = {
    0x2D360201, 0xFFF5, 0x11D1, {0x8D, 0x03, 0x00, 0xA0, 0xC9, 0x59, 0xBC, 0x0A}};

class CAutomationClassFactory final : public CUnknownImpl<IClassFactory, IID_IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        *ppv = nullptr;
        if (pUnkOuter != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        auto* pObject = new CAutomationObject();
        const HRESULT hr = pObject->QueryInterface(riid, ppv);
        pObject->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    ~CAutomationClassFactory() override = default;
};

IClassFactory* CAutomationObject::CreateClassFactory()
{
    return new CAutomationClassFactory();
}

HRESULT STDMETHODCALLTYPE CAutomationObject::GetTypeInfoCount(UINT* pctinfo)
{
    if (pctinfo == nullptr) {
        return E_POINTER;
    }
    *pctinfo = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CAutomationObject::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo)
{
    if (ppTInfo != nullptr) {
        *ppTInfo = nullptr;
    }
    return DISP_E_BADINDEX;
}

HRESULT STDMETHODCALLTYPE CAutomationObject::GetIDsOfNames(REFIID, LPOLESTR*, UINT cNames, LCID, DISPID* rgDispId)
{
    if (rgDispId != nullptr) {
        for (UINT i = 0; i < cNames; ++i) {
            rgDispId[i] = DISPID_UNKNOWN;
        }
    }
    return DISP_E_UNKNOWNNAME;
}

HRESULT STDMETHODCALLTYPE CAutomationObject::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                                    UINT*)
{
    return DISP_E_MEMBERNOTFOUND;
}

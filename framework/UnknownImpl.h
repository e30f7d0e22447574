#pragma once

#include <windows.h>
#include <unknwn.h>

// The counted IUnknown of a COM object that offers one interface: it is
// created with one reference for its creator and deletes itself with the
// last one.
template <class TInterface, const IID& riidInterface>
class CUnknownImpl : public TInterface {
public:
    CUnknownImpl(const CUnknownImpl&) = delete;
    CUnknownImpl& operator=(const CUnknownImpl&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override
    {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, riidInterface)) {
            *ppv = static_cast<TInterface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_nRef)); }

    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG nRef = InterlockedDecrement(&m_nRef);
        if (nRef == 0) {
            delete this;
        }
        return static_cast<ULONG>(nRef);
    }

protected:
    CUnknownImpl() = default;
    virtual ~CUnknownImpl() = default;

private:
    LONG m_nRef = 1;
};

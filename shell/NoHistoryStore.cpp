#include "shell/NoHistoryStore.h"

IUrlHistoryStg* CNoHistoryStore::Create()
{
    return new CNoHistoryStore();
}

HRESULT STDMETHODCALLTYPE CNoHistoryStore::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IUrlHistoryStg)) {
        *ppv = static_cast<IUrlHistoryStg*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CNoHistoryStore::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_nRef));
}

ULONG STDMETHODCALLTYPE CNoHistoryStore::Release()
{
    const LONG nRef = InterlockedDecrement(&m_nRef);
    if (nRef == 0) {
        delete this;
    }
    return static_cast<ULONG>(nRef);
}

HRESULT STDMETHODCALLTYPE CNoHistoryStore::BindToObject(LPCOLESTR, REFIID, void** ppv)
{
    if (ppv != nullptr) {
        *ppv = nullptr;
    }
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CNoHistoryStore::EnumUrls(IEnumSTATURL** ppEnum)
{
    if (ppEnum != nullptr) {
        *ppEnum = nullptr;
    }
    return E_NOTIMPL;
}

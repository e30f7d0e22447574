#include "shell/NoHistoryStore.h"

IUrlHistoryStg* CNoHistoryStore::Create()
{
    return new CNoHistoryStore();
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

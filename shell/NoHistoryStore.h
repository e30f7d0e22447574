#pragma once

#include <windows.h>
#include <urlhist.h>

#include "framework/UnknownImpl.h"

// The history store the control is given instead of the user's: adding a
// visit succeeds and keeps nothing, so browsing records no history of its
// own; every other operation is not implemented.
class CNoHistoryStore final : public CUnknownImpl<IUrlHistoryStg, IID_IUrlHistoryStg> {
public:
    // A new store with one reference for the caller.
    static IUrlHistoryStg* Create();


    HRESULT STDMETHODCALLTYPE AddUrl(LPCOLESTR, LPCOLESTR, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeleteUrl(LPCOLESTR, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryUrl(LPCOLESTR, DWORD, LPSTATURL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE BindToObject(LPCOLESTR, REFIID, void** ppv) override;
    HRESULT STDMETHODCALLTYPE EnumUrls(IEnumSTATURL** ppEnum) override;

private:
    CNoHistoryStore() = default;
    ~CNoHistoryStore() override = default;
};

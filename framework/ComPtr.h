#pragma once

#include <objbase.h>
#include <ole2.h>
#include <oleauto.h>

#include <utility>

// A reference-counted COM interface pointer. Copies AddRef, destruction and
// reset Release, so a long-lived interface member cannot leak or dangle.
template <typename T>
class CComPtr {
public:
    CComPtr() = default;
    CComPtr(std::nullptr_t) {}  // NOLINT
    // Takes a new reference on p.
    explicit CComPtr(T* p) : m_p(p)
    {
        if (m_p != nullptr) {
            m_p->AddRef();
        }
    }
    CComPtr(const CComPtr& other) : CComPtr(other.m_p) {}
    CComPtr(CComPtr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
    ~CComPtr() { reset(); }

    CComPtr& operator=(const CComPtr& other)
    {
        if (this != &other) {
            CComPtr copy(other);
            std::swap(m_p, copy.m_p);
        }
        return *this;
    }
    CComPtr& operator=(CComPtr&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_p = std::exchange(other.m_p, nullptr);
        }
        return *this;
    }

    T* get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    void reset()
    {
        if (T* p = std::exchange(m_p, nullptr)) {
            p->Release();
        }
    }

    // Takes over a reference the caller already owns.
    void Attach(T* p)
    {
        reset();
        m_p = p;
    }
    [[nodiscard]] T* Detach() { return std::exchange(m_p, nullptr); }

    // For calls that return an interface through T**.
    T** put()
    {
        reset();
        return &m_p;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }

    template <typename U>
    HRESULT QueryInterface(CComPtr<U>& result) const
    {
        if (m_p == nullptr) {
            return E_POINTER;
        }
        return m_p->QueryInterface(__uuidof(U), result.put_void());
    }

    HRESULT CoCreateInstance(REFCLSID clsid, DWORD dwClsContext = CLSCTX_INPROC_SERVER)
    {
        return ::CoCreateInstance(clsid, nullptr, dwClsContext, __uuidof(T), put_void());
    }

    friend bool operator==(const CComPtr& a, const CComPtr& b) { return a.m_p == b.m_p; }

private:
    T* m_p = nullptr;
};

// COM initialised for the current thread for the lifetime of the object.
class CComInitializer {
public:
    explicit CComInitializer(DWORD dwCoInit = COINIT_APARTMENTTHREADED) : m_hr(CoInitializeEx(nullptr, dwCoInit)) {}
    ~CComInitializer()
    {
        if (SUCCEEDED(m_hr)) {
            CoUninitialize();
        }
    }
    CComInitializer(const CComInitializer&) = delete;
    CComInitializer& operator=(const CComInitializer&) = delete;

    HRESULT Result() const { return m_hr; }
    bool Succeeded() const { return SUCCEEDED(m_hr); }

private:
    HRESULT m_hr;
};

// OLE (COM in a single-threaded apartment, with the clipboard and drag and
// drop that embedded controls use) for the current thread while the object
// lives.
class COleInitializer {
public:
    COleInitializer() : m_hr(OleInitialize(nullptr)) {}
    ~COleInitializer()
    {
        if (SUCCEEDED(m_hr)) {
            OleUninitialize();
        }
    }
    COleInitializer(const COleInitializer&) = delete;
    COleInitializer& operator=(const COleInitializer&) = delete;

    HRESULT Result() const { return m_hr; }
    bool Succeeded() const { return SUCCEEDED(m_hr); }

private:
    HRESULT m_hr;
};

// A class object registered with COM for the current apartment until the
// object goes (or Revoke).
class CClassObjectRegistration {
public:
    CClassObjectRegistration() = default;
    ~CClassObjectRegistration() { Revoke(); }
    CClassObjectRegistration(const CClassObjectRegistration&) = delete;
    CClassObjectRegistration& operator=(const CClassObjectRegistration&) = delete;

    HRESULT Register(REFCLSID clsid, IUnknown* pClassObject, DWORD dwClsContext, DWORD dwFlags)
    {
        Revoke();
        return CoRegisterClassObject(clsid, pClassObject, dwClsContext, dwFlags, &m_dwCookie);
    }
    void Revoke()
    {
        if (m_dwCookie != 0) {
            CoRevokeClassObject(m_dwCookie);
            m_dwCookie = 0;
        }
    }
    DWORD Cookie() const { return m_dwCookie; }

private:
    DWORD m_dwCookie = 0;
};

// An owned BSTR.
class CBstr {
public:
    CBstr() = default;
    explicit CBstr(const wchar_t* psz) : m_bstr(psz != nullptr ? SysAllocString(psz) : nullptr) {}
    ~CBstr() { SysFreeString(m_bstr); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    CBstr(CBstr&& other) noexcept : m_bstr(std::exchange(other.m_bstr, nullptr)) {}
    CBstr& operator=(CBstr&& other) noexcept
    {
        if (this != &other) {
            SysFreeString(m_bstr);
            m_bstr = std::exchange(other.m_bstr, nullptr);
        }
        return *this;
    }

    BSTR get() const { return m_bstr; }
    BSTR* put()
    {
        SysFreeString(m_bstr);
        m_bstr = nullptr;
        return &m_bstr;
    }
    UINT Length() const { return SysStringLen(m_bstr); }

private:
    BSTR m_bstr = nullptr;
};

// A VARIANT cleared when it goes out of scope.
class CVariant {
public:
    CVariant() { VariantInit(&m_var); }
    ~CVariant() { VariantClear(&m_var); }
    CVariant(const CVariant&) = delete;
    CVariant& operator=(const CVariant&) = delete;

    VARIANT* get() { return &m_var; }
    const VARIANT* get() const { return &m_var; }
    VARIANT* put()
    {
        VariantClear(&m_var);
        return &m_var;
    }

private:
    VARIANT m_var;
};

#include "app/Config.h"

#include <msxml2.h>

#include "framework/Logger.h"

namespace {

// MSXML's version-independent DOMDocument class.
const CLSID kClsidDomDocument = {0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};

const wchar_t kSettingsPath[] = L"/configuration/appSettings";

// The XPath literal for a key: single quotes unless the key holds one. A key
// with both kinds of quote has no literal; an invalid expression would reach
// the XML service, and Wine's crashes on one.
bool MakeSettingQuery(const CString& strKey, CString& strQuery)
{
    const wchar_t* pszQuote = L"'";
    if (strKey.Find(L'\'') >= 0) {
        if (strKey.Find(L'"') >= 0) {
            return false;
        }
        pszQuote = L"\"";
    }
    strQuery = CString(kSettingsPath) + L"/add[@key=" + pszQuote + strKey + pszQuote + L"]";
    return true;
}

CComPtr<IXMLDOMElement> AsElement(const CComPtr<IXMLDOMNode>& node)
{
    CComPtr<IXMLDOMElement> element;
    if (node) {
        node->QueryInterface(IID_IXMLDOMElement, element.put_void());
    }
    return element;
}

}  // namespace

const wchar_t* const CConfig::kFileName = L"Nulvane.config";
const wchar_t* const CConfig::kDefaultDocument =
    L"<?xml version=\"1.0\"?><configuration><appSettings></appSettings><bookmarks></bookmarks></configuration>";

CConfig::CConfig() = default;

CConfig::~CConfig()
{
    Unload();
}

void CConfig::Unload()
{
    // The interfaces go before COM does.
    m_root.reset();
    m_document.reset();
    m_bLoaded = false;
    if (m_bComInitialised) {
        CoUninitialize();
        m_bComInitialised = false;
    }
}

BOOL CConfig::Load(BOOL bCreateIfMissing)
{
    if (m_bLoaded) {
        return TRUE;
    }
    const HRESULT hrInit = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // A thread already in the multi-threaded apartment can use MSXML too;
    // only our own successful call is balanced later.
    if (FAILED(hrInit) && hrInit != RPC_E_CHANGED_MODE) {
        LOG_ERROR(hrInit, L"CConfig::Load() cannot initialise COM");
        return FALSE;
    }
    m_bComInitialised = SUCCEEDED(hrInit);

    HRESULT hr = CoCreateInstance(kClsidDomDocument, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                  IID_IXMLDOMDocument, m_document.put_void());
    if (FAILED(hr)) {
        LOG_ERROR(hr, L"CConfig::Load() cannot create the XML document");
        Unload();
        return FALSE;
    }
    m_document->put_async(VARIANT_FALSE);

    if (!m_bPathKnown) {
        m_bPathKnown = true;
        const DWORD cch = GetCurrentDirectoryW(0, nullptr);
        CString folder;
        if (cch > 0 && GetCurrentDirectoryW(cch, folder.GetBuffer(static_cast<int>(cch))) < cch) {
            folder.ReleaseBuffer();
            if (!folder.IsEmpty() && folder[folder.GetLength() - 1] != L'\\') {
                folder += L'\\';
            }
            m_strPath = folder + kFileName;
        } else {
            folder.ReleaseBuffer(0);
        }
        m_bstrPath = CBstr(m_strPath);
    }

    VARIANT_BOOL bLoaded = VARIANT_FALSE;
    {
        VARIANT path;
        VariantInit(&path);
        path.vt = VT_BSTR;
        path.bstrVal = m_bstrPath.get();
        hr = m_document->load(path, &bLoaded);
    }
    if (hr != S_OK || bLoaded != VARIANT_TRUE) {
        if (!bCreateIfMissing) {
            Unload();
            return FALSE;
        }
        LOG_MESSAGE(L"CConfig::Load() %s missing or unreadable, starting from the default document",
                    m_strPath.GetString());
        CBstr text(kDefaultDocument);
        hr = m_document->loadXML(text.get(), &bLoaded);
        if (hr != S_OK || bLoaded != VARIANT_TRUE) {
            LOG_ERROR(hr, L"CConfig::Load() cannot parse the default document");
            Unload();
            return FALSE;
        }
    }
    hr = m_document->get_documentElement(m_root.put());
    if (FAILED(hr) || !m_root) {
        LOG_ERROR(hr, L"CConfig::Load() %s has no root element", m_strPath.GetString());
        Unload();
        return FALSE;
    }
    m_bLoaded = true;
    return TRUE;
}

bool CConfig::FindSetting(const CString& strKey, CComPtr<IXMLDOMNode>& node) const
{
    CString query;
    if (!MakeSettingQuery(strKey, query)) {
        LOG_MESSAGE(L"CConfig: key %s cannot be looked up", strKey.GetString());
        return false;
    }
    CBstr bstrQuery(query);
    const HRESULT hr = m_document->selectSingleNode(bstrQuery.get(), node.put());
    if (FAILED(hr)) {
        LOG_ERROR(hr, L"CConfig: lookup of %s failed", strKey.GetString());
    }
    return hr == S_OK && node;
}

BOOL CConfig::GetValue(const CString& strKey, CString& strValue)
{
    if (!Load(FALSE)) {
        return FALSE;
    }
    CComPtr<IXMLDOMNode> node;
    if (!FindSetting(strKey, node)) {
        return FALSE;
    }
    CComPtr<IXMLDOMElement> element = AsElement(node);
    if (!element) {
        return FALSE;
    }
    CBstr name(L"value");
    VARIANT value;
    VariantInit(&value);
    const HRESULT hr = element->getAttribute(name.get(), &value);
    const BOOL bFound = hr == S_OK && value.vt == VT_BSTR;
    if (bFound) {
        strValue = CString(value.bstrVal != nullptr ? value.bstrVal : L"");
    }
    VariantClear(&value);
    return bFound;
}

void CConfig::SetValue(const CString& strKey, const CString& strValue)
{
    if (strKey.IsEmpty() || strValue.IsEmpty()) {
        return;
    }
    if (!Load(TRUE)) {
        return;
    }
    CComPtr<IXMLDOMElement> element;
    CString stored;
    if (GetValue(strKey, stored)) {
        if (stored.CompareNoCase(strValue) == 0) {
            return;
        }
        CComPtr<IXMLDOMNode> node;
        if (FindSetting(strKey, node)) {
            element = AsElement(node);
        }
    } else {
        CString query;
        if (!MakeSettingQuery(strKey, query)) {
            // It could be written but never found again: every write would
            // add one more element.
            LOG_MESSAGE(L"CConfig::SetValue() key %s cannot be stored", strKey.GetString());
            return;
        }
        CBstr tag(L"add");
        HRESULT hr = m_document->createElement(tag.get(), element.put());
        CComPtr<IXMLDOMNode> settings;
        CBstr settingsPath(kSettingsPath);
        if (SUCCEEDED(hr)) {
            hr = m_document->selectSingleNode(settingsPath.get(), settings.put());
        }
        CComPtr<IXMLDOMNode> appended;
        if (hr == S_OK && settings) {
            hr = settings->appendChild(element.get(), appended.put());
        } else if (SUCCEEDED(hr)) {
            hr = E_FAIL;
        }
        if (FAILED(hr)) {
            LOG_ERROR(hr, L"CConfig::SetValue() cannot add %s to %s", strKey.GetString(), m_strPath.GetString());
            return;
        }
    }
    if (!element) {
        LOG_MESSAGE(L"CConfig::SetValue() no element for %s", strKey.GetString());
        return;
    }
    struct CAttribute {
        const wchar_t* pszName;
        const CString& strText;
    };
    for (const CAttribute& attribute : {CAttribute{L"key", strKey}, CAttribute{L"value", strValue}}) {
        CBstr name(attribute.pszName);
        CBstr text(attribute.strText);
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_BSTR;
        value.bstrVal = text.get();
        const HRESULT hr = element->setAttribute(name.get(), value);
        if (FAILED(hr)) {
            LOG_ERROR(hr, L"CConfig::SetValue() cannot set %s of %s", attribute.pszName, strKey.GetString());
            return;
        }
    }
    Save();
}

void CConfig::Save()
{
    if (!m_bLoaded) {
        return;
    }
    // Windows refuses to overwrite a hidden or system file unless the new
    // one has those attributes too, and MSXML creates a plain one: they come
    // off for the save. A read-only file stays read-only and the save fails.
    const DWORD dwOldAttributes = GetFileAttributesW(m_strPath);
    constexpr DWORD kBlocking = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    if (dwOldAttributes != INVALID_FILE_ATTRIBUTES && (dwOldAttributes & kBlocking) != 0) {
        const DWORD dwOpen = dwOldAttributes & ~kBlocking;
        SetFileAttributesW(m_strPath, dwOpen != 0 ? dwOpen : FILE_ATTRIBUTE_NORMAL);
    }
    VARIANT path;
    VariantInit(&path);
    path.vt = VT_BSTR;
    path.bstrVal = m_bstrPath.get();
    const HRESULT hr = m_document->save(path);
    if (FAILED(hr)) {
        LOG_ERROR(hr, L"CConfig::Save() cannot save %s", m_strPath.GetString());
        if (dwOldAttributes != INVALID_FILE_ATTRIBUTES) {
            SetFileAttributesW(m_strPath, dwOldAttributes);
        }
        return;
    }
    if (!SetFileAttributesW(m_strPath, FILE_ATTRIBUTE_HIDDEN)) {
        LOG_ERROR(GetLastError(), L"CConfig::Save() cannot hide %s", m_strPath.GetString());
    }
}

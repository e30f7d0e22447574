#pragma once

#include <windows.h>

#include "framework/ComPtr.h"
#include "framework/String.h"

struct IXMLDOMDocument;
struct IXMLDOMElement;
struct IXMLDOMNode;

// The user's settings as key/value pairs in "Nulvane.config", an XML file
// in the current directory of the first load:
//   <configuration><appSettings><add key="..." value="..."/></appSettings>
//   <bookmarks></bookmarks></configuration>
// read and written through the platform's MSXML DOM document. The file is
// opened on first use and written back after every change, and kept hidden.
// Used on one thread, which it initialises COM for while loaded.
class CConfig {
public:
    static const wchar_t* const kFileName;
    static const wchar_t* const kDefaultDocument;

    CConfig();
    ~CConfig();
    CConfig(const CConfig&) = delete;
    CConfig& operator=(const CConfig&) = delete;

    // Loads the file once; bCreateIfMissing starts from the default
    // document when the file is missing or does not parse (it is written by
    // the next Save).
    [[nodiscard]] BOOL Load(BOOL bCreateIfMissing);
    // TRUE with the setting's value when the file loads and holds it.
    [[nodiscard]] BOOL GetValue(const CString& strKey, CString& strValue);
    // Writes the setting and saves, unless key or value is empty or the
    // stored value already equals it ignoring case.
    void SetValue(const CString& strKey, const CString& strValue);
    // Writes the document back and hides the file; failures are logged.
    void Save();

    // The file's full path, known from the first load on.
    const CString& GetPath() const { return m_strPath; }

private:
    [[nodiscard]] bool FindSetting(const CString& strKey, CComPtr<IXMLDOMNode>& node) const;
    void Unload();

    bool m_bLoaded = false;
    CBstr m_bstrPath;
    CString m_strPath;
    CComPtr<IXMLDOMDocument> m_document;
    CComPtr<IXMLDOMElement> m_root;
    bool m_bPathKnown = false;
    // Whether this object's CoInitializeEx call is to be balanced.
    bool m_bComInitialised = false;
};

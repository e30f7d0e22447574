#pragma once

#include <windows.h>

#include <map>

#include "framework/String.h"

// File extension (with its dot) to content type, from the registry's MIME
// database: each direct subkey of the database names a content type and its
// "Extension" value one extension for it. Filled on the first lookup; an
// empty table (no database) is filled again on every lookup. Keys are exact.
class CMimeTypeMap {
public:
    CMimeTypeMap();
    // The database under another key; tests point it at a key they seed.
    CMimeTypeMap(HKEY hRoot, const CString& strSubKey);

    // True with the content type when the table has the extension.
    bool Lookup(const CString& strExtension, CString& strContentType);

private:
    void Fill();
    void WalkKey(HKEY hKey, int nDepth, CString& strCurrentType);

    HKEY m_hRoot;
    CString m_strSubKey;
    std::map<CString, CString> m_types;
};

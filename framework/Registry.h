#pragma once

#include <windows.h>

#include "framework/String.h"

// Values under one root key (a predefined key such as HKEY_CURRENT_USER, or
// any open key that outlives this object). Sub-keys are paths below the
// root; a null or empty value name is the key's default value. Every call
// opens and closes its key and returns the system's status, so callers can
// log the code with the path they meant.
class CRegistry {
public:
    explicit CRegistry(HKEY hRoot) : m_hRoot(hRoot) {}

    HKEY Root() const { return m_hRoot; }

    [[nodiscard]] bool KeyExists(const wchar_t* pszSubKey) const;

    // 32-bit numbers: only REG_DWORD data of exactly four bytes reads.
    [[nodiscard]] LSTATUS ReadDword(const wchar_t* pszSubKey, const wchar_t* pszName, DWORD& dwValue) const;
    [[nodiscard]] LSTATUS WriteDword(const wchar_t* pszSubKey, const wchar_t* pszName, DWORD dwValue) const;

    // REG_SZ and REG_EXPAND_SZ (not expanded). The text ends at its first
    // null character or at the end of the data, whichever comes first, so a
    // value stored without a terminator or with an odd length reads safely.
    [[nodiscard]] LSTATUS ReadString(const wchar_t* pszSubKey, const wchar_t* pszName, CString& strValue) const;
    // Creates the key and those above it when missing; writes REG_SZ.
    [[nodiscard]] LSTATUS WriteString(const wchar_t* pszSubKey, const wchar_t* pszName, const CString& strValue) const;

private:
    LSTATUS Write(const wchar_t* pszSubKey, const wchar_t* pszName, DWORD dwType, const void* pData,
                  DWORD cbData) const;

    HKEY m_hRoot;
};

#include "framework/Registry.h"

#include <vector>

#include "framework/Handles.h"

namespace {

// Registry values are at most ~1 MB; a value that keeps growing between the
// size query and the read is given a few chances, not unlimited ones.
constexpr int kReadAttempts = 4;

}  // namespace

bool CRegistry::KeyExists(const wchar_t* pszSubKey) const
{
    CRegKey key;
    return RegOpenKeyExW(m_hRoot, pszSubKey, 0, KEY_QUERY_VALUE, key.put()) == ERROR_SUCCESS;
}

LSTATUS CRegistry::ReadDword(const wchar_t* pszSubKey, const wchar_t* pszName, DWORD& dwValue) const
{
    CRegKey key;
    LSTATUS status = RegOpenKeyExW(m_hRoot, pszSubKey, 0, KEY_QUERY_VALUE, key.put());
    if (status != ERROR_SUCCESS) {
        return status;
    }
    DWORD dwType = 0;
    DWORD dwData = 0;
    DWORD cbData = sizeof(dwData);
    status = RegQueryValueExW(key.get(), pszName, nullptr, &dwType, reinterpret_cast<BYTE*>(&dwData), &cbData);
    if (status == ERROR_MORE_DATA) {
        return ERROR_INVALID_DATA;  // longer than any number
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (dwType != REG_DWORD || cbData != sizeof(dwData)) {
        return ERROR_INVALID_DATA;
    }
    dwValue = dwData;
    return ERROR_SUCCESS;
}

LSTATUS CRegistry::WriteDword(const wchar_t* pszSubKey, const wchar_t* pszName, DWORD dwValue) const
{
    return Write(pszSubKey, pszName, REG_DWORD, &dwValue, sizeof(dwValue));
}

LSTATUS CRegistry::ReadString(const wchar_t* pszSubKey, const wchar_t* pszName, CString& strValue) const
{
    CRegKey key;
    LSTATUS status = RegOpenKeyExW(m_hRoot, pszSubKey, 0, KEY_QUERY_VALUE, key.put());
    if (status != ERROR_SUCCESS) {
        return status;
    }
    std::vector<BYTE> data(256);
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        DWORD dwType = 0;
        DWORD cbData = static_cast<DWORD>(data.size());
        status = RegQueryValueExW(key.get(), pszName, nullptr, &dwType, data.data(), &cbData);
        if (status == ERROR_MORE_DATA) {
            data.resize(static_cast<size_t>(cbData) + sizeof(wchar_t));
            continue;
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
        if (dwType != REG_SZ && dwType != REG_EXPAND_SZ) {
            return ERROR_INVALID_DATA;
        }
        const size_t cch = cbData / sizeof(wchar_t);
        const auto* pch = reinterpret_cast<const wchar_t*>(data.data());
        size_t nLength = 0;
        while (nLength < cch && pch[nLength] != L'\0') {
            ++nLength;
        }
        strValue = CString(pch, static_cast<int>(nLength));
        return ERROR_SUCCESS;
    }
    return ERROR_MORE_DATA;
}

LSTATUS CRegistry::WriteString(const wchar_t* pszSubKey, const wchar_t* pszName, const CString& strValue) const
{
    const DWORD cbData = static_cast<DWORD>((strValue.GetLength() + 1) * sizeof(wchar_t));
    return Write(pszSubKey, pszName, REG_SZ, strValue.GetString(), cbData);
}

LSTATUS CRegistry::Write(const wchar_t* pszSubKey, const wchar_t* pszName, DWORD dwType, const void* pData,
                         DWORD cbData) const
{
    CRegKey key;
    const LSTATUS status = RegCreateKeyExW(m_hRoot, pszSubKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                           nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return RegSetValueExW(key.get(), pszName, 0, dwType, static_cast<const BYTE*>(pData), cbData);
}

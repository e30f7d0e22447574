#include "cleanup/MimeTypeMap.h"

#include <cwchar>
#include <vector>

#include "framework/Handles.h"

namespace {

// Registry names are at most 255 characters for keys and 16383 for values.
constexpr DWORD kMaxKeyNameChars = 256;
constexpr DWORD kMaxValueNameChars = 16384;
// Extensions are short; a longer value is not an extension.
constexpr DWORD kMaxExtensionChars = 1024;
// The database is two levels deep; the walk goes further only to keep the
// rule that deeper keys clear the current type, and stops at a depth no
// real database reaches.
constexpr int kMaxDepth = 32;

// The "Extension" value of the key, when it is a string.
bool ReadExtension(HKEY hKey, CString& strExtension)
{
    std::vector<wchar_t> buffer(kMaxExtensionChars + 1, L'\0');
    DWORD cbData = kMaxExtensionChars * sizeof(wchar_t);
    DWORD dwType = 0;
    if (RegQueryValueExW(hKey, L"Extension", nullptr, &dwType, reinterpret_cast<BYTE*>(buffer.data()), &cbData) !=
            ERROR_SUCCESS ||
        (dwType != REG_SZ && dwType != REG_EXPAND_SZ)) {
        return false;
    }
    // Stored strings need not end with a terminator.
    const size_t cch = wcsnlen(buffer.data(), cbData / sizeof(wchar_t));
    strExtension = CString(buffer.data(), static_cast<int>(cch));
    return true;
}

}  // namespace

CMimeTypeMap::CMimeTypeMap() : CMimeTypeMap(HKEY_CLASSES_ROOT, L"MIME\\Database\\Content Type")
{
}

CMimeTypeMap::CMimeTypeMap(HKEY hRoot, const CString& strSubKey) : m_hRoot(hRoot), m_strSubKey(strSubKey)
{
}

bool CMimeTypeMap::Lookup(const CString& strExtension, CString& strContentType)
{
    if (m_types.empty()) {
        Fill();
    }
    const auto found = m_types.find(strExtension);
    if (found == m_types.end()) {
        return false;
    }
    strContentType = found->second;
    return true;
}

void CMimeTypeMap::Fill()
{
    CRegKey root;
    if (RegOpenKeyExW(m_hRoot, m_strSubKey, 0, KEY_READ, root.put()) != ERROR_SUCCESS) {
        return;
    }
    CString currentType;
    WalkKey(root.get(), 0, currentType);
}

void CMimeTypeMap::WalkKey(HKEY hKey, int nDepth, CString& strCurrentType)
{
    // Values before subkeys.
    std::vector<wchar_t> valueName(kMaxValueNameChars, L'\0');
    for (DWORD index = 0;; ++index) {
        DWORD cchName = kMaxValueNameChars;
        const LONG result =
            RegEnumValueW(hKey, index, valueName.data(), &cchName, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA) {
            continue;  // a name longer than the registry allows for ours
        }
        if (result != ERROR_SUCCESS) {
            break;  // the end, or a key deleted under us
        }
        // The registry matches value names without regard to case; the
        // database's own name is matched exactly.
        if (strCurrentType.IsEmpty() || CString(valueName.data(), static_cast<int>(cchName)) != L"Extension") {
            continue;
        }
        CString extension;
        if (ReadExtension(hKey, extension)) {
            m_types[extension] = strCurrentType;
        }
    }
    if (nDepth >= kMaxDepth) {
        return;
    }
    wchar_t keyName[kMaxKeyNameChars];
    for (DWORD index = 0;; ++index) {
        DWORD cchName = kMaxKeyNameChars;
        const LONG result = RegEnumKeyExW(hKey, index, keyName, &cchName, nullptr, nullptr, nullptr, nullptr);
        if (result == ERROR_MORE_DATA) {
            continue;  // a name longer than the registry allows for ours
        }
        if (result != ERROR_SUCCESS) {
            break;  // the end, or a key deleted under us
        }
        CRegKey subKey;
        if (RegOpenKeyExW(hKey, keyName, 0, KEY_READ, subKey.put()) != ERROR_SUCCESS) {
            continue;
        }
        if (nDepth == 0) {
            strCurrentType = CString(keyName, static_cast<int>(cchName));
        } else {
            strCurrentType.Empty();
        }
        WalkKey(subKey.get(), nDepth + 1, strCurrentType);
    }
}

#include "framework/VersionInfo.h"

#include <vector>

namespace {

const wchar_t* const kNames[] = {
    L"CompanyName",     L"FileDescription", L"FileVersion",  L"InternalName", L"LegalCopyright",
    L"OriginalFileName", L"ProductName",     L"ProductVersion", L"Comments",    L"LegalTrademarks",
    L"PrivateBuild",    L"SpecialBuild",    L"BuildDate",
};

}  // namespace

BOOL CVersionInfo::Load(HMODULE hModule)
{
    m_values.clear();
    wchar_t path[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(hModule, path, static_cast<DWORD>(sizeof(path) / sizeof(path[0])));
    if (n == 0 || n >= sizeof(path) / sizeof(path[0])) {
        return FALSE;
    }
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &handle);
    if (size == 0) {
        return FALSE;
    }
    std::vector<BYTE> data(size);
    if (!GetFileVersionInfoW(path, 0, size, data.data())) {
        return FALSE;
    }
    struct LangCodePage {
        WORD wLanguage;
        WORD wCodePage;
    };
    LangCodePage* pTranslation = nullptr;
    UINT cb = 0;
    if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&pTranslation), &cb) ||
        cb < sizeof(LangCodePage)) {
        return FALSE;
    }
    for (const wchar_t* name : kNames) {
        const CString block = FormatString(L"\\StringFileInfo\\%04x%04x\\%s", pTranslation->wLanguage,
                                           pTranslation->wCodePage, name);
        wchar_t* pValue = nullptr;
        UINT cch = 0;
        if (VerQueryValueW(data.data(), block, reinterpret_cast<void**>(&pValue), &cch) && pValue != nullptr) {
            // cch counts the terminator when there is one; never read past it.
            m_values[name] = CString(pValue, static_cast<int>(wcsnlen(pValue, cch)));
        }
    }
    return TRUE;
}

CString CVersionInfo::Get(const wchar_t* pszName) const
{
    const auto it = m_values.find(CString(pszName));
    return it == m_values.end() ? CString() : it->second;
}

#include "shell/SystemLibrary.h"

#include "framework/String.h"

CSystemLibrary::CSystemLibrary(std::initializer_list<const wchar_t*> names)
{
    wchar_t szSystem[MAX_PATH] = {};
    const UINT nLength = GetSystemDirectoryW(szSystem, MAX_PATH);
    if (nLength == 0 || nLength >= MAX_PATH) {
        return;
    }
    for (const wchar_t* pszName : names) {
        const CString strPath = CString(szSystem) + L"\\" + pszName;
        m_hModule = LoadLibraryExW(strPath, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        if (m_hModule != nullptr) {
            return;
        }
    }
}

CSystemLibrary::~CSystemLibrary()
{
    if (m_hModule != nullptr) {
        FreeLibrary(m_hModule);
    }
}

#include "framework/LanguageManagerResource.h"

#include "framework/Logger.h"
#include "resources/Resource.h"

CLanguageManagerResource* CLanguageManagerResource::s_pInstance = nullptr;

CLanguageManagerResource::CLanguageManagerResource(HMODULE hModule)
    : m_hModule(hModule != nullptr ? hModule : GetModuleHandleW(nullptr))
{
}

CLanguageManagerResource* CLanguageManagerResource::Instance()
{
    if (s_pInstance == nullptr) {
        auto* pTable = new CLanguageManagerResource();
        pTable->Reload();
        // The table's locale cells carry whole language ids ("0x0809"), so
        // the user's whole id is matched first, then its primary language;
        // the first column answers when neither is found.
        pTable->SelectLanguageForId(UserLanguageId());
        pTable->SetTemplateFolder(CString());
        pTable->Reload();
        s_pInstance = pTable;
    }
    return s_pInstance;
}

void CLanguageManagerResource::Release()
{
    delete s_pInstance;
    s_pInstance = nullptr;
}

LANGID CLanguageManagerResource::UserLanguageId()
{
    // Four hex digits, "0809" for English (United Kingdom).
    wchar_t text[16] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_IDEFAULTLANGUAGE, text, 16) > 0) {
        wchar_t* pEnd = nullptr;
        const unsigned long value = wcstoul(text, &pEnd, 16);
        if (pEnd != text && *pEnd == L'\0' && value <= 0xFFFF) {
            return static_cast<LANGID>(value);
        }
    }
    return GetUserDefaultLangID();
}

CString CLanguageManagerResource::LoadText()
{
    HRSRC hInfo = FindResourceW(m_hModule, MAKEINTRESOURCEW(IDR_LANGUAGES), L"LANGUAGES");
    HGLOBAL hData = hInfo != nullptr ? LoadResource(m_hModule, hInfo) : nullptr;
    const auto* pText = hData != nullptr ? static_cast<const wchar_t*>(LockResource(hData)) : nullptr;
    if (pText == nullptr) {
        LOG_ERROR(GetLastError(), L"CLanguageManagerResource::LoadText() no LANGUAGES resource");
        return CString();
    }
    // UTF-16: an odd last byte is no character.
    return CString(pText, static_cast<int>(SizeofResource(m_hModule, hInfo) / sizeof(wchar_t)));
}

#include "shell/SearchSettings.h"

#include "framework/ProductWebSite.h"

namespace {

const wchar_t kDefaultRow[] = L"default";
const wchar_t kQueryPath[] = L"/ar?q=";
const wchar_t kQueryTail[] = L"&qsrc=999&l=dis";

}  // namespace

CSearchSettings::CSearchSettings()
{
    const CString strSite = kProductWebSite;
    const CString strUk = CString(kSearchHostUnitedKingdom) + kQueryPath;
    const CString strInternational = CString(kSearchHostInternational) + kQueryPath;
    const CString strBritish = CString(L"Nulvane - ") + kTaglineBritish;
    const CString strAmerican = CString(L"Nulvane - ") + kTaglineAmerican;
    struct CRow {
        const wchar_t* pszId;
        const wchar_t* pszHomePath;
        const CString& strQuery;
        const CString& strCaption;
    };
    const CRow rows[] = {
        {kDefaultRow, L"/int/search", strInternational, strBritish},
        {L"0809", L"/search", strUk, strBritish},
        {L"0409", L"/us/search", strInternational, strAmerican},
        {L"1009", L"/us/search", strInternational, strAmerican},
    };
    for (const CRow& row : rows) {
        m_homePages[row.pszId] = strSite + row.pszHomePath;
        m_searchQueries[row.pszId] = row.strQuery;
        m_captions[row.pszId] = row.strCaption;
    }
}

CString CSearchSettings::Lookup(const std::map<CString, CString>& table, const CString& strLanguageId)
{
    auto it = table.find(strLanguageId);
    return it != table.end() ? it->second : table.at(kDefaultRow);
}

CString CSearchSettings::GetHomePage(const CString& strLanguageId) const
{
    return Lookup(m_homePages, strLanguageId);
}

CString CSearchSettings::GetSearchQuery(const CString& strLanguageId) const
{
    return Lookup(m_searchQueries, strLanguageId);
}

CString CSearchSettings::GetCaption(const CString& strLanguageId) const
{
    return Lookup(m_captions, strLanguageId);
}

CString CSearchSettings::UserLanguageId()
{
    wchar_t szLanguage[16] = {};
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_ILANGUAGE, szLanguage, static_cast<int>(std::size(szLanguage))) ==
        0) {
        return CString();
    }
    return szLanguage;
}

CString CSearchSettings::EncodeQueryValue(const CString& strText)
{
    // Letters, digits, the blank and the marks that mean nothing special
    // inside a query value pass as they are.
    auto isPlain = [](unsigned char c) {
        return c == ' ' || (c > 0x20 && c < 0x7F && c != '&' && c != '#' && c != '%' && c != '+' && c != '=');
    };
    const std::string utf8 = strText.ToUtf8();
    CString strEncoded;
    for (unsigned char c : utf8) {
        if (isPlain(c)) {
            strEncoded += static_cast<wchar_t>(c);
        } else {
            strEncoded.AppendFormat(L"%%%02X", c);
        }
    }
    return strEncoded;
}

CString CSearchSettings::SearchAddress(const CString& strQuery, const CString& strText)
{
    return strQuery + EncodeQueryValue(strText) + L"&siteid=" + kSearchSiteId + kQueryTail;
}

#pragma once

#include <map>

#include "framework/String.h"

// The search and home-page table, keyed by the user's language as four hex
// digits ("0409"): the home page (a search page on the product's site), the
// provider's query address and the window caption. An id not in the table
// gets the "default" row.
class CSearchSettings {
public:
    CSearchSettings();

    CString GetHomePage(const CString& strLanguageId) const;
    CString GetSearchQuery(const CString& strLanguageId) const;
    CString GetCaption(const CString& strLanguageId) const;

    // The user's default language as GetLocaleInfoW reports it ("0809");
    // empty when the platform does not say.
    static CString UserLanguageId();

    // The text made safe as one query value: everything that would end the
    // value or change what the query says ("&", "#", "%", "+", "=",
    // controls, anything beyond ASCII) is percent-encoded. A blank stays a
    // blank: the control encodes it when it navigates, and it must stay a
    // blank, not become a "+".
    static CString EncodeQueryValue(const CString& strText);
    // The query address, the text as one value, then "&siteid=", the
    // product's identifier with the provider, and "&qsrc=999&l=dis".
    static CString SearchAddress(const CString& strQuery, const CString& strText);

private:
    static CString Lookup(const std::map<CString, CString>& table, const CString& strLanguageId);

    std::map<CString, CString> m_homePages;
    std::map<CString, CString> m_searchQueries;
    std::map<CString, CString> m_captions;
};

#include "shell/AddressInput.h"

#include <windows.h>
#include <wininet.h>

namespace {

const wchar_t kSchemeSeparator[] = L"://";

bool IsExistingPath(const CString& strText)
{
    return GetFileAttributesW(strText) != INVALID_FILE_ATTRIBUTES;
}

bool StartsWithNoCase(const CString& strText, int nAt, const wchar_t* pszPrefix)
{
    const int nLength = static_cast<int>(wcslen(pszPrefix));
    return nAt >= 0 && nAt + nLength <= strText.GetLength() && strText.Mid(nAt, nLength).CompareNoCase(pszPrefix) == 0;
}

}  // namespace

bool CAddressInput::IsSearch(const CString& strText)
{
    if (strText.Find(kSchemeSeparator) >= 0) {
        return false;
    }
    const bool bBlankInside = strText.GetLength() > 1 && strText.Find(L' ', 1) >= 0;
    const bool bNoDot = strText.Find(L'.') < 0;
    return (bBlankInside || bNoDot) && !IsExistingPath(strText);
}

CString CAddressInput::Complete(const CString& strText)
{
    if (strText.IsEmpty()) {
        return strText;
    }
    CString strResult = strText;
    const int nSeparator = strResult.Find(kSchemeSeparator);
    const int nHost = nSeparator >= 0 ? nSeparator + 3 : 0;
    if (!StartsWithNoCase(strResult, nHost, L"www.")) {
        strResult.Insert(nHost, L"www.");
    }
    const int nSlash = strResult.Find(L'/', nHost);
    const int nEnd = nSlash >= 0 ? nSlash : strResult.GetLength();
    if (!StartsWithNoCase(strResult, nEnd - 4, L".com")) {
        strResult.Insert(nEnd, L".com");
    }
    return strResult;
}

bool CAddressInput::IsValidUrl(const CString& strAddress)
{
    if (strAddress.CompareNoCase(L"about:blank") == 0) {
        return true;
    }
    CString strUrl = strAddress;
    if (strUrl.Find(kSchemeSeparator) < 0) {
        strUrl = (strUrl.Find(L":\\") >= 0 ? L"file://" : L"http://") + strUrl;
    }
    wchar_t szHost[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {};
    URL_COMPONENTSW parts = {sizeof(parts)};
    parts.lpszHostName = szHost;
    parts.dwHostNameLength = ARRAYSIZE(szHost);
    if (!InternetCrackUrlW(strUrl, 0, 0, &parts)) {
        return false;
    }
    return parts.nScheme == INTERNET_SCHEME_FILE || parts.dwHostNameLength > 0;
}

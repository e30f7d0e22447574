#include "app/UserAgent.h"

#include <urlmon.h>

#include <vector>

#include "framework/Logger.h"

BOOL CUserAgent::AddProductToken(const std::string& strAgent, std::string& strWithToken)
{
    if (strAgent.size() < 2 || strAgent.back() != ')') {
        return FALSE;
    }
    strWithToken = strAgent.substr(0, strAgent.size() - 1) + kProductToken + ")";
    return TRUE;
}

BOOL CUserAgent::Read(std::string& strAgent)
{
    // The first call gives the length. Wine answers E_OUTOFMEMORY on both
    // calls, even when it filled the buffer: the length and the text are
    // what count.
    DWORD dwLength = 0;
    char chProbe = '\0';
    UrlMkGetSessionOption(URLMON_OPTION_USERAGENT, &chProbe, 0, &dwLength, 0);
    if (dwLength == 0 || dwLength > 64 * 1024) {
        LOG_MESSAGE(L"CUserAgent::Read no user agent (length %lu)", dwLength);
        return FALSE;
    }
    std::vector<char> buffer(dwLength + 1, '\0');
    DWORD dwRead = 0;
    UrlMkGetSessionOption(URLMON_OPTION_USERAGENT, buffer.data(), dwLength, &dwRead, 0);
    const size_t nChars = strnlen(buffer.data(), dwLength);
    if (nChars == 0) {
        LOG_MESSAGE(L"CUserAgent::Read the user agent came back empty");
        return FALSE;
    }
    strAgent.assign(buffer.data(), nChars);
    return TRUE;
}

BOOL CUserAgent::Write(const std::string& strAgent)
{
    const HRESULT hr = UrlMkSetSessionOption(URLMON_OPTION_USERAGENT, const_cast<char*>(strAgent.c_str()),
                                             static_cast<DWORD>(strAgent.size()), 0);
    if (FAILED(hr)) {
        LOG_ERROR(static_cast<DWORD>(hr), L"CUserAgent::Write cannot set the user agent");
        return FALSE;
    }
    return TRUE;
}

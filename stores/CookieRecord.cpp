#include "stores/CookieRecord.h"

#include <cstdlib>
#include <string>

#include "framework/Logger.h"
#include "framework/StdioFile.h"

namespace {

// A cookie file holds a few records of a few hundred bytes each; anything
// far larger is not one, and is not read into memory.
constexpr ULONGLONG kMaxCookieFileSize = 4 * 1024 * 1024;
constexpr int kRecordLines = 6;

const wchar_t* const kDayNames[] = {L"Sun", L"Mon", L"Tue", L"Wed", L"Thu", L"Fri", L"Sat"};
const wchar_t* const kMonthNames[] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                      L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};

const wchar_t kExpiresAttribute[] = L";Expires = ";
const wchar_t kSecureAttribute[] = L";Secure";

DWORD ParseDecimal(const std::string& text)
{
    return static_cast<DWORD>(strtoul(text.c_str(), nullptr, 10));
}

bool IsDigit(wchar_t ch)
{
    return ch >= L'0' && ch <= L'9';
}

// "Tue, 01-Jan-2030 00-00-00 GMT" becomes "Tue, 01-Jan-2030 00:00:00 GMT";
// anything else is left as it is.
CString WithColonsInTime(CString strDate)
{
    const int n = strDate.GetLength();
    if (n < 12 || strDate.Right(4) != L" GMT") {
        return strDate;
    }
    const int t = n - 12;  // "HH-MM-SS GMT"
    if (IsDigit(strDate[t]) && IsDigit(strDate[t + 1]) && strDate[t + 2] == L'-' && IsDigit(strDate[t + 3]) &&
        IsDigit(strDate[t + 4]) && strDate[t + 5] == L'-' && IsDigit(strDate[t + 6]) && IsDigit(strDate[t + 7])) {
        strDate.SetAt(t + 2, L':');
        strDate.SetAt(t + 5, L':');
    }
    return strDate;
}

}  // namespace

bool CCookieRecord::ReadCookieFile(const CString& strPath, std::vector<CCookieFileEntry>& entries)
{
    CStdioFile file;
    if (!file.Open(strPath, CFile::modeRead | CFile::shareDenyNone | CFile::typeText)) {
        return false;
    }
    try {
        if (file.GetLength() > kMaxCookieFileSize) {
            LOG_MESSAGE(L"CCookies: %s is too large for a cookie file and is not read", strPath.GetString());
            return false;
        }
        for (;;) {
            std::string lines[kRecordLines];
            for (std::string& line : lines) {
                if (!file.ReadString(line)) {
                    return true;
                }
            }
            CCookieFileEntry entry;
            entry.strName = CString::FromAnsi(lines[0]);
            entry.strValue = CString::FromAnsi(lines[1]);
            entry.strHostPath = CString::FromAnsi(lines[2]);
            entry.dwFlags = ParseDecimal(lines[3]);
            entry.expiry.dwLowDateTime = ParseDecimal(lines[4]);
            entry.expiry.dwHighDateTime = ParseDecimal(lines[5]);
            entries.push_back(entry);
            std::string line;
            do {
                if (!file.ReadString(line)) {
                    return true;
                }
            } while (line != "*");
        }
    } catch (const CException& e) {
        LOG_EXCEPTION(e, L"CCookies: cannot read cookie file %s", strPath.GetString());
        return false;
    }
}

bool CCookieRecord::IsProtectedModePath(const CString& strPath)
{
    CString strLower = strPath;
    strLower.MakeLower();
    return strLower.Find(L"\\low\\") >= 0;
}

CString CCookieRecord::FormatExpiry(const FILETIME& expiry)
{
    SYSTEMTIME st;
    if (!FileTimeToSystemTime(&expiry, &st) || st.wDayOfWeek > 6 || st.wMonth < 1 || st.wMonth > 12) {
        return CString();
    }
    return FormatString(L"%s, %02u-%s-%u %02u-%02u-%02u GMT", kDayNames[st.wDayOfWeek], st.wDay,
                        kMonthNames[st.wMonth - 1], st.wYear, st.wHour, st.wMinute, st.wSecond);
}

CString CCookieRecord::MakeKey(bool bProtectedMode, const CCookieFileEntry& entry)
{
    const bool bSecure = (entry.dwFlags & kSecureFlag) != 0;
    const CString strUrl = CString(bSecure ? L"https://" : L"http://") + entry.strHostPath;
    CString strText = FormatString(L"%s=%s;Expires = %s", entry.strName.GetString(), entry.strValue.GetString(),
                                   FormatExpiry(entry.expiry).GetString());
    if (bSecure) {
        strText += kSecureAttribute;
    }
    return FormatString(L"%s\n%s\n%s\n%u", bProtectedMode ? L"protectedmode" : L"notprotectedmode",
                        strUrl.GetString(), strText.GetString(), entry.dwFlags);
}

bool CCookieRecord::Parse(const CString& strKey)
{
    const int nFirst = strKey.Find(L'\n');
    const int nSecond = nFirst < 0 ? -1 : strKey.Find(L'\n', nFirst + 1);
    const int nThird = nSecond < 0 ? -1 : strKey.Find(L'\n', nSecond + 1);
    if (nThird < 0) {
        return false;
    }
    const CString strFlags = strKey.Mid(nThird + 1);
    if (strFlags.IsEmpty() || strFlags.GetLength() > 10) {
        return false;
    }
    for (int i = 0; i < strFlags.GetLength(); ++i) {
        if (!IsDigit(strFlags[i])) {
            return false;
        }
    }
    const unsigned long long ullFlags = wcstoull(strFlags.GetString(), nullptr, 10);
    if (ullFlags > 0xFFFFFFFFULL) {
        return false;
    }
    m_strStore = strKey.Left(nFirst);
    m_strUrl = strKey.Mid(nFirst + 1, nSecond - nFirst - 1);
    m_strCookieText = strKey.Mid(nSecond + 1, nThird - nSecond - 1);
    m_dwFlags = static_cast<DWORD>(ullFlags);
    return true;
}

CString CCookieRecord::GetRecreationText(bool bHttpOnly) const
{
    CString strText = m_strCookieText;
    bool bSecure = (m_dwFlags & kSecureFlag) != 0;
    const int nSecureLength = static_cast<int>(wcslen(kSecureAttribute));
    if (strText.Right(nSecureLength) == kSecureAttribute) {
        strText = strText.Left(strText.GetLength() - nSecureLength);
        bSecure = true;
    }
    const int nExpires = strText.Find(kExpiresAttribute);
    if (nExpires < 0) {
        return m_strCookieText;
    }
    // The name and value come from one line each and hold no ';', so the
    // first attribute marker is the record's own.
    CString strResult = strText.Left(nExpires);
    const CString strDate = strText.Mid(nExpires + static_cast<int>(wcslen(kExpiresAttribute)));
    if (!strDate.IsEmpty()) {
        strResult += L"; expires=" + WithColonsInTime(strDate);
    }
    if (bSecure) {
        strResult += L"; secure";
    }
    if (bHttpOnly && (m_dwFlags & kHttpOnlyFlag) != 0) {
        strResult += L"; HttpOnly";
    }
    return strResult;
}

CString CCookieRecord::DescribeKey(const CString& strKey)
{
    CCookieRecord record;
    if (!record.Parse(strKey)) {
        return L"(unreadable record)";
    }
    return record.m_strUrl + L" " + record.m_strCookieText.Left(record.m_strCookieText.Find(L'='));
}

bool CCookieRecord::HasExpiredBy(const FILETIME& now) const
{
    // "Tue, 01-Jan-2030 00-00-00 GMT", as FormatExpiry writes it.
    const int nExpires = m_strCookieText.Find(kExpiresAttribute);
    if (nExpires < 0) {
        return false;
    }
    const CString strDate = m_strCookieText.Mid(nExpires + static_cast<int>(wcslen(kExpiresAttribute)), 29);
    auto number = [&](int nAt, int nDigits) {
        int n = 0;
        for (int i = nAt; i < nAt + nDigits; ++i) {
            if (i >= strDate.GetLength() || !IsDigit(strDate[i])) {
                return -1;
            }
            n = n * 10 + (strDate[i] - L'0');
        }
        return n;
    };
    SYSTEMTIME st = {};
    for (int m = 0; m < 12; ++m) {
        if (strDate.Mid(8, 3) == kMonthNames[m]) {
            st.wMonth = static_cast<WORD>(m + 1);
        }
    }
    const int fields[] = {number(5, 2), number(12, 4), number(17, 2), number(20, 2), number(23, 2)};
    for (int field : fields) {
        if (field < 0) {
            return false;
        }
    }
    st.wDay = static_cast<WORD>(fields[0]);
    st.wYear = static_cast<WORD>(fields[1]);
    st.wHour = static_cast<WORD>(fields[2]);
    st.wMinute = static_cast<WORD>(fields[3]);
    st.wSecond = static_cast<WORD>(fields[4]);
    FILETIME expiry;
    return st.wMonth != 0 && SystemTimeToFileTime(&st, &expiry) && CompareFileTime(&expiry, &now) <= 0;
}

CString CCookieRecord::GetData() const
{
    return FormatString(L"%s\n%s\n%u", m_strUrl.GetString(), m_strCookieText.GetString(), m_dwFlags);
}

CString CCookieRecord::GetHostPath() const
{
    const int nScheme = m_strUrl.Find(L"://");
    return nScheme < 0 ? m_strUrl : m_strUrl.Mid(nScheme + 3);
}

#include "framework/String.h"

#include <algorithm>
#include <cwchar>
#include <stdexcept>

namespace {

const wchar_t kWhiteSpace[] = L" \t\r\n\v\f";

int ClampIndex(int n, int nMax)
{
    return n < 0 ? 0 : (n > nMax ? nMax : n);
}

// The C runtime's _vsnwprintf and _vscwprintf keep the Microsoft meaning of
// the conversions (wide "%s") even where libstdc++ switches the standard
// names to the MinGW implementation, whose "%s" would read a narrow string.
int CountFormatted(const wchar_t* pszFormat, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    const int n = _vscwprintf(pszFormat, copy);
    va_end(copy);
    return n;
}

}  // namespace

CString::CString(const wchar_t* psz)
{
    if (psz != nullptr) {
        m_str = psz;
    }
}

CString::CString(const wchar_t* pch, int nLength)
{
    if (pch != nullptr && nLength > 0) {
        m_str.assign(pch, static_cast<size_t>(nLength));
    }
}

CString::CString(wchar_t ch, int nRepeat)
{
    if (nRepeat > 0) {
        m_str.assign(static_cast<size_t>(nRepeat), ch);
    }
}

CString& CString::operator=(const wchar_t* psz)
{
    if (psz == nullptr) {
        m_str.clear();
    } else {
        m_str = psz;
    }
    return *this;
}

CString& CString::operator=(wchar_t ch)
{
    m_str.assign(1, ch);
    return *this;
}

wchar_t CString::GetAt(int nIndex) const
{
    if (nIndex < 0 || nIndex >= GetLength()) {
        throw std::out_of_range("CString::GetAt");
    }
    return m_str[static_cast<size_t>(nIndex)];
}

void CString::SetAt(int nIndex, wchar_t ch)
{
    if (nIndex < 0 || nIndex >= GetLength()) {
        throw std::out_of_range("CString::SetAt");
    }
    m_str[static_cast<size_t>(nIndex)] = ch;
}

CString& CString::operator+=(const CString& str)
{
    m_str += str.m_str;
    return *this;
}

CString& CString::operator+=(const wchar_t* psz)
{
    if (psz != nullptr) {
        m_str += psz;
    }
    return *this;
}

CString& CString::operator+=(wchar_t ch)
{
    m_str += ch;
    return *this;
}

void CString::Append(const wchar_t* pch, int nLength)
{
    if (pch != nullptr && nLength > 0) {
        m_str.append(pch, static_cast<size_t>(nLength));
    }
}

int CString::Compare(const wchar_t* psz) const
{
    return m_str.compare(psz != nullptr ? psz : L"");
}

int CString::CompareNoCase(const wchar_t* psz) const
{
    const wchar_t* other = psz != nullptr ? psz : L"";
    const int r = CompareStringOrdinal(m_str.c_str(), GetLength(), other, -1, TRUE);
    return r == 0 ? Compare(other) : r - CSTR_EQUAL;
}

int CString::Find(const wchar_t* pszSub, int nStart) const
{
    if (pszSub == nullptr || nStart < 0 || nStart > GetLength()) {
        return -1;
    }
    const size_t pos = m_str.find(pszSub, static_cast<size_t>(nStart));
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

int CString::Find(wchar_t ch, int nStart) const
{
    if (nStart < 0 || nStart >= GetLength()) {
        return -1;
    }
    const size_t pos = m_str.find(ch, static_cast<size_t>(nStart));
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

int CString::ReverseFind(wchar_t ch) const
{
    const size_t pos = m_str.rfind(ch);
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

int CString::FindOneOf(const wchar_t* pszCharSet) const
{
    if (pszCharSet == nullptr || *pszCharSet == L'\0') {
        return -1;
    }
    const size_t pos = m_str.find_first_of(pszCharSet);
    return pos == std::wstring::npos ? -1 : static_cast<int>(pos);
}

int CString::Replace(const wchar_t* pszOld, const wchar_t* pszNew)
{
    if (pszOld == nullptr || *pszOld == L'\0') {
        return 0;
    }
    const std::wstring oldText(pszOld);
    const std::wstring newText(pszNew != nullptr ? pszNew : L"");
    int nCount = 0;
    std::wstring result;
    size_t from = 0;
    for (size_t pos = m_str.find(oldText); pos != std::wstring::npos; pos = m_str.find(oldText, from)) {
        result.append(m_str, from, pos - from);
        result += newText;
        from = pos + oldText.size();
        ++nCount;
    }
    if (nCount > 0) {
        result.append(m_str, from, std::wstring::npos);
        m_str.swap(result);
    }
    return nCount;
}

int CString::Replace(wchar_t chOld, wchar_t chNew)
{
    int nCount = 0;
    for (wchar_t& ch : m_str) {
        if (ch == chOld) {
            ch = chNew;
            ++nCount;
        }
    }
    return nCount;
}

int CString::Remove(wchar_t ch)
{
    const size_t before = m_str.size();
    m_str.erase(std::remove(m_str.begin(), m_str.end(), ch), m_str.end());
    return static_cast<int>(before - m_str.size());
}

int CString::Insert(int nIndex, const wchar_t* psz)
{
    if (psz != nullptr) {
        m_str.insert(static_cast<size_t>(ClampIndex(nIndex, GetLength())), psz);
    }
    return GetLength();
}

int CString::Delete(int nIndex, int nCount)
{
    if (nIndex >= 0 && nIndex < GetLength() && nCount > 0) {
        m_str.erase(static_cast<size_t>(nIndex), static_cast<size_t>(nCount));
    }
    return GetLength();
}

CString CString::Left(int nCount) const
{
    return CString(m_str.substr(0, static_cast<size_t>(ClampIndex(nCount, GetLength()))));
}

CString CString::Mid(int nFirst) const
{
    return CString(m_str.substr(static_cast<size_t>(ClampIndex(nFirst, GetLength()))));
}

CString CString::Mid(int nFirst, int nCount) const
{
    const int first = ClampIndex(nFirst, GetLength());
    const int count = ClampIndex(nCount, GetLength() - first);
    return CString(m_str.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
}

CString CString::Right(int nCount) const
{
    const int count = ClampIndex(nCount, GetLength());
    return CString(m_str.substr(static_cast<size_t>(GetLength() - count)));
}

CString& CString::MakeUpper()
{
    if (!m_str.empty()) {
        CharUpperBuffW(m_str.data(), static_cast<DWORD>(m_str.size()));
    }
    return *this;
}

CString& CString::MakeLower()
{
    if (!m_str.empty()) {
        CharLowerBuffW(m_str.data(), static_cast<DWORD>(m_str.size()));
    }
    return *this;
}

CString& CString::Trim()
{
    return Trim(kWhiteSpace);
}

CString& CString::Trim(const wchar_t* pszChars)
{
    TrimRight(pszChars);
    return TrimLeft(pszChars);
}

CString& CString::TrimLeft()
{
    return TrimLeft(kWhiteSpace);
}

CString& CString::TrimLeft(const wchar_t* pszChars)
{
    const size_t pos = m_str.find_first_not_of(pszChars != nullptr ? pszChars : L"");
    m_str.erase(0, pos == std::wstring::npos ? m_str.size() : pos);
    return *this;
}

CString& CString::TrimRight()
{
    return TrimRight(kWhiteSpace);
}

CString& CString::TrimRight(const wchar_t* pszChars)
{
    const size_t pos = m_str.find_last_not_of(pszChars != nullptr ? pszChars : L"");
    m_str.erase(pos == std::wstring::npos ? 0 : pos + 1);
    return *this;
}

CString CString::Tokenize(const wchar_t* pszTokens, int& iStart) const
{
    if (iStart < 0 || iStart > GetLength()) {
        iStart = -1;
        return CString();
    }
    const wchar_t* delims = pszTokens != nullptr ? pszTokens : L"";
    const size_t begin = m_str.find_first_not_of(delims, static_cast<size_t>(iStart));
    if (begin == std::wstring::npos) {
        iStart = -1;
        return CString();
    }
    size_t end = m_str.find_first_of(delims, begin);
    if (end == std::wstring::npos) {
        end = m_str.size();
    }
    iStart = static_cast<int>(end < m_str.size() ? end + 1 : end);
    return CString(m_str.substr(begin, end - begin));
}

void CString::Format(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    FormatV(pszFormat, args);
    va_end(args);
}

void CString::FormatV(const wchar_t* pszFormat, va_list args)
{
    m_str.clear();
    AppendFormatV(pszFormat, args);
}

void CString::AppendFormat(const wchar_t* pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    AppendFormatV(pszFormat, args);
    va_end(args);
}

void CString::AppendFormatV(const wchar_t* pszFormat, va_list args)
{
    if (pszFormat == nullptr) {
        return;
    }
    const int n = CountFormatted(pszFormat, args);
    if (n <= 0) {
        return;
    }
    const size_t old = m_str.size();
    m_str.resize(old + static_cast<size_t>(n) + 1);
    va_list copy;
    va_copy(copy, args);
    const int written = _vsnwprintf(m_str.data() + old, static_cast<size_t>(n) + 1, pszFormat, copy);
    va_end(copy);
    m_str.resize(old + static_cast<size_t>(written < 0 ? 0 : written));
}

wchar_t* CString::GetBuffer(int nMinLength)
{
    if (nMinLength > GetLength()) {
        m_str.resize(static_cast<size_t>(nMinLength));
    }
    return m_str.data();
}

wchar_t* CString::GetBufferSetLength(int nLength)
{
    m_str.resize(static_cast<size_t>(nLength < 0 ? 0 : nLength));
    return m_str.data();
}

void CString::ReleaseBuffer(int nNewLength)
{
    if (nNewLength < 0) {
        nNewLength = static_cast<int>(wcsnlen(m_str.c_str(), m_str.size()));
    }
    m_str.resize(static_cast<size_t>(ClampIndex(nNewLength, GetLength())));
}

CString CString::FromCodePage(UINT codePage, const char* pch, int nLength)
{
    if (pch == nullptr) {
        return CString();
    }
    if (nLength < 0) {
        nLength = static_cast<int>(strlen(pch));
    }
    if (nLength == 0) {
        return CString();
    }
    const int n = MultiByteToWideChar(codePage, 0, pch, nLength, nullptr, 0);
    if (n <= 0) {
        return CString();
    }
    std::wstring result(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, pch, nLength, result.data(), n);
    return CString(std::move(result));
}

CString CString::FromAnsi(const char* pch, int nLength)
{
    return FromCodePage(CP_ACP, pch, nLength);
}

CString CString::FromUtf8(const char* pch, int nLength)
{
    return FromCodePage(CP_UTF8, pch, nLength);
}

std::string CString::ToCodePage(UINT codePage, bool* pbLossy) const
{
    if (pbLossy != nullptr) {
        *pbLossy = false;
    }
    if (m_str.empty()) {
        return std::string();
    }
    // UTF-8 and UTF-7 refuse the default-character arguments.
    const bool unicodePage = codePage == CP_UTF8 || codePage == CP_UTF7;
    BOOL usedDefault = FALSE;
    BOOL* pUsedDefault = unicodePage ? nullptr : &usedDefault;
    const int n = WideCharToMultiByte(codePage, 0, m_str.c_str(), GetLength(), nullptr, 0, nullptr, pUsedDefault);
    if (n <= 0) {
        if (pbLossy != nullptr) {
            *pbLossy = true;
        }
        return std::string();
    }
    std::string result(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, m_str.c_str(), GetLength(), result.data(), n, nullptr, pUsedDefault);
    if (pbLossy != nullptr && usedDefault) {
        *pbLossy = true;
    }
    return result;
}

std::string CString::ToAnsi(bool* pbLossy) const
{
    return ToCodePage(CP_ACP, pbLossy);
}

std::string CString::ToUtf8() const
{
    return ToCodePage(CP_UTF8);
}

CString operator+(const CString& a, const CString& b)
{
    CString r(a);
    r += b;
    return r;
}

CString operator+(const CString& a, const wchar_t* b)
{
    CString r(a);
    r += b;
    return r;
}

CString operator+(const wchar_t* a, const CString& b)
{
    CString r(a);
    r += b;
    return r;
}

CString operator+(const CString& a, wchar_t b)
{
    CString r(a);
    r += b;
    return r;
}

CString FormatString(const wchar_t* pszFormat, ...)
{
    CString result;
    va_list args;
    va_start(args, pszFormat);
    result.FormatV(pszFormat, args);
    va_end(args);
    return result;
}

#pragma once

#include <windows.h>

#include <cstdarg>
#include <string>

// A wide string with the operations the rest of the program uses. It owns a
// std::wstring and converts implicitly to LPCWSTR, so it can be handed to any
// Win32 call. It cannot go through "..." itself: pass GetString() or a
// (LPCWSTR) cast to the formatting functions (GCC rejects the object).
//
// Formatting follows the Microsoft meaning of the conversions, so "%s" takes
// a wide string and "%S" a narrow one, whatever the C runtime in use.
class CString {
public:
    CString() = default;
    CString(const wchar_t* psz);  // NOLINT: implicit, as strings are passed around freely
    CString(const wchar_t* pch, int nLength);
    CString(wchar_t ch, int nRepeat = 1);
    CString(const std::wstring& str) : m_str(str) {}  // NOLINT
    CString(std::wstring&& str) : m_str(std::move(str)) {}  // NOLINT

    CString& operator=(const wchar_t* psz);
    CString& operator=(wchar_t ch);

    int GetLength() const { return static_cast<int>(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }

    wchar_t GetAt(int nIndex) const;
    wchar_t operator[](int nIndex) const { return GetAt(nIndex); }
    void SetAt(int nIndex, wchar_t ch);

    const wchar_t* GetString() const { return m_str.c_str(); }
    operator const wchar_t*() const { return m_str.c_str(); }  // NOLINT
    const std::wstring& Str() const { return m_str; }

    CString& operator+=(const CString& str);
    CString& operator+=(const wchar_t* psz);
    CString& operator+=(wchar_t ch);
    void Append(const wchar_t* pch, int nLength);

    // Ordinal comparisons: <0, 0, >0.
    int Compare(const wchar_t* psz) const;
    // Ordinal comparison after the platform's simple case folding.
    int CompareNoCase(const wchar_t* psz) const;

    // Positions are zero-based; -1 means not found.
    int Find(const wchar_t* pszSub, int nStart = 0) const;
    int Find(wchar_t ch, int nStart = 0) const;
    int ReverseFind(wchar_t ch) const;
    int FindOneOf(const wchar_t* pszCharSet) const;

    // Both return the number of replacements made.
    int Replace(const wchar_t* pszOld, const wchar_t* pszNew);
    int Replace(wchar_t chOld, wchar_t chNew);
    int Remove(wchar_t ch);
    int Insert(int nIndex, const wchar_t* psz);
    int Delete(int nIndex, int nCount = 1);

    // Out-of-range counts and positions are clamped, as callers slice
    // strings read from files.
    CString Left(int nCount) const;
    CString Mid(int nFirst) const;
    CString Mid(int nFirst, int nCount) const;
    CString Right(int nCount) const;

    CString& MakeUpper();
    CString& MakeLower();

    // Without an argument these remove white space (blank, tab, CR, LF,
    // vertical tab, form feed).
    CString& Trim();
    CString& Trim(const wchar_t* pszChars);
    CString& TrimLeft();
    CString& TrimLeft(const wchar_t* pszChars);
    CString& TrimRight();
    CString& TrimRight(const wchar_t* pszChars);

    // Returns the next token delimited by any of pszTokens, starting at
    // iStart, which moves past it; -1 in iStart once no token is left.
    CString Tokenize(const wchar_t* pszTokens, int& iStart) const;

    void Format(const wchar_t* pszFormat, ...);
    void FormatV(const wchar_t* pszFormat, va_list args);
    void AppendFormat(const wchar_t* pszFormat, ...);
    void AppendFormatV(const wchar_t* pszFormat, va_list args);

    // For platform calls that fill a buffer. ReleaseBuffer(-1) takes the
    // length up to the first terminator.
    wchar_t* GetBuffer(int nMinLength);
    wchar_t* GetBufferSetLength(int nLength);
    void ReleaseBuffer(int nNewLength = -1);

    // Conversions. Characters the code page cannot hold are replaced by the
    // code page's default character when converting to narrow text.
    static CString FromCodePage(UINT codePage, const char* pch, int nLength = -1);
    static CString FromAnsi(const char* pch, int nLength = -1);
    static CString FromUtf8(const char* pch, int nLength = -1);
    static CString FromAnsi(const std::string& str) { return FromAnsi(str.data(), static_cast<int>(str.size())); }
    static CString FromUtf8(const std::string& str) { return FromUtf8(str.data(), static_cast<int>(str.size())); }
    std::string ToCodePage(UINT codePage, bool* pbLossy = nullptr) const;
    std::string ToAnsi(bool* pbLossy = nullptr) const;
    std::string ToUtf8() const;

    friend bool operator==(const CString& a, const CString& b) { return a.m_str == b.m_str; }
    friend bool operator==(const CString& a, const wchar_t* b) { return a.Compare(b) == 0; }
    friend bool operator==(const wchar_t* a, const CString& b) { return b.Compare(a) == 0; }
    friend bool operator!=(const CString& a, const CString& b) { return !(a == b); }
    friend bool operator!=(const CString& a, const wchar_t* b) { return !(a == b); }
    friend bool operator!=(const wchar_t* a, const CString& b) { return !(a == b); }
    friend bool operator<(const CString& a, const CString& b) { return a.m_str < b.m_str; }

    friend CString operator+(const CString& a, const CString& b);
    friend CString operator+(const CString& a, const wchar_t* b);
    friend CString operator+(const wchar_t* a, const CString& b);
    friend CString operator+(const CString& a, wchar_t b);

private:
    std::wstring m_str;
};

// Expands a Microsoft-meaning wide format into a string of any length.
CString FormatString(const wchar_t* pszFormat, ...);

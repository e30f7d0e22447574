#pragma once

#include <windows.h>

#include <vector>

#include "framework/String.h"

// One cookie as the platform's cookie files hold it.
struct CCookieFileEntry {
    CString strName;
    CString strValue;
    CString strHostPath;  // "host/path", no scheme
    DWORD dwFlags = 0;
    FILETIME expiry = {};
};

// A cookie of the start-of-session snapshot, as one self-contained text
// (the key kept in the snapshot set and in the recovery file):
//   store "\n" URL "\n" cookie text "\n" flags
// with the store "protectedmode" or "notprotectedmode", the URL "http://"
// or "https://" (secure) followed by host and path, and the cookie text
// "name=value;Expires = <date>" plus ";Secure" for a secure cookie.
class CCookieRecord {
public:
    static constexpr DWORD kSecureFlag = 0x1;        // INTERNET_COOKIE_IS_SECURE
    static constexpr DWORD kHttpOnlyFlag = 0x2000;   // INTERNET_COOKIE_HTTPONLY

    // Reads every complete record of a cookie file; a truncated record ends
    // the file. FALSE when the file cannot be opened or read.
    static bool ReadCookieFile(const CString& strPath, std::vector<CCookieFileEntry>& entries);

    // Whether a cookie file lies in the protected-mode cookie folder: a
    // folder named "Low", in any letter case.
    static bool IsProtectedModePath(const CString& strPath);

    // "%a, %d-%b-%Y %H-%M-%S GMT" of the UTC time, in English whatever the
    // locale; empty for a time the platform cannot convert.
    static CString FormatExpiry(const FILETIME& expiry);

    // The snapshot key of one cookie from a file in the given store.
    static CString MakeKey(bool bProtectedMode, const CCookieFileEntry& entry);

    // Splits a key; false when it lacks one of its four parts or its flags
    // are not a decimal number.
    [[nodiscard]] bool Parse(const CString& strKey);

    // The text handed to the platform to set the cookie again: the same
    // cookie with its attributes written as every cookie parser reads them
    // ("; expires=" and a time with colons). The key's own form, with
    // blanks around the "=" of "Expires", is not recognised by every
    // platform: Wine then keeps a session cookie that is never stored.
    // Without bHttpOnly the HttpOnly attribute is left out, for the call
    // that cannot pass the flag that allows it.
    CString GetRecreationText(bool bHttpOnly = true) const;
    // The key less its store line, as logged.
    CString GetData() const;
    // "URL name" of a key, for the log: the value is left out.
    static CString DescribeKey(const CString& strKey);
    // Whether the expiry the cookie text carries lies at or before the
    // instant; false when it carries none that can be read.
    bool HasExpiredBy(const FILETIME& now) const;
    // Host and path, the URL without its scheme.
    CString GetHostPath() const;
    bool IsProtectedMode() const { return m_strStore.Find(L"notprotectedmode") < 0; }

    CString m_strStore;
    CString m_strUrl;
    CString m_strCookieText;
    DWORD m_dwFlags = 0;
};

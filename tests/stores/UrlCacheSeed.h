#pragma once

#include <windows.h>

#include <vector>

#include "framework/String.h"

// Seeding and reading the platform's own URL cache (WinINet) for tests
// that check the parser against real stores. Nothing here uses GoogleTest,
// so that tools can seed stores too.

// The three index.dat stores and the folders their local paths are
// relative to.
struct CStoreFile {
    CString strFolder;  // without a trailing backslash
    CString strIndex;   // strFolder + "\index.dat"
};
CStoreFile CacheStore();
CStoreFile CookieStore();
CStoreFile HistoryStore();

// A text that no earlier run in the same Wine prefix has used.
CString UniqueTag();

// Caches the URL with a local file holding the content; returns the local
// file's path, or an empty string on failure.
CString AddCacheEntry(const CString& strUrl, const char* pszContent = "cached");
// Sets a persistent cookie on the URL.
bool AddCookie(const CString& strUrl, const CString& strName, const CString& strValue);
// Records a visit of the URL in the history store ("Visited: user@<url>").
bool AddHistoryEntry(const CString& strUrl);

struct CUrlCacheEntry {
    CString strUrl;
    CString strLocalFile;
    DWORD dwType = 0;
    FILETIME lastAccess = {};
};
// Every entry this process's WinINet enumerates.
std::vector<CUrlCacheEntry> EnumerateUrlCache();

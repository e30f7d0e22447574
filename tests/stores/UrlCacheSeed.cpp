#include "tests/stores/UrlCacheSeed.h"

#include <wininet.h>
#include <shlobj.h>

#include <atomic>

#include "framework/Handles.h"

namespace {

CStoreFile Store(int csidl, const wchar_t* pszBelow)
{
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path))) {
        return {};
    }
    const CString folder = CString(path) + pszBelow;
    return {folder, folder + L"\\index.dat"};
}

std::atomic<unsigned> g_tagCounter{0};
const FILETIME kNever = {0, 0};

}  // namespace

CStoreFile CacheStore()
{
    return Store(CSIDL_INTERNET_CACHE, L"\\Content.IE5");
}

CStoreFile CookieStore()
{
    return Store(CSIDL_COOKIES, L"");
}

CStoreFile HistoryStore()
{
    return Store(CSIDL_HISTORY, L"\\History.IE5");
}

CString UniqueTag()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return FormatString(L"t%lx%lx%u", GetCurrentProcessId(), now.dwLowDateTime, g_tagCounter++);
}

CString AddCacheEntry(const CString& strUrl, const char* pszContent)
{
    wchar_t file[MAX_PATH] = {};
    if (!CreateUrlCacheEntryW(strUrl, 0, L"htm", file, 0)) {
        return CString();
    }
    {
        CHandle h(CreateFileW(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!h || !WriteFile(h.get(), pszContent, static_cast<DWORD>(strlen(pszContent)), &written, nullptr)) {
            return CString();
        }
    }
    const bool bCommitted =
        CommitUrlCacheEntryW(strUrl, file, kNever, kNever, NORMAL_CACHE_ENTRY, nullptr, 0, nullptr, nullptr) != FALSE;
    return bCommitted ? CString(file) : CString();
}

bool AddCookie(const CString& strUrl, const CString& strName, const CString& strValue)
{
    return InternetSetCookieW(strUrl, strName, strValue + L"; expires=Tue, 01-Jan-2030 00:00:00 GMT") != FALSE;
}

bool AddHistoryEntry(const CString& strUrl)
{
    return CommitUrlCacheEntryW(L"Visited: user@" + strUrl, nullptr, kNever, kNever,
                                URLHISTORY_CACHE_ENTRY | NORMAL_CACHE_ENTRY, nullptr, 0, nullptr, nullptr) != FALSE;
}

std::vector<CUrlCacheEntry> EnumerateUrlCache()
{
    std::vector<CUrlCacheEntry> entries;
    std::vector<BYTE> buffer(65536);
    auto* e = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.data());
    DWORD size = static_cast<DWORD>(buffer.size());
    HANDLE find = FindFirstUrlCacheEntryW(nullptr, e, &size);
    for (BOOL bMore = find != nullptr; bMore; bMore = FindNextUrlCacheEntryW(find, e, &size)) {
        entries.push_back({e->lpszSourceUrlName, e->lpszLocalFileName, e->CacheEntryType, e->LastAccessTime});
        size = static_cast<DWORD>(buffer.size());
    }
    if (find != nullptr) {
        FindCloseUrlCache(find);
    }
    return entries;
}

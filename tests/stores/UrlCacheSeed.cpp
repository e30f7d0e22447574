#include "tests/stores/UrlCacheSeed.h"

#include <wininet.h>
#include <shlobj.h>

#include <atomic>

#include "framework/Handles.h"

namespace {

CString SpecialFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path))) {
        return CString();
    }
    return path;
}

CStoreFile Store(const CString& strFolder)
{
    return {strFolder, strFolder + L"\\index.dat"};
}

std::atomic<unsigned> g_tagCounter{0};

}  // namespace

CStoreFile CacheStore()
{
    return Store(SpecialFolder(CSIDL_INTERNET_CACHE) + L"\\Content.IE5");
}

CStoreFile CookieStore()
{
    return Store(SpecialFolder(CSIDL_COOKIES));
}

CStoreFile HistoryStore()
{
    return Store(SpecialFolder(CSIDL_HISTORY) + L"\\History.IE5");
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
    const FILETIME never = {0, 0};
    if (!CommitUrlCacheEntryW(strUrl, file, never, never, NORMAL_CACHE_ENTRY, nullptr, 0, nullptr, nullptr)) {
        return CString();
    }
    return file;
}

bool AddCookie(const CString& strUrl, const CString& strName, const CString& strValue)
{
    return InternetSetCookieW(strUrl, strName, strValue + L"; expires=Tue, 01-Jan-2030 00:00:00 GMT") != FALSE;
}

bool AddHistoryEntry(const CString& strUrl)
{
    const FILETIME never = {0, 0};
    return CommitUrlCacheEntryW(L"Visited: user@" + strUrl, nullptr, never, never,
                                URLHISTORY_CACHE_ENTRY | NORMAL_CACHE_ENTRY, nullptr, 0, nullptr, nullptr) != FALSE;
}

std::vector<CUrlCacheEntry> EnumerateUrlCache()
{
    std::vector<CUrlCacheEntry> entries;
    std::vector<BYTE> buffer(65536);
    auto* e = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.data());
    DWORD size = static_cast<DWORD>(buffer.size());
    HANDLE find = FindFirstUrlCacheEntryW(nullptr, e, &size);
    while (find != nullptr) {
        entries.push_back({e->lpszSourceUrlName, e->lpszLocalFileName, e->CacheEntryType, e->LastAccessTime});
        size = static_cast<DWORD>(buffer.size());
        if (!FindNextUrlCacheEntryW(find, e, &size)) {
            break;
        }
    }
    if (find != nullptr) {
        FindCloseUrlCache(find);
    }
    return entries;
}

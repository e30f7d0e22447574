#include "stores/CacheReader.h"

#include <algorithm>
#include <vector>

#include "cleanup/Deleter.h"
#include "framework/Logger.h"
#include "framework/ProductWebSite.h"
#include "stores/CookiesIndexDat.h"
#include "stores/TempInternetFilesIndexDat.h"

// Under Wine the URL cache is slow and its cost grows with the index: at
// 5,000 entries a FindNextUrlCacheEntryW takes ~350 us and a
// DeleteUrlCacheEntryW ~680 us (bench/CacheCleanupBench.cpp), so the walk
// makes exactly one platform call per entry and keeps its buffer between
// rounds.

namespace {

constexpr DWORD kInitialDeclaredSize = 4096;
// An entry is a few hundred bytes plus its URL and headers; a size request
// beyond this is not an entry the walk should allocate for.
constexpr DWORD kMaxDeclaredSize = 16 * 1024 * 1024;

}  // namespace

HANDLE CCacheReader::FindFirstEntry(INTERNET_CACHE_ENTRY_INFOW* pEntry, DWORD* pdwSize)
{
    return FindFirstUrlCacheEntryW(m_pszSearchPattern, pEntry, pdwSize);
}

BOOL CCacheReader::FindNextEntry(HANDLE hFind, INTERNET_CACHE_ENTRY_INFOW* pEntry, DWORD* pdwSize)
{
    return FindNextUrlCacheEntryW(hFind, pEntry, pdwSize);
}

void CCacheReader::CloseFind(HANDLE hFind)
{
    FindCloseUrlCache(hFind);
}

BOOL CCacheReader::IterateEntries(const wchar_t* pszSearchPattern)
{
    m_pszSearchPattern = pszSearchPattern;
    const BOOL bResult = IterateEntries();
    m_pszSearchPattern = nullptr;
    return bResult;
}

BOOL CCacheReader::IterateEntries()
{
    LOG_MESSAGE(L"CCacheReader::IterateEntries() start");
    BOOL bResult = TRUE;
    DWORD dwDeclared = kInitialDeclaredSize;
    DWORD dwError = ERROR_INSUFFICIENT_BUFFER;
    std::vector<BYTE> buffer;
    auto* pEntry = static_cast<INTERNET_CACHE_ENTRY_INFOW*>(nullptr);
    HANDLE hFind = nullptr;

    // After a failed call the platform's size request becomes the declared
    // size; a request that does not grow it would make the walk ask again
    // forever, so the size at least doubles.
    auto takeFailure = [&](DWORD dwAsked) {
        dwError = GetLastError();
        if (dwError == ERROR_INSUFFICIENT_BUFFER) {
            dwDeclared = std::max(dwAsked, dwDeclared * 2);
        } else {
            dwDeclared = dwAsked;
        }
    };

    for (;;) {
        if (IsAbortRequested()) {
            LOG_MESSAGE(L"CCacheReader::IterateEntries Cache iteration interrupted");
            bResult = FALSE;
            break;
        }
        if (dwError == ERROR_INSUFFICIENT_BUFFER) {
            if (dwDeclared > kMaxDeclaredSize) {
                LOG_MESSAGE(L"Failed to iterate cache entries: an entry asks for %lu bytes", dwDeclared);
                bResult = FALSE;
                break;
            }
            buffer.assign(static_cast<size_t>(dwDeclared) * 2, 0);
            pEntry = reinterpret_cast<INTERNET_CACHE_ENTRY_INFOW*>(buffer.data());
            pEntry->dwStructSize = dwDeclared;
            DWORD dwSize = dwDeclared;
            BOOL bOk;
            if (hFind == nullptr) {
                SetLastError(0);
                hFind = FindFirstEntry(pEntry, &dwSize);
                bOk = hFind != nullptr;
            } else {
                bOk = FindNextEntry(hFind, pEntry, &dwSize);
            }
            if (bOk) {
                dwError = 0;
            } else {
                takeFailure(dwSize);
            }
        } else if (dwError == 0) {
            if (!ProcessEntry(*pEntry)) {
                bResult = FALSE;
            }
            DWORD dwSize = dwDeclared;
            if (!FindNextEntry(hFind, pEntry, &dwSize)) {
                takeFailure(dwSize);
            }
        } else if (dwError == ERROR_NO_MORE_ITEMS || dwError == ERROR_INVALID_PARAMETER) {
            break;
        } else if (dwError == ERROR_INTERNET_INTERNAL_ERROR) {
            CleanIndexDatFiles();
            bResult = FALSE;
            break;
        } else {
            LOG_ERROR(dwError, L"Failed to iterate cache entries");
            bResult = FALSE;
            break;
        }
    }
    if (hFind != nullptr) {
        CloseFind(hFind);
    }
    LOG_MESSAGE(L"CCacheReader::IterateEntries() end");
    return bResult;
}

BOOL CCacheReader::RemoveEntry(const CString& strLocalFile, const CString& strUrl, CDeleter* pDeleter)
{
    const bool bUpgrade = strLocalFile.Find(kUpgradeProgramName) >= 0;
    const DWORD dwAttributes = strLocalFile.IsEmpty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(strLocalFile);
    const bool bDirectory = dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;

    // An entry without a local file has only its record to remove.
    if (!bDirectory && !strLocalFile.IsEmpty()) {
        if (pDeleter == nullptr) {
            LOG_MESSAGE(L"CCacheReader::IterateEntries() pDeleter is NULL");
        } else {
            BOOL bIgnored = FALSE;
            if (pDeleter->DeleteFile(strLocalFile, &bIgnored)) {
                if (bIgnored) {
                    return TRUE;
                }
            } else {
                LOG_MESSAGE(L"Failed to delete file for URL %s", strUrl.GetString());
                if (!bUpgrade) {
                    return FALSE;
                }
                LOG_MESSAGE(L"CCacheReader::RemoveEntry cacheEntry.Find");
            }
        }
    }
    if (bUpgrade) {
        LOG_MESSAGE(L"CCacheReader::RemoveEntry DeleteUrlCacheEntry");
        DeleteUrlCacheEntryW(strUrl);
        return TRUE;
    }
    if (DeleteUrlCacheEntryW(strUrl)) {
        return TRUE;
    }
    const DWORD dwError = GetLastError();
    // Gone already (an entry whose index record was erased earlier also
    // reports this), or refused in a way a retry does not change.
    if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_ACCESS_DENIED || dwError == ERROR_INVALID_NAME) {
        return TRUE;
    }
    LOG_ERROR(dwError, L"DeleteUrlCacheEntry failed for URL %s", strUrl.GetString());
    return FALSE;
}

void CCacheReader::CleanIndexDatFiles()
{
    LOG_MESSAGE(L"CCacheReader::CleanIndexDatFiles start");
    try {
        CCookiesIndexDat cookies;
        if (!cookies.RemoveEntries()) {
            LOG_MESSAGE(L"CCacheReader::CleanIndexDatFiles could not clean the cookie index");
        }
        CTempInternetFilesIndexDat cache;
        if (!cache.RemoveEntries(CFileTime())) {
            LOG_MESSAGE(L"CCacheReader::CleanIndexDatFiles could not clean the cache index");
        }
    } catch (const CException& e) {
        LOG_EXCEPTION(e, L"CCacheReader::CleanIndexDatFiles exception caught");
    }
    LOG_MESSAGE(L"CCacheReader::CleanIndexDatFiles end");
}

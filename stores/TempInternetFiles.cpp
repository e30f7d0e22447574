#include "stores/TempInternetFiles.h"

#include <vector>

#include "cleanup/Deleter.h"
#include "cleanup/FileFinder.h"
#include "framework/Logger.h"
#include "framework/ProductWebSite.h"
#include "stores/TempInternetFilesIndexDat.h"

namespace {

constexpr DWORD kCookieOrHistoryEntry = COOKIE_CACHE_ENTRY | URLHISTORY_CACHE_ENTRY;
constexpr int kLoggedUrlLength = 100;

// Host and path of the upgrade download, so that either scheme matches.
CString UpgradeDownloadAddress()
{
    return CString(kProductWebSiteHost) + kUpgradeDownloadPath;
}

// Every entry below the folder written from the instant `from` up to the
// second `to`, in the finder's order (each folder's entries after its
// subfolders').
std::vector<CString> ListWrittenBetween(const CString& strFolder, CFileTime from, CTime to)
{
    CFileFinderOptions options;
    options.m_strBaseFolder = strFolder;
    options.m_strMask = L"*.*";
    options.m_bRecursive = TRUE;
    options.m_dwFilters = CFileFinderOptions::kFilterLastWrite;
    options.m_timeLastWriteFrom = from.ToTime();
    options.m_preciseLastWriteFrom = from;
    options.m_timeLastWriteTo = to;
    CFileFinder finder;
    finder.FindFiles(options);
    return finder.GetFilePaths();
}

// Folders, and the two files the cache keeps for itself.
bool IsKeptInCacheFolder(const CString& strPath)
{
    const DWORD dwAttributes = GetFileAttributesW(strPath);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return true;
    }
    const CString strName = strPath.Mid(strPath.ReverseFind(L'\\') + 1);
    return strName.CompareNoCase(L"index.dat") == 0 || strName.CompareNoCase(L"desktop.ini") == 0;
}

}  // namespace

CTempInternetFiles::CTempInternetFiles() : m_strCacheFolder(CTempInternetFilesIndexDat::GetCacheFolder()) {}

CTempInternetFiles::~CTempInternetFiles()
{
    StopBackgroundTask(0);
}

BOOL CTempInternetFiles::GetResult()
{
    const BOOL bResult = CCacheReader::GetResult();
    LOG_MESSAGE(bResult ? L"Temporary Internet Files cleanup was sucessful" : L"Temporary Internet Files cleanup failed");
    return bResult;
}

BOOL CTempInternetFiles::ProcessEntry(const INTERNET_CACHE_ENTRY_INFOW& entry)
{
    if ((entry.CacheEntryType & kCookieOrHistoryEntry) != 0) {
        return TRUE;
    }
    const CString strUrl(entry.lpszSourceUrlName != nullptr ? entry.lpszSourceUrlName : L"");
    const CString strLocalFile(entry.lpszLocalFileName != nullptr ? entry.lpszLocalFileName : L"");

    // The upgrade program never stays in the cache, whenever it came.
    if (strLocalFile.Find(kUpgradeProgramName) >= 0) {
        (void)RemoveEntry(strLocalFile, strUrl, m_pDeleter);
    }
    if (!IsSessionEntry(strUrl, CFileTime(entry.LastAccessTime), m_timeStart)) {
        return TRUE;
    }
    LOG_MESSAGE(L" removing Temp internet file for %s", strUrl.Left(kLoggedUrlLength).GetString());
    if (!RemoveEntry(strLocalFile, strUrl, m_pDeleter)) {
        return FALSE;
    }
    ++m_tally.nRemoved;
    return TRUE;
}

bool CTempInternetFiles::IsSessionEntry(const CString& strUrl, CFileTime timeLastAccess, CFileTime timeStart)
{
    return timeLastAccess >= timeStart && strUrl.Find(UpgradeDownloadAddress()) < 0;
}

CStoreFindings CTempInternetFiles::CheckStore()
{
    CStoreFindings findings;
    CTempInternetFilesIndexDat index;
    if (!index.CheckEntries(m_timeStart, findings.residue)) {
        findings.residue.push_back(L"(the cache index could not be read)");
    }
    for (const CString& strPath : ListWrittenBetween(m_strCacheFolder, m_timeStart, CTime::GetCurrentTime())) {
        if (strPath.Find(kUpgradeProgramName) < 0 && !IsKeptInCacheFolder(strPath)) {
            findings.residue.push_back(L"cache file " + strPath);
        }
    }
    return findings;
}

BOOL CTempInternetFiles::DeleteSessionFiles()
{
    BOOL bResult = TRUE;
    for (const CString& strPath : ListWrittenBetween(m_strCacheFolder, m_timeStart, CTime::GetCurrentTime())) {
        if (IsAbortRequested()) {
            LOG_MESSAGE(L"Temporary Internet Files cleanup interrupted");
            return FALSE;
        }
        if (!DeleteListedFile(strPath)) {
            bResult = FALSE;
        }
    }
    return bResult;
}

void CTempInternetFiles::DeleteUpgradeFiles()
{
    for (const CString& strPath : ListWrittenBetween(m_strCacheFolder, CFileTime(), CTime::GetCurrentTime())) {
        if (IsAbortRequested()) {
            LOG_MESSAGE(L"Temporary Internet Files cleanup (NulvaneUpgrade) interrupted");
            return;
        }
        // Every file of the cache is listed here and nearly none is the
        // upgrade program: the name is looked at before the file's
        // attributes, which cost a call each (~40 us under Wine, 0.2 s at
        // 5,000 cached files).
        if (m_pDeleter != nullptr && strPath.Find(kUpgradeProgramName) < 0) {
            continue;
        }
        (void)DeleteListedFile(strPath);
    }
}

BOOL CTempInternetFiles::DeleteListedFile(const CString& strPath)
{
    if (IsKeptInCacheFolder(strPath)) {
        return TRUE;
    }
    if (m_pDeleter == nullptr) {
        LOG_MESSAGE(L"deleter is null");
        return TRUE;
    }
    if (strPath.Find(kUpgradeProgramName) >= 0) {
        LOG_MESSAGE(L"CTempInternetFiles::RunBackgroundTask() deleting file, ignoring result as is NulvaneUpgrade");
        (void)m_pDeleter->DeleteFile(strPath);
        return TRUE;
    }
    LOG_MESSAGE(L"CTempInternetFiles::RunBackgroundTask() deleting file");
    if (!m_pDeleter->DeleteFile(strPath)) {
        return FALSE;
    }
    ++m_tally.nRemoved;
    return TRUE;
}

BOOL CTempInternetFiles::RunBackgroundTask()
{
    LOG_MESSAGE(L"CTempInternetFiles::RunBackgroundTask() start");
    if (!IterateEntries()) {
        LOG_MESSAGE(L"CTempInternetFiles::RunBackgroundTask() end");
        return FALSE;
    }
    BOOL bResult = DeleteSessionFiles();
    DeleteUpgradeFiles();

    // The index is edited only after everything before succeeded: a file
    // that is still there keeps its record, and the next attempt starts
    // again from the cache itself.
    if (bResult) {
        LOG_MESSAGE(L"Starting Temporary Internet Files index.dat cleanup");
        try {
            CTempInternetFilesIndexDat index;
            if (!index.RemoveEntries(m_timeStart)) {
                LOG_MESSAGE(L"Failed to cleanup Temporary Internet Files index.dat");
                bResult = FALSE;
            }
            m_tally.nIndexRecordsErased += index.GetErasedCount();
        } catch (const CException& e) {
            LOG_EXCEPTION(e, L"Failed to cleanup Temporary Internet Files index.dat");
            bResult = FALSE;
        }
    }
    LOG_MESSAGE(L"CTempInternetFiles::RunBackgroundTask() end");
    return bResult;
}

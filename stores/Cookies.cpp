#include "stores/Cookies.h"

#include <vector>

#include "cleanup/Deleter.h"
#include "cleanup/FileFinder.h"
#include "framework/Logger.h"
#include "stores/CookieRecord.h"
#include "stores/CookiesIndexDat.h"

// The cookie jar lives twice: in the cookie files the URL cache names, and
// in the memory of every process that used the cookie calls. Removing a
// cookie entry with its file leaves the process's own copy: under Wine the
// removed cookies are still handed out afterwards, and the next time a
// cookie of the same host and path is set, the whole of that copy is
// written out again. The recreation sets cookies of the snapshot in this
// very process, after a session whose pages may have set cookies for the
// same hosts; so before it, the removed cookies of those hosts and paths
// are ended through the cookie call itself. Ending a cookie costs 5-20 ms
// under Wine (it rewrites the host's file), so it is done only where the
// recreation would write the host's cookies out again.

namespace {

constexpr wchar_t kExpiredCookieData[] = L"; expires=Thu, 01-Jan-1970 00:00:01 GMT";

CString SystemLibraryPath(const wchar_t* pszName)
{
    wchar_t folder[MAX_PATH] = {};
    const UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        return CString();
    }
    return CString(folder) + pszName;
}

bool IsKeptInCookiesFolder(const CString& strPath)
{
    const DWORD dwAttributes = GetFileAttributesW(strPath);
    if (dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return true;
    }
    const CString strName = strPath.Mid(strPath.ReverseFind(L'\\') + 1);
    return strName.CompareNoCase(L"index.dat") == 0 || strName.CompareNoCase(L"desktop.ini") == 0 ||
           CCookieRecord::IsProtectedModePath(strPath);
}

}  // namespace

CCookies::CCookies() : m_strCookiesFolder(CCookiesIndexDat::GetCookiesFolder())
{
    const CString strWininet = SystemLibraryPath(L"\\WININET.DLL");
    const CString strIeframe = SystemLibraryPath(L"\\Ieframe.dll");
    if (!strWininet.IsEmpty()) {
        m_hWininet.reset(LoadLibraryW(strWininet));
    }
    if (!strIeframe.IsEmpty()) {
        m_hIeframe.reset(LoadLibraryW(strIeframe));
    }
    if (m_hWininet) {
        pfInternetSetCookieEx = reinterpret_cast<InternetSetCookieExFn>(
            reinterpret_cast<void*>(GetProcAddress(m_hWininet.get(), "InternetSetCookieExW")));
    }
    if (m_hIeframe) {
        pfIESetProtectedModeCookie = reinterpret_cast<IESetProtectedModeCookieFn>(
            reinterpret_cast<void*>(GetProcAddress(m_hIeframe.get(), "IESetProtectedModeCookie")));
    }
}

CCookies::~CCookies()
{
    StopBackgroundTask(0);
    pfInternetSetCookieEx = nullptr;
    pfIESetProtectedModeCookie = nullptr;
    m_hIeframe.reset();
    m_hWininet.reset();
}

BOOL CCookies::GetResult()
{
    const BOOL bResult = CCacheReader::GetResult();
    if (!bResult) {
        LOG_MESSAGE(L"Cookies cleanup failed");
    }
    return bResult;
}

BOOL CCookies::ReadCookies()
{
    m_bCollect = TRUE;
    m_filesRead.RemoveAll();
    return IterateEntries();
}

BOOL CCookies::StartRemoval(CDeleter* pDeleter)
{
    LOG_MESSAGE(L"Starting Cookies cleanup");
    SetDeleter(pDeleter);
    return StartBackgroundTask();
}

BOOL CCookies::RunBackgroundTask()
{
    return removeCookies();
}

BOOL CCookies::ProcessEntry(const INTERNET_CACHE_ENTRY_INFOW& entry)
{
    if ((entry.CacheEntryType & COOKIE_CACHE_ENTRY) == 0) {
        return TRUE;
    }
    const CString strLocalFile(entry.lpszLocalFileName != nullptr ? entry.lpszLocalFileName : L"");
    if (m_pCheckWalk != nullptr) {
        const CString strUrl(entry.lpszSourceUrlName != nullptr ? entry.lpszSourceUrlName : L"");
        if (!m_pCheckWalk->hostPaths.Contains(strUrl.Mid(strUrl.Find(L'@') + 1))) {
            m_pCheckWalk->findings.residue.push_back(L"cookie entry " + strUrl);
        }
        if (!strLocalFile.IsEmpty() && m_filesRead.Add(strLocalFile)) {
            ReadCookieFile(strLocalFile, m_pCheckWalk->present);
        }
        return TRUE;
    }
    if (!m_bCollect) {
        NoteRemovedCookies(strLocalFile);
        return RemoveEntry(strLocalFile, entry.lpszSourceUrlName != nullptr ? entry.lpszSourceUrlName : L"",
                           m_pDeleter);
    }
    // Several entries may name one file; it is read once.
    if (!strLocalFile.IsEmpty() && m_filesRead.Add(strLocalFile)) {
        ReadCookieFile(strLocalFile, m_snapshot);
    }
    return TRUE;
}

void CCookies::ReadCookieFile(const CString& strPath, CStringSet& keys)
{
    LOG_MESSAGE(L"CCookies::ReadCookies reading cookie file %s", strPath.GetString());
    std::vector<CCookieFileEntry> entries;
    if (!CCookieRecord::ReadCookieFile(strPath, entries)) {
        LOG_MESSAGE(L"CCookies::ReadCookies cannot read cookie file %s", strPath.GetString());
        return;
    }
    const bool bProtectedMode = CCookieRecord::IsProtectedModePath(strPath);
    for (const CCookieFileEntry& entry : entries) {
        keys.Add(CCookieRecord::MakeKey(bProtectedMode, entry));
    }
}

void CCookies::NoteRemovedCookies(const CString& strPath)
{
    std::vector<CCookieFileEntry> entries;
    if (strPath.IsEmpty() || !CCookieRecord::ReadCookieFile(strPath, entries)) {
        return;
    }
    m_tally.nRemoved += static_cast<int>(entries.size());
    for (const CCookieFileEntry& entry : entries) {
        m_removedCookies.Add(FormatString(L"%s\n%s\n%u", entry.strHostPath.GetString(), entry.strName.GetString(),
                                          entry.dwFlags));
    }
}

BOOL CCookies::removeCookies()
{
    LOG_MESSAGE(L"CCookies::removeCookies() start");
    m_bCollect = FALSE;
    if (!IterateEntries()) {
        LOG_MESSAGE(L"CCookies::removeCookies() end");
        return FALSE;
    }
    LOG_MESSAGE(L"removing cookies");
    BOOL bResult = DeleteCookieFiles();
    if (bResult) {
        try {
            CCookiesIndexDat index;
            if (!index.RemoveEntries()) {
                LOG_MESSAGE(L"Failed to cleanup Cookies index.dat");
                bResult = FALSE;
            }
        } catch (const CException& e) {
            LOG_EXCEPTION(e, L"Failed to cleanup Cookies index.dat");
            bResult = FALSE;
        }
    }
    LOG_MESSAGE(L"CCookies::removeCookies() end");
    return bResult;
}

std::vector<CString> CCookies::ListCookieFiles() const
{
    if (m_strCookiesFolder.IsEmpty()) {
        return {};
    }
    CFileFinderOptions options;
    options.m_strBaseFolder = m_strCookiesFolder;
    options.m_strMask = L"*.*";
    options.m_bRecursive = TRUE;
    options.m_dwFilters = CFileFinderOptions::kFilterAttributes;
    options.m_dwAttributes = CFileFinderOptions::kFilesOnly;
    CFileFinder finder;
    finder.FindFiles(options);
    return finder.GetFilePaths();
}

BOOL CCookies::DeleteCookieFiles()
{
    BOOL bResult = TRUE;
    for (const CString& strPath : ListCookieFiles()) {
        if (IsAbortRequested()) {
            LOG_MESSAGE(L"Cookies cleanup interrupted");
            return FALSE;
        }
        if (IsKeptInCookiesFolder(strPath)) {
            continue;
        }
        if (m_pDeleter == nullptr) {
            LOG_MESSAGE(L"deleter is null");
            bResult = FALSE;
            continue;
        }
        if (!m_pDeleter->DeleteFile(strPath)) {
            bResult = FALSE;
        }
        LOG_MESSAGE(bResult ? L"cookie cleanup ok" : L"cookie cleanup failed");
    }
    return bResult;
}

CStringSet CCookies::SnapshotHostPaths() const
{
    CStringSet hostPaths;
    for (const CString& strKey : m_snapshot) {
        CCookieRecord record;
        if (record.Parse(strKey)) {
            hostPaths.Add(record.GetHostPath());
        }
    }
    return hostPaths;
}

void CCookies::ExpireRemovedCookiesInMemory()
{
    const CStringSet hostPaths = SnapshotHostPaths();
    for (const CString& strRemoved : m_removedCookies) {
        const int nFirst = strRemoved.Find(L'\n');
        const int nSecond = strRemoved.ReverseFind(L'\n');
        const CString strHostPath = strRemoved.Left(nFirst);
        if (nFirst < 0 || nSecond <= nFirst || !hostPaths.Contains(strHostPath)) {
            continue;
        }
        const CString strUrl = L"http://" + strHostPath;
        const CString strName = strRemoved.Mid(nFirst + 1, nSecond - nFirst - 1);
        const DWORD dwFlags = wcstoul(strRemoved.Mid(nSecond + 1).GetString(), nullptr, 10);
        if (pfInternetSetCookieEx != nullptr) {
            pfInternetSetCookieEx(strUrl, strName, kExpiredCookieData, dwFlags & CCookieRecord::kHttpOnlyFlag, 0);
        } else {
            InternetSetCookieW(strUrl, strName, kExpiredCookieData);
        }
    }
    m_removedCookies.RemoveAll();
}

BOOL CCookies::RecreateCookies()
{
    LOG_MESSAGE(L"CCookies::RecreateCookies() start");
    BOOL bResult = TRUE;
    LOG_MESSAGE(L"CCookies::RecreateCookies() going to recreate %d cookies", m_snapshot.GetCount());
    ExpireRemovedCookiesInMemory();
    for (const CString& strKey : m_snapshot) {
        CCookieRecord record;
        if (!record.Parse(strKey)) {
            LOG_MESSAGE(L"Failed to recreate cookie: the record is not readable: %s", strKey.GetString());
            bResult = FALSE;
            continue;
        }
        LOG_MESSAGE(L"CCookies::RecreateCookies() going to recreate cookie: protMode = %s", record.m_strStore.GetString());
        LOG_MESSAGE(L"CCookies::RecreateCookies() going to recreate cookie: with data = %s", record.GetData().GetString());
        if (RecreateCookie(record)) {
            ++m_tally.nRestored;
        } else {
            m_refusedKeys.Add(strKey);
            bResult = FALSE;
        }
    }
    LOG_MESSAGE(L"CCookies::RecreateCookies() end");
    return bResult;
}

// A protected-mode cookie goes back through the protected-mode call when
// there is one; every other cookie through InternetSetCookieExW, which takes
// the cookie's flags (an HttpOnly cookie cannot be set without them); the
// plain call only when neither is there. The text is handed over in a
// buffer of its own length: a cookie text is not bounded, and one longer
// than a fixed buffer would otherwise be cut or dropped.
BOOL CCookies::RecreateCookie(const CCookieRecord& record)
{
    BOOL bSet = FALSE;
    if (record.IsProtectedMode() && pfIESetProtectedModeCookie != nullptr) {
        LOG_MESSAGE(L"CCookies::RecreateCookies() going to recreate protectedmode cookie for URL = %s",
                    record.m_strUrl.GetString());
        const CString strText = record.GetRecreationText();
        bSet = pfIESetProtectedModeCookie(record.m_strUrl, nullptr, strText, record.m_dwFlags) == S_OK;
        LOG_MESSAGE(L"CCookies::RecreateCookies() pfIESetProtectedModeCookie creation result = %d", bSet ? 1 : 0);
    } else if (pfInternetSetCookieEx != nullptr) {
        LOG_MESSAGE(L"CCookies::RecreateCookies() going to recreate non-protectedmode cookie for URL = %s",
                    record.m_strUrl.GetString());
        const DWORD dwState =
            pfInternetSetCookieEx(record.m_strUrl, nullptr, record.GetRecreationText(), record.m_dwFlags, 0);
        bSet = dwState != 0;
        LOG_MESSAGE(L"CCookies::RecreateCookies() pfInternetSetCookieEx creation result = %d", static_cast<int>(dwState));
    } else {
        bSet = InternetSetCookieW(record.m_strUrl, nullptr, record.GetRecreationText(false));
    }
    if (!bSet) {
        LOG_ERROR(GetLastError(), L"Failed to recreate cookie for URL %s", record.m_strUrl.GetString());
    }
    return bSet;
}

// The jar as a fresh process finds it: the cookie entries of the URL cache
// and the files they name, the cookie files no entry names, and the
// records of the cookie index that the cache deleted but that can still be
// read. After the clean-up it must hold the snapshot exactly.
CStoreFindings CCookies::CheckStore()
{
    CStoreFindings findings;
    CCheckWalk walk{findings, SnapshotHostPaths(), CStringSet()};
    m_filesRead.RemoveAll();
    m_pCheckWalk = &walk;
    const BOOL bWalked = IterateEntries(L"Cookie:");
    m_pCheckWalk = nullptr;
    if (!bWalked) {
        findings.residue.push_back(L"(the cookie entries could not be listed)");
    }
    for (const CString& strPath : ListCookieFiles()) {
        if (!IsKeptInCookiesFolder(strPath) && m_filesRead.Add(strPath)) {
            ReadCookieFile(strPath, walk.present);
        }
    }
    std::vector<CString> deletedUrls;
    CCookiesIndexDat index;
    if (!index.ListDeletedEntries(deletedUrls)) {
        findings.residue.push_back(L"(the cookie index could not be read)");
    }
    for (const CString& strUrl : deletedUrls) {
        if (!walk.hostPaths.Contains(strUrl.Mid(strUrl.Find(L'@') + 1))) {
            findings.residue.push_back(L"deleted cookie record, still readable: " + strUrl);
        }
    }
    for (const CString& strKey : walk.present) {
        if (!m_snapshot.Contains(strKey)) {
            findings.residue.push_back(L"cookie " + CCookieRecord::DescribeKey(strKey));
        }
    }
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    for (const CString& strKey : m_snapshot) {
        CCookieRecord record;
        if (walk.present.Contains(strKey) || !record.Parse(strKey) || record.HasExpiredBy(now)) {
            continue;
        }
        (m_refusedKeys.Contains(strKey) ? findings.lossBeyondRestore : findings.loss)
            .push_back(L"cookie " + CCookieRecord::DescribeKey(strKey));
    }
    m_filesRead.RemoveAll();
    return findings;
}

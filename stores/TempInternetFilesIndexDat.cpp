#include "stores/TempInternetFilesIndexDat.h"

#include <shlobj.h>

#include "framework/Logger.h"
#include "stores/TempInternetFiles.h"

CString CTempInternetFilesIndexDat::GetCacheFolder()
{
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_INTERNET_CACHE, nullptr, SHGFP_TYPE_CURRENT, path))) {
        LOG_MESSAGE(L"CTempInternetFilesIndexDat cannot find the Internet cache folder");
        return CString();
    }
    return CString(path) + L"\\Content.IE5\\";
}

CTempInternetFilesIndexDat::CTempInternetFilesIndexDat() : m_strCacheFolder(GetCacheFolder()) {}

BOOL CTempInternetFilesIndexDat::RemoveEntries(CFileTime timeThreshold)
{
    m_pResidue = nullptr;
    return ScanIndex(timeThreshold);
}

BOOL CTempInternetFilesIndexDat::CheckEntries(CFileTime timeStart, std::vector<CString>& residue)
{
    m_pResidue = &residue;
    const BOOL bResult = ScanIndex(timeStart);
    m_pResidue = nullptr;
    return bResult;
}

BOOL CTempInternetFilesIndexDat::ScanIndex(CFileTime timeThreshold)
{
    if (m_strCacheFolder.IsEmpty()) {
        return FALSE;
    }
    const CString strIndex = m_strCacheFolder + L"index.dat";
    if (GetFileAttributesW(strIndex) == INVALID_FILE_ATTRIBUTES) {
        return TRUE;
    }
    m_timeThreshold = timeThreshold;
    // A check only reads: no scrubbing, and none of the removal's lines.
    const bool bRemoving = m_pResidue == nullptr;
    if (bRemoving) {
        LOG_MESSAGE(L"CTempInternetFilesIndexDat::RemoveEntries about to OpenFile");
    }
    OpenFile(strIndex);
    if (bRemoving) {
        LOG_MESSAGE(L"CTempInternetFilesIndexDat::RemoveEntries about to IterateEntries(TRUE)");
    }
    const BOOL bResult = IterateEntries(bRemoving);
    if (bRemoving) {
        LOG_MESSAGE(L"CTempInternetFilesIndexDat::RemoveEntries about to CIndexDatParser::CloseFile()");
    }
    CloseFile();
    return bResult;
}

// A record is erased only when its file is gone. Its local path is relative
// to the cache folder, and it is resolved there: resolved against the
// process's current folder it would never name an existing file, and the
// record of a file the clean-up could not delete (one another program holds
// open) would be erased while the file stays behind, out of the cache's
// reach.
bool CTempInternetFilesIndexDat::IsErasable(DWORD dwType, const CString& strLocalPath, CFileTime timeLastAccess) const
{
    if (dwType == IndexDat::kSignatureRedirect) {
        return true;
    }
    if (timeLastAccess < m_timeThreshold) {
        return false;
    }
    if (strLocalPath.IsEmpty()) {
        return true;
    }
    if (GetFileAttributesW(m_strCacheFolder + strLocalPath) != INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    const DWORD dwError = GetLastError();
    return dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
}

// A record the URL cache still indexes is deleted through the cache before
// it is overwritten (see EraseRecord); one the cache has already released
// (a "LEAK" record, or a "URL " record in blocks it has freed, which keeps
// its bytes) is erased at once.
BOOL CTempInternetFilesIndexDat::ProcessEntry(DWORD dwType, DWORD dwOffset, DWORD dwSize, CString strUrl,
                                              CString strLocalPath, CFileTime timeLastAccess)
{
    LOG_MESSAGE(L"CTempInternetFilesIndexDat::ProcessEntry start for URL:%s, TagType: ", strUrl.GetString());
    if (m_pResidue != nullptr) {
        // A record the URL cache lists is judged by the cache cleaner's
        // rule, as the cleaner sees it through the cache; any other one by
        // this edit's rule.
        if (dwType == IndexDat::kSignatureUrl && IsBlockAllocated(dwOffset)) {
            if (CTempInternetFiles::IsSessionEntry(strUrl, timeLastAccess, m_timeThreshold)) {
                m_pResidue->push_back(L"cache entry " + strUrl);
            }
        } else if (IsErasable(dwType, strLocalPath, timeLastAccess)) {
            m_pResidue->push_back(L"deleted cache record, still readable: " + strUrl);
        }
    } else if (IsErasable(dwType, strLocalPath, timeLastAccess)) {
        (void)EraseRecord(dwType, dwOffset, dwSize, strUrl);
    }
    LOG_MESSAGE(L"CTempInternetFilesIndexDat::ProcessEntry end");
    return TRUE;
}

#include "stores/TempInternetFilesIndexDat.h"

#include <shlobj.h>

#include "framework/Logger.h"

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
    if (m_strCacheFolder.IsEmpty()) {
        return FALSE;
    }
    const CString strIndex = m_strCacheFolder + L"index.dat";
    if (GetFileAttributesW(strIndex) == INVALID_FILE_ATTRIBUTES) {
        return TRUE;
    }
    m_timeThreshold = timeThreshold;
    LOG_MESSAGE(L"CTempInternetFilesIndexDat::RemoveEntries about to OpenFile");
    OpenFile(strIndex);
    LOG_MESSAGE(L"CTempInternetFilesIndexDat::RemoveEntries about to IterateEntries(TRUE)");
    const BOOL bResult = IterateEntries(TRUE);
    LOG_MESSAGE(L"CTempInternetFilesIndexDat::RemoveEntries about to CIndexDatParser::CloseFile()");
    CloseFile();
    return bResult;
}

// A record is erased only when its file is gone. Its local path is relative
// to the cache folder, and it is resolved there: resolved against the
// process's current folder it would never name an existing file, and the
// record of a file the clean-up could not delete (one another program holds
// open) would be erased while the file stays behind, out of the cache's
// reach.
//
// A record the URL cache still indexes is deleted through the cache before
// it is overwritten (see EraseRecord); one the cache has already released
// (a "LEAK" record, or a "URL " record in blocks it has freed, which keeps
// its bytes) is erased at once.
BOOL CTempInternetFilesIndexDat::ProcessEntry(DWORD dwType, DWORD dwOffset, DWORD dwSize, CString strUrl,
                                              CString strLocalPath, CFileTime timeLastAccess)
{
    LOG_MESSAGE(L"CTempInternetFilesIndexDat::ProcessEntry start for URL:%s, TagType: ", strUrl.GetString());
    if (dwType == IndexDat::kSignatureRedirect) {
        (void)EraseRecord(dwType, dwOffset, dwSize, strUrl);
    } else if (timeLastAccess >= m_timeThreshold) {
        bool bFileGone = true;
        if (!strLocalPath.IsEmpty()) {
            const CString strFile = m_strCacheFolder + strLocalPath;
            if (GetFileAttributesW(strFile) != INVALID_FILE_ATTRIBUTES) {
                bFileGone = false;
            } else {
                const DWORD dwError = GetLastError();
                bFileGone = dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND;
            }
        }
        if (bFileGone) {
            (void)EraseRecord(dwType, dwOffset, dwSize, strUrl);
        }
    }
    LOG_MESSAGE(L"CTempInternetFilesIndexDat::ProcessEntry end");
    return TRUE;
}

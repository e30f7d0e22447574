#include "stores/StoreFolder.h"

#include "cleanup/Deleter.h"
#include "cleanup/FileFinder.h"
#include "cleanup/FileFinderOptions.h"
#include "framework/Logger.h"

CStoreFolder::CStoreFolder(const CString& strRoot) : m_strRoot(strRoot)
{
    m_strRoot.TrimRight(L"\\");
}

bool CStoreFolder::Contains(const CString& strPath) const
{
    const int n = m_strRoot.GetLength();
    return n > 0 && strPath.GetLength() > n + 1 && strPath[n] == L'\\' &&
           strPath.Left(n).CompareNoCase(m_strRoot) == 0;
}

BOOL CStoreFolder::RemoveEmptiedFolders(const CString& strFilePath) const
{
    CString strFolder = strFilePath;
    for (;;) {
        const int nSlash = strFolder.ReverseFind(L'\\');
        if (nSlash < 0) {
            return TRUE;
        }
        strFolder = strFolder.Left(nSlash);
        if (!Contains(strFolder)) {
            return TRUE;
        }
        // Folders count as entries too (0x9B7): a subfolder keeps its parent.
        CFileFinderOptions options;
        options.m_strBaseFolder = strFolder;
        options.m_dwFilters = CFileFinderOptions::kFilterAttributes;
        options.m_dwAttributes = CFileFinderOptions::kFilesAndFolders;
        CFileFinder finder;
        if (finder.FindFiles(options) > 0) {
            return TRUE;
        }
        if (!CDeleter::DeleteDirectory(strFolder)) {
            const DWORD dwError = GetLastError();
            if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND) {
                continue;  // gone already
            }
            // Something the listing does not show (an entry with none of
            // the listed attributes) keeps the folder; only a failure to
            // remove a folder that is really empty counts.
            if (dwError == ERROR_DIR_NOT_EMPTY) {
                return TRUE;
            }
            LOG_ERROR(dwError, L"Failed to remove folder %s", strFolder.GetString());
            return FALSE;
        }
    }
}

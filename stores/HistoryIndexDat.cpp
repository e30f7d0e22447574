#include "stores/HistoryIndexDat.h"

#include <shlobj.h>

#include <optional>

#include "cleanup/FileFinder.h"
#include "cleanup/FileFinderOptions.h"
#include "framework/Logger.h"
#include "stores/HistoryViewRefresh.h"

using namespace IndexDat;

namespace {

CString HistoryFolder()
{
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_HISTORY, nullptr, SHGFP_TYPE_CURRENT, path))) {
        LOG_MESSAGE(L"CHistoryIndexDat: the history folder is unknown");
        return CString();
    }
    return CString(path);
}

}  // namespace

CHistoryIndexDat::CHistoryIndexDat()
{
    ListFiles(HistoryFolder());
}

CHistoryIndexDat::CHistoryIndexDat(const CString& strHistoryFolder)
{
    ListFiles(strHistoryFolder);
}

void CHistoryIndexDat::ListFiles(const CString& strHistoryFolder)
{
    if (strHistoryFolder.IsEmpty()) {
        return;
    }
    CFileFinderOptions options;
    options.m_strBaseFolder = strHistoryFolder;
    options.m_strMask = L"index.dat";
    options.m_bRecursive = TRUE;
    options.m_dwFilters = CFileFinderOptions::kFilterAttributes;
    options.m_dwAttributes = CFileFinderOptions::kFilesOnly;
    CFileFinder finder;
    const int nCount = finder.FindFiles(options);
    for (int i = 0; i < nCount; ++i) {
        m_files.push_back(finder.GetFilePath(i));
    }
}

void CHistoryIndexDat::CollectEntries(CStringSet* pSnapshot, CStringSet* pUnscanned)
{
    m_bCollect = TRUE;
    m_pSnapshot = pSnapshot;
    ProcessFiles(pUnscanned, nullptr);
}

void CHistoryIndexDat::RemoveEntries(CStringSet* pSnapshot, const CStringSet* pSkip)
{
    m_bCollect = FALSE;
    m_pSnapshot = pSnapshot;
    std::optional<CFileException> failure;
    try {
        ProcessFiles(nullptr, pSkip);
    } catch (const CFileException& e) {
        failure = e;
    }
    // The views are refreshed whatever the scans did: some may have erased.
    CHistoryViewRefresh().Refresh();
    if (failure) {
        throw *failure;
    }
}

void CHistoryIndexDat::CheckEntries(CStringSet* pSnapshot, const CStringSet* pSkip,
                                    std::vector<CString>& residue, CStringSet& seen)
{
    m_bCollect = FALSE;
    m_pSnapshot = pSnapshot;
    m_pResidue = &residue;
    m_pSeen = &seen;
    ProcessFiles(nullptr, pSkip);
    m_pResidue = nullptr;
    m_pSeen = nullptr;
}

void CHistoryIndexDat::ProcessFiles(CStringSet* pUnscanned, const CStringSet* pSkip)
{
    std::optional<CFileException> failure;
    for (const CString& strPath : m_files) {
        if (pSkip != nullptr && pSkip->Contains(strPath)) {
            LOG_MESSAGE(L"CHistoryIndexDat: %s could not be read when the session began; it is left as it is",
                        strPath.GetString());
            continue;
        }
        BOOL bScanned = FALSE;
        const int nErasedBefore = GetErasedCount();
        try {
            OpenFile(strPath);
            bScanned = IterateEntries(FALSE);
        } catch (const CFileException& e) {
            LOG_EXCEPTION(e, L"CHistoryIndexDat: reading %s failed", strPath.GetString());
            if (!failure) {
                failure = e;
            }
        }
        CloseFile();
        if (!bScanned && pUnscanned != nullptr) {
            pUnscanned->Add(strPath);
        }
        if (GetErasedCount() > nErasedBefore) {
            LOG_MESSAGE(L"CHistoryIndexDat: erased %d records in %s", GetErasedCount() - nErasedBefore,
                        strPath.GetString());
        }
    }
    if (failure) {
        throw *failure;
    }
}

BOOL CHistoryIndexDat::ProcessEntry(DWORD dwType, DWORD dwOffset, DWORD dwSize, CString strUrl, CString, CFileTime)
{
    if ((dwType != kSignatureUrl && dwType != kSignatureLeak) || m_pSnapshot == nullptr) {
        return TRUE;
    }
    // A record in free blocks is one the cache has deleted (the user
    // cleared it): it is no longer history, whatever its URL.
    const bool bLive = IsBlockAllocated(dwOffset);
    if (m_bCollect) {
        if (bLive) {
            m_pSnapshot->Add(strUrl);
        }
        return TRUE;
    }
    // A deleted record is erased whatever its URL; dwSize then covers only
    // the blocks that are still free.
    if (bLive && m_pSnapshot->Contains(strUrl)) {
        if (m_pSeen != nullptr) {
            m_pSeen->Add(strUrl);
        }
        return TRUE;
    }
    if (m_pResidue != nullptr) {
        m_pResidue->push_back((bLive ? L"history record " : L"deleted history record, still readable: ") + strUrl);
    } else {
        (void)EraseRecord(dwType, dwOffset, dwSize, strUrl);
    }
    return TRUE;
}

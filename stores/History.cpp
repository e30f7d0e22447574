#include "stores/History.h"

#include "framework/Logger.h"
#include "stores/HistoryIndexDat.h"

CHistory::~CHistory()
{
    StopBackgroundTask(0);
}

BOOL CHistory::GetResult()
{
    const BOOL bResult = CBackgroundTask::GetResult();
    if (!bResult) {
        LOG_MESSAGE(L"History cleanup failed");
    }
    return bResult;
}

BOOL CHistory::ReadHistory()
{
    LOG_MESSAGE(L"CHistory::ReadHistory() start");
    m_snapshot.RemoveAll();
    m_unscannedFiles.RemoveAll();
    try {
        CHistoryIndexDat history;
        history.CollectEntries(&m_snapshot, &m_unscannedFiles);
    } catch (const CException& e) {
        // Collecting catches the read errors of each store itself; this is
        // for anything else, which must not end the start-up.
        LOG_EXCEPTION(e, L"CHistory::ReadHistory() failed");
    }
    LOG_MESSAGE(L"CHistory::ReadHistory() end, %d URLs", m_snapshot.GetCount());
    return TRUE;
}

BOOL CHistory::RunBackgroundTask()
{
    LOG_MESSAGE(L"CHistory::RunBackgroundTask() start");
    BOOL bResult = TRUE;
    try {
        CHistoryIndexDat history;
        history.RemoveEntries(&m_snapshot, &m_unscannedFiles);
        m_tally.nRemoved += history.GetErasedCount();
    } catch (const CException& e) {
        LOG_EXCEPTION(e, L"Failed to cleanup History index.dat");
        bResult = FALSE;
    }
    m_bResult = bResult;
    LOG_MESSAGE(L"CHistory::RunBackgroundTask() end");
    return bResult;
}

CStoreFindings CHistory::CheckStore()
{
    CStoreFindings findings;
    CStringSet seen;
    CHistoryIndexDat history;
    history.CheckEntries(&m_snapshot, &m_unscannedFiles, findings.residue, seen);
    for (const CString& strUrl : m_snapshot) {
        if (!seen.Contains(strUrl)) {
            findings.lossBeyondRestore.push_back(L"history record " + strUrl);
        }
    }
    return findings;
}

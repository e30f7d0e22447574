#include "cleanup/CleanupManager.h"

#include <exception>

#include "framework/Logger.h"

namespace {

constexpr int kAttempts = 4;

}  // namespace

CCleanupManager::CCleanupManager(CDeleter* pDeleter) : m_pManagerDeleter(pDeleter)
{
}

CCleanupManager::~CCleanupManager()
{
    StopBackgroundTask(0);
}

BOOL CCleanupManager::RunOnce(CBackgroundTask* pCleaner, const wchar_t* pszFieldName)
{
    LOG_MESSAGE(L"%s->RunBackgroundTask() start", pszFieldName);
    pCleaner->SetDeleter(m_pManagerDeleter);
    BOOL bResult = FALSE;
    try {
        bResult = pCleaner->RunBackgroundTask();
    } catch (const CException& e) {
        LOG_EXCEPTION(e, L"%s->RunBackgroundTask() threw", pszFieldName);
    } catch (const std::exception& e) {
        LOG_MESSAGE(L"%s->RunBackgroundTask() threw %S", pszFieldName, e.what());
    }
    LOG_MESSAGE(L"%s->RunBackgroundTask() end", pszFieldName);
    return bResult;
}

BOOL CCleanupManager::RunCategory(CBackgroundTask* pCleaner, const wchar_t* pszFieldName, const wchar_t* pszNotice)
{
    LOG_MESSAGE(L"%s", pszNotice);
    // A cleaner still busy on a worker of its own is asked to stop and
    // waited for, so that no two cleaners ever run at once.
    pCleaner->StopBackgroundTask(0);

    BOOL bResult = FALSE;
    for (int attempt = 0; attempt < kAttempts && !bResult; ++attempt) {
        bResult = RunOnce(pCleaner, pszFieldName);
    }
    LOG_MESSAGE(bResult ? L"%s->RunBackgroundTask() result = true" : L"%s->RunBackgroundTask() result = false",
                pszFieldName);
    return bResult;
}

void CCleanupManager::RecreateCookies()
{
    // Put the pre-session cookies back whether or not the removal
    // succeeded; a failure here is the cookie cleaner's to log.
    try {
        m_pCookies.Restorer()->RecreateCookies();
    } catch (const CException& e) {
        LOG_EXCEPTION(e, L"m_pCookies->RecreateCookies() threw");
    }
}

BOOL CCleanupManager::RunBackgroundTask()
{
    BOOL bResult = TRUE;
    LOG_MESSAGE(L"Start CCleanupManager::RunBackgroundTask()");
    // A failed run is repeated by the worker: the counts cover both runs.
    if (m_nRuns++ == 0) {
        for (const CCategoryEntry& entry : Categories()) {
            if (entry.pCategory->Check() != nullptr) {
                entry.pCategory->Check()->ResetTally();
            }
        }
    }

    if (m_pCookies != nullptr) {
        bResult &= RunCategory(m_pCookies.Task(), L"m_pCookies", L"Notify of m_pCookies start");
        RecreateCookies();
    }
    if (m_pJavaFiles != nullptr) {
        bResult &= RunCategory(m_pJavaFiles.Task(), L"m_pJavaFiles", L"Notify of m_pJavaFiles start");
    }
    if (m_pFlashSharedObjects != nullptr) {
        bResult &= RunCategory(m_pFlashSharedObjects.Task(), L"m_pFlashSharedObjects",
                               L"CCleanupManager::RunBackgroundTask() - Notify of m_pFlashSharedObjects start");
    }
    if (m_pTempInternetFiles != nullptr && m_pTempInternetFiles->IsBackgroundTaskRunning()) {
        m_pTempInternetFiles->StopBackgroundTask(0);
    }
    if (m_pHistory != nullptr) {
        bResult &= RunCategory(m_pHistory.Task(), L"m_pHistory", L"Notify of m_pHistory start");
    }
    if (m_pTempInternetFiles != nullptr) {
        bResult &= RunCategory(m_pTempInternetFiles.Task(), L"m_pTempInternetFiles",
                               L"Notify of m_pTempInternetFiles start");
    }
    bResult &= CheckStores();

    LOG_MESSAGE(L"End CCleanupManager::RunBackgroundTask()");
    return bResult;
}

std::vector<CCleanupManager::CCategoryEntry> CCleanupManager::Categories() const
{
    return {
        {&m_pCookies, L"m_pCookies", CCleanupOutcome::kCookies},
        {&m_pJavaFiles, L"m_pJavaFiles", CCleanupOutcome::kJavaFiles},
        {&m_pFlashSharedObjects, L"m_pFlashSharedObjects", CCleanupOutcome::kFlashSharedObjects},
        {&m_pHistory, L"m_pHistory", CCleanupOutcome::kHistory},
        {&m_pTempInternetFiles, L"m_pTempInternetFiles", CCleanupOutcome::kTempInternetFiles},
    };
}

void CCleanupManager::CheckAll(CStoreFindings (&findings)[CCleanupOutcome::kCategoryCount], const wchar_t* pszRound)
{
    for (const CCategoryEntry& entry : Categories()) {
        CStoreCheck* pCheck = entry.pCategory->Check();
        CStoreFindings& found = findings[entry.category];
        found = CStoreFindings();
        if (pCheck == nullptr) {
            continue;
        }
        try {
            found = pCheck->CheckStore();
        } catch (const CException& e) {
            // A store that cannot be read cannot be vouched for.
            LOG_EXCEPTION(e, L"%s check: the store could not be read", entry.pszFieldName);
            found.residue.push_back(L"(the store could not be read)");
        }
        for (const CString& strItem : found.residue) {
            LOG_MESSAGE(L"%s check (%s): left of the session: %s", entry.pszFieldName, pszRound, strItem.GetString());
        }
        for (const CString& strItem : found.loss) {
            LOG_MESSAGE(L"%s check (%s): missing since the start: %s", entry.pszFieldName, pszRound,
                        strItem.GetString());
        }
        for (const CString& strItem : found.lossBeyondRestore) {
            LOG_MESSAGE(L"%s check (%s): gone since the start, nothing to restore it from: %s", entry.pszFieldName,
                        pszRound, strItem.GetString());
        }
    }
}

// The stores are shared with other programs and with the platform's own
// code, which may write while the cleaners run (another process setting a
// cookie, the cache's own scavenging, a file another program holds open):
// a cleaner's result says what it did, not what the store now holds.
BOOL CCleanupManager::CheckStores()
{
    LOG_MESSAGE(L"CCleanupManager::CheckStores() start");
    CStoreFindings findings[CCleanupOutcome::kCategoryCount];
    CheckAll(findings, L"first");
    bool bRepaired = false;
    for (const CCategoryEntry& entry : Categories()) {
        const CStoreFindings& found = findings[entry.category];
        if (!found.NeedsRepair()) {
            continue;
        }
        bRepaired = true;
        if (!found.residue.empty()) {
            (void)RunOnce(entry.pCategory->Task(), entry.pszFieldName);
        }
        // A second removal takes the user's cookies with it; a loss is
        // put back by the store's own restore.
        try {
            entry.pCategory->Check()->RestoreLost();
        } catch (const CException& e) {
            LOG_EXCEPTION(e, L"%s restore threw", entry.pszFieldName);
        }
    }
    if (bRepaired) {
        CheckAll(findings, L"second");
    }
    m_outcome = CCleanupOutcome();
    for (const CCategoryEntry& entry : Categories()) {
        if (CStoreCheck* pCheck = entry.pCategory->Check()) {
            m_outcome.tallies[entry.category] = pCheck->GetTally();
            m_outcome.bCounted[entry.category] = true;
        }
        m_outcome.nResidue += static_cast<int>(findings[entry.category].residue.size());
        m_outcome.nLoss += static_cast<int>(findings[entry.category].loss.size());
    }
    const BOOL bClean = m_outcome.nResidue == 0 && m_outcome.nLoss == 0;
    LOG_MESSAGE(L"CCleanupManager::CheckStores() end: %d items of the session left, %d of the user's missing",
                m_outcome.nResidue, m_outcome.nLoss);
    return bClean;
}

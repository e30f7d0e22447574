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

BOOL CCleanupManager::RunCategory(CBackgroundTask* pCleaner, const wchar_t* pszFieldName, const wchar_t* pszNotice)
{
    LOG_MESSAGE(L"%s", pszNotice);
    // A cleaner still busy on a worker of its own is asked to stop and
    // waited for, so that no two cleaners ever run at once.
    pCleaner->StopBackgroundTask(0);

    BOOL bResult = FALSE;
    for (int attempt = 0; attempt < kAttempts && !bResult; ++attempt) {
        LOG_MESSAGE(L"%s->RunBackgroundTask() start", pszFieldName);
        pCleaner->SetDeleter(m_pManagerDeleter);
        try {
            bResult = pCleaner->RunBackgroundTask();
        } catch (const CException& e) {
            LOG_EXCEPTION(e, L"%s->RunBackgroundTask() threw", pszFieldName);
            bResult = FALSE;
        } catch (const std::exception& e) {
            LOG_MESSAGE(L"%s->RunBackgroundTask() threw %S", pszFieldName, e.what());
            bResult = FALSE;
        }
        LOG_MESSAGE(L"%s->RunBackgroundTask() end", pszFieldName);
    }
    LOG_MESSAGE(bResult ? L"%s->RunBackgroundTask() result = true" : L"%s->RunBackgroundTask() result = false",
                pszFieldName);
    return bResult;
}

BOOL CCleanupManager::RunBackgroundTask()
{
    BOOL bResult = TRUE;
    LOG_MESSAGE(L"Start CCleanupManager::RunBackgroundTask()");

    if (m_pCookies != nullptr) {
        bResult &= RunCategory(m_pCookies.Task(), L"m_pCookies", L"Notify of m_pCookies start");
        // Put the pre-session cookies back whether or not the removal
        // succeeded; a failure here is the cookie cleaner's to log.
        try {
            m_pCookies.Restorer()->RecreateCookies();
        } catch (const CException& e) {
            LOG_EXCEPTION(e, L"m_pCookies->RecreateCookies() threw");
        }
    }
    if (m_pJavaFiles != nullptr) {
        bResult &= RunCategory(m_pJavaFiles, L"m_pJavaFiles", L"Notify of m_pJavaFiles start");
    }
    if (m_pFlashSharedObjects != nullptr) {
        bResult &= RunCategory(m_pFlashSharedObjects, L"m_pFlashSharedObjects",
                               L"CCleanupManager::RunBackgroundTask() - Notify of m_pFlashSharedObjects start");
    }
    if (m_pTempInternetFiles != nullptr && m_pTempInternetFiles->IsBackgroundTaskRunning()) {
        m_pTempInternetFiles->StopBackgroundTask(0);
    }
    if (m_pHistory != nullptr) {
        bResult &= RunCategory(m_pHistory, L"m_pHistory", L"Notify of m_pHistory start");
    }
    if (m_pTempInternetFiles != nullptr) {
        bResult &= RunCategory(m_pTempInternetFiles, L"m_pTempInternetFiles", L"Notify of m_pTempInternetFiles start");
    }

    LOG_MESSAGE(L"End CCleanupManager::RunBackgroundTask()");
    return bResult;
}

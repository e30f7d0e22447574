#pragma once

#include "cleanup/BackgroundTask.h"
#include "cleanup/CookieRestorer.h"

// Wipes one session on its worker thread: runs the category cleaners one
// after another (cookies, Java cache, Flash shared objects, history,
// Temporary Internet Files), each up to four times until it succeeds, and
// puts the pre-session cookies back after the cookie category.
class CCleanupManager : public CBackgroundTask {
public:
    explicit CCleanupManager(CDeleter* pDeleter);
    ~CCleanupManager() override;

    BOOL RunBackgroundTask() override;

    // Set by the owner before the start; any may stay null. Not owned.
    CCookieCategory m_pCookies;
    CBackgroundTask* m_pTempInternetFiles = nullptr;
    CBackgroundTask* m_pFlashSharedObjects = nullptr;
    CBackgroundTask* m_pJavaFiles = nullptr;
    CBackgroundTask* m_pHistory = nullptr;

private:
    // Runs one category: ends its own worker, then up to four direct runs.
    BOOL RunCategory(CBackgroundTask* pCleaner, const wchar_t* pszFieldName, const wchar_t* pszNotice);

    CDeleter* m_pManagerDeleter;
};

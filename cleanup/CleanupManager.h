#pragma once

#include "cleanup/BackgroundTask.h"
#include "cleanup/CookieRestorer.h"
#include "cleanup/StoreCheck.h"

#include <vector>

// What a finished clean-up did and left, for the clean-up dialog. Kept in
// memory only.
struct CCleanupOutcome {
    enum Category { kCookies, kJavaFiles, kFlashSharedObjects, kHistory, kTempInternetFiles, kCategoryCount };

    // What each category's cleaner did, for those that count it.
    CStoreTally tallies[kCategoryCount];
    bool bCounted[kCategoryCount] = {};
    // What the last check still found: the clean-up failed when either is
    // not 0.
    int nResidue = 0;
    int nLoss = 0;
};

// Wipes one session on its worker thread: runs the category cleaners one
// after another (cookies, Java cache, Flash shared objects, history,
// Temporary Internet Files), each up to four times until it succeeds, and
// puts the pre-session cookies back after the cookie category. Then every
// cleaner that offers a check looks at its store afresh; what is left of
// the session runs that cleaner once more, what is missing of the user's
// runs the store's restore once more, and a second check decides.
class CCleanupManager : public CBackgroundTask {
public:
    explicit CCleanupManager(CDeleter* pDeleter);
    ~CCleanupManager() override;

    BOOL RunBackgroundTask() override;

    // Once the task has ended.
    const CCleanupOutcome& GetOutcome() const { return m_outcome; }

    // Set by the owner before the start; any may stay null. Not owned.
    CCookieCategory m_pCookies;
    CCleanerCategory m_pTempInternetFiles;
    CCleanerCategory m_pFlashSharedObjects;
    CCleanerCategory m_pJavaFiles;
    CCleanerCategory m_pHistory;

private:
    struct CCategoryEntry {
        const CCleanerCategory* pCategory;
        const wchar_t* pszFieldName;
        CCleanupOutcome::Category category;
    };

    // Runs one category: ends its own worker, then up to four direct runs.
    BOOL RunCategory(CBackgroundTask* pCleaner, const wchar_t* pszFieldName, const wchar_t* pszNotice);
    // One direct run of a cleaner; FALSE when it failed or threw.
    BOOL RunOnce(CBackgroundTask* pCleaner, const wchar_t* pszFieldName);
    void RecreateCookies();
    // Check, repair, check again; FALSE when the second check still finds
    // residue or a loss the store could restore.
    BOOL CheckStores();
    // Looks at every store with a check; logs what each found.
    void CheckAll(CStoreFindings (&findings)[CCleanupOutcome::kCategoryCount], const wchar_t* pszRound);
    // The categories in the order the manager runs them.
    std::vector<CCategoryEntry> Categories() const;

    CDeleter* m_pManagerDeleter;
    int m_nRuns = 0;
    CCleanupOutcome m_outcome;
};

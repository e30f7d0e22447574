#pragma once

#include "cleanup/StoreCheck.h"
#include "framework/FileTime.h"
#include "framework/String.h"
#include "stores/CacheReader.h"

// Removes what a browsing session added to the Temporary Internet Files:
// cache entries last used and files written at or after the session's
// start, through the URL cache, then the cache folder, then the cache's
// index file.
class CTempInternetFiles : public CCacheReader, public CStoreCheck {
public:
    CTempInternetFiles();
    ~CTempInternetFiles() override;

    // The session start; until it is set every entry and file qualifies.
    // Entries and files are compared with it at the platform's precision.
    void SetStartTime(CFileTime timeStart) { m_timeStart = timeStart; }
    CFileTime GetStartTime() const { return m_timeStart; }

    BOOL GetResult() override;
    BOOL RunBackgroundTask() override;

    // Residue: the session's entries the cache index still holds, live or
    // deleted but readable, and the session's files in the cache folder.
    // The index is read through the parser: a walk of the URL cache costs
    // ~370 us an entry under Wine, a parse of the whole index a few ms.
    CStoreFindings CheckStore() override;

    // The rule of what in the URL cache is the session's: a cache entry last
    // used from the session start on, except the upgrade download, which
    // stays.
    static bool IsSessionEntry(const CString& strUrl, CFileTime timeLastAccess, CFileTime timeStart);

protected:
    BOOL ProcessEntry(const INTERNET_CACHE_ENTRY_INFOW& entry) override;

private:
    // Deletes the session's files below the cache folder (those written
    // from the session start on); FALSE when one could not be deleted or
    // the run was interrupted.
    BOOL DeleteSessionFiles();
    // Deletes every upgrade program left in the cache folder, whatever its
    // time; never fails the task.
    void DeleteUpgradeFiles();
    // One listed file of the cache folder: files the cache keeps and the
    // upgrade program (whose result is ignored) never fail; FALSE only when
    // another file could not be deleted.
    [[nodiscard]] BOOL DeleteListedFile(const CString& strPath);

    CString m_strCacheFolder;
    CFileTime m_timeStart;
};

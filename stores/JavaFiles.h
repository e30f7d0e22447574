#pragma once

#include <windows.h>

#include <vector>

#include "cleanup/BackgroundTask.h"
#include "cleanup/StoreCheck.h"
#include "framework/String.h"
#include "framework/StringSet.h"
#include "stores/StoreFolder.h"

// The Java plug-in's deployment cache: the files present when the session
// began are recorded; at the clean-up every other file of the cache is
// deleted, with the folders that leaves empty (never the cache folder).
// The cache is "Sun\Java\Deployment\cache" in the application data, unless
// the deployment folder's "deployment.properties" moves it.
class CJavaFiles : public CBackgroundTask, public CStoreCheck {
public:
    // The cache of the platform's application-data folder.
    CJavaFiles();
    // The cache of another application-data folder; an empty one means the
    // platform gave none.
    explicit CJavaFiles(const CString& strAppDataFolder);
    ~CJavaFiles() override;

    // The result of the last run; logs "Java cleanup failed" when FALSE.
    BOOL GetResult() override;
    // The clean-up. FALSE when a file or an emptied folder could not be
    // removed, or on an abort.
    BOOL RunBackgroundTask() override;

    // Residue: files of the cache the start set lacks. Loss: files of the
    // start set that are gone; nothing was kept to bring them back.
    CStoreFindings CheckStore() override;

    // Records every file of the cache. FALSE when there is no cache folder.
    [[nodiscard]] BOOL SnapshotCache();

    const CString& GetCacheFolder() const { return m_cache.GetRoot(); }
    // The files present at the start; the recovery file writes and reloads it.
    CStringSet& GetStartSet() { return m_startSet; }

    // The cache folder that the properties text names for the deployment
    // folder (which ends in a backslash), or strDefault when it names no
    // usable one. A later setting wins over an earlier one.
    static CString CacheFolderFromProperties(const std::string& properties, const CString& strDeploymentFolder,
                                             const CString& strDefault);

private:
    // Every file below the cache folder, in the finder's order.
    std::vector<CString> ListCacheFiles() const;
    static CString FindCacheFolder(const CString& strAppDataFolder);

    CStringSet m_startSet;
    CStoreFolder m_cache;
};

#pragma once

#include <windows.h>

#include <vector>

#include "cleanup/BackgroundTask.h"
#include "cleanup/StoreCheck.h"
#include "framework/String.h"
#include "framework/StringSet.h"
#include "stores/StoreFolder.h"

// The Flash player's shared objects (".sol" files below the application
// data's "Macromedia\Flash Player"): at the start of a session each one is
// copied, byte for byte and with its file times, to a backup beside it
// (".sol.bak"); at the clean-up the ones the session added are deleted with
// their ".sxx" companions and the folders they leave empty, and every
// recorded one is written back from its backup with its times.
class CFlashSharedObjects : public CBackgroundTask, public CStoreCheck {
public:
    // One file backed up at the start, with its times then.
    struct CBackupRecord {
        CString strPath;
        FILETIME ftCreation = {};
        FILETIME ftLastAccess = {};
        FILETIME ftLastWrite = {};
    };

    // The store below the platform's application-data folder.
    CFlashSharedObjects();
    // The store below another application-data folder; an empty one means
    // the platform gave none.
    explicit CFlashSharedObjects(const CString& strAppDataFolder);
    ~CFlashSharedObjects() override;

    // The result of the last run; logs "Flash cleanup failed" when FALSE.
    BOOL GetResult() override;
    // The clean-up. FALSE when a new file or an emptied folder could not be
    // removed, or on an abort; the restore runs in every case.
    BOOL RunBackgroundTask() override;

    // Residue: shared objects the start set lacks. Loss: recorded objects
    // that are gone, restorable while their backup is still there.
    CStoreFindings CheckStore() override;
    // Writes back every recorded object whose backup is still there.
    void RestoreLost() override;

    // Records every ".sol" file and backs it up; with bFromBackups, records
    // the ".sol.bak" backups an interrupted session left instead. FALSE
    // when there is no store root.
    [[nodiscard]] BOOL SnapshotSharedObjects(BOOL bFromBackups);
    // Records the file's times and copies it whole to its backup.
    void BackupSharedObject(const CString& strPath);
    // Writes the file (or, for a path ending in ".sol.bak", the file it
    // backs up) back from its backup, with its times, and deletes the
    // backup once the copy is complete. TRUE when it wrote the file back.
    BOOL RestoreSharedObject(const CString& strPath);
    // Sets the record's times on a file or folder; zero times and failures
    // leave the times as they are.
    static void SetFileTimes(const CString& strPath, const CBackupRecord& record, BOOL bCreationTime = TRUE);

    const CString& GetStoreRoot() const { return m_store.GetRoot(); }
    // The paths recorded at the start; the recovery file writes and
    // reloads it.
    CStringSet& GetStartSet() { return m_startSet; }
    const std::vector<CString>& GetRestoreList() const { return m_restoreList; }
    const std::vector<CBackupRecord>& GetBackupRecords() const { return m_backupRecords; }

private:
    // Every shared object (".sol", not a name whose short form merely
    // matches) below the store root, in the finder's order.
    std::vector<CString> ListSharedObjects() const;
    // The object a recorded path stands for (a recovered ".sol.bak" path
    // names the file it was made from), and its backup.
    static CString TargetOf(const CString& strRecorded);
    const CBackupRecord* FindRecord(const CString& strPath) const;

    CStoreFolder m_store;
    CStringSet m_startSet;
    std::vector<CString> m_restoreList;
    std::vector<CBackupRecord> m_backupRecords;
};

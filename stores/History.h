#pragma once

#include <windows.h>

#include "cleanup/BackgroundTask.h"
#include "cleanup/StoreCheck.h"
#include "framework/StringSet.h"

// The history category: keeps the URLs that the history stores held when
// the browsing session began and erases every other history record at the
// clean-up (through CHistoryIndexDat).
class CHistory : public CBackgroundTask, public CStoreCheck {
public:
    CHistory() = default;
    ~CHistory() override;

    // The result of the last run; logs "History cleanup failed" when FALSE.
    BOOL GetResult() override;
    // The clean-up: erases what the snapshot lacks in every history store.
    // FALSE only when reading a store failed.
    BOOL RunBackgroundTask() override;

    // Residue: the records the clean-up would erase. Loss: snapshot URLs no
    // live record holds any more, which nothing can bring back.
    CStoreFindings CheckStore() override;

    // Takes the snapshot when a browsing session begins. TRUE.
    BOOL ReadHistory();

    // The URLs present at the start; the recovery file writes and reloads it.
    CStringSet& GetSnapshot() { return m_snapshot; }
    // The stores the snapshot could not read, which the clean-up leaves
    // alone; the recovery file carries them too.
    CStringSet& GetUnscannedFiles() { return m_unscannedFiles; }

private:
    CStringSet m_snapshot;
    // Stores that could not be read when the snapshot was taken: what they
    // held is unknown, so the clean-up leaves them as they are.
    CStringSet m_unscannedFiles;
};

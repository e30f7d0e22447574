#pragma once

#include <windows.h>

#include <cstddef>
#include <type_traits>
#include <vector>

#include "framework/String.h"

class CBackgroundTask;

// What one look at a store found after its cleaner ran.
struct CStoreFindings {
    // The session's traces still there, or still readable in an index file.
    std::vector<CString> residue;
    // What the store held at the start, is gone, and the store's restore can
    // bring back.
    std::vector<CString> loss;
    // What the store held at the start and is gone for good (nothing was
    // kept to bring it back from): logged, never retried.
    std::vector<CString> lossBeyondRestore;

    bool NeedsRepair() const { return !residue.empty() || !loss.empty(); }
};

// What a cleaner did over one clean-up.
struct CStoreTally {
    int nRemoved = 0;
    int nRestored = 0;
    // Records erased from index files by the store's own edit of them.
    int nIndexRecordsErased = 0;
};

// A cleaner's check of its own work, by its own rule of what belongs to the
// session. The cleaners live in the stores, above this room: the manager
// knows each as a task to run and, through this, as a store to look at.
class CStoreCheck {
public:
    // Reads the store afresh and holds it against the cleaner's snapshot
    // and the session start. Only reads.
    virtual CStoreFindings CheckStore() = 0;
    // Puts back once more what the store held at the start (the store's own
    // restore); stores without one do nothing.
    virtual void RestoreLost() {}

    const CStoreTally& GetTally() const { return m_tally; }
    void ResetTally() { m_tally = CStoreTally(); }

protected:
    ~CStoreCheck() = default;

    CStoreTally m_tally;
};

// A cleaner as the manager holds it: the task and, when the cleaner offers
// one, its check, both taken from one object.
class CCleanerCategory {
public:
    CCleanerCategory() = default;
    CCleanerCategory(std::nullptr_t) {}
    template <class TCleaner>
    CCleanerCategory(TCleaner* pCleaner) : m_pTask(pCleaner)
    {
        if constexpr (std::is_base_of_v<CStoreCheck, TCleaner>) {
            m_pCheck = pCleaner;
        }
    }

    CBackgroundTask* Task() const { return m_pTask; }
    CBackgroundTask* operator->() const { return m_pTask; }
    CStoreCheck* Check() const { return m_pCheck; }

    friend bool operator==(const CCleanerCategory& category, std::nullptr_t) { return category.m_pTask == nullptr; }

private:
    CBackgroundTask* m_pTask = nullptr;
    CStoreCheck* m_pCheck = nullptr;
};

#pragma once

#include <windows.h>

#include <vector>

#include "cleanup/CookieRestorer.h"
#include "cleanup/StoreCheck.h"
#include "framework/Handles.h"
#include "framework/String.h"
#include "framework/StringSet.h"
#include "stores/CacheReader.h"

class CCookieRecord;

// Keeps a session's cookies apart from the user's: at the session start
// every cookie is read into a snapshot and then removed; at the clean-up
// every cookie is removed again and the snapshot is set back.
class CCookies : public CCacheReader, public CCookieRestorer, public CStoreCheck {
public:
    using InternetSetCookieExFn = DWORD(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR, DWORD, DWORD_PTR);
    using IESetProtectedModeCookieFn = HRESULT(WINAPI*)(LPCWSTR, LPCWSTR, LPCWSTR, DWORD);

    CCookies();
    ~CCookies() override;

    // Adds every cookie of the cookie files the URL cache names to the
    // snapshot (which is not emptied first).
    [[nodiscard]] BOOL ReadCookies();
    // The start-up removal, on a worker of the task's own.
    BOOL StartRemoval(CDeleter* pDeleter);

    BOOL GetResult() override;
    BOOL RunBackgroundTask() override;
    [[nodiscard]] BOOL removeCookies();
    // Sets every cookie of the snapshot again; the snapshot stays.
    BOOL RecreateCookies() override;

    // Residue: cookies of the jar that the snapshot lacks, cookie entries
    // and deleted-but-readable index records of hosts and paths no snapshot
    // cookie has. Loss: snapshot cookies the jar lacks, unless expired
    // (beyond restore when the platform refused to set them again).
    CStoreFindings CheckStore() override;
    void RestoreLost() override { (void)RecreateCookies(); }

    // The snapshot, as the recovery file writes and reloads it.
    CStringSet& GetSnapshot() { return m_snapshot; }
    const CStringSet& GetSnapshot() const { return m_snapshot; }

protected:
    BOOL ProcessEntry(const INTERNET_CACHE_ENTRY_INFOW& entry) override;

    // Looked up at construction; null when the library or the function is
    // missing. Tests put their own functions here.
    InternetSetCookieExFn pfInternetSetCookieEx = nullptr;
    IESetProtectedModeCookieFn pfIESetProtectedModeCookie = nullptr;

private:
    // What a check gathers while it walks the jar.
    struct CCheckWalk {
        CStoreFindings& findings;
        CStringSet hostPaths;  // of the snapshot's cookies
        CStringSet present;    // keys of the cookies found
    };

    // Adds the keys of every cookie of the file to the set.
    void ReadCookieFile(const CString& strPath, CStringSet& keys);
    // Every file below the cookies folder, in the finder's order.
    std::vector<CString> ListCookieFiles() const;
    CStringSet SnapshotHostPaths() const;
    // Remembers the cookies of a file about to be removed.
    void NoteRemovedCookies(const CString& strPath);
    // Ends, in this process's cookie jar, the removed cookies that share a
    // host and path with a snapshot cookie.
    void ExpireRemovedCookiesInMemory();
    BOOL DeleteCookieFiles();
    BOOL RecreateCookie(const CCookieRecord& record);

    CStringSet m_snapshot;
    CString m_strCookiesFolder;
    BOOL m_bCollect = FALSE;
    CStringSet m_filesRead;
    // "host/path\nname\nflags" of every cookie removed since the last
    // recreation.
    CStringSet m_removedCookies;
    // Snapshot cookies the platform refused to set again.
    CStringSet m_refusedKeys;
    CCheckWalk* m_pCheckWalk = nullptr;
    CLibrary m_hWininet;
    CLibrary m_hIeframe;
};

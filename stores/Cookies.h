#pragma once

#include <windows.h>

#include "cleanup/CookieRestorer.h"
#include "framework/Handles.h"
#include "framework/String.h"
#include "framework/StringSet.h"
#include "stores/CacheReader.h"

class CCookieRecord;

// Keeps a session's cookies apart from the user's: at the session start
// every cookie is read into a snapshot and then removed; at the clean-up
// every cookie is removed again and the snapshot is set back.
class CCookies : public CCacheReader, public CCookieRestorer {
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
    void ReadCookieFile(const CString& strPath);
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
    CLibrary m_hWininet;
    CLibrary m_hIeframe;
};

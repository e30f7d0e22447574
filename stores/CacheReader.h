#pragma once

#include <windows.h>
#include <wininet.h>

#include "cleanup/BackgroundTask.h"
#include "framework/String.h"

// A background task that walks every entry of the platform's URL cache
// (the Temporary Internet Files, cookie and history entries alike) and
// hands each one to its subclass.
class CCacheReader : public CBackgroundTask {
public:
    // TRUE when every ProcessEntry returned TRUE and the walk reached its
    // end; FALSE after an interruption or an enumeration failure.
    [[nodiscard]] BOOL IterateEntries();
    // The same walk over the entries whose URL begins with the pattern
    // (case-sensitive under Wine: "Cookie:", "Visited:").
    [[nodiscard]] BOOL IterateEntries(const wchar_t* pszSearchPattern);

    // Deletes the entry's local file through the deleter (may be null) and
    // then the cache entry. A file the deleter leaves in place on purpose
    // keeps its entry and counts as removed.
    [[nodiscard]] static BOOL RemoveEntry(const CString& strLocalFile, const CString& strUrl, CDeleter* pDeleter);

    // The fallback when the URL cache reports an internal error: edits the
    // cookie and Temporary Internet Files index files directly.
    virtual void CleanIndexDatFiles();

protected:
    // Called once per cache entry, in the platform's order.
    virtual BOOL ProcessEntry(const INTERNET_CACHE_ENTRY_INFOW& entry) = 0;

    // The platform's enumeration; tests replace it to drive the walk's
    // error handling.
    virtual HANDLE FindFirstEntry(INTERNET_CACHE_ENTRY_INFOW* pEntry, DWORD* pdwSize);
    virtual BOOL FindNextEntry(HANDLE hFind, INTERNET_CACHE_ENTRY_INFOW* pEntry, DWORD* pdwSize);
    virtual void CloseFind(HANDLE hFind);

private:
    // Of the walk under way; null for every entry.
    const wchar_t* m_pszSearchPattern = nullptr;
};

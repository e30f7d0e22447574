#pragma once

#include <windows.h>

#include "framework/FileTime.h"
#include "framework/String.h"
#include "framework/Time.h"

// What one file search looks for. A caller resets the record, sets the base
// folder and whatever filters it needs, and hands it to CFileFinder.
struct CFileFinderOptions {
    // Filter flags: each set flag adds one test an entry must pass. The
    // finder applies them in the order attributes, size, last-write,
    // creation, last-access, text.
    enum Filter : DWORD {
        kFilterSize = 1,        // m_nMinSize <= length <= m_nMaxSize
        kFilterLastWrite = 2,   // m_timeLastWriteFrom <= last write <= m_timeLastWriteTo
        kFilterCreation = 4,    // m_timeCreationFrom <= creation <= m_timeCreationTo
        kFilterLastAccess = 8,  // m_timeLastAccessFrom <= last access <= m_timeLastAccessTo
        kFilterAttributes = 16, // attributes & m_dwAttributes != 0
        kFilterText = 32,       // the content contains m_strText, ignoring case
    };

    // Read-only, hidden, system, archive, normal, temporary, compressed:
    // lets every file through and no folder.
    static constexpr DWORD kFilesOnly = 0x9A7;
    // The same with the directory bit: folders are listed too.
    static constexpr DWORD kFilesAndFolders = 0x9B7;

    CFileFinderOptions() { Reset(); }

    // Mask "*.*", no filters, every time range set to the current time.
    void Reset();

    CString m_strBaseFolder;
    CString m_strMask;
    CString m_strText;
    BOOL m_bRecursive = FALSE;
    DWORD m_dwFilters = 0;
    ULONGLONG m_nMinSize = 0;
    ULONGLONG m_nMaxSize = 0;
    CTime m_timeCreationFrom;
    CTime m_timeCreationTo;
    CTime m_timeLastWriteFrom;
    CTime m_timeLastWriteTo;
    // When set, the last-write filter's lower bound at the platform's
    // precision as well: a file written earlier in the bound's own second
    // does not pass.
    CFileTime m_preciseLastWriteFrom;
    CTime m_timeLastAccessFrom;
    CTime m_timeLastAccessTo;
    DWORD m_dwAttributes = 0;
};

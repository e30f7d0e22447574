#pragma once

#include <windows.h>

#include <array>
#include <vector>

#include "framework/CriticalSection.h"
#include "framework/File.h"
#include "framework/FileTime.h"
#include "framework/String.h"
#include "stores/IndexDatLayout.h"
#include "stores/IndexDatReader.h"

// Edits one index.dat store in place, beside the cache's own code that may
// have the same file open: walks its records from the first hash table to
// the end of the file, hands every live "URL ", "LEAK" and "REDR" record to
// the subclass, and overwrites with zeros the records the subclass erases.
// Nothing is ever moved, and the file's length never changes.
//
// Use: OpenFile, IterateEntries, CloseFile, once per file.
class CIndexDatParser {
public:
    virtual ~CIndexDatParser() = default;
    CIndexDatParser(const CIndexDatParser&) = delete;
    CIndexDatParser& operator=(const CIndexDatParser&) = delete;

    // Opens the file for reading and writing, sharing both with every other
    // process. A failure is logged and makes the next scan return FALSE.
    void OpenFile(const CString& strPath);
    // Hands every live record to ProcessEntry and returns the AND of their
    // results (TRUE when there was none). With bScrub, released records
    // and blocks of unknown type are zeroed too. FALSE without touching
    // anything when no file is open or the file has no hash table where its
    // header says. Read errors throw CFileException to the caller.
    [[nodiscard]] BOOL IterateEntries(BOOL bScrub);
    // Overwrites the range with zeros, in pieces of at most one block,
    // under a byte-range lock. The part past the end of the file is left
    // out. A failure is logged and swallowed.
    void RemoveEntry(DWORD dwOffset, DWORD dwLength);
    // Closes the file; a later scan fails when it reads.
    void CloseFile();

    BOOL IsFileOpen() const { return m_bOpen; }
    // Records erased through EraseRecord since construction.
    int GetErasedCount() const { return m_nErased; }

protected:
    // dwWindowSize: the read window, at most 64 KiB; tests shrink it.
    explicit CIndexDatParser(DWORD dwWindowSize = CIndexDatReader::kMaxWindowSize);

    // Called once per live record, in file order. For "URL " and "LEAK"
    // records the local path is relative to the store's folder (directory
    // prefix and file name) or empty; for "REDR" records both strings are
    // empty and the time is zero. dwSize is the record's size as far as it
    // lies inside the file and, for a record the cache has deleted (see
    // IsBlockAllocated), as far as its blocks are still free. Erase the
    // record with EraseRecord, which keeps the URL cache's index sound.
    virtual BOOL ProcessEntry(DWORD dwType, DWORD dwOffset, DWORD dwSize, CString strUrl, CString strLocalPath,
                              CFileTime timeLastAccess) = 0;

    // During a scan: whether the store's allocation bitmap marks the block
    // at dwOffset in use. The URL cache frees a deleted entry's blocks and
    // leaves its bytes, so a record can read as live and be free. A store
    // whose bitmap does not mark its own first hash table in use (damaged,
    // or made by hand) is taken to have every block in use.
    bool IsBlockAllocated(DWORD dwOffset) const;
    // During a scan: erases a record handed to ProcessEntry so that the URL
    // cache's own index stays sound, and returns whether it was erased. A
    // "URL " record the cache still indexes is deleted through the cache
    // first: zeroed alone, it would leave its hash slot pointing at zeros,
    // and the cache could then neither find nor delete that URL when it is
    // recorded again. Records the cache no longer indexes (freed by it,
    // "LEAK", "REDR") are zeroed at once, without asking it. A record is kept
    // when the cache holds its entry locked, or when another entry has
    // taken its blocks meanwhile.
    [[nodiscard]] BOOL EraseRecord(DWORD dwType, DWORD dwOffset, DWORD dwSize, const CString& strUrl);
    // The URL cache's own deletion of an entry by its key; TRUE when the
    // cache deleted it, else FALSE with the last error set. Tests replace it.
    virtual BOOL DeleteCacheEntry(const CString& strUrl);

private:
    // What a scan found wrong in records it still handled; logged at its end.
    struct CScanFindings {
        DWORD dwUnknownDirectory = 0;
        DWORD dwNameOutsideRecord = 0;
        DWORD dwUnusableName = 0;
        DWORD dwTrailingBytes = 0;
    };

    std::vector<CString> ReadDirectoryPrefixes(DWORD dwDirectoryCount);
    // Visits the record at ullPos and returns how far the scan moves on.
    ULONGLONG VisitRecord(ULONGLONG ullPos, BOOL bScrub, const std::vector<CString>& prefixes,
                          bool bHasDirectories, BOOL& bResult, CScanFindings& findings);
    CString ReadLocalPath(ULONGLONG ullPos, ULONGLONG ullSize, const std::vector<CString>& prefixes,
                          bool bHasDirectories, CScanFindings& findings);
    void LogFindings(const CScanFindings& findings) const;
    // Reads the allocation bitmap and decides whether it can be trusted.
    void ReadAllocationBitmap(ULONGLONG ullFirstHashTable);
    static bool IsBitSet(const std::vector<BYTE>& bitmap, DWORD dwOffset);
    // How many of the dwLength bytes from dwOffset lie in free blocks
    // before the first block in use.
    DWORD GetFreeLength(DWORD dwOffset, DWORD dwLength) const;

    CFile m_file;
    CCriticalSection m_cs;
    // The source of every write.
    const std::array<BYTE, IndexDat::kBlockSize> m_zeroBlock{};
    BOOL m_bOpen = FALSE;
    CIndexDatReader m_reader;
    bool m_bWritten = false;
    // The bitmap as the scan found it, and whether it is trusted.
    std::vector<BYTE> m_allocation;
    bool m_bBitmapTrusted = false;
    int m_nErased = 0;
};

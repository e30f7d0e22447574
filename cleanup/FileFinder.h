#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "cleanup/FileFinderOptions.h"
#include "framework/String.h"

// Lists the full paths of the files (and, if the attribute filter lets them
// through, folders) below a base folder that match a wildcard mask and pass
// the filters of a CFileFinderOptions. Every folder's matches follow those
// of all its subfolders. Used by one thread; StopSearch may come from any.
class CFileFinder {
public:
    // Codes handed to the notification callback.
    enum Notification : DWORD {
        kEntryAdded = 0,     // an entry passed every filter and was added
        kEntryRejected = 1,  // an entry failed a filter
        kFolderEntered = 2,  // GetSearchFolder() names the folder now searched
        kTextProgress = 3,   // every tenth read of the text filter
    };
    using Callback = void (*)(CFileFinder* pFinder, DWORD dwCode, void* pCallerValue);

    CFileFinder() = default;
    CFileFinder(const CFileFinder&) = delete;
    CFileFinder& operator=(const CFileFinder&) = delete;

    // Runs one search and returns the number of paths found. The results of
    // an earlier search on this finder are dropped first.
    int FindFiles(const CFileFinderOptions& options);
    // The files (no folders) below strFolder whose names match strMask.
    int ListFiles(const CString& strFolder, const CString& strMask, BOOL bRecursive);

    int GetFileCount() const { return static_cast<int>(m_results.size()); }
    // The path at that index, or an empty string for an index out of range.
    CString GetFilePath(int nIndex) const;
    const std::vector<CString>& GetFilePaths() const { return m_results; }

    void SetCallback(Callback pfnCallback, void* pCallerValue);
    // Ends the running search early; the paths found so far stay.
    void StopSearch() { m_bStop = true; }
    const CString& GetSearchFolder() const { return m_strSearchFolder; }

private:
    struct CSearch;

    void SearchFolder(const CString& strFolder, const CSearch& search);
    bool PassesFilters(const WIN32_FIND_DATAW& data, const CString& strPath, const CSearch& search);
    bool FileContainsText(const CString& strPath, const std::string& needle);
    void Notify(DWORD dwCode);

    std::vector<CString> m_results;
    std::atomic<bool> m_bStop{false};
    Callback m_pfnCallback = nullptr;
    void* m_pCallerValue = nullptr;
    CString m_strSearchFolder;
};

#pragma once

#include <windows.h>

#include "cleanup/MimeTypeMap.h"
#include "cleanup/OpenHandles.h"
#include "cleanup/RunningProcesses.h"
#include "cleanup/SecureDeleter.h"
#include "framework/String.h"

// The one way the program deletes a file. A missing file counts as deleted;
// a read-only one is made writable first; the delete is plain or secure.
// When it fails, the deleter can find out why (the program's own image, a
// running program's image, a file another program holds open) and decide
// whether the failure counts.
//
// DeleteFile is spelt as the platform's macro makes it: callers write
// DeleteFile and reach DeleteFileW like every other translation unit.
class CDeleter {
public:
    CDeleter(BOOL bSecureDelete, BOOL bCheckInUse, BOOL bIgnoreOwnOpenFiles);
    ~CDeleter();
    CDeleter(const CDeleter&) = delete;
    CDeleter& operator=(const CDeleter&) = delete;

    // TRUE when the file no longer needs deleting: deleted, missing, or left
    // in place because its failure is ignored (only then is *pbIgnored TRUE).
    [[nodiscard]] BOOL DeleteFile(LPCWSTR lpFileName, BOOL* pbIgnored = nullptr);

    // Removes an empty directory; the system call's result, nothing logged.
    static BOOL DeleteDirectory(LPCWSTR lpPathName);

    // Audio, video and document types that a player or viewer keeps open
    // for as long as it shows them; exact, case-sensitive.
    static bool IsMediaContentType(const CString& strContentType);
    // From the last dot of the file name on, dot included; empty when the
    // name has none.
    static CString GetExtension(const CString& strPath);

private:
    // After a failed delete: whether the failure counts, from what holds
    // the file.
    BOOL InvestigateFailure(const CString& strPath, BOOL& bIgnored);

    BOOL m_bSecureDelete;
    BOOL m_bCheckInUse;
    BOOL m_bIgnoreOwnOpenFiles;
    CString m_strOwnExecutable;
    CSecureDeleter m_secureDeleter;
    COpenHandles m_openHandles;
    CRunningProcesses m_runningProcesses;
    CMimeTypeMap m_mimeTypes;
};

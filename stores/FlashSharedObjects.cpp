#include "stores/FlashSharedObjects.h"

#include <shlobj.h>

#include <cstring>

#include "cleanup/Deleter.h"
#include "cleanup/FileFinder.h"
#include "framework/Handles.h"
#include "framework/Logger.h"

// Backups and restores copy the whole file through one 64 KiB buffer, so a
// shared object of any size comes back byte for byte, and every path goes
// to the platform as it is (wide): a name the ANSI code page cannot hold is
// backed up and restored like any other.

namespace {

constexpr wchar_t kSolExtension[] = L".sol";
constexpr wchar_t kSxxExtension[] = L".sxx";
constexpr wchar_t kBackupSuffix[] = L".bak";
constexpr DWORD kCopyPiece = 64 * 1024;

bool EndsWithNoCase(const CString& str, const wchar_t* pszSuffix)
{
    const int n = static_cast<int>(wcslen(pszSuffix));
    return str.GetLength() >= n && str.Right(n).CompareNoCase(pszSuffix) == 0;
}

bool IsFileTimeSet(const FILETIME& ft)
{
    return ft.dwLowDateTime != 0 || ft.dwHighDateTime != 0;
}

CString AppDataFolder()
{
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path))) {
        LOG_MESSAGE(L"CFlashSharedObjects: the application data folder is unknown");
        return CString();
    }
    return CString(path);
}

CString StoreRoot(const CString& strAppDataFolder)
{
    if (strAppDataFolder.IsEmpty()) {
        return CString();
    }
    return FormatString(L"%s%s", strAppDataFolder.GetString(), L"\\Macromedia\\Flash Player");
}

// The file's three times, read without opening it; false when it cannot
// be read (the times then stay zero).
bool ReadFileTimes(const CString& strPath, CFlashSharedObjects::CBackupRecord& record)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(strPath, GetFileExInfoStandard, &data)) {
        return false;
    }
    record.ftCreation = data.ftCreationTime;
    record.ftLastAccess = data.ftLastAccessTime;
    record.ftLastWrite = data.ftLastWriteTime;
    return true;
}

// Copies every byte of the source to the target, which is created or
// truncated. On failure the log says what failed; the target may then hold
// part of the source.
bool CopyWholeFile(const CString& strSource, const CString& strTarget)
{
    CHandle source(CreateFileW(strSource, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source) {
        LOG_ERROR(GetLastError(), L"CFlashSharedObjects: cannot open %s", strSource.GetString());
        return false;
    }
    CHandle target(CreateFileW(strTarget, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!target) {
        LOG_ERROR(GetLastError(), L"CFlashSharedObjects: cannot create %s", strTarget.GetString());
        return false;
    }
    std::vector<BYTE> buffer(kCopyPiece);
    for (;;) {
        DWORD nRead = 0;
        if (!ReadFile(source.get(), buffer.data(), kCopyPiece, &nRead, nullptr)) {
            LOG_ERROR(GetLastError(), L"CFlashSharedObjects: cannot read %s", strSource.GetString());
            return false;
        }
        if (nRead == 0) {
            return true;
        }
        DWORD nWritten = 0;
        if (!WriteFile(target.get(), buffer.data(), nRead, &nWritten, nullptr) || nWritten != nRead) {
            LOG_ERROR(GetLastError(), L"CFlashSharedObjects: cannot write %s", strTarget.GetString());
            return false;
        }
    }
}

// Whether both files hold the same bytes; false when either cannot be read.
bool HaveSameBytes(const CString& strFirst, const CString& strSecond)
{
    const DWORD dwShare = FILE_SHARE_READ | FILE_SHARE_WRITE;
    CHandle first(CreateFileW(strFirst, GENERIC_READ, dwShare, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    CHandle second(
        CreateFileW(strSecond, GENERIC_READ, dwShare, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER firstSize;
    LARGE_INTEGER secondSize;
    if (!first || !second || !GetFileSizeEx(first.get(), &firstSize) || !GetFileSizeEx(second.get(), &secondSize) ||
        firstSize.QuadPart != secondSize.QuadPart) {
        return false;
    }
    std::vector<BYTE> a(kCopyPiece);
    std::vector<BYTE> b(kCopyPiece);
    for (;;) {
        DWORD nA = 0;
        DWORD nB = 0;
        if (!ReadFile(first.get(), a.data(), kCopyPiece, &nA, nullptr) ||
            !ReadFile(second.get(), b.data(), kCopyPiece, &nB, nullptr) || nA != nB) {
            return false;
        }
        if (nA == 0) {
            return true;
        }
        if (memcmp(a.data(), b.data(), nA) != 0) {
            return false;
        }
    }
}

}  // namespace

CFlashSharedObjects::CFlashSharedObjects() : CFlashSharedObjects(AppDataFolder()) {}

CFlashSharedObjects::CFlashSharedObjects(const CString& strAppDataFolder) : m_store(StoreRoot(strAppDataFolder)) {}

CFlashSharedObjects::~CFlashSharedObjects()
{
    StopBackgroundTask(0);
}

BOOL CFlashSharedObjects::GetResult()
{
    const BOOL bResult = CBackgroundTask::GetResult();
    if (!bResult) {
        LOG_MESSAGE(L"Flash cleanup failed");
    }
    return bResult;
}

BOOL CFlashSharedObjects::SnapshotSharedObjects(BOOL bFromBackups)
{
    LOG_MESSAGE(L"CFlashSharedObjects::SnapshotSharedObjects(%s) start", bFromBackups ? L"TRUE" : L"FALSE");
    if (m_store.IsEmpty()) {
        LOG_MESSAGE(L"CFlashSharedObjects::SnapshotSharedObjects: no store folder");
        return FALSE;
    }
    m_startSet.RemoveAll();
    m_restoreList.clear();
    m_backupRecords.clear();
    // The masks also match names whose short (8.3) form fits them; only the
    // real extensions count.
    const CString strSuffix = bFromBackups ? CString(kSolExtension) + kBackupSuffix : CString(kSolExtension);
    CFileFinder finder;
    const int nCount = finder.ListFiles(m_store.GetRoot(), bFromBackups ? L"*.bak" : L"*.sol", TRUE);
    for (int i = 0; i < nCount; ++i) {
        const CString strPath = finder.GetFilePath(i);
        if (!EndsWithNoCase(strPath, strSuffix)) {
            continue;
        }
        m_startSet.Add(strPath);
        m_restoreList.push_back(strPath);
        if (!bFromBackups) {
            BackupSharedObject(strPath);
        }
    }
    LOG_MESSAGE(L"CFlashSharedObjects::SnapshotSharedObjects end, %d files", static_cast<int>(m_restoreList.size()));
    return TRUE;
}

void CFlashSharedObjects::BackupSharedObject(const CString& strPath)
{
    CBackupRecord record;
    record.strPath = strPath;
    if (!ReadFileTimes(strPath, record)) {
        LOG_ERROR(GetLastError(), L"CFlashSharedObjects: cannot read the times of %s", strPath.GetString());
    }
    m_backupRecords.push_back(record);

    const CString strBackup = strPath + kBackupSuffix;
    if (!CopyWholeFile(strPath, strBackup)) {
        // A cut backup would cut the file when it is written back: better
        // none, and the file keeps what the session makes of it.
        if (!DeleteFileW(strBackup) && GetLastError() != ERROR_FILE_NOT_FOUND) {
            LOG_ERROR(GetLastError(), L"CFlashSharedObjects: cannot remove the incomplete backup %s",
                      strBackup.GetString());
        }
        return;
    }
    SetFileTimes(strBackup, record);
}

CString CFlashSharedObjects::TargetOf(const CString& strRecorded)
{
    // Only a final ".sol.bak" is cut, whatever the folders are called.
    if (EndsWithNoCase(strRecorded, L".sol.bak")) {
        return strRecorded.Left(strRecorded.GetLength() - static_cast<int>(wcslen(kBackupSuffix)));
    }
    return strRecorded;
}

std::vector<CString> CFlashSharedObjects::ListSharedObjects() const
{
    std::vector<CString> paths;
    CFileFinder finder;
    if (!m_store.IsEmpty()) {
        finder.ListFiles(m_store.GetRoot(), L"*.sol", TRUE);
    }
    for (const CString& strPath : finder.GetFilePaths()) {
        if (EndsWithNoCase(strPath, kSolExtension)) {
            paths.push_back(strPath);
        }
    }
    return paths;
}

CStoreFindings CFlashSharedObjects::CheckStore()
{
    CStoreFindings findings;
    for (const CString& strPath : ListSharedObjects()) {
        if (!m_startSet.Contains(strPath)) {
            findings.residue.push_back(L"Flash shared object " + strPath);
        }
    }
    for (const CString& strRecorded : m_restoreList) {
        const CString strTarget = TargetOf(strRecorded);
        if (GetFileAttributesW(strTarget) != INVALID_FILE_ATTRIBUTES) {
            continue;
        }
        const bool bBackedUp = GetFileAttributesW(strTarget + kBackupSuffix) != INVALID_FILE_ATTRIBUTES;
        (bBackedUp ? findings.loss : findings.lossBeyondRestore).push_back(L"Flash shared object " + strTarget);
    }
    return findings;
}

void CFlashSharedObjects::RestoreLost()
{
    for (const CString& strRecorded : m_restoreList) {
        if (RestoreSharedObject(strRecorded)) {
            ++m_tally.nRestored;
        }
    }
}

const CFlashSharedObjects::CBackupRecord* CFlashSharedObjects::FindRecord(const CString& strPath) const
{
    for (const CBackupRecord& record : m_backupRecords) {
        if (record.strPath == strPath) {
            return &record;
        }
    }
    return nullptr;
}

BOOL CFlashSharedObjects::RestoreSharedObject(const CString& strPath)
{
    const CString strTarget = TargetOf(strPath);
    const CString strSource = strTarget + kBackupSuffix;
    if (GetFileAttributesW(strSource) == INVALID_FILE_ATTRIBUTES) {
        return FALSE;  // restored by an earlier attempt, or never backed up
    }
    // The backup carries the file's times from the start; a recovery start
    // has no records and takes them from there.
    CBackupRecord fromBackup;
    fromBackup.strPath = strTarget;
    const bool bBackupTimes = ReadFileTimes(strSource, fromBackup);

    // Most objects come out of a session as they went in. Writing one costs
    // ~2.7 ms under Wine against ~0.3 ms for reading both, so a file that
    // still holds its backup's bytes only gets its times back.
    if (!HaveSameBytes(strSource, strTarget) && !CopyWholeFile(strSource, strTarget)) {
        // The backup stays for the next attempt.
        LOG_MESSAGE(L"CFlashSharedObjects: %s was not restored", strTarget.GetString());
        return FALSE;
    }
    CBackupRecord record;
    if (const CBackupRecord* pRecord = FindRecord(strTarget)) {
        record = *pRecord;
    } else if (bBackupTimes) {
        record = fromBackup;
    } else {
        record.strPath = strTarget;
        ReadFileTimes(strTarget, record);
    }
    SetFileTimes(strTarget, record);

    BOOL bDeleted = FALSE;
    if (m_pDeleter != nullptr) {
        bDeleted = m_pDeleter->DeleteFile(strSource);
    } else {
        bDeleted = DeleteFileW(strSource);
    }
    if (!bDeleted) {
        LOG_MESSAGE(L"CFlashSharedObjects: the backup %s stays", strSource.GetString());
    }
    const int nSlash = strTarget.ReverseFind(L'\\');
    if (nSlash > 0) {
        SetFileTimes(strTarget.Left(nSlash), record, FALSE);
    }
    return TRUE;
}

void CFlashSharedObjects::SetFileTimes(const CString& strPath, const CBackupRecord& record, BOOL bCreationTime)
{
    // Only the right to change attributes: a file another program holds
    // open can still be given its times. An existing file or folder only:
    // setting times never creates anything.
    CHandle file(CreateFileW(strPath, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) {
        LOG_ERROR(GetLastError(), L"CFlashSharedObjects: cannot open %s to set its times", strPath.GetString());
        return;
    }
    const FILETIME* pCreation = bCreationTime && IsFileTimeSet(record.ftCreation) ? &record.ftCreation : nullptr;
    const FILETIME* pAccess = IsFileTimeSet(record.ftLastAccess) ? &record.ftLastAccess : nullptr;
    const FILETIME* pWrite = IsFileTimeSet(record.ftLastWrite) ? &record.ftLastWrite : nullptr;
    if (!SetFileTime(file.get(), pCreation, pAccess, pWrite)) {
        LOG_ERROR(GetLastError(), L"CFlashSharedObjects: cannot set the times of %s", strPath.GetString());
    }
}

BOOL CFlashSharedObjects::RunBackgroundTask()
{
    LOG_MESSAGE(L"CFlashSharedObjects::RunBackgroundTask() start");
    BOOL bResult = TRUE;
    if (m_pDeleter == nullptr) {
        LOG_MESSAGE(L"CFlashSharedObjects::RunBackgroundTask() has no deleter");
        m_bResult = FALSE;
        return FALSE;
    }
    int nDeleted = 0;
    for (const CString& strPath : ListSharedObjects()) {
        if (IsAbortRequested()) {
            LOG_MESSAGE(L"Flash cleanup interrupted");
            bResult = FALSE;
            break;
        }
        if (m_startSet.Contains(strPath)) {
            continue;
        }
        if (!m_pDeleter->DeleteFile(strPath)) {
            bResult = FALSE;
        } else {
            ++nDeleted;
        }
        const CString strCompanion = strPath.Left(strPath.GetLength() - static_cast<int>(wcslen(kSolExtension))) +
                                     kSxxExtension;
        (void)m_pDeleter->DeleteFile(strCompanion);
        if (!m_store.RemoveEmptiedFolders(strPath)) {
            bResult = FALSE;
        }
    }
    const int nRestoredBefore = m_tally.nRestored;
    RestoreLost();
    m_tally.nRemoved += nDeleted;
    LOG_MESSAGE(L"CFlashSharedObjects::RunBackgroundTask() end, %d deleted, %d restored", nDeleted,
                m_tally.nRestored - nRestoredBefore);
    m_bResult = bResult;
    return bResult;
}

#include "stores/JavaFiles.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "cleanup/Deleter.h"
#include "cleanup/FileFinder.h"
#include "framework/File.h"
#include "framework/Logger.h"
#include "stores/JavaProperties.h"

namespace {

constexpr wchar_t kCacheDirKey[] = L"deployment.user.cachedir";
constexpr wchar_t kUserHome[] = L"$USER_HOME\\";
// A settings file is a few hundred bytes; anything past this is not one.
constexpr ULONGLONG kMaxPropertiesSize = 1024 * 1024;

CString AppDataFolder()
{
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path))) {
        LOG_MESSAGE(L"CJavaFiles: the application data folder is unknown");
        return CString();
    }
    return CString(path);
}

// A folder the clean-up may empty: absolute ("X:\..." or "\\server\share\..."),
// and below a drive's or a share's root, never the root itself, whose files
// are all the user's.
bool IsUsableCacheFolder(const CString& strPath)
{
    if (strPath.GetLength() > 3 && iswalpha(strPath[0]) && strPath[1] == L':' && strPath[2] == L'\\') {
        return true;
    }
    if (strPath.Left(2) == L"\\\\") {
        int nParts = 0;
        int nStart = 2;
        for (CString part = strPath.Tokenize(L"\\", nStart); nStart >= 0; part = strPath.Tokenize(L"\\", nStart)) {
            ++nParts;
        }
        return nParts >= 3;
    }
    return false;
}

bool ReadSmallFile(const CString& strPath, std::string& content)
{
    CFile file;
    CFileException error;
    if (!file.Open(strPath, CFile::modeRead | CFile::shareDenyNone, &error)) {
        if (error.m_lOsError != ERROR_FILE_NOT_FOUND && error.m_lOsError != ERROR_PATH_NOT_FOUND) {
            LOG_EXCEPTION(error, L"CJavaFiles: cannot open %s", strPath.GetString());
        }
        return false;
    }
    try {
        const ULONGLONG ullLength = file.GetLength();
        if (ullLength > kMaxPropertiesSize) {
            LOG_MESSAGE(L"CJavaFiles: %s is too large to be a settings file", strPath.GetString());
            return false;
        }
        content.assign(static_cast<size_t>(ullLength), '\0');
        UINT nDone = 0;
        while (nDone < content.size()) {
            const UINT n = file.Read(content.data() + nDone, static_cast<UINT>(content.size() - nDone));
            if (n == 0) {
                break;
            }
            nDone += n;
        }
        content.resize(nDone);
    } catch (const CFileException& e) {
        LOG_EXCEPTION(e, L"CJavaFiles: cannot read %s", strPath.GetString());
        return false;
    }
    return true;
}

}  // namespace

CJavaFiles::CJavaFiles() : CJavaFiles(AppDataFolder()) {}

CJavaFiles::CJavaFiles(const CString& strAppDataFolder) : m_cache(FindCacheFolder(strAppDataFolder)) {}

CJavaFiles::~CJavaFiles()
{
    StopBackgroundTask(0);
}

BOOL CJavaFiles::GetResult()
{
    const BOOL bResult = CBackgroundTask::GetResult();
    if (!bResult) {
        LOG_MESSAGE(L"Java cleanup failed");
    }
    return bResult;
}

CString CJavaFiles::FindCacheFolder(const CString& strAppDataFolder)
{
    if (strAppDataFolder.IsEmpty()) {
        return CString();
    }
    const CString strDeployment = FormatString(L"%s%s", strAppDataFolder.GetString(), L"\\Sun\\Java\\Deployment\\");
    const CString strDefault = strDeployment + L"cache";
    std::string properties;
    if (!ReadSmallFile(strDeployment + L"deployment.properties", properties)) {
        return strDefault;
    }
    return CacheFolderFromProperties(properties, strDeployment, strDefault);
}

CString CJavaFiles::CacheFolderFromProperties(const std::string& properties, const CString& strDeploymentFolder,
                                             const CString& strDefault)
{
    CString strFolder = strDefault;
    for (const CJavaProperties::CEntry& entry : CJavaProperties::Parse(properties)) {
        // The key exactly: "deployment.user.cachedir.locked" and the like
        // name no folder.
        if (entry.strKey != kCacheDirKey) {
            continue;
        }
        CString strValue = entry.strValue;
        strValue.Trim();
        strValue.Replace(kUserHome, strDeploymentFolder);
        strValue.Replace(L'/', L'\\');
        wchar_t canonical[MAX_PATH] = {};
        if (strValue.GetLength() >= MAX_PATH || !PathCanonicalizeW(canonical, strValue)) {
            LOG_MESSAGE(L"CJavaFiles: the cache folder %s cannot be canonicalised; it is ignored", strValue.GetString());
            continue;
        }
        CString strCandidate(canonical);
        strCandidate.TrimRight(L"\\");
        if (!IsUsableCacheFolder(strCandidate)) {
            LOG_MESSAGE(L"CJavaFiles: the cache folder %s is not a folder below a drive or share; it is ignored",
                        strValue.GetString());
            continue;
        }
        strFolder = strCandidate;
    }
    return strFolder;
}

BOOL CJavaFiles::SnapshotCache()
{
    LOG_MESSAGE(L"CJavaFiles::SnapshotCache() start");
    if (m_cache.IsEmpty()) {
        LOG_MESSAGE(L"CJavaFiles::SnapshotCache: no cache folder");
        return FALSE;
    }
    m_startSet.RemoveAll();
    for (const CString& strPath : ListCacheFiles()) {
        m_startSet.Add(strPath);
    }
    LOG_MESSAGE(L"CJavaFiles::SnapshotCache() end, %d files in %s", m_startSet.GetCount(),
                m_cache.GetRoot().GetString());
    return TRUE;
}

std::vector<CString> CJavaFiles::ListCacheFiles() const
{
    CFileFinder finder;
    if (!m_cache.IsEmpty()) {
        finder.ListFiles(m_cache.GetRoot(), L"*.*", TRUE);
    }
    return finder.GetFilePaths();
}

CStoreFindings CJavaFiles::CheckStore()
{
    CStoreFindings findings;
    CStringSet present;
    for (const CString& strPath : ListCacheFiles()) {
        present.Add(strPath);
        if (!m_startSet.Contains(strPath)) {
            findings.residue.push_back(L"Java cache file " + strPath);
        }
    }
    for (const CString& strPath : m_startSet) {
        if (!present.Contains(strPath)) {
            findings.lossBeyondRestore.push_back(L"Java cache file " + strPath);
        }
    }
    return findings;
}

BOOL CJavaFiles::RunBackgroundTask()
{
    LOG_MESSAGE(L"CJavaFiles::RunBackgroundTask() start");
    if (m_pDeleter == nullptr) {
        LOG_MESSAGE(L"CJavaFiles::RunBackgroundTask() has no deleter");
        m_bResult = FALSE;
        return FALSE;
    }
    BOOL bResult = TRUE;
    int nDeleted = 0;
    for (const CString& strPath : ListCacheFiles()) {
        if (IsAbortRequested()) {
            LOG_MESSAGE(L"Java cleanup interrupted");
            bResult = FALSE;
            break;
        }
        if (m_startSet.Contains(strPath)) {
            continue;
        }
        if (m_pDeleter->DeleteFile(strPath)) {
            ++nDeleted;
        } else {
            bResult = FALSE;
        }
        if (!m_cache.RemoveEmptiedFolders(strPath)) {
            bResult = FALSE;
        }
    }
    m_tally.nRemoved += nDeleted;
    LOG_MESSAGE(L"CJavaFiles::RunBackgroundTask() end, %d deleted", nDeleted);
    m_bResult = bResult;
    return bResult;
}

#include "cleanup/Deleter.h"

#include <io.h>
#include <sys/stat.h>

#include "framework/Logger.h"

namespace {

constexpr DWORD kModulePathChars = 260;

const wchar_t* const kMediaPrefixes[] = {
    L"audio/", L"video/", L"midi/", L"application/vnd.rn-", L"application/x-itunes",
};

const wchar_t* const kMediaTypes[] = {
    L"application/pdf",       L"application/sdp",           L"application/smil",
    L"application/x-mpeg",    L"application/x-mplayer2",    L"application/x-ms-wmd",
    L"application/x-ms-wmz",  L"application/x-podcast",     L"application/x-quicktimeplayer",
    L"application/x-rtsp",    L"application/x-sdp",
};

CString ModulePath()
{
    wchar_t path[kModulePathChars] = {};
    const DWORD n = GetModuleFileNameW(nullptr, path, kModulePathChars);
    return CString(path, static_cast<int>(n < kModulePathChars ? n : 0));
}

}  // namespace

CDeleter::CDeleter(BOOL bSecureDelete, BOOL bCheckInUse, BOOL bIgnoreOwnOpenFiles)
    : m_bSecureDelete(bSecureDelete),
      m_bCheckInUse(bCheckInUse),
      m_bIgnoreOwnOpenFiles(bIgnoreOwnOpenFiles),
      m_strOwnExecutable(ModulePath())
{
}

CDeleter::~CDeleter() = default;

bool CDeleter::IsMediaContentType(const CString& strContentType)
{
    for (const wchar_t* pszPrefix : kMediaPrefixes) {
        if (strContentType.Find(pszPrefix) == 0) {
            return true;
        }
    }
    for (const wchar_t* pszType : kMediaTypes) {
        if (strContentType == pszType) {
            return true;
        }
    }
    return false;
}

CString CDeleter::GetExtension(const CString& strPath)
{
    const int nDot = strPath.ReverseFind(L'.');
    const int nSlash = strPath.ReverseFind(L'\\');
    if (nDot < 0 || nDot < nSlash) {
        return CString();
    }
    return strPath.Mid(nDot);
}

BOOL CDeleter::DeleteDirectory(LPCWSTR lpPathName)
{
    return RemoveDirectoryW(lpPathName);
}

BOOL CDeleter::DeleteFile(LPCWSTR lpFileName, BOOL* pbIgnored)
{
    const CString path(lpFileName != nullptr ? lpFileName : L"");
    LOG_MESSAGE(L"CDeleter::DeleteFile start");
    LOG_MESSAGE(L"lpFileName = %s", path.GetString());

    const DWORD dwAttributes = GetFileAttributesW(path);
    if (pbIgnored != nullptr) {
        *pbIgnored = FALSE;
    }
    if (dwAttributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD dwError = GetLastError();
        if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND) {
            LOG_MESSAGE(L"Skipping delete of missing file %s", path.GetString());
            return TRUE;
        }
        LOG_ERROR(dwError, L"Failed to get attributes of %s", path.GetString());
        return FALSE;
    }
    if ((dwAttributes & FILE_ATTRIBUTE_READONLY) != 0 && _wchmod(path, _S_IREAD | _S_IWRITE) != 0) {
        LOG_ERROR(GetLastError(), L"Failed to add write permissions to %s", path.GetString());
        return FALSE;
    }

    BOOL bResult = FALSE;
    BOOL bIgnored = FALSE;
    if (m_bSecureDelete) {
        bResult = m_secureDeleter.SecureDelete(path);
        if (!bResult) {
            LOG_MESSAGE(L"Failed to secure delete file %s", path.GetString());
        }
    } else {
        bResult = ::DeleteFileW(path);
        if (!bResult) {
            LOG_ERROR(GetLastError(), L"Failed to delete file %s", path.GetString());
        }
    }
    LOG_MESSAGE(bResult ? L"bResult = true" : L"bResult = false");

    if (!bResult) {
        if (path == m_strOwnExecutable) {
            LOG_MESSAGE(L"Ignoring failed delete of own executable %s", path.GetString());
            bResult = TRUE;
            bIgnored = TRUE;
        } else if (m_bCheckInUse || m_bIgnoreOwnOpenFiles) {
            bResult = InvestigateFailure(path, bIgnored);
        }
    }
    if (bIgnored && pbIgnored != nullptr) {
        *pbIgnored = TRUE;
    }
    LOG_MESSAGE(L"CDeleter::DeleteFile end");
    return bResult;
}

BOOL CDeleter::InvestigateFailure(const CString& strPath, BOOL& bIgnored)
{
    if (m_runningProcesses.IsRunningImage(strPath)) {
        LOG_MESSAGE(L"Found running process for file %s", strPath.GetString());
        return FALSE;
    }
    CString processPath;
    if (!m_openHandles.FindOpeningProcess(strPath, processPath)) {
        processPath.Empty();
    }
    if (!processPath.IsEmpty() && processPath == m_strOwnExecutable) {
        if (m_bIgnoreOwnOpenFiles) {
            LOG_MESSAGE(L"Ignoring failed delete of own file %s", strPath.GetString());
            bIgnored = TRUE;
            return TRUE;
        }
        return FALSE;
    }
    const CString extension = GetExtension(strPath);
    CString contentType;
    if (!extension.IsEmpty() && m_mimeTypes.Lookup(extension, contentType) && IsMediaContentType(contentType)) {
        LOG_MESSAGE(L"Got media MIME type %s for file %s", contentType.GetString(), strPath.GetString());
        return FALSE;
    }
    if (!processPath.IsEmpty()) {
        LOG_MESSAGE(L"Ignoring delete of file %s opened by process %s", strPath.GetString(), processPath.GetString());
        bIgnored = TRUE;
        return TRUE;
    }
    return FALSE;
}

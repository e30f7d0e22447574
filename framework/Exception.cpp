#include "framework/Exception.h"

#include "framework/Handles.h"

BOOL CException::GetErrorMessage(LPWSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const
{
    if (pnHelpContext != nullptr) {
        *pnHelpContext = 0;
    }
    return CopyMessage(CString(), lpszError, nMaxError);
}

BOOL CException::CopyMessage(const CString& text, LPWSTR lpszError, UINT nMaxError)
{
    if (lpszError == nullptr || nMaxError == 0) {
        return FALSE;
    }
    const UINT n = static_cast<UINT>(text.GetLength()) < nMaxError - 1 ? static_cast<UINT>(text.GetLength()) : nMaxError - 1;
    wmemcpy(lpszError, text.GetString(), n);
    lpszError[n] = L'\0';
    return text.IsEmpty() ? FALSE : TRUE;
}

CFileException::CFileException(int cause, LONG lOsError, const CString& strFileName)
    : m_cause(cause), m_lOsError(lOsError), m_strFileName(strFileName)
{
}

void CFileException::ThrowOsError(LONG lOsError, const CString& strFileName)
{
    throw CFileException(OsErrorToCause(lOsError), lOsError, strFileName);
}

int CFileException::OsErrorToCause(LONG lOsError)
{
    switch (lOsError) {
    case NO_ERROR:
        return none;
    case ERROR_FILE_NOT_FOUND:
        return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
        return badPath;
    case ERROR_TOO_MANY_OPEN_FILES:
        return tooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return accessDenied;
    case ERROR_INVALID_HANDLE:
        return invalidFile;
    case ERROR_CURRENT_DIRECTORY:
        return removeCurrentDir;
    case ERROR_CANNOT_MAKE:
        return directoryFull;
    case ERROR_SEEK:
    case ERROR_NEGATIVE_SEEK:
        return badSeek;
    case ERROR_SHARING_VIOLATION:
        return sharingViolation;
    case ERROR_LOCK_VIOLATION:
        return lockViolation;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return diskFull;
    case ERROR_HANDLE_EOF:
        return endOfFile;
    default:
        return genericException;
    }
}

BOOL CFileException::GetErrorMessage(LPWSTR lpszError, UINT nMaxError, PUINT pnHelpContext) const
{
    if (pnHelpContext != nullptr) {
        *pnHelpContext = 0;
    }
    CString text;
    if (m_cause == endOfFile) {
        text = L"Unexpected end of file";
    } else if (m_lOsError > 0) {
        LPWSTR pszSystem = nullptr;
        const DWORD n = FormatMessageW(
            FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
            static_cast<DWORD>(m_lOsError), 0, reinterpret_cast<LPWSTR>(&pszSystem), 0, nullptr);
        CLocalMemory owner(pszSystem);
        text = n > 0 ? CString(pszSystem, static_cast<int>(n)) : CString();
        text.TrimRight();
    }
    if (text.IsEmpty()) {
        text.Format(L"File error %d (system error %d)", m_cause, static_cast<int>(m_lOsError));
    }
    if (!m_strFileName.IsEmpty()) {
        text += L": ";
        text += m_strFileName;
    }
    return CopyMessage(text, lpszError, nMaxError);
}

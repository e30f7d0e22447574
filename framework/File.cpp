#include "framework/File.h"

namespace {

DWORD ShareModeOf(UINT nOpenFlags)
{
    switch (nOpenFlags & 0x70) {
    case CFile::shareDenyWrite:
        return FILE_SHARE_READ;
    case CFile::shareDenyRead:
        return FILE_SHARE_WRITE;
    case CFile::shareDenyNone:
        return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default:
        return 0;
    }
}

DWORD AccessOf(UINT nOpenFlags)
{
    switch (nOpenFlags & 3) {
    case CFile::modeWrite:
        return GENERIC_WRITE;
    case CFile::modeReadWrite:
        return GENERIC_READ | GENERIC_WRITE;
    default:
        return GENERIC_READ;
    }
}

DWORD Low(ULONGLONG value)
{
    return static_cast<DWORD>(value & 0xFFFFFFFFu);
}

DWORD High(ULONGLONG value)
{
    return static_cast<DWORD>(value >> 32);
}

DWORD DispositionOf(UINT nOpenFlags)
{
    if ((nOpenFlags & CFile::modeCreate) == 0) {
        return OPEN_EXISTING;
    }
    return (nOpenFlags & CFile::modeNoTruncate) != 0 ? OPEN_ALWAYS : CREATE_ALWAYS;
}

}  // namespace

CFile::CFile(const wchar_t* pszFileName, UINT nOpenFlags)
{
    CFileException error;
    if (!Open(pszFileName, nOpenFlags, &error)) {
        throw error;
    }
}

BOOL CFile::Open(const wchar_t* pszFileName, UINT nOpenFlags, CFileException* pError)
{
    Close();
    m_strFileName = pszFileName;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, (nOpenFlags & modeNoInherit) == 0 ? TRUE : FALSE};
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | ((nOpenFlags & osWriteThrough) != 0 ? FILE_FLAG_WRITE_THROUGH : 0);
    HANDLE h = CreateFileW(pszFileName != nullptr ? pszFileName : L"", AccessOf(nOpenFlags), ShareModeOf(nOpenFlags),
                           &sa, DispositionOf(nOpenFlags), flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const LONG error = static_cast<LONG>(GetLastError());
        if (pError != nullptr) {
            *pError = CFileException(CFileException::OsErrorToCause(error), error, m_strFileName);
        }
        return FALSE;
    }
    m_hFile.reset(h);
    return TRUE;
}

void CFile::ThrowLastError() const
{
    CFileException::ThrowOsError(static_cast<LONG>(GetLastError()), m_strFileName);
}

UINT CFile::Read(void* lpBuf, UINT nCount)
{
    if (nCount == 0) {
        return 0;
    }
    DWORD nRead = 0;
    if (!ReadFile(m_hFile.get(), lpBuf, nCount, &nRead, nullptr)) {
        ThrowLastError();
    }
    return nRead;
}

void CFile::Write(const void* lpBuf, UINT nCount)
{
    if (nCount == 0) {
        return;
    }
    DWORD nWritten = 0;
    if (!WriteFile(m_hFile.get(), lpBuf, nCount, &nWritten, nullptr)) {
        ThrowLastError();
    }
    if (nWritten != nCount) {
        throw CFileException(CFileException::diskFull, ERROR_DISK_FULL, m_strFileName);
    }
}

ULONGLONG CFile::Seek(LONGLONG lOff, UINT nFrom)
{
    LARGE_INTEGER distance;
    distance.QuadPart = lOff;
    LARGE_INTEGER position;
    if (!SetFilePointerEx(m_hFile.get(), distance, &position, nFrom)) {
        ThrowLastError();
    }
    return static_cast<ULONGLONG>(position.QuadPart);
}

ULONGLONG CFile::GetPosition() const
{
    LARGE_INTEGER zero = {};
    LARGE_INTEGER position;
    if (!SetFilePointerEx(m_hFile.get(), zero, &position, FILE_CURRENT)) {
        ThrowLastError();
    }
    return static_cast<ULONGLONG>(position.QuadPart);
}

ULONGLONG CFile::GetLength() const
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(m_hFile.get(), &size)) {
        ThrowLastError();
    }
    return static_cast<ULONGLONG>(size.QuadPart);
}

void CFile::SetLength(ULONGLONG dwNewLen)
{
    Seek(static_cast<LONGLONG>(dwNewLen), begin);
    if (!SetEndOfFile(m_hFile.get())) {
        ThrowLastError();
    }
}

void CFile::Flush()
{
    if (m_hFile.valid() && !FlushFileBuffers(m_hFile.get())) {
        ThrowLastError();
    }
}

void CFile::LockRange(ULONGLONG dwPos, ULONGLONG dwCount)
{
    if (!LockFile(m_hFile.get(), Low(dwPos), High(dwPos), Low(dwCount), High(dwCount))) {
        ThrowLastError();
    }
}

void CFile::UnlockRange(ULONGLONG dwPos, ULONGLONG dwCount)
{
    if (!UnlockFile(m_hFile.get(), Low(dwPos), High(dwPos), Low(dwCount), High(dwCount))) {
        ThrowLastError();
    }
}

#pragma once

#include <windows.h>

#include "framework/Exception.h"
#include "framework/Handles.h"
#include "framework/String.h"

// A binary file on one handle. Opening reports failure through its result
// (and an optional CFileException); every other operation throws a
// CFileException when the system call fails.
class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,  // as shareExclusive
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
        osWriteThrough = 0x20000,
    };
    enum SeekPosition { begin = FILE_BEGIN, current = FILE_CURRENT, end = FILE_END };

    CFile() = default;
    // Opens the file or throws a CFileException.
    CFile(const wchar_t* pszFileName, UINT nOpenFlags);
    virtual ~CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    virtual BOOL Open(const wchar_t* pszFileName, UINT nOpenFlags, CFileException* pError = nullptr);
    void Close() { m_hFile.reset(); }
    bool IsOpen() const { return m_hFile.valid(); }
    HANDLE GetHandle() const { return m_hFile.get(); }
    const CString& GetFilePath() const { return m_strFileName; }

    UINT Read(void* lpBuf, UINT nCount);
    void Write(const void* lpBuf, UINT nCount);
    ULONGLONG Seek(LONGLONG lOff, UINT nFrom);
    void SeekToBegin() { Seek(0, begin); }
    ULONGLONG SeekToEnd() { return Seek(0, end); }
    ULONGLONG GetPosition() const;
    ULONGLONG GetLength() const;
    void SetLength(ULONGLONG dwNewLen);
    void Flush();
    void LockRange(ULONGLONG dwPos, ULONGLONG dwCount);
    void UnlockRange(ULONGLONG dwPos, ULONGLONG dwCount);

protected:
    [[noreturn]] void ThrowLastError() const;

    CHandle m_hFile;
    CString m_strFileName;
};

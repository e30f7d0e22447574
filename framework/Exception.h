#pragma once

#include <windows.h>

#include "framework/String.h"

// Exceptions thrown by framework operations (files). Operations that other
// parts of the program call catch them, log them and return FALSE; none
// crosses a window procedure or a thread boundary.
class CException {
public:
    virtual ~CException() = default;

    // Copies the message, terminated, into a buffer of nMaxError characters;
    // returns FALSE (and an empty buffer) when the exception has no text.
    virtual BOOL GetErrorMessage(LPWSTR lpszError, UINT nMaxError, PUINT pnHelpContext = nullptr) const;

protected:
    static BOOL CopyMessage(const CString& text, LPWSTR lpszError, UINT nMaxError);
};

class CFileException : public CException {
public:
    enum Cause {
        none,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile,
    };

    CFileException(int cause = none, LONG lOsError = -1, const CString& strFileName = CString());

    // Throws a CFileException for a system error code about a file.
    [[noreturn]] static void ThrowOsError(LONG lOsError, const CString& strFileName);
    static int OsErrorToCause(LONG lOsError);

    BOOL GetErrorMessage(LPWSTR lpszError, UINT nMaxError, PUINT pnHelpContext = nullptr) const override;

    int m_cause;
    LONG m_lOsError;
    CString m_strFileName;
};

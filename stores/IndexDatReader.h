#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "framework/String.h"

class CFile;

// Bounds-checked reads from an index.dat file through one fixed window of
// at most 64 KiB. Every read is checked against the length the reader was
// given (lowered if the file turns out shorter): bytes at or past the end
// read as zero, and strings stop there. The file is never mapped or read
// whole.
class CIndexDatReader {
public:
    static constexpr DWORD kMaxWindowSize = 64 * 1024;
    static constexpr DWORD kMinWindowSize = 64;

    // Window sizes outside [kMinWindowSize, kMaxWindowSize] are clamped.
    explicit CIndexDatReader(DWORD dwWindowSize = kMaxWindowSize);
    CIndexDatReader(const CIndexDatReader&) = delete;
    CIndexDatReader& operator=(const CIndexDatReader&) = delete;

    // Starts reading the first ullLength bytes of an open file and
    // allocates the window; End frees it.
    void Begin(CFile& file, ULONGLONG ullLength);
    void End();

    ULONGLONG GetLength() const { return m_ullLength; }

    // Copies nCount bytes at ullPos; those at or past the end read as zero.
    // Returns how many lay inside the file. File errors throw CFileException.
    UINT Read(ULONGLONG ullPos, void* pDest, UINT nCount);
    BYTE ReadByte(ULONGLONG ullPos);
    DWORD ReadDword(ULONGLONG ullPos);
    ULONGLONG ReadQword(ULONGLONG ullPos);

    // The ANSI string at ullPos, ending at its zero byte, at ullLimit or at
    // the end of the file, whichever comes first.
    CString ReadAnsiString(ULONGLONG ullPos, ULONGLONG ullLimit);

    // True when every byte of the range that lies in the file is zero.
    bool IsZero(ULONGLONG ullPos, ULONGLONG ullCount);

    // Keeps the window in step with bytes just overwritten with zeros
    // through the same file, so later reads see the erasure.
    void OnZeroed(ULONGLONG ullPos, ULONGLONG ullCount);
    // Forgets the window; the next read goes to the file.
    void Discard();

private:
    // Makes the window hold ullPos; false when ullPos is past the end.
    bool Cover(ULONGLONG ullPos);

    const DWORD m_dwWindowSize;
    CFile* m_pFile = nullptr;
    ULONGLONG m_ullLength = 0;
    std::vector<BYTE> m_window;
    ULONGLONG m_ullWindowStart = 0;
    DWORD m_dwWindowFill = 0;
    std::string m_strBuffer;
};

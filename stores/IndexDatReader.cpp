#include "stores/IndexDatReader.h"

#include <algorithm>
#include <cstring>

#include "framework/File.h"

CIndexDatReader::CIndexDatReader(DWORD dwWindowSize)
    : m_dwWindowSize(std::clamp(dwWindowSize, kMinWindowSize, kMaxWindowSize))
{
}

void CIndexDatReader::Begin(CFile& file, ULONGLONG ullLength)
{
    m_pFile = &file;
    m_ullLength = ullLength;
    m_window.assign(m_dwWindowSize, 0);
    Discard();
}

void CIndexDatReader::End()
{
    m_pFile = nullptr;
    m_ullLength = 0;
    std::vector<BYTE>().swap(m_window);
    std::string().swap(m_strBuffer);
    Discard();
}

void CIndexDatReader::Discard()
{
    m_ullWindowStart = 0;
    m_dwWindowFill = 0;
}

bool CIndexDatReader::Cover(ULONGLONG ullPos)
{
    if (ullPos >= m_ullWindowStart && ullPos - m_ullWindowStart < m_dwWindowFill) {
        return true;
    }
    if (m_pFile == nullptr || ullPos >= m_ullLength) {
        return false;
    }
    // One read fills the whole window from ullPos on: the scan only moves
    // forward, so the next records are already here when it gets to them.
    const UINT nWant = static_cast<UINT>(std::min<ULONGLONG>(m_dwWindowSize, m_ullLength - ullPos));
    Discard();
    m_pFile->Seek(static_cast<LONGLONG>(ullPos), CFile::begin);
    UINT nGot = 0;
    while (nGot < nWant) {
        const UINT n = m_pFile->Read(m_window.data() + nGot, nWant - nGot);
        if (n == 0) {
            break;
        }
        nGot += n;
    }
    if (nGot < nWant) {
        // Someone shortened the file under us: its end is here now.
        m_ullLength = ullPos + nGot;
    }
    m_ullWindowStart = ullPos;
    m_dwWindowFill = nGot;
    return nGot > 0;
}

UINT CIndexDatReader::Read(ULONGLONG ullPos, void* pDest, UINT nCount)
{
    auto* pOut = static_cast<BYTE*>(pDest);
    UINT nDone = 0;
    while (nDone < nCount && Cover(ullPos + nDone)) {
        const ULONGLONG ullAt = ullPos + nDone - m_ullWindowStart;
        const UINT n = static_cast<UINT>(std::min<ULONGLONG>(nCount - nDone, m_dwWindowFill - ullAt));
        memcpy(pOut + nDone, m_window.data() + ullAt, n);
        nDone += n;
    }
    memset(pOut + nDone, 0, nCount - nDone);
    return nDone;
}

BYTE CIndexDatReader::ReadByte(ULONGLONG ullPos)
{
    BYTE b = 0;
    Read(ullPos, &b, sizeof(b));
    return b;
}

DWORD CIndexDatReader::ReadDword(ULONGLONG ullPos)
{
    BYTE b[4];
    Read(ullPos, b, sizeof(b));
    return static_cast<DWORD>(b[0]) | (static_cast<DWORD>(b[1]) << 8) | (static_cast<DWORD>(b[2]) << 16) |
           (static_cast<DWORD>(b[3]) << 24);
}

ULONGLONG CIndexDatReader::ReadQword(ULONGLONG ullPos)
{
    return static_cast<ULONGLONG>(ReadDword(ullPos)) | (static_cast<ULONGLONG>(ReadDword(ullPos + 4)) << 32);
}

CString CIndexDatReader::ReadAnsiString(ULONGLONG ullPos, ULONGLONG ullLimit)
{
    m_strBuffer.clear();
    ullLimit = std::min(ullLimit, m_ullLength);
    while (ullPos < ullLimit && Cover(ullPos)) {
        const ULONGLONG ullAt = ullPos - m_ullWindowStart;
        const size_t n = static_cast<size_t>(std::min<ULONGLONG>(m_dwWindowFill - ullAt, ullLimit - ullPos));
        const BYTE* pStart = m_window.data() + ullAt;
        const auto* pZero = static_cast<const BYTE*>(memchr(pStart, 0, n));
        if (pZero != nullptr) {
            m_strBuffer.append(reinterpret_cast<const char*>(pStart), static_cast<size_t>(pZero - pStart));
            break;
        }
        m_strBuffer.append(reinterpret_cast<const char*>(pStart), n);
        ullPos += n;
    }
    return CString::FromAnsi(m_strBuffer);
}

bool CIndexDatReader::IsZero(ULONGLONG ullPos, ULONGLONG ullCount)
{
    const ULONGLONG ullEnd = ullPos + ullCount;
    while (ullPos < ullEnd && Cover(ullPos)) {
        const ULONGLONG ullAt = ullPos - m_ullWindowStart;
        const size_t n = static_cast<size_t>(std::min<ULONGLONG>(m_dwWindowFill - ullAt, ullEnd - ullPos));
        const BYTE* p = m_window.data() + ullAt;
        if (std::any_of(p, p + n, [](BYTE b) { return b != 0; })) {
            return false;
        }
        ullPos += n;
    }
    return true;
}

void CIndexDatReader::OnZeroed(ULONGLONG ullPos, ULONGLONG ullCount)
{
    const ULONGLONG ullWindowEnd = m_ullWindowStart + m_dwWindowFill;
    const ULONGLONG ullFrom = std::max(ullPos, m_ullWindowStart);
    const ULONGLONG ullTo = std::min(ullPos + ullCount, ullWindowEnd);
    if (ullFrom < ullTo) {
        memset(m_window.data() + (ullFrom - m_ullWindowStart), 0, static_cast<size_t>(ullTo - ullFrom));
    }
}
